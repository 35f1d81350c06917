// Module facts read beside the debuggee give the report that reading them in
// the debuggee's way, at every load and again at the end, gave: the same log
// and the same upload body over the same target.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/report_listener.h"
#include "tests/support/test_files.h"
#include "tests/support/watch_runs.h"
#include "watch/launch_trace.h"

namespace {

constexpr DWORD kRequestArrivalTimeoutMs = 20000;

struct Report {
    std::vector<std::wstring> log;
    std::wstring body;
};

Report WatchAndUpload(const std::wstring& target, bool readOnCaller) {
    Report report;
    LoopbackListener listener(KORVANE_TEST_REPORT_PORT);
    EXPECT_TRUE(listener.Listening());
    std::thread worker([&] {
        LaunchTrace trace(target, nullptr, nullptr);
        if (readOnCaller) trace.moduleFacts.ReadOnCallerEveryTime();
        trace.RunDebugLoop();
        trace.log.Close();  // as CloseAndShowLog does, without starting Notepad
        trace.UploadReport();
    });
    worker.join();
    std::optional<ReceivedRequest> request = listener.WaitForRequest(kRequestArrivalTimeoutMs);
    EXPECT_TRUE(request.has_value());
    if (request) report.body = FromCp1251(request->body);
    report.log = ReadLogLines(WatchLogPath());
    return report;
}

// What differs between any two runs: ids, addresses and working sets.
std::wstring WithoutRunNumbers(const std::wstring& text) {
    static const std::wregex hex(L"0x[0-9A-F]+");
    static const std::wregex kib(L"\\[[0-9]+K\\]");
    static const std::wregex mib(L"Total Working Set: [0-9]+Mb");
    std::wstring plain = std::regex_replace(text, hex, L"0x#");
    plain = std::regex_replace(plain, kib, L"[#K]");
    return std::regex_replace(plain, mib, L"Total Working Set: #Mb");
}

// The processes running at the end are not the same in two runs (tests of
// other folders run beside): their block and their "&files=" entries are
// compared for the processes of this test, which are running in both.
bool OfAnotherProgram(const std::wstring& line) {
    return line.find(L"modules_tests.exe") == std::wstring::npos;
}

// Wine maps the loader's own DLLs now from the prefix's system folder, now
// from its install tree (other files, other dates), whatever reads their facts:
// their lines and entries are left out of the comparison.
bool OfWinesLoaderDlls(const std::wstring& text) {
    for (const wchar_t* name : {L"ntdll.dll", L"kernel32.dll", L"kernelbase.dll", L"msvcrt.dll"})
        if (text.find(name) != std::wstring::npos) return true;
    return false;
}

std::wstring WithoutWinesLoaderDlls(const std::wstring& entries) {
    std::wstring kept;
    for (std::size_t start = 0, end; start < entries.size(); start = end + 1) {
        end = entries.find(L'\n', start);
        if (end == std::wstring::npos) end = entries.size() - 1;
        std::wstring entry = entries.substr(start, end + 1 - start);
        if (!OfWinesLoaderDlls(entry)) kept += entry;
    }
    return kept;
}

std::vector<std::wstring> ComparableLog(const std::vector<std::wstring>& log) {
    std::vector<std::wstring> lines;
    bool inProcesses = false;
    for (const std::wstring& line : log) {
        if (line.rfind(L"Активные процессы (", 0) == 0) {
            inProcesses = true;
            continue;  // its count is that of the whole machine
        }
        if (line.rfind(L"Total Working Set:", 0) == 0) inProcesses = false;
        if (inProcesses && OfAnotherProgram(line)) continue;
        if (OfWinesLoaderDlls(line)) continue;
        lines.push_back(WithoutRunNumbers(line));
    }
    return lines;
}

std::wstring ComparableBody(const std::wstring& body) {
    std::size_t files = body.find(L"&files=");
    std::size_t modules = body.find(L"&modules=");
    if (files == std::wstring::npos || modules == std::wstring::npos) return body;
    std::wstring kept = body.substr(0, files + 7);
    std::size_t start = files + 7;
    for (std::size_t end; (end = body.find(L'\n', start)) != std::wstring::npos && end < modules; start = end + 1) {
        std::wstring entry = body.substr(start, end + 1 - start);
        if (entry.find(L"modules_tests.exe;") == 0) kept += entry;
    }
    return kept + WithoutWinesLoaderDlls(body.substr(modules));
}

// The DLL load lines of a run, without its numbers.
std::vector<std::wstring> LoadLines(const Report& report) {
    std::vector<std::wstring> lines;
    for (const std::wstring& line : LinesStartingWith(report.log, L"Загрузка "))
        if (!OfWinesLoaderDlls(line)) lines.push_back(WithoutRunNumbers(line));
    return lines;
}

void ExpectSameReport(const std::wstring& target) {
    // Wine names a process's own DLLs now from the prefix's system folder, now
    // from its install tree (other files, other dates), whichever way it mapped
    // them: two runs are compared once both named their DLLs alike.
    constexpr int kAttempts = 3;
    Report before, now;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        before = WatchAndUpload(target, true);
        now = WatchAndUpload(target, false);
        if (LoadLines(before) == LoadLines(now)) break;
    }
    ASSERT_GT(before.log.size(), 10u);
    EXPECT_EQ(ComparableLog(before.log), ComparableLog(now.log));
    ASSERT_FALSE(now.body.empty());
    EXPECT_NE(std::wstring::npos, ComparableBody(now.body).find(L"&files=modules_tests.exe;"));
    EXPECT_EQ(ComparableBody(before.body), ComparableBody(now.body));
}

std::wstring RowOf(const std::vector<std::wstring>& log, const std::wstring& fileName) {
    for (const std::wstring& line : log)
        if (line.find(fileName + L" - [") != std::wstring::npos) return line;
    return {};
}

}  // namespace

TEST(ModuleFactsRun, ReportOfARunWithAChildAndAReloadedDllIsTheSameEitherWay) {
    ExpectSameReport(TargetPath(L"modules_run.exe"));
}

TEST(ModuleFactsRun, FileReplacedBeforeTheEndIsReportedAsItIsAtTheEnd) {
    const std::wstring target = TargetPath(L"modules_replaced.exe");
    ExpectSameReport(target);
    Report now = WatchAndUpload(target, false);
    // The row shows the file that replaced the loaded one: no version resource.
    std::wstring row = RowOf(now.log, L"replaced_module.dll");
    ASSERT_FALSE(row.empty());
    EXPECT_NE(std::wstring::npos, row.find(L"K; ; ")) << testing::PrintToString(row);
    EXPECT_EQ(row.size() - 3, row.rfind(L" - ")) << "description and company empty: " << testing::PrintToString(row);
}
