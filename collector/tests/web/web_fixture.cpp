// The web tests' store, reports and login helpers.
#include "collector/tests/web/web_fixture.h"

#include <chrono>
#include <stdexcept>

#include "collector/web/escape.h"

namespace collector::testing {

namespace http = boost::beast::http;

namespace {

FileEntry Entry(std::string name, std::string folder, std::string version, std::string description,
                std::string company) {
    return {std::move(name), std::move(folder),      "102400",          std::move(version), "05.03.2013",
            "06.03.2013",    std::move(description), std::move(company)};
}

Report Run(std::int64_t at, std::uint32_t exitCode, bool injected) {
    Report report;
    report.receivedAt = at;
    report.process = Entry("demo.exe", "%PROGRAMFILES%\\Демо", "2.1.0.0", "Демонстрационная программа", "ООО «Демо»");
    report.exitCode = exitCode;
    report.os = "6.1.7601";
    report.files = {Entry("explorer.exe", "%WIN%", "6.1.7601.17514", "Проводник", "Microsoft Corporation")};
    report.modules = {
        report.process, Entry("ntdll.dll", "%SYSTEM%", "6.1.7601.17514", "NT Layer DLL", "Microsoft Corporation"),
        Entry("kernel32.dll", "%SYSTEM%", "6.1.7601.17514", "Windows NT BASE API Client DLL", "Microsoft Corporation")};
    if (injected) {
        report.modules.push_back(Entry("hook.dll", "%USER_APPDATA%\\Hook", "0.9", "Внедряемая библиотека", "Hook Ltd"));
    }
    if (exitCode != 0) report.verdict = {{"dll_init_failed", "hook.dll", "DllMain вернула FALSE"}};
    return report;
}

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::string HostileText(unsigned short probePort) {
    const std::string probe = "http://127.0.0.1:" + std::to_string(probePort) + "/ran";
    return "<script>document.title='pwned';fetch('" + probe +
           "')</script>\"><img src=x onerror=\"document.title="
           "'pwned';fetch('" +
           probe + "')\">";
}

TestStore::TestStore(unsigned short probePort) {
    char folder[] = "/tmp/korvane-web-XXXXXX";
    if (!mkdtemp(folder)) throw std::runtime_error("no temporary folder");
    folder_ = folder;
    file_ = folder_ / "collector.sqlite";
    store_ = std::make_unique<Store>(file_.string());
    if (!SetLoginPassword(*store_, kTestPassword)) throw std::runtime_error("password not set");

    const std::int64_t today = Now() / 86400 * 86400;
    std::vector<Report>& batch = reports_.reports;
    for (int day = 0; day < 6; ++day) {
        const std::int64_t at = today - (5 - day) * 86400 + 3600;
        for (int run = 0; run < 6; ++run) batch.push_back(Run(at + run * 60, 0, run == 0));
        for (int run = 0; run <= day; ++run) batch.push_back(Run(at + 600 + run * 60, 0xC0000142, true));
    }
    Report hostile = Run(today + 1800, 0xC0000142, true);
    const std::string text = HostileText(probePort);
    hostile.process.name = text;
    for (FileEntry* entry : {&hostile.process, &hostile.files[0], &hostile.modules.back()}) {
        entry->description = text;
        entry->productVersion = text;
        entry->company = "=HYPERLINK(\"http://evil\")" + text;
    }
    hostile.modules.back().folder = text;
    hostile.verdict = {{text, text, text}};
    batch.push_back(hostile);
    store_->Insert(batch);
    reports_.hostileId = batch.back().id;
    reports_.failureId = batch[batch.size() - 2].id;
}

TestStore::~TestStore() {
    store_.reset();
    std::error_code error;
    std::filesystem::remove_all(folder_, error);
}

std::string SetCookie(const WebApp::Response& response, const std::string& name) {
    const auto [first, last] = response.equal_range(http::field::set_cookie);
    for (auto field = first; field != last; ++field) {
        const std::string value(field->value());
        if (value.starts_with(name + "=")) return value;
    }
    return {};
}

std::string CookiePair(const WebApp::Response& response, const std::string& name) {
    const std::string cookie = SetCookie(response, name);
    return cookie.substr(0, cookie.find(';'));
}

std::string FormValue(const std::string& page, const std::string& name) {
    const std::string marker = "name=\"" + name + "\" value=\"";
    const std::size_t at = page.find(marker);
    if (at == std::string::npos) return {};
    const std::size_t start = at + marker.size();
    return page.substr(start, page.find('"', start) - start);
}

WebApp::Request Get(const std::string& target, const std::string& cookie) {
    WebApp::Request request{http::verb::get, target, 11};
    request.set(http::field::host, "127.0.0.1");
    if (!cookie.empty()) request.set(http::field::cookie, cookie);
    return request;
}

WebApp::Request Post(const std::string& target, const std::string& body, const std::string& cookie) {
    WebApp::Request request = Get(target, cookie);
    request.method(http::verb::post);
    request.set(http::field::content_type, "application/x-www-form-urlencoded");
    request.body() = body;
    request.prepare_payload();
    return request;
}

std::string LogIn(WebApp& app, const std::string& password) {
    const WebApp::Response form = app.Handle(Get("/login"));
    const WebApp::Response answer = app.Handle(Post(
        "/login", "csrf=" + FormValue(form.body(), "csrf") + "&next=%2F&password=" + EncodeQueryComponent(password),
        CookiePair(form, "korvane_login")));
    return CookiePair(answer, "korvane_session");
}

}  // namespace collector::testing
