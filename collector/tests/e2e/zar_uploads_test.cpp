// zar.exe's real runs against the real collector: under Wine (which
// tools/test.sh keeps up for this test), the test build's upload code runs
// test targets under the real debug loop, one that starts and one that fails
// with 0xC0000142, and two that start with a DLL whose description holds a
// ";" or a line feed, and posts their reports to the collector listening on
// the test build's report port; the store, the report pages and the group
// page then show their facts, the Russian texts byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>

#include "collector/storage/store.h"
#include "collector/tests/support/collector_process.h"
#include "collector/tests/support/http_client.h"

namespace collector::testing {
namespace {

constexpr const char* kPassword = "e2e-password";

// The MinGW build folder and the port its test build of zar.exe posts to.
struct ZarBuild {
    std::filesystem::path folder;
    unsigned short reportPort = 0;
};

std::optional<ZarBuild> FindZarBuild() {
    const char* folder = std::getenv("KORVANE_BUILD_DIR");
    if (!folder || !std::getenv("WINEPREFIX")) return std::nullopt;
    std::ifstream cache(std::filesystem::path(folder) / "CMakeCache.txt");
    const std::string key = "KORVANE_TEST_REPORT_PORT:STRING=";
    for (std::string line; std::getline(cache, line);)
        if (line.starts_with(key)) return ZarBuild{folder, static_cast<unsigned short>(std::stoi(line.substr(key.size())))};
    return std::nullopt;
}

// The same file as Wine's Z: drive names it.
std::string WindowsPath(const std::filesystem::path& path) {
    std::string text = "Z:" + std::filesystem::absolute(path).string();
    for (char& c : text)
        if (c == '/') c = '\\';
    return text;
}

std::string CookieOf(const std::string& setCookie, const std::string& name) {
    for (std::size_t at = setCookie.find(name + "="); at != std::string::npos; at = setCookie.find(name + "=", at + 1))
        if (at == 0 || setCookie[at - 1] == '\n') return setCookie.substr(at, setCookie.find(';', at) - at);
    return {};
}

// Through the real login form: the session cookie's "name=value".
std::string LogIn(unsigned short port) {
    HttpAnswer form = Exchange(port, GetRequest("/login"));
    const std::string marker = "name=\"csrf\" value=\"";
    const std::size_t at = form.body.find(marker) + marker.size();
    const std::string csrf = form.body.substr(at, form.body.find('"', at) - at);
    HttpAnswer login = Exchange(port, PostRequest("/login", "csrf=" + csrf + "&password=" + kPassword + "&next=/",
                                                  "Cookie: " + CookieOf(form.setCookie, "korvane_login") + "\r\n"));
    EXPECT_EQ(login.status, 303) << login.body;
    return CookieOf(login.setCookie, "korvane_session");
}

std::string Page(unsigned short port, const std::string& session, const std::string& path) {
    HttpAnswer page = Exchange(port, GetRequest(path, "Cookie: " + session + "\r\n"));
    EXPECT_EQ(page.status, 200) << path;
    return page.body;
}

const FileEntry* ModuleNamed(const Report& report, const std::string& name) {
    for (const FileEntry& module : report.modules)
        if (module.name == name) return &module;
    return nullptr;
}

TEST(ZarUploadsToTheCollector, BothRunsArriveWithTheirFactsAndShowOnThePages) {
    std::optional<ZarBuild> zar = FindZarBuild();
    if (!zar) GTEST_SKIP() << "needs the MinGW build and the Wine environment of tools/test.sh";
    TempFolder folder;
    const std::string store = "sqlite:" + (folder.path() / "reports.sqlite").string();
    ASSERT_EQ(RunCollector({"--store", store, "--set-password"}, std::string(kPassword) + "\n"), 0);
    CollectorProcess collector({}, store, zar->reportPort);

    const std::filesystem::path targets = zar->folder / "tests" / "targets";
    ASSERT_EQ(RunProgram({"wine", (zar->folder / "tests" / "collector" / "collector_uploads.exe").string(),
                          WindowsPath(targets / "uses_described_ru.exe"),
                          WindowsPath(targets / "imports_init_fails.exe"),
                          WindowsPath(targets / "uses_described_semicolon.exe"),
                          WindowsPath(targets / "uses_described_line_feed.exe")}),
              0);

    Store reports(store);
    std::vector<ReportSummary> stored = reports.Reports({});
    ASSERT_EQ(stored.size(), 4u);
    std::map<std::string, Report> byProgram;
    for (const ReportSummary& summary : stored) {
        std::optional<Report> report = reports.ReportById(summary.id);
        ASSERT_TRUE(report);
        byProgram[report->process.name] = *report;
    }
    std::optional<Report> starts, fails;
    if (byProgram.contains("uses_described_ru.exe")) starts = byProgram["uses_described_ru.exe"];
    if (byProgram.contains("imports_init_fails.exe")) fails = byProgram["imports_init_fails.exe"];
    ASSERT_TRUE(starts && fails);
    // The texts that once cost the report arrive whole, the line feed as a blank.
    const FileEntry* semicolon = ModuleNamed(byProgram["uses_described_semicolon.exe"], "described_semicolon.dll");
    ASSERT_TRUE(semicolon);
    EXPECT_EQ(semicolon->description, "Модуль; с точкой с запятой");
    EXPECT_EQ(semicolon->company, "ООО «Ромашка» & Ко");
    const FileEntry* lineFeed = ModuleNamed(byProgram["uses_described_line_feed.exe"], "described_line_feed.dll");
    ASSERT_TRUE(lineFeed);
    EXPECT_EQ(lineFeed->description, "Первая строка вторая строка");
    EXPECT_EQ(lineFeed->productVersion, "2.5+build 7");
    EXPECT_EQ(starts->exitCode, 0u);
    EXPECT_EQ(fails->process.name, "imports_init_fails.exe");
    EXPECT_EQ(fails->exitCode, 0xC0000142u);
    EXPECT_TRUE(ModuleNamed(*fails, "init_fails.dll"));
    const FileEntry* described = ModuleNamed(*starts, "described_ru.dll");
    ASSERT_TRUE(described);
    EXPECT_EQ(described->productVersion, "2.5+build 7");
    EXPECT_EQ(described->description, "Описание модуля + 100% проверка");
    EXPECT_EQ(described->company, "ООО «Ромашка» & Ко");
    EXPECT_EQ(described->folder, fails->process.folder);  // both from tests/targets, as zar.exe folded it

    const std::string session = LogIn(collector.port());
    ASSERT_FALSE(session.empty());
    const std::string startsPage = Page(collector.port(), session, "/reports/" + std::to_string(starts->id));
    EXPECT_NE(startsPage.find("uses_described_ru.exe"), std::string::npos);
    EXPECT_NE(startsPage.find("Описание модуля + 100% проверка"), std::string::npos);
    EXPECT_NE(startsPage.find("ООО «Ромашка» &amp; Ко"), std::string::npos);
    EXPECT_NE(startsPage.find("2.5+build 7"), std::string::npos);
    const std::string failsPage = Page(collector.port(), session, "/reports/" + std::to_string(fails->id));
    EXPECT_NE(failsPage.find("init_fails.dll"), std::string::npos);
    // The refusal's detail goes on after its code with what the DLL printed.
    EXPECT_NE(failsPage.find("0xC0000142 output=&quot;init_fails: refusing to initialise&quot;"), std::string::npos);

    std::int64_t groupId = 0;
    for (const ReportSummary& summary : stored)
        if (summary.id == fails->id) groupId = summary.groupId;
    ASSERT_NE(groupId, 0);
    const std::string groupPage = Page(collector.port(), session, "/groups/" + std::to_string(groupId));
    EXPECT_NE(groupPage.find("imports_init_fails.exe"), std::string::npos);
    EXPECT_NE(groupPage.find("C0000142"), std::string::npos);
    EXPECT_NE(Page(collector.port(), session, "/").find("imports_init_fails.exe"), std::string::npos);
}

}  // namespace
}  // namespace collector::testing
