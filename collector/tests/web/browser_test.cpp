// The pages in a real browser: headless Chromium logs in through the login
// form, loads the group list, a group page and a report page of the real
// collector on loopback, and a report whose texts are script markup shows
// them as text and runs nothing. Screenshots go to build-native/screenshots/.
#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "collector/server/http_server.h"
#include "collector/tests/web/headless_chromium.h"
#include "collector/tests/web/web_fixture.h"

namespace collector {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;
using tcp = boost::asio::ip::tcp;

// Ports of this test program's range; each test has its own, ctest runs them side by side.
constexpr unsigned short kProbePort = 19302;
constexpr unsigned short kDevToolsPort = 19303;
constexpr unsigned short kServerPort = 19304;
constexpr unsigned short kControlProbePort = 19305;
constexpr unsigned short kControlDevToolsPort = 19306;
constexpr unsigned short kStartsServerPort = 19360;
constexpr unsigned short kStartsDevToolsPort = 19361;
constexpr unsigned short kAdviceServerPort = 19362;
constexpr unsigned short kAdviceDevToolsPort = 19363;

const std::filesystem::path kScreenshots = KORVANE_SCREENSHOT_DIR;

// Counts the requests that reach it: a script that ran in a page would call
// home here (CSP permitting), so an untouched probe shows that none ran.
class ProbeListener {
public:
    explicit ProbeListener(unsigned short port) : acceptor_(io_, {boost::asio::ip::make_address("127.0.0.1"), port}) {
        Accept();
        thread_ = std::thread([this] { io_.run(); });
    }
    ~ProbeListener() {
        io_.stop();
        thread_.join();
    }
    int Requests() const { return requests_; }

private:
    void Accept() {
        acceptor_.async_accept([this](beast::error_code error, tcp::socket socket) {
            if (error) return;
            ++requests_;
            beast::error_code ignored;
            socket.write_some(
                boost::asio::buffer(std::string_view("HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n")), ignored);
            Accept();
        });
    }

    boost::asio::io_context io_;
    tcp::acceptor acceptor_;
    std::thread thread_;
    std::atomic<int> requests_{0};
};

// The probe itself works: a page that may run script reaches it.
TEST(WebBrowser, ProbeSeesAScriptThatRuns) {
    ProbeListener probe(kControlProbePort);
    testing::HeadlessChromium chromium(kControlDevToolsPort);
    chromium.Load("data:text/html,<title>x</title><script>document.title='ran';new Image().src='http://127.0.0.1:" +
                  std::to_string(kControlProbePort) + "/ran'</script>");
    EXPECT_EQ(chromium.Evaluate("document.title"), "ran");
    for (int i = 0; i < 400 && probe.Requests() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_GE(probe.Requests(), 1);
}

// The collector's HTTP server on loopback with the web application behind it,
// remembering every target the browser asked for.
class CollectorOnLoopback {
public:
    explicit CollectorOnLoopback(Store& store, unsigned short port = kServerPort)
        : port_(port),
          app_(store),
          server_(
              io_, {boost::asio::ip::make_address("127.0.0.1"), port}, HttpLimits{},
              [](std::string, const std::string&, Reply reply) {
                  reply(TextResponse(http::status::service_unavailable, "not in this test"));
              },
              [this](const Request& request, const std::string& client) {
                  {
                      std::lock_guard<std::mutex> lock(mutex_);
                      targets_.insert(std::string(request.target()));
                  }
                  return app_.Handle(request, client);
              }) {
        thread_ = std::thread([this] { io_.run(); });
    }
    ~CollectorOnLoopback() {
        io_.stop();
        thread_.join();
    }
    std::string Address(const std::string& target) const {
        return "http://127.0.0.1:" + std::to_string(port_) + target;
    }
    std::set<std::string> Targets() {
        std::lock_guard<std::mutex> lock(mutex_);
        return targets_;
    }

private:
    unsigned short port_;
    WebApp app_;
    boost::asio::io_context io_;
    HttpServer server_;
    std::thread thread_;
    std::mutex mutex_;
    std::set<std::string> targets_;
};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(WebBrowser, LoggedInPagesShowEveryFactAndHostileTextsAsTextRunningNothing) {
    ProbeListener probe(kProbePort);
    testing::TestStore store(kProbePort);
    CollectorOnLoopback collector(store.store());
    testing::HeadlessChromium chromium(kDevToolsPort);
    const std::string hostile = testing::HostileText(kProbePort);

    // Not logged in: the group list sends the browser to the login form.
    chromium.Load(collector.Address("/"));
    ASSERT_EQ(chromium.Evaluate("location.pathname + location.search"), "/login?next=%2F");
    ASSERT_EQ(chromium.Evaluate("document.activeElement.name"), "password");
    chromium.Screenshot(kScreenshots / "login.png");
    chromium.TypeAndSubmit(testing::kTestPassword);

    ASSERT_EQ(chromium.Evaluate("location.pathname"), "/") << chromium.Evaluate("document.body.innerText");
    EXPECT_EQ(chromium.Evaluate("document.title"), "Группы отказов — Korvane");
    const std::string groups = chromium.Evaluate("document.body.innerText");
    EXPECT_TRUE(Contains(groups, "demo.exe\t2.1.0.0\t0xC0000142 (3221225794)\t"
                                     "Библиотека hook.dll не инициализирована: DllMain вернула FALSE\t21\t"))
        << groups;
    EXPECT_TRUE(Contains(groups, hostile)) << groups;
    EXPECT_EQ(chromium.Evaluate("document.querySelectorAll('svg.spark polyline').length"), "2");
    chromium.Screenshot(kScreenshots / "groups.png");

    chromium.Load(chromium.Evaluate("[...document.links].find(a => a.textContent == 'demo.exe').href"));
    EXPECT_TRUE(chromium.Evaluate("document.title").starts_with("Группа: demo.exe 2.1.0.0, 0xC0000142"));
    const std::string group = chromium.Evaluate("document.body.innerText");
    EXPECT_TRUE(Contains(group, "Что отличает эти отказы")) << group;
    EXPECT_TRUE(Contains(group, "hook.dll")) << group;
    // The last 30 days asked for, clamped to the six that hold data.
    EXPECT_EQ(chromium.Evaluate("document.querySelectorAll('svg.bars rect').length"), "6");
    const std::string groupPath = chromium.Evaluate("location.pathname");
    chromium.Screenshot(kScreenshots / "group.png");

    chromium.Load(collector.Address("/reports/" + std::to_string(store.reports().failureId)));
    const std::string report = chromium.Evaluate("document.body.innerText");
    for (const char* fact : {"0xC0000142 (3221225794)", "6.1.7601", "Демонстрационная программа", "ООО «Демо»",
                             "Библиотека hook.dll не инициализирована: DllMain вернула FALSE\tDllMain вернула FALSE", "explorer.exe\t%WIN%",
                             "hook.dll\t%USER_APPDATA%\\Hook\t102400\t0.9\t05.03.2013\t06.03.2013\t"
                             "Внедряемая библиотека\tHook Ltd\t⚠ папка доступна пользователю на запись"}) {
        EXPECT_TRUE(Contains(report, fact)) << fact << "\n" << report;
    }
    EXPECT_EQ(chromium.Evaluate("document.querySelectorAll('tr.writable').length"), "1");
    EXPECT_EQ(chromium.Evaluate("[...document.links].find(a => a.pathname.startsWith('/groups/')).pathname"),
              groupPath);
    chromium.Screenshot(kScreenshots / "report.png");

    // Every text of this report is script markup: it shows as text, no element
    // comes of it, the title stays ours, and nothing calls the probe or asks
    // the collector for the image's "x".
    chromium.Load(collector.Address("/reports/" + std::to_string(store.reports().hostileId)));
    EXPECT_EQ(chromium.Evaluate("document.title"),
              "Отчёт № " + std::to_string(store.reports().hostileId) + ": " + hostile + " — Korvane");
    EXPECT_EQ(chromium.Evaluate("document.querySelectorAll('script, img, [onerror]').length"), "0");
    const std::string text = chromium.Evaluate("document.body.innerText");
    EXPECT_GE(std::count(text.begin(), text.end(), '\n'), 10);
    std::size_t shown = 0;
    for (std::size_t at = text.find(hostile); at != std::string::npos; at = text.find(hostile, at + 1)) ++shown;
    EXPECT_GE(shown, 10u) << text;
    chromium.Screenshot(kScreenshots / "hostile_report.png");
    chromium.Load(collector.Address("/static/style.css"));  // one more round trip after the page
    EXPECT_EQ(probe.Requests(), 0);
    for (const std::string& target : collector.Targets()) {
        EXPECT_TRUE(target == "/" || target.starts_with("/login") || target.starts_with("/groups/") ||
                    target.starts_with("/reports/") || target == "/static/style.css" || target == "/favicon.ico")
            << target;
    }
}

// parent.exe's child ended last with 7 and exit3.exe ends with 3 by design:
// both started. fails.exe lists a note before its cause, and conhost.exe
// ended last with 0: the cause keys its group, with the code of the process
// it names. Dates show one way, the page's language is Russian.
TEST(WebBrowser, StartedRunsStayOutOfTheGroupsAndTheCauseKeysTheGroup) {
    testing::TestStore store;
    const auto run = [](const std::string& program, std::uint32_t exitCode, std::vector<Finding> verdict) {
        Report r;
        r.receivedAt = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch()).count();
        r.process = {program, "%PROGRAMFILES%\\Demo", "1024", "3.0", "", "", "", ""};
        r.exitCode = exitCode;
        r.os = "6.1.7601";
        r.modules = {{"hook.dll", "%SYSTEM%", "1024", "1.0", "", "", "", ""}};
        r.verdict = std::move(verdict);
        return r;
    };
    std::vector<Report> runs = {run("parent.exe", 7, {}),
                                run("exit3.exe", 3, {{"dll_init_note", "helper.dll", ""}}),
                                run("fails.exe", 0, {{"dll_init_note", "helper.dll", ""}, {"dll_init_failed", "hook.dll", ""}})};
    runs[2].failExitCode = 0xC0000142;
    store.store().Insert(runs);
    CollectorOnLoopback collector(store.store(), kStartsServerPort);
    testing::HeadlessChromium chromium(kStartsDevToolsPort);
    chromium.Load(collector.Address("/"));
    // Under load the form may not have taken its autofocus yet.
    chromium.Evaluate("document.querySelector('input[name=password]').focus()");
    ASSERT_EQ(chromium.Evaluate("document.activeElement.name"), "password");
    chromium.TypeAndSubmit(testing::kTestPassword);
    ASSERT_EQ(chromium.Evaluate("location.pathname"), "/");
    const std::string groups = chromium.Evaluate("document.body.innerText");
    EXPECT_FALSE(Contains(groups, "parent.exe")) << groups;
    EXPECT_FALSE(Contains(groups, "exit3.exe")) << groups;
    EXPECT_TRUE(Contains(groups, "fails.exe\t3.0\t0xC0000142 (3221225794)\tБиблиотека hook.dll не инициализирована: "
                                 "DllMain вернула FALSE\t1\t"))
        << groups;
    EXPECT_EQ(chromium.Evaluate("document.documentElement.lang"), "ru");
    EXPECT_EQ(chromium.Evaluate("/^\\d\\d\\.\\d\\d\\.\\d{4}$/.test(document.querySelector('input[name=since]').value)"),
              "true");
    EXPECT_TRUE(Contains(groups, "с " + chromium.Evaluate("document.querySelector('input[name=since]').value")));
    chromium.Screenshot(kScreenshots / "groups_started_runs.png");

    chromium.Load(collector.Address("/reports/" + std::to_string(runs[0].id)));
    const std::string parent = chromium.Evaluate("document.body.innerText");
    EXPECT_TRUE(Contains(parent, "0x7 (7)")) << parent;
    EXPECT_TRUE(Contains(parent, "запуск состоялся")) << parent;
    chromium.Load(collector.Address("/reports/" + std::to_string(runs[1].id)));
    const std::string exit3 = chromium.Evaluate("document.body.innerText");
    EXPECT_TRUE(Contains(exit3, "0x3 (3)")) << exit3;
    EXPECT_TRUE(Contains(exit3, "запуск состоялся")) << exit3;
    EXPECT_TRUE(Contains(exit3, "Библиотека helper.dll отказалась от инициализации: процесс продолжил работу")) << exit3;
    chromium.Screenshot(kScreenshots / "report_exit3.png");

    chromium.Load(collector.Address("/reports/" + std::to_string(runs[2].id)));
    chromium.Load(chromium.Evaluate("[...document.links].find(a => a.pathname.startsWith('/groups/')).href"));
    const std::string group = chromium.Evaluate("document.body.innerText");
    EXPECT_TRUE(chromium.Evaluate("document.title").starts_with("Группа: fails.exe 3.0, 0xC0000142")) << group;
    EXPECT_TRUE(Contains(group, "для сравнения взяты успешные запуски всех программ (")) << group;
    chromium.Screenshot(kScreenshots / "group_keyed_by_cause.png");
}

// Each finding of a report shows what to do beside it, as zar.exe's log gives
// it after the finding, but without the architecture, which the upload does
// not carry; a finding on which zar.exe gives no advice has an empty cell.
TEST(WebBrowser, ReportPageShowsTheAdviceOfEachFindingBesideIt) {
    testing::TestStore store;
    Report r;
    r.receivedAt = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch()).count();
    r.process = {"tool.exe", "%PROGRAMFILES%\\Tool", "1024", "2.0", "", "", "", ""};
    r.exitCode = 0xC0000135;
    r.os = "6.1.7601";
    r.verdict = {{"dll_not_found", "VCRUNTIME140.dll", "%PROGRAMFILES%\\Tool\\tool.exe"},
                 {"dll_not_found", "api-ms-win-crt-runtime-l1-1-0.dll", "%PROGRAMFILES%\\Tool\\tool.exe"},
                 {"bad_image_format", "%PROGRAMFILES%\\Tool\\plugin.dll", "%PROGRAMFILES%\\Tool\\tool.exe"},
                 {"exit_status", "%PROGRAMFILES%\\Tool\\host.exe", "0x80008083"},
                 {"dll_init_failed", "%PROGRAMFILES%\\Tool\\hook.dll", "0xC0000142"}};
    std::vector<Report> runs = {r};
    store.store().Insert(runs);
    CollectorOnLoopback collector(store.store(), kAdviceServerPort);
    testing::HeadlessChromium chromium(kAdviceDevToolsPort);
    chromium.Load(collector.Address("/"));
    chromium.Evaluate("document.querySelector('input[name=password]').focus()");
    ASSERT_EQ(chromium.Evaluate("document.activeElement.name"), "password");
    chromium.TypeAndSubmit(testing::kTestPassword);
    chromium.Load(collector.Address("/reports/" + std::to_string(runs[0].id)));
    // The verdict's table: one row per finding, its cells in order.
    const std::string rows = chromium.Evaluate(
        "[...document.querySelectorAll('h2 + table tr')].filter(tr => tr.closest('table').previousElementSibling"
        ".textContent === 'Вердикт').map(tr => [...tr.cells].map(c => c.textContent).join('|')).join('\\n')");
    EXPECT_EQ(rows,
              "Находка|Подробности|Что делать\n"
              "Не найдена библиотека VCRUNTIME140.dll, импортируемая модулем %PROGRAMFILES%\\Tool\\tool.exe|"
              "%PROGRAMFILES%\\Tool\\tool.exe|установите распространяемый пакет Visual C++ 2015-2022 с сайта Microsoft\n"
              "Не найдена библиотека api-ms-win-crt-runtime-l1-1-0.dll, импортируемая модулем "
              "%PROGRAMFILES%\\Tool\\tool.exe|%PROGRAMFILES%\\Tool\\tool.exe|установите обновление KB2999226 "
              "(универсальная среда выполнения C) из Центра обновления Windows\n"
              "Модуль %PROGRAMFILES%\\Tool\\plugin.dll собран для другой платформы, чем процесс|"
              "%PROGRAMFILES%\\Tool\\tool.exe|замените эту библиотеку её версией той же разрядности, что и программа\n"
              "Процесс %PROGRAMFILES%\\Tool\\host.exe завершился с ошибкой: Хост .NET: не найден компонент "
              "размещения .NET (hostfxr, hostpolicy или coreclr), среда выполнения .NET не установлена или "
              "повреждена|0x80008083|установите среду выполнения .NET, которую называет сообщение программы "
              "(https://aka.ms/dotnet-download), или переустановите программу\n"
              "Библиотека %PROGRAMFILES%\\Tool\\hook.dll не инициализирована: DllMain вернула FALSE|0xC0000142|");
    chromium.Screenshot(kScreenshots / "report_advice.png");
}

}  // namespace
}  // namespace collector
