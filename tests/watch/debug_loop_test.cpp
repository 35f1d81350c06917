// Real debuggees under the real debug loop, headless: the log a run leaves.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <regex>
#include <string>
#include <thread>

#include "tests/support/test_files.h"
#include "tests/support/watch_runs.h"

namespace {

constexpr DWORD kParentFinishTimeoutMs = 30000;
constexpr DWORD kPollMs = 50;
const std::wstring kTitle = L"Korvane v1.0.2 by Ardelan";
const std::wstring kDebugString = L"Получена отладочная информация: ";

std::wstring TargetFullPath(const std::wstring& fileName) {
    return FullPath(TargetPath(fileName));
}

bool EndsWith(std::wstring_view text, std::wstring_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// The hexadecimal base of a load or unload line, empty when the line has another shape.
std::wstring BaseOf(const std::wstring& line) {
    static const std::wregex shape(
        L"^(?:Загрузка|Выгрузка) .* \\(base: 0x([0-9A-F]+), process: 0x[0-9A-F]+, thread: 0x[0-9A-F]+\\)$");
    std::wsmatch match;
    return std::regex_match(line, match, shape) ? match[1].str() : std::wstring();
}

// The index of the line that ends the events (the watched process's exit): the one before "Отладка завершена".
std::size_t EndOfEvents(const WatchRun& run) {
    std::size_t end = FindLine(run.lines, L"Отладка завершена");
    return end == 0 ? run.lines.size() : end - 1;
}

}  // namespace

TEST(DebugLoop, EveryKindOfEventIsLoggedInArrivalOrder) {
    const std::wstring target = TargetFullPath(L"trace_events.exe");
    const std::wstring helper = TargetFullPath(L"plain_helper.dll");
    WatchRun run = RunHeadless(target);
    const auto& lines = run.lines;
    ASSERT_GE(lines.size(), 10u);

    EXPECT_EQ(lines[0], kTitle);
    EXPECT_TRUE(lines[1].starts_with(L"Операционная система: ")) << "the OS line follows the title";
    EXPECT_EQ(lines[2], L"");
    EXPECT_EQ(lines[3], L"Наблюдение за загрузкой процесса " + target);
    EXPECT_TRUE(lines[4].starts_with(L"Создан процесс " + target + L" (id: 0x") && lines[4].ends_with(L")"))
        << "the first event line is the creation of the target";

    std::size_t at = FindLine(lines, L"Загрузка ", 5);
    EXPECT_EQ(at, 5u) << "a DLL load follows the creation";
    for (const std::wstring& line : LinesStartingWith(lines, L"Загрузка ")) EXPECT_FALSE(BaseOf(line).empty());

    at = FindLine(lines, L"Процесс сгенерировал исключение (0x80000003). Установлена точка останова (breakpoint). Функция: ");
    ASSERT_LT(at, lines.size()) << "the loader breakpoint names its function";
    EXPECT_NE(lines[at].find(L"+0x"), std::wstring::npos);

    at = FindLine(lines, kDebugString + L"trace_events: start", at);
    ASSERT_LT(at + 1, lines.size());
    EXPECT_EQ(lines[at], kDebugString + L"trace_events: start");
    EXPECT_EQ(lines[at + 1], L"") << "the string's own line feed stays in its text";

    std::size_t load = FindLine(lines, L"Загрузка " + helper + L" (base: 0x", at);
    ASSERT_LT(load, lines.size());
    std::size_t unload = FindLine(lines, L"Выгрузка " + helper + L" (base: 0x" + BaseOf(lines[load]) + L",", load);
    ASSERT_LT(unload, lines.size()) << "the unload names the DLL recorded at that address";

    static const std::wregex threadCreated(L"^Создан поток 0x([0-9A-F]+)$");
    std::wsmatch match;
    std::size_t created = FindLine(lines, L"Создан поток 0x", unload);
    ASSERT_LT(created, lines.size());
    ASSERT_TRUE(std::regex_match(lines[created], match, threadCreated));
    const std::wstring thread = match[1].str();
    std::size_t worker = FindLine(lines, kDebugString + L"trace_events: worker", created);
    std::size_t threadExit = FindLine(lines, L"Поток 0x" + thread + L" уничтожен с кодом 0x2A", worker);
    ASSERT_LT(threadExit, lines.size());

    std::size_t ansi = FindLine(lines, kDebugString, threadExit);
    ASSERT_LT(ansi + 3, lines.size());
    EXPECT_EQ(lines[ansi], kDebugString + L"Привет ANSI Ёё");
    EXPECT_EQ(lines[ansi + 1], kDebugString + L"Привет wide Ёё");
    std::wstring longText;
    for (int i = 0; i < 40; ++i) longText += L"0123456789";
    EXPECT_EQ(lines[ansi + 2], kDebugString + longText) << "a string longer than 300 characters is shown whole";

    std::size_t raised = FindLine(lines, L"Процесс сгенерировал исключение (0xE0000001). Нет описания", ansi);
    ASSERT_LT(raised, lines.size());
    std::size_t handled = FindLine(lines, kDebugString + L"trace_events: handled by itself", raised);
    EXPECT_LT(handled, lines.size()) << "continued as not handled, the target's own handler took the exception";

    std::size_t exit = FindLine(lines, L"Процесс " + target + L" уничтожен с кодом 0x7", handled);
    ASSERT_LT(exit + 1, lines.size());
    EXPECT_EQ(lines[exit + 1], L"Отладка завершена");
    EXPECT_EQ(run.lastExitCode, 7u);

    ASSERT_GE(run.modulePaths.size(), 3u);
    EXPECT_EQ(run.modulePaths[0], target);
    EXPECT_EQ(run.modulePaths[1], target);
    EXPECT_EQ(std::count(run.modulePaths.begin(), run.modulePaths.end(), helper), 1);
}

TEST(DebugLoop, LogIsWindows1251WithCrLfAndNoByteOrderMark) {
    WatchRun run = RunHeadless(TargetFullPath(L"trace_events.exe"));
    const std::string& bytes = run.logBytes;
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.rfind("Korvane v1.0.2 by Ardelan\r\n", 0), 0u) << "no byte-order mark before the title";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare line feed at byte " << i;
        }
        if (bytes[i] == '\r') {
            ASSERT_TRUE(i + 1 < bytes.size() && bytes[i + 1] == '\n') << "bare CR at byte " << i;
        }
    }
    EXPECT_NE(bytes.find("\xce\xf2\xeb\xe0\xe4\xea\xe0 \xe7\xe0\xe2\xe5\xf0\xf8\xe5\xed\xe0\r\n"), std::string::npos);
    EXPECT_NE(bytes.find(": \xcf\xf0\xe8\xe2\xe5\xf2 ANSI \xa8\xb8\r\n"), std::string::npos);
    EXPECT_NE(bytes.find(": \xcf\xf0\xe8\xe2\xe5\xf2 wide \xa8\xb8\r\n"), std::string::npos);
}

TEST(DebugLoop, StartFailingInDllInitialisationEndsWith0xC0000142) {
    WatchRun run = RunHeadless(TargetFullPath(L"imports_init_fails.exe"));
    std::size_t end = EndOfEvents(run);
    ASSERT_LT(end, run.lines.size());
    EXPECT_TRUE(run.lines[end].starts_with(L"Процесс ")) << "the last event is an exit";
    EXPECT_TRUE(EndsWith(run.lines[end], L"imports_init_fails.exe уничтожен с кодом 0xC0000142"));
    EXPECT_EQ(run.lastExitCode, 0xC0000142u);
    EXPECT_LT(FindLine(run.lines, kDebugString + L"init_fails: refusing to initialise"), run.lines.size());
}

TEST(DebugLoop, ExceptionsInTheImageAndInADllAreNamedByTheirFunctions) {
    WatchRun run = RunHeadless(TargetFullPath(L"crash_in_dll.exe"));
    const std::wstring ownBreakpoint = L"Процесс сгенерировал исключение (0x80000003). Установлена точка останова "
                                       L"(breakpoint). Функция: BreakInOwnImage+0x";
    EXPECT_EQ(LinesStartingWith(run.lines, ownBreakpoint).size(), 1u) << "the image's own function is named";
    const std::wregex crashLine(
        L"^Процесс сгенерировал исключение \\(0xC0000005\\)\\. У процесса недостаточно прав для получения доступа к "
        L"виртуальному адресу\\. Функция: CrashHelperWrite\\+0x([0-9a-f]+)$");
    auto crashes = LinesStartingWith(run.lines, L"Процесс сгенерировал исключение (0xC0000005)");
    ASSERT_EQ(crashes.size(), 2u) << "first and second chance";
    for (const std::wstring& line : crashes) {
        std::wsmatch match;
        ASSERT_TRUE(std::regex_match(line, match, crashLine)) << "crash line without its function";
        EXPECT_NE(match[1].str(), L"0") << "the fault lies inside the function, not at its first byte";
    }
    std::size_t end = EndOfEvents(run);
    ASSERT_LT(end, run.lines.size());
    EXPECT_TRUE(EndsWith(run.lines[end], L"crash_in_dll.exe уничтожен с кодом 0xC0000005"));
    EXPECT_EQ(run.lastExitCode, 0xC0000005u);
}

TEST(DebugLoop, SameAddressInADllLoadedWhereAnotherWasIsNamedAfterTheNewOne) {
    WatchRun run = RunHeadless(TargetFullPath(L"same_base.exe"));
    ASSERT_EQ(run.lastExitCode, 0u) << "both DLLs stopped at one address";
    const std::wstring breakpoint = L"Процесс сгенерировал исключение (0x80000003). Установлена точка останова "
                                    L"(breakpoint). Функция: ";
    std::size_t first = FindLine(run.lines, breakpoint + L"SameBaseFIRST+0x");
    std::size_t second = FindLine(run.lines, breakpoint + L"SameBaseSECOND+0x", first);
    EXPECT_LT(first, run.lines.size());
    EXPECT_LT(second, run.lines.size()) << "the second DLL's function, not the first one's again";
}

TEST(DebugLoop, ChildOutlivingItsParentIsFollowedToItsExit) {
    WatchRun run = RunHeadless(TargetFullPath(L"leaves_child.exe"));
    EXPECT_EQ(LinesStartingWith(run.lines, L"Создан процесс ").size(), 2u);
    std::size_t parentExit = FindLine(run.lines, L"Процесс " + TargetFullPath(L"leaves_child.exe") + L" уничтожен с кодом 0x3");
    ASSERT_LT(parentExit, run.lines.size());
    std::size_t end = EndOfEvents(run);
    ASSERT_LT(end, run.lines.size());
    EXPECT_GT(end, parentExit);
    EXPECT_EQ(run.lines[end], L"Процесс " + TargetFullPath(L"sleeps_then_exits.exe") + L" уничтожен с кодом 0x9");
    EXPECT_EQ(run.lastExitCode, 9u);
    // Each process's loader breakpoint lies in the one ntdll: the child's is
    // named as the parent's was, whoever looked the name up.
    auto breakpoints = LinesStartingWith(run.lines, L"Процесс сгенерировал исключение (0x80000003)");
    ASSERT_EQ(breakpoints.size(), 2u);
    EXPECT_NE(breakpoints[0].find(L". Функция: "), std::wstring::npos) << testing::PrintToString(breakpoints[0]);
    EXPECT_EQ(breakpoints[1], breakpoints[0]);
}

TEST(DebugLoop, ParentOfChildThatExitsFirstRunsOnAfterTheLoop) {
    const std::wstring marker = TargetFullPath(L"waits_then_marks.marker");
    DeleteFileW(marker.c_str());
    WatchRun run = RunHeadless(TargetFullPath(L"waits_then_marks.exe"));
    std::size_t end = EndOfEvents(run);
    ASSERT_LT(end, run.lines.size());
    EXPECT_EQ(run.lines[end], L"Процесс " + TargetFullPath(L"quick_exit.exe") + L" уничтожен с кодом 0x5")
        << "the loop ends at the exit of the most recently created process";
    EXPECT_EQ(FindLine(run.lines, L"Процесс " + TargetFullPath(L"waits_then_marks.exe")), run.lines.size());
    EXPECT_EQ(run.lastExitCode, 5u);
    // The loop's thread has ended: a parent still tied to it would have been killed with it.
    DWORD waited = 0;
    while (GetFileAttributesW(marker.c_str()) == INVALID_FILE_ATTRIBUTES && waited < kParentFinishTimeoutMs) {
        Sleep(kPollMs);
        waited += kPollMs;
    }
    EXPECT_NE(GetFileAttributesW(marker.c_str()), INVALID_FILE_ATTRIBUTES) << "the parent did not finish its work";
}

TEST(DebugLoop, TargetInFolderWithBlankIsLaunchedAndNothingElse) {
    const std::wstring base = MakeTempFolder(L"blank launch");
    const std::wstring folder = base + L"folder with blank\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring target = folder + L"quick_exit.exe";
    // What an unquoted command line without an application name would start first.
    ASSERT_TRUE(CopyFileW(TargetFullPath(L"spawn_child.exe").c_str(), (base + L"folder.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(TargetFullPath(L"quick_exit.exe").c_str(), target.c_str(), FALSE));
    WatchRun run = RunHeadless(target);
    auto created = LinesStartingWith(run.lines, L"Создан процесс ");
    ASSERT_EQ(created.size(), 1u);
    EXPECT_NE(created[0].find(L"\\folder with blank\\quick_exit.exe (id: 0x"), std::wstring::npos);
    EXPECT_EQ(run.lastExitCode, 5u);
}

TEST(DebugLoop, RunLeavesNoImageOrDllFileOpen) {
    const std::wstring folder = MakeTempFolder(L"files closed");
    const std::wstring target = folder + L"trace_events.exe";
    const std::wstring helper = folder + L"plain_helper.dll";
    ASSERT_TRUE(CopyFileW(TargetFullPath(L"trace_events.exe").c_str(), target.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(TargetFullPath(L"plain_helper.dll").c_str(), helper.c_str(), FALSE));
    WatchRun run = RunHeadless(target);
    ASSERT_EQ(std::count(run.modulePaths.begin(), run.modulePaths.end(), helper), 1) << "the DLL was not loaded";
    EXPECT_TRUE(DeleteFileW(target.c_str())) << "the image file is still open: " << GetLastError();
    EXPECT_TRUE(DeleteFileW(helper.c_str())) << "the DLL file is still open: " << GetLastError();
}

TEST(DebugLoop, UnloadOfUnknownAddressLeavesTwoBlanks) {
    const std::wstring helper = TargetFullPath(L"plain_helper.dll");
    WatchRun run = RunHeadless(TargetFullPath(L"reload_elsewhere.exe"));
    ASSERT_EQ(run.lastExitCode, 0u) << "the DLL came back at its first address";
    auto loads = LinesStartingWith(run.lines, L"Загрузка " + helper + L" (");
    ASSERT_EQ(loads.size(), 2u);
    std::wstring firstBase = BaseOf(loads[0]);
    std::wstring secondBase = BaseOf(loads[1]);
    ASSERT_NE(firstBase, secondBase);
    std::size_t first = FindLine(run.lines, L"Выгрузка " + helper + L" (base: 0x" + firstBase + L",");
    std::size_t second = FindLine(run.lines, L"Выгрузка  (base: 0x" + secondBase + L",", first);
    EXPECT_LT(first, run.lines.size());
    EXPECT_LT(second, run.lines.size()) << "the unload at the new address has an empty path";
    EXPECT_EQ(std::count(run.modulePaths.begin(), run.modulePaths.end(), helper), 1);
}

TEST(DebugLoop, DllWhoseSymbolsCouldNotBeReadOnceIsNamedAtTheNextLookup) {
    WatchRun run = RunHeadless(TargetFullPath(L"symbols_retry.exe"));
    // The handler was asked while the file was away, and again once it was back.
    std::size_t away = FindLine(run.lines, kDebugString + L"symbols_retry: away");
    std::size_t probe = FindLine(run.lines, L"Процесс сгенерировал исключение (0xE0000001)", away);
    std::size_t back = FindLine(run.lines, kDebugString + L"symbols_retry: back", probe);
    ASSERT_LT(back, run.lines.size());
    auto crashes = LinesStartingWith(run.lines, L"Процесс сгенерировал исключение (0xC0000005)");
    ASSERT_EQ(crashes.size(), 2u) << "first and second chance";
    for (const std::wstring& line : crashes)
        EXPECT_NE(line.find(L". Функция: CrashHelperWrite+0x"), std::wstring::npos) << testing::PrintToString(line);
}

// The error mode that error_mode_probe.exe wrote, or -1.
long long ProbedErrorMode() {
    std::string text = ReadFileBytes(TargetFullPath(L"error_mode_probe.exe") + L".mode");
    return text.empty() ? -1 : std::stoll(text);
}

TEST(DebugLoop, TargetStartsWithTheErrorModeItWouldHaveWithoutKorvane) {
    // A mode of the starter's own that a start which sets another would hide.
    struct OwnErrorMode {
        UINT previous = SetErrorMode(SEM_NOOPENFILEERRORBOX);
        ~OwnErrorMode() { SetErrorMode(previous); }
    } ownErrorMode;
    const std::wstring probe = TargetFullPath(L"error_mode_probe.exe");
    const std::wstring modeFile = probe + L".mode";
    DeleteFileW(modeFile.c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION plain = {};
    std::wstring commandLine = probe;
    ASSERT_TRUE(CreateProcessW(probe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &plain));
    WaitForSingleObject(plain.hProcess, kParentFinishTimeoutMs);
    CloseHandle(plain.hThread);
    CloseHandle(plain.hProcess);
    const long long alone = ProbedErrorMode();
    ASSERT_GE(alone, 0) << "the plain start wrote no mode";
    DeleteFileW(modeFile.c_str());
    // Korvane's own mode is the same after the run. (A watch of the whole process during the run
    // cannot tell the launch from system DLLs: under Wine some switch the process to
    // SEM_FAILCRITICALERRORS for a moment inside their own calls.)
    const UINT ownMode = GetErrorMode();
    WatchRun run = RunHeadless(probe);
    EXPECT_EQ(run.lastExitCode, 0u);
    EXPECT_EQ(alone, ProbedErrorMode()) << "started under the debugger with another error mode";
    EXPECT_EQ(GetErrorMode(), ownMode) << "the run left the error mode of the program that ran it changed";
}
