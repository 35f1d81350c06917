// Debuggees that misbehave on purpose, each under the real debug loop: every
// line the target caused is in the log (counted against what the target
// counted itself), the run ends, the closing sections follow, and memory stays
// bounded; one storm runs with the real window, which must keep answering.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <regex>
#include <set>
#include <string>

#include "tests/support/hostile_runs.h"
#include "tests/support/test_files.h"

namespace {

// Generous: a run that has not ended by then hangs.
constexpr DWORD kRunTimeoutMs = 240000;
constexpr DWORD kWindowAnswerTimeoutMs = 10000;
constexpr DWORD kSurvivorFinishTimeoutMs = 30000;
constexpr DWORD kPollMs = 50;
// Far above what any of these runs needs; a run that keeps what it no longer
// needs for each event grows past it.
constexpr SIZE_T kPeakWorkingSetLimit = 512u * 1048576u;

const std::wstring kDebugString = L"Получена отладочная информация:";
const std::wstring kStringLine = kDebugString + L" ";

// The run ended, and its log holds title, watch line, the events ending with an
// exit, "Отладка завершена", the machine description, one row per module path
// and the verdict.
void ExpectCompleteLog(const TimedRun& timed, const std::wstring& target) {
    ASSERT_TRUE(timed.ended) << "the debug loop did not end";
    const auto& lines = timed.run.lines;
    ASSERT_GT(lines.size(), 5u);
    EXPECT_EQ(L"Korvane v1.0.2 by Ardelan", lines[0]);
    EXPECT_EQ(L"Наблюдение за загрузкой процесса " + target, lines[3]);
    std::size_t end = FindLine(lines, L"Отладка завершена");
    ASSERT_LT(end, lines.size());
    EXPECT_TRUE(lines[end - 1].starts_with(L"Процесс ")) << "the last event is an exit";
    std::size_t heap = FindLine(lines, L"Heap info: ", end);
    std::size_t appInit = FindLine(lines, L"AppInit_DLLs: ", heap);
    std::size_t processes = FindLine(lines, L"Активные процессы (", appInit);
    std::size_t total = FindLine(lines, L"Total Working Set: ", processes);
    std::size_t modules = FindLine(lines, L"Загруженные модули:", total);
    ASSERT_LT(modules, lines.size()) << "a closing section is missing";
    std::size_t verdict = FindLine(lines, L"Диагноз:", modules);
    EXPECT_EQ(modules + 4 + timed.run.modulePaths.size(), verdict) << "one row per module path, an empty line, the verdict";
    EXPECT_LT(verdict + 1, lines.size());
    EXPECT_LT(timed.peakWorkingSet, kPeakWorkingSetLimit);
}

std::wstring Narrow(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// Waits until the file exists; false when it did not appear in time.
bool AppearsWithin(const std::wstring& path, DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += kPollMs) {
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        Sleep(kPollMs);
    }
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring Hex(unsigned long value) {
    wchar_t text[16];
    swprintf(text, 16, L"%lX", value);
    return text;
}

}  // namespace

TEST(HostileRuns, HundredThousandDebugStringsAreAllLoggedInOrder) {
    constexpr int kStrings = 100000;
    const std::wstring target = HostileCopy(L"strings", std::to_wstring(kStrings));
    ForgetCounts(target);
    TimedRun timed = RunHeadlessWithin(target, kRunTimeoutMs);
    PrintRunFigures("100,000 debug strings, headless", timed);
    ExpectCompleteLog(timed, target);
    auto counts = ReadCounts(target);
    ASSERT_EQ(kStrings, counts["strings"]);
    std::size_t at = 0;
    for (int i = 0; i < kStrings; ++i) {
        at = FindLine(timed.run.lines, kStringLine + L"hostile string " + std::to_wstring(i), at);
        ASSERT_LT(at, timed.run.lines.size()) << "string " << i << " is missing or out of order";
        ASSERT_EQ(L"", timed.run.lines[at + 1]) << "the string's own line feed";
    }
    EXPECT_EQ(static_cast<std::size_t>(counts["strings"]), CountLines(timed.run.lines, kDebugString));
}

TEST(HostileRuns, DebugStringStormWithTheRealWindowKeepsItAnswering) {
    constexpr int kStrings = 2000;
    const std::wstring target = HostileCopy(L"strings", std::to_wstring(kStrings));
    ForgetCounts(target);
    TimedRun timed = RunWithWindowWithin(target, kRunTimeoutMs, kWindowAnswerTimeoutMs);
    PrintRunFigures("2,000 debug strings with the real window", timed);
    ExpectCompleteLog(timed, target);
    EXPECT_GT(timed.probes, 0u);
    EXPECT_EQ(0u, timed.unansweredProbes) << "the window did not answer within " << kWindowAnswerTimeoutMs << " ms";
    auto counts = ReadCounts(target);
    ASSERT_EQ(kStrings, counts["strings"]);
    EXPECT_EQ(static_cast<std::size_t>(kStrings), CountLines(timed.run.lines, kDebugString));
}

TEST(HostileRuns, LongInvalidAndWrappingDebugStringsAreLoggedAndTheRunGoesOn) {
    const std::wstring target = HostileCopy(L"bigstrings", L"0");
    ForgetCounts(target);
    TimedRun timed = RunHeadlessWithin(target, kRunTimeoutMs);
    PrintRunFigures("long and invalid debug strings", timed);
    ExpectCompleteLog(timed, target);
    const auto& lines = timed.run.lines;
    auto strings = LinesStartingWith(lines, kDebugString);
    ASSERT_EQ(static_cast<std::size_t>(ReadCounts(target)["strings"]), strings.size());
    ASSERT_EQ(5u, strings.size());
    std::wstring big(65534, L'\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<wchar_t>(L'a' + i % 26);
    EXPECT_EQ(kStringLine + big, strings[0]) << "65,535 bytes with the zero: the whole text";
    EXPECT_EQ(kStringLine, strings[1]) << "an invalid pointer gives an empty text";
    EXPECT_EQ(kStringLine + std::wstring(40, L'e'), strings[2]) << "the text up to the unreadable page";
    // Only the low 16 bits of the length (5) reach the debugger; the length counts
    // a terminating zero, so a string sent without one loses its last character.
    EXPECT_EQ(kStringLine + L"wwww", strings[3]);
    EXPECT_EQ(kStringLine + L"hostile bigstrings: done", strings[4]);
    EXPECT_EQ(0u, timed.run.lastExitCode);
}

TEST(HostileRuns, TenThousandThreadsAreEachCreatedAndEndedOnce) {
    constexpr int kThreads = 10000;
    const std::wstring target = HostileCopy(L"threads", std::to_wstring(kThreads));
    ForgetCounts(target);
    TimedRun timed = RunHeadlessWithin(target, kRunTimeoutMs);
    PrintRunFigures("10,000 threads, headless", timed);
    ExpectCompleteLog(timed, target);
    const long long created = ReadCounts(target)["threads"];
    ASSERT_EQ(kThreads, created);
    static const std::wregex exitLine(L"^Поток 0x[0-9A-F]+ уничтожен с кодом 0x([0-9A-F]+)$");
    std::multiset<unsigned long> codes;
    for (const std::wstring& line : LinesStartingWith(timed.run.lines, L"Поток 0x")) {
        std::wsmatch match;
        ASSERT_TRUE(std::regex_match(line, match, exitLine)) << "malformed: " << line;
        codes.insert(std::stoul(match[1].str(), nullptr, 16));
    }
    for (unsigned long i = 0; i < static_cast<unsigned long>(created); ++i)
        ASSERT_EQ(1u, codes.count(0x10000 + i)) << "thread " << i << " ended " << codes.count(0x10000 + i) << " times";
    EXPECT_GE(CountLines(timed.run.lines, L"Создан поток 0x"), static_cast<std::size_t>(created));
}

TEST(HostileRuns, TwoThousandDistinctDllsAreEachLoadedAndUnloadedOnce) {
    constexpr int kDlls = 2000;
    const std::wstring target = HostileCopy(L"dlls", std::to_wstring(kDlls));
    const std::wstring folder = target.substr(0, target.find_last_of(L'\\') + 1) + L"hostile-dlls\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring source = TargetPath(L"hostile_dll.dll");
    for (int i = 0; i < kDlls; ++i) {
        std::wstring copy = folder + L"hostile_dll_" + std::to_wstring(i) + L".dll";
        ASSERT_TRUE(CopyFileW(source.c_str(), copy.c_str(), FALSE)) << GetLastError();
    }
    ForgetCounts(target);
    TimedRun timed = RunHeadlessWithin(target, kRunTimeoutMs);
    PrintRunFigures("2,000 distinct DLLs loaded and unloaded, headless", timed);
    ExpectCompleteLog(timed, target);
    ASSERT_EQ(kDlls, ReadCounts(target)["dlls"]);
    const auto& lines = timed.run.lines;
    std::size_t at = 0;
    for (int i = 0; i < kDlls; ++i) {
        const std::wstring path = folder + L"hostile_dll_" + std::to_wstring(i) + L".dll";
        std::size_t load = FindLine(lines, L"Загрузка " + path + L" (base: 0x", at);
        ASSERT_LT(load, lines.size()) << "load of DLL " << i;
        std::size_t unload = FindLine(lines, L"Выгрузка " + path + L" (base: 0x", load);
        ASSERT_LT(unload, lines.size()) << "unload of DLL " << i;
        at = unload;
    }
    std::size_t ours = 0;
    for (const std::wstring& path : timed.run.modulePaths) ours += path.starts_with(folder);
    EXPECT_EQ(static_cast<std::size_t>(kDlls), ours) << "each DLL path once in the module list";
}

TEST(HostileRuns, TargetTerminatingItselfInTheMiddleOfAStormLosesNoLine) {
    constexpr int kMainStrings = 5000;
    constexpr unsigned long kSelfKillCode = 0x5E1F;
    const std::wstring target = HostileCopy(L"selfkill", std::to_wstring(kMainStrings));
    ForgetCounts(target);
    TimedRun timed = RunHeadlessWithin(target, kRunTimeoutMs);
    PrintRunFigures("self-termination during a storm, headless", timed);
    ExpectCompleteLog(timed, target);
    ASSERT_EQ(kMainStrings, ReadCounts(target)["main"]);
    const auto& lines = timed.run.lines;
    std::size_t at = 0;
    for (int i = 0; i < kMainStrings; ++i) {
        at = FindLine(lines, kStringLine + L"hostile selfkill main " + std::to_wstring(i), at);
        ASSERT_LT(at, lines.size()) << "main string " << i;
    }
    // Each sending thread's strings arrive without a gap, up to where it was stopped.
    for (int worker = 0; worker < 3; ++worker) {
        const std::wstring prefix = kStringLine + L"hostile selfkill w" + std::to_wstring(worker) + L" ";
        long long expected = 0;
        for (const std::wstring& line : LinesStartingWith(lines, prefix)) {
            ASSERT_EQ(prefix + std::to_wstring(expected), line) << "worker " << worker;
            ++expected;
        }
    }
    std::size_t end = FindLine(lines, L"Отладка завершена");
    EXPECT_EQ(L"Процесс " + target + L" уничтожен с кодом 0x" + Hex(kSelfKillCode), lines[end - 1]);
    EXPECT_EQ(kSelfKillCode, timed.run.lastExitCode);
}

TEST(HostileRuns, ParentChildAndGrandchildEndingInEveryOrder) {
    const std::wstring orders[] = {L"pcg", L"pgc", L"cpg", L"cgp", L"gpc", L"gcp"};
    const wchar_t roles[] = L"pcg";
    for (const std::wstring& order : orders) {
        SCOPED_TRACE(Narrow(std::string(order.begin(), order.end())));
        const std::wstring target = HostileCopy(L"family", order);
        for (int role = 0; role < 3; ++role) ForgetCounts(target, std::wstring(L".") + roles[role]);
        TimedRun timed = RunHeadlessWithin(target, kRunTimeoutMs);
        PrintRunFigures(("family ending in the order " + std::string(order.begin(), order.end())).c_str(), timed);
        ExpectCompleteLog(timed, target);
        const auto& lines = timed.run.lines;
        EXPECT_EQ(3u, CountLines(lines, L"Создан процесс ")) << "parent, child and grandchild";
        const std::size_t end = FindLine(lines, L"Отладка завершена");
        // The grandchild is the most recently created process: its exit ends the loop.
        EXPECT_TRUE(lines[end - 1].ends_with(L"уничтожен с кодом 0x42")) << "the grandchild's exit ends the events";
        EXPECT_EQ(0x42u, timed.run.lastExitCode);
        const std::size_t grandchild = order.find(L'g');
        for (std::size_t place = 0; place < 3; ++place) {
            const int role = static_cast<int>(std::wstring(L"pcg").find(order[place]));
            const std::wstring exits = kStringLine + L"hostile family: " + roles[role] + L" exits";
            if (place <= grandchild) {
                EXPECT_LT(FindLine(lines, exits), end) << "exit string of " << char(roles[role]);
                EXPECT_EQ(1u, CountLines(std::vector<std::wstring>(lines.begin(), lines.begin() + end),
                                         L"Процесс " + target + L" уничтожен с кодом 0x" + Hex(0x40 + role)))
                    << "exit line of " << char(roles[role]);
            }
            // Every process finishes its work, also those the loop let go.
            EXPECT_TRUE(AppearsWithin(target + L"." + roles[role] + L".counts", kSurvivorFinishTimeoutMs))
                << char(roles[role]) << " did not finish";
        }
    }
}

TEST(HostileRuns, ModulePathOutsideWindows1251IsWrittenWithQuestionMarks) {
    const std::wstring target = HostileCopy(L"cjk", L"0");
    const std::wstring folder = target.substr(0, target.find_last_of(L'\\') + 1) + L"漢字 模块\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(TargetPath(L"hostile_dll.dll").c_str(), (folder + L"hostile_dll.dll").c_str(), FALSE))
        << "the folder name cannot be created: " << GetLastError();
    ForgetCounts(target);
    TimedRun timed = RunHeadlessWithin(target, kRunTimeoutMs);
    PrintRunFigures("DLL under a folder with Chinese letters, headless", timed);
    ExpectCompleteLog(timed, target);
    ASSERT_EQ(1, ReadCounts(target)["loaded"]);
    const std::wstring shown = target.substr(0, target.find_last_of(L'\\') + 1) + L"?? ??\\hostile_dll.dll";
    const auto& lines = timed.run.lines;
    std::size_t load = FindLine(lines, L"Загрузка " + shown + L" (base: 0x");
    ASSERT_LT(load, lines.size()) << "the load line with a question mark per letter";
    std::size_t unload = FindLine(lines, L"Выгрузка " + shown + L" (base: 0x", load);
    EXPECT_LT(unload, lines.size());
    std::size_t done = FindLine(lines, kStringLine + L"hostile cjk: done", unload);
    EXPECT_LT(done, lines.size()) << "the log goes on after the path";
    EXPECT_LT(FindLine(lines, shown + L" - [", FindLine(lines, L"Загруженные модули:")), lines.size())
        << "the module's row in the last section";
    EXPECT_NE(std::string::npos, timed.run.logBytes.find("\\?? ??\\hostile_dll.dll"));
}
