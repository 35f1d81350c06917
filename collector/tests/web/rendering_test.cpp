// The pure side of the web page: escaping, the folder rule, text forms, plots
// and the pages themselves rendered from hostile report texts.
#include <gtest/gtest.h>

#include <regex>

#include "collector/web/escape.h"
#include "collector/web/exports.h"
#include "collector/web/finding_text.h"
#include "collector/web/module_folders.h"
#include "collector/web/pages.h"
#include "collector/web/plots.h"
#include "collector/web/view_text.h"

namespace collector {
namespace {

TEST(WebEscape, EveryOutputNeutralisesMarkupSeparatorsAndBadBytes) {
    struct Case {
        std::string input, html, json, csv;
    };
    const Case cases[] = {
        {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;",
         "\"\\u003cscript\\u003ealert(1)\\u003c/script\\u003e\"", "<script>alert(1)</script>"},
        {"\"><img src=x onerror='a'>", "&quot;&gt;&lt;img src=x onerror=&#39;a&#39;&gt;",
         "\"\\\"\\u003e\\u003cimg src=x onerror='a'\\u003e\"", "\"\"\"><img src=x onerror='a'>\""},
        {"=HYPERLINK(\"x\")", "=HYPERLINK(&quot;x&quot;)", "\"=HYPERLINK(\\\"x\\\")\"", "\"'=HYPERLINK(\"\"x\"\")\""},
        {"+1", "+1", "\"+1\"", "'+1"},
        {"-2;3", "-2;3", "\"-2;3\"", "\"'-2;3\""},
        {"@SUM", "@SUM", "\"@SUM\"", "'@SUM"},
        {"a,b\nc\r", "a,b\nc\r", "\"a,b\\nc\\r\"", "\"a,b\nc\r\""},
        {"Описание \\ A&B", "Описание \\ A&amp;B", "\"Описание \\\\ A\\u0026B\"", "Описание \\ A&B"},
        {std::string("\xC0\xAF<\xED\xA0\x80\x01", 7),
         "\xEF\xBF\xBD\xEF\xBF\xBD&lt;\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\x01",
         "\"\xEF\xBF\xBD\xEF\xBF\xBD\\u003c\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\\u0001\"",
         "\xEF\xBF\xBD\xEF\xBF\xBD<\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\x01"},
        {"line\xE2\x80\xA8sep", "line\xE2\x80\xA8sep", "\"line\\u2028sep\"", "line\xE2\x80\xA8sep"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EscapeHtml(c.input), c.html) << c.input;
        EXPECT_EQ(JsonString(c.input), c.json) << c.input;
        EXPECT_EQ(CsvCell(c.input), c.csv) << c.input;
    }
    EXPECT_EQ(DecodeFormComponent("a+b%2B%3c%zz%4"), "a b+<%zz%4");
    EXPECT_EQ(DecodeFormComponent(EncodeQueryComponent("Ошибка & =+/?")), "Ошибка & =+/?");
}

TEST(WebText, FoldersTimesAndExitCodes) {
    const std::pair<std::string, bool> folders[] = {
        {"%SYSTEM%", false},
        {"%system%\\drivers", false},
        {"%SYSTEM_X86%", false},
        {"%WIN%\\WinSxS\\x", false},
        {"%PROGRAMFILES%\\Demo", false},
        {"%PROGRAMFILES_COMMON_X86%\\x", false},
        {"C:\\Windows\\System32", false},
        {"d:/program files (x86)/Demo/", false},
        {"\\\\?\\C:\\Windows", false},
        {"%WIN%\\Temp", true},
        {"%SYSTEM%\\spool\\drivers\\color", true},
        {"C:\\WINDOWS\\Tasks", true},
        {"%WIN%2", true},
        {"C:\\Windows2", true},
        {"C:\\Program Files Evil", true},
        {"%USER%\\Downloads", true},
        {"%USER_APPDATA%\\Evil", true},
        {"%LOCAL_APPDATA%\\Temp", true},
        {"%APPDATA%\\Vendor", true},
        {"%DESKTOP%", true},
        {"%MY_DOCUMENTS%", true},
        {"C:\\Users\\%USERNAME%\\AppData", true},
        {"D:", true},
        {"Z:\\tmp", true},
        {"", false},
    };
    for (const auto& [folder, writable] : folders) EXPECT_EQ(IsUserWritableFolder(folder), writable) << folder;

    EXPECT_EQ(ExitCodeText(0xC0000142), "0xC0000142 (3221225794)");
    EXPECT_EQ(ParseExitCode("0xc0000142"), 0xC0000142u);
    EXPECT_EQ(ParseExitCode("3221225794"), 0xC0000142u);
    EXPECT_FALSE(ParseExitCode("4294967296"));
    EXPECT_FALSE(ParseExitCode("-1"));
    EXPECT_FALSE(ParseExitCode("0x"));
    // Dates and seconds are told apart by their shape, never by their length.
    const std::pair<std::string, std::optional<std::pair<std::int64_t, bool>>> times[] = {
        {"2026-12-09", {{1796774400, true}}},
        {"09.12.2026", {{1796774400, true}}},
        {"1796774400", {{1796774400, false}}},
        {"0", {{0, false}}},
        {"253402300799", {{253402300799, false}}},
        {"253402300800", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"-1", std::nullopt},
        {"+5", std::nullopt},
        {"2026-02-30", std::nullopt},
        {"2026-12-9x", std::nullopt},
        {"12.09.20x6", std::nullopt},
    };
    for (const auto& [text, expected] : times) {
        const auto parsed = ParseTime(text);
        ASSERT_EQ(parsed.has_value(), expected.has_value()) << text;
        if (parsed) {
            EXPECT_EQ(std::make_pair(parsed->seconds, parsed->isDate), *expected) << text;
        }
    }
    EXPECT_EQ(DateTimeText(1796774400 + 3600 * 2 + 50 * 60), "09.12.2026 02:50");
    EXPECT_EQ(IsoTimeText(1796774400 + 59), "2026-12-09T00:00:59Z");
    EXPECT_EQ(PercentText(0.9534), "95,3 %");
    EXPECT_EQ(PointsText(0.8333), "+83,3 п.");
    EXPECT_EQ(PointsText(-0.25), "-25,0 п.");
}

TEST(WebText, FindingsInTheLogsWordsTheKindOnlyWhenUnknown) {
    const std::pair<Finding, std::string> findings[] = {
        {{"dll_init_failed", "hook.dll", ""}, "Библиотека hook.dll не инициализирована: DllMain вернула FALSE"},
        {{"dll_init_note", "hook.dll", ""},
         "Библиотека hook.dll отказалась от инициализации: процесс продолжил работу"},
        {{"exit_status", "fails.exe", "0xC0000142"},
         "Процесс fails.exe завершился с ошибкой: Ошибка инициализации библиотеки DLL"},
        {{"dll_init_exception", "a.dll", "0xC0000005"},
         "Библиотека a.dll вызвала исключение при инициализации: У процесса недостаточно прав для получения "
         "доступа к виртуальному адресу"},
        {{"dll_not_found", "gone.dll", "demo.exe"}, "Не найдена библиотека gone.dll, импортируемая модулем demo.exe"},
        {{"unhandled_exception", "", "0xC00000FD"}, "Необработанное исключение в неизвестном модуле: Стек переполнен"},
        {{"future_kind", "x.dll", "1"}, "future_kind: x.dll"},
    };
    for (const auto& [finding, sentence] : findings) EXPECT_EQ(FindingSentence(finding), sentence) << finding.kind;
    EXPECT_EQ(FindingSentence("exit_status", "fails.exe"), "Процесс fails.exe завершился с ошибкой");
    EXPECT_EQ(FindingSentence("", ""), "—");
}

TEST(WebPlots, DaysWithoutReportsAreZerosAndEveryDayIsABar) {
    const std::int64_t day = 1796774400;
    const std::vector<DayCount> days =
        ContinuousDays({{day, 3}, {day + 3 * kSecondsPerDay + 5, 7}}, day - kSecondsPerDay, day + 4 * kSecondsPerDay);
    ASSERT_EQ(days.size(), 6u);
    const std::int64_t counts[] = {0, 3, 0, 0, 7, 0};
    for (std::size_t i = 0; i < days.size(); ++i) {
        EXPECT_EQ(days[i].day, day + (std::int64_t(i) - 1) * kSecondsPerDay);
        EXPECT_EQ(days[i].count, counts[i]);
    }
    EXPECT_EQ(ContinuousDays({}, 0, 1000 * kSecondsPerDay).size(), kMaxPlotDays);
    const std::string bars = DailyBarsSvg(days);
    const std::regex rect("<rect ");
    EXPECT_EQ(std::distance(std::sregex_iterator(bars.begin(), bars.end(), rect), std::sregex_iterator()), 6);
    EXPECT_NE(bars.find("12.12.2026: 7"), std::string::npos);
    EXPECT_NE(SparklineSvg(days).find("<polyline"), std::string::npos);
}

// Every text field of the report carries markup; no page, JSON or CSV may
// give it back as markup.
TEST(WebPages, HostileTextsComeOutAsTextEverywhere) {
    const std::string hostile = "<script>document.title='pwned'</script>\"><img src=x onerror=alert(1)>";
    const FileEntry entry{hostile, hostile, hostile, hostile, hostile, hostile, hostile, "=cmd|' /C calc'!A0"};
    Report report;
    report.id = 7;
    report.receivedAt = 1796774400;
    report.process = entry;
    report.exitCode = 0xC0000142;
    report.os = hostile;
    report.files = {entry};
    report.modules = {entry, FileEntry{"kernel32.dll", "%SYSTEM%", "1", "", "", "", "", ""}};
    report.verdict = {{hostile, hostile, hostile}};
    report.groupId = 3;
    const GroupKey key{hostile, hostile, 0xC0000142, hostile, hostile};
    GroupSummary summary{
        3, key, 5, 10, 0.5, report.receivedAt, report.receivedAt, {{report.receivedAt, 5}}, true, {{hostile, 5}}};
    const ReportSummary row{7, report.receivedAt, hostile, hostile, hostile, 0xC0000142, hostile, hostile, 3};
    const GroupDetail detail{summary, {DiffRow{"module", hostile, 5, 5, 0, 10, 1, 0, 0.001, 2}}, true, {row}, 10};
    ReportFilter filter;
    filter.program = hostile;
    filter.module = hostile;
    const PageFrame frame{"tok\"en"};
    const Period period{report.receivedAt - kSecondsPerDay, report.receivedAt + kSecondsPerDay};

    const std::string pages[] = {
        GroupsPage({summary}, {{0, hostile, 2}}, period, frame),
        GroupPage(detail, period, frame),
        ReportPage(report, frame),
        ReportsPage(filter, {row}, frame),
        FailureModulesPage(detail.differs, period, frame),
        LoginPage(hostile, hostile, hostile),
    };
    for (const std::string& page : pages) {
        EXPECT_EQ(page.find("<script"), std::string::npos);
        EXPECT_EQ(page.find("<img"), std::string::npos);
        EXPECT_EQ(page.find("onerror=alert(1)>"), std::string::npos);
        EXPECT_NE(page.find("&lt;script&gt;document.title=&#39;pwned&#39;&lt;/script&gt;&quot;&gt;&lt;img"),
                  std::string::npos);
        EXPECT_EQ(page.find("tok\"en"), std::string::npos);
    }
    const std::string& reportPage = pages[2];
    EXPECT_NE(reportPage.find("0xC0000142 (3221225794)"), std::string::npos);
    EXPECT_NE(reportPage.find("href=\"/groups/3\""), std::string::npos);
    // The hostile folder lies outside the protected ones; kernel32 in %SYSTEM% does not.
    EXPECT_NE(reportPage.find("загружено модулей: 1."), std::string::npos);
    EXPECT_NE(pages[3].find("href=\"/reports.csv?program=%3Cscript%3E"), std::string::npos);
    EXPECT_NE(pages[1].find("всех программ"), std::string::npos);

    for (const std::string& json : {ReportJson(report), GroupJson(detail), GroupsJson({summary}), ReportsJson({row})}) {
        EXPECT_EQ(json.find_first_of("<>"), std::string::npos) << json;
        EXPECT_NE(json.find("\\u003cscript\\u003edocument.title='pwned'"), std::string::npos);
    }
    EXPECT_NE(ReportJson(report).find("\"company\":\"=cmd|' /C calc'!A0\""), std::string::npos);
    const std::string csv = ReportsCsv({row});
    EXPECT_TRUE(csv.starts_with("\xEF\xBB\xBFid,receivedAt,program,"));
    EXPECT_NE(csv.find("\r\n7,2026-12-09T00:00:00Z,\"<script>document.title='pwned'</script>\"\"><img src=x "
                       "onerror=alert(1)>\","),
              std::string::npos);
    EXPECT_NE(csv.find(",3221225794,0xC0000142,"), std::string::npos);
}

// The group list says how many reports of the period never became part of it.
TEST(WebPages, GroupListCountsRefusedReportsPerReason) {
    const Period period{0, 86400};
    EXPECT_NE(GroupsPage({}, {{0, "malformed", 2}, {0, "over_limits", 1}}, period, {"t"})
                  .find("Не принято отчётов: 3 (неверный формат: 2, сверх пределов отчёта: 1)."),
              std::string::npos);
    EXPECT_EQ(GroupsPage({}, {}, period, {"t"}).find("Не принято"), std::string::npos);
}

}  // namespace
}  // namespace collector
