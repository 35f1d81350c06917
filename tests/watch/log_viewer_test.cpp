// The end of a run: the log closed and opened in Notepad.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tests/support/test_files.h"
#include "tests/support/window_driver.h"
#include "tests/support/watch_runs.h"
#include "watch/launch_trace.h"

namespace {

constexpr DWORD kNotepadTimeoutMs = 30000;
constexpr DWORD kPollMs = 50;

// Only a Notepad started by this test program: zar.exe run by tests of another
// folder opens its own Notepad on a zar.log at the same time.
struct NotepadSearch {
    std::set<DWORD> ownChildren;
    HWND found;
};

BOOL CALLBACK MatchLogNotepad(HWND window, LPARAM context) {
    wchar_t className[32] = {};
    wchar_t title[260] = {};
    GetClassNameW(window, className, 32);
    GetWindowTextW(window, title, 260);
    if (std::wstring(className) != L"Notepad" || !std::wstring(title).starts_with(L"zar.log")) return TRUE;
    auto* search = reinterpret_cast<NotepadSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (!search->ownChildren.count(owner)) return TRUE;
    search->found = window;
    return FALSE;
}

HWND WaitForLogNotepad() {
    NotepadSearch search = {{}, nullptr};
    for (DWORD waited = 0; !search.found && waited < kNotepadTimeoutMs; waited += kPollMs) {
        search.ownChildren = ChildProcesses(GetCurrentProcessId());
        EnumWindows(MatchLogNotepad, reinterpret_cast<LPARAM>(&search));
        if (!search.found) Sleep(kPollMs);
    }
    return search.found;
}

}  // namespace

TEST(LogViewer, RunEndsWithItsLogClosedAndOpenInNotepad) {
    LaunchTrace trace(TargetPath(L"quick_exit.exe"), nullptr, nullptr);
    trace.RunDebugLoop();
    trace.CloseAndShowLog();
    trace.WriteLogLine(L"written after the close");

    HWND notepad = WaitForLogNotepad();
    ASSERT_NE(notepad, nullptr) << "no Notepad window on zar.log";
    HWND edit = FindWindowExW(notepad, nullptr, L"Edit", nullptr);
    wchar_t text[8192] = {};
    if (edit) SendMessageW(edit, WM_GETTEXT, 8192, reinterpret_cast<LPARAM>(text));
    PostMessageW(notepad, WM_CLOSE, 0, 0);
    EXPECT_NE(std::wstring(text).find(L"Отладка завершена"), std::wstring::npos) << "Notepad shows another file";
    std::vector<std::wstring> lines = ReadLogLines(WatchLogPath());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(FindLine(lines, L"written after"), lines.size()) << "nothing reaches a closed log";
}
