// A target that cannot be created ends the whole program through the error
// box; the test program plays that program in a child process of its own.
#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>
#include <string>

#include "app/error_reporter.h"
#include "tests/support/test_files.h"
#include "tests/support/watch_runs.h"
#include "watch/launch_trace.h"

namespace {

constexpr wchar_t kMissingTargetSwitch[] = L"--korvane-run-missing-target";
constexpr DWORD kBoxTimeoutMs = 60000;
constexpr DWORD kChildExitTimeoutMs = 30000;
constexpr DWORD kPollMs = 50;

std::wstring MissingTargetPath() {
    return TestProgramFolder() + L"missing.exe";
}

// Started with the switch, this program is a run whose target does not exist:
// the run never returns, the error box ends the process.
const bool kRunsMissingTarget = [] {
    if (!std::wcsstr(GetCommandLineW(), kMissingTargetSwitch)) return false;
    LaunchTrace trace(MissingTargetPath(), nullptr, nullptr);
    trace.RunDebugLoop();
    ExitProcess(0xDEAD);
}();

constexpr wchar_t kGivenCodeSwitch[] = L"--korvane-report-given-code";

// The name of a file that does not exist, found by asking the file system:
// building it leaves ERROR_FILE_NOT_FOUND as the thread's last error.
std::wstring OperationThatTouchesTheFileSystem() {
    std::wstring missing = TestProgramFolder() + L"no such file";
    GetFileAttributesW(missing.c_str());
    return L"Opening " + missing;
}

// Started with that switch, this program fails an operation with
// ERROR_ACCESS_DENIED and reports it.
const bool kReportsGivenCode = [] {
    if (!std::wcsstr(GetCommandLineW(), kGivenCodeSwitch)) return false;
    ReportErrorAndExit(OperationThatTouchesTheFileSystem(), ERROR_ACCESS_DENIED);
}();

struct BoxSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchErrorBox(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<BoxSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t caption[64] = {};
    GetWindowTextW(window, caption, 64);
    if (owner != search->processId || std::wstring(caption) != L"Error") return TRUE;
    search->found = window;
    return FALSE;
}

HWND WaitForErrorBox(DWORD processId) {
    BoxSearch search = {processId, nullptr};
    for (DWORD waited = 0; !search.found && waited < kBoxTimeoutMs; waited += kPollMs) {
        EnumWindows(MatchErrorBox, reinterpret_cast<LPARAM>(&search));
        if (!search.found) Sleep(kPollMs);
    }
    return search.found;
}

std::wstring WindowText(HWND window) {
    wchar_t text[2048] = {};
    SendMessageW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text));
    return text;
}

BOOL CALLBACK KeepLongestStatic(HWND child, LPARAM context) {
    wchar_t className[32] = {};
    GetClassNameW(child, className, 32);
    auto* longest = reinterpret_cast<std::wstring*>(context);
    if (_wcsicmp(className, L"Static") == 0) {
        std::wstring text = WindowText(child);
        if (text.size() > longest->size()) *longest = text;
    }
    return TRUE;
}

std::wstring SystemText(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring result = text ? text : L"";
    LocalFree(text);
    return result;
}

// Ends the child if a failed check leaves it waiting at its box.
struct ChildProcess {
    PROCESS_INFORMATION info = {};
    ~ChildProcess() {
        if (info.hProcess && WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info.hProcess, 1);
        if (info.hThread) CloseHandle(info.hThread);
        if (info.hProcess) CloseHandle(info.hProcess);
    }
};

}  // namespace

// Runs this program with the switch, expects the box with that message, presses
// OK and gives the exit code (0 when something failed on the way).
DWORD ExpectBoxAndExitCode(const wchar_t* childSwitch, const std::wstring& expected) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\" " + childSwitch;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    ChildProcess child;
    if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child.info)) {
        ADD_FAILURE() << "cannot start the child";
        return 0;
    }
    HWND box = WaitForErrorBox(child.info.dwProcessId);
    if (!box) {
        ADD_FAILURE() << "no box captioned Error";
        return 0;
    }
    std::wstring message;
    EnumChildWindows(box, KeepLongestStatic, reinterpret_cast<LPARAM>(&message));
    // The static control may drop the system text's closing line break.
    EXPECT_EQ(message.substr(0, message.find_last_not_of(L"\r\n") + 1),
              expected.substr(0, expected.find_last_not_of(L"\r\n") + 1));
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    if (WaitForSingleObject(child.info.hProcess, kChildExitTimeoutMs) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the child did not end after OK";
        return 0;
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(child.info.hProcess, &exitCode);
    return exitCode;
}

TEST(LaunchFailure, MissingTargetShowsErrorBoxAndEndsWithItsCode) {
    ASSERT_FALSE(kRunsMissingTarget);
    DeleteFileW(WatchLogPath().c_str());
    EXPECT_EQ(2u, ExpectBoxAndExitCode(kMissingTargetSwitch, L"Unable to create process failed with error 0x2: " +
                                                                  SystemText(ERROR_FILE_NOT_FOUND)));

    std::vector<std::wstring> lines = ReadLogLines(WatchLogPath());
    ASSERT_FALSE(lines.empty()) << "the lines written before the box are kept";
    EXPECT_EQ(lines[0], L"Korvane v1.0.2 by Ardelan");
    EXPECT_EQ(FindLine(lines, L"Наблюдение за загрузкой процесса"), lines.size());
}

TEST(ErrorReporter, BoxAndExitCodeCarryTheCodeOfTheFailedCallNotTheLastErrorAfterIt) {
    ASSERT_FALSE(kReportsGivenCode);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED),
              ExpectBoxAndExitCode(kGivenCodeSwitch, OperationThatTouchesTheFileSystem() + L" failed with error 0x5: " +
                                                         SystemText(ERROR_ACCESS_DENIED)));
}
