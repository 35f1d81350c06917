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

}  // namespace

TEST(LogViewer, RunEndsWithItsLogClosedAndOpenInNotepad) {
    LaunchTrace trace(TargetPath(L"quick_exit.exe"), nullptr, nullptr);
    trace.RunDebugLoop();
    trace.CloseAndShowLog();
    trace.WriteLogLine(L"written after the close");

    // Only a Notepad started by this test program: a zar.exe run by another folder's tests opens its own.
    HWND notepad = WaitForLogNotepadStartedBy(GetCurrentProcessId(), kNotepadTimeoutMs);
    ASSERT_NE(notepad, nullptr) << "no Notepad window on zar.log";
    const std::wstring text = NotepadText(notepad);
    PostMessageW(notepad, WM_CLOSE, 0, 0);
    EXPECT_NE(text.find(L"Отладка завершена"), std::wstring::npos) << "Notepad shows another file";
    std::vector<std::wstring> lines = ReadLogLines(WatchLogPath());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(FindLine(lines, L"written after"), lines.size()) << "nothing reaches a closed log";
}
