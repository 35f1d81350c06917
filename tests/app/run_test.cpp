// Runs started from zar.exe's window the way a user starts them ("Файл", the
// dialog "Выбор файла"), and what the two views, Notepad and the menu show.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/handles.h"
#include "tests/support/hostile_runs.h"
#include "tests/support/report_listener.h"
#include "tests/support/test_files.h"
#include "tests/support/window_driver.h"

namespace {

constexpr DWORD kRefusedDialogWaitMs = 3000;
constexpr DWORD kHeldRunStartTimeoutMs = 30000;
constexpr DWORD kErrorBoxTimeoutMs = 30000;
constexpr DWORD kPollMs = 50;
constexpr DWORD kUploadArrivalTimeoutMs = 20000;
constexpr DWORD kNoUploadWaitMs = 2000;
constexpr DWORD kMenuRedrawTimeoutMs = 5000;
constexpr DWORD kRepaintAfterNotepadMs = 1500;
constexpr DWORD kForeignAnswerTimeoutMs = 2000;
constexpr DWORD kStormUnderwayTimeoutMs = 60000;
constexpr DWORD kDetachedFinishTimeoutMs = 120000;

// window_target.exe waits while this event exists and is not signalled.
constexpr wchar_t kHoldEventName[] = L"KorvaneWindowTestHold";

std::wstring Lower(std::wstring text) {
    CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

const TreeItem* FindChild(const TreeItem& parent, const std::wstring& text) {
    for (const TreeItem& child : parent.children) {
        if (child.text == text) return &child;
    }
    return nullptr;
}

int IndexOfChild(const TreeItem& parent, const std::wstring& text) {
    for (std::size_t i = 0; i < parent.children.size(); ++i) {
        if (parent.children[i].text == text) return static_cast<int>(i);
    }
    return -1;
}

bool TreeMentions(const std::vector<TreeItem>& items, const std::wstring& part) {
    for (const TreeItem& item : items) {
        if (item.text.find(part) != std::wstring::npos || TreeMentions(item.children, part)) return true;
    }
    return false;
}

// Waits until a line containing the text shows in the tree view.
bool WaitForTreeLine(const ZarWindow& zar, const std::wstring& part, DWORD timeoutMs) {
    for (DWORD waited = 0;; waited += kPollMs) {
        if (TreeMentions(zar.Tree(), part)) return true;
        if (waited >= timeoutMs) return false;
        Sleep(kPollMs);
    }
}

// Waits until the "Файл" item is drawn enabled (black text) or greyed (none).
bool WaitForFileItemDrawn(const ZarWindow& zar, bool enabled) {
    for (DWORD waited = 0;; waited += kPollMs) {
        if ((zar.BlackPixelsOnFileMenuItem() > 0) == enabled) return true;
        if (waited >= kMenuRedrawTimeoutMs) return false;
        Sleep(kPollMs);
    }
}

// A run to its end: chosen, watched, and shown in Notepad (which is then closed).
void RunToTheEnd(const ZarWindow& zar, const std::wstring& target) {
    ASSERT_TRUE(zar.ChooseFile(target));
    ASSERT_NE(nullptr, zar.WaitForLogInNotepad()) << "no Notepad on zar.log after the run";
    zar.CloseOwnNotepads();
}

TEST(WindowRun, ModuleListShowsTheTargetFirstThenEachDllNameOnceAndTheReportIsPosted) {
    LoopbackListener listener(KORVANE_TEST_REPORT_PORT);
    ASSERT_TRUE(listener.Listening());
    ZarWindow zar;
    ASSERT_TRUE(zar.Started());
    std::wstring target = FullPath(TargetPath(L"window_target.exe"));
    ASSERT_TRUE(zar.ChooseFile(target));
    ASSERT_NE(nullptr, zar.WaitForLogInNotepad()) << "no Notepad on zar.log after the run";
    // The run ends with its report posted.
    std::optional<ReceivedRequest> report = listener.WaitForRequest(kUploadArrivalTimeoutMs);
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(0u, report->body.rfind("process=window_target.exe;", 0)) << report->body.substr(0, 80);
    zar.CloseOwnNotepads();
    // A person can look at the window after the run, once it has repainted
    // where Notepad stood (asked for outright: a loaded machine may be slow to).
    Sleep(kRepaintAfterNotepadMs);
    RedrawWindow(zar.MainWindow(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(zar.MainWindow(), WM_NULL, 0, 0, SMTO_NORMAL, kRepaintAfterNotepadMs, &answer);
    Sleep(kRepaintAfterNotepadMs);
    EXPECT_TRUE(SaveScreenshot(L"korvane-after-run.png"));

    std::vector<std::vector<std::wstring>> rows = zar.Rows();
    ASSERT_GE(rows.size(), 2u);
    std::wstring targetFolder = target.substr(0, target.find_last_of(L'\\'));
    EXPECT_EQ((std::vector<std::wstring>{L"window_target.exe", targetFolder, L"4.3.2.1-окно", L"Цель оконных тестов",
                                         L"Испытатели Korvane"}),
              rows[0]);
    std::set<std::wstring> names;
    int helperRows = 0;
    for (const auto& row : rows) {
        ASSERT_EQ(5u, row.size());
        EXPECT_TRUE(names.insert(Lower(row[0])).second) << "a second row for " << testing::PrintToString(row[0]);
        if (Lower(row[0]) == L"plain_helper.dll") {
            ++helperRows;
            // The first of the two copies keeps the row: the one beside the target, in its own spelling.
            EXPECT_EQ(L"plain_helper.dll", row[0]);
            EXPECT_EQ(targetFolder, row[1]);
        }
    }
    EXPECT_EQ(1, helperRows);
    EXPECT_TRUE(names.count(L"ntdll.dll"));
    EXPECT_TRUE(names.count(L"kernel32.dll"));
}

TEST(WindowRun, EventTreeGroupsLinesUnderOneItemPerThread) {
    ZarWindow zar;
    ASSERT_TRUE(zar.Started());
    std::wstring target = FullPath(TargetPath(L"window_target.exe"));
    ASSERT_TRUE(zar.ChooseFile(target));
    HWND notepad = zar.WaitForLogInNotepad();
    ASSERT_NE(nullptr, notepad) << "no Notepad on zar.log after the run";
    // Notepad shows the log that the run wrote beside zar.exe.
    std::wstring logPath = ZarUnderTestPath().substr(0, ZarUnderTestPath().find_last_of(L'\\') + 1) + L"zar.log";
    std::vector<std::wstring> logLines = ReadLogLines(logPath);
    ASSERT_FALSE(logLines.empty());
    std::wstring shown = NotepadText(notepad);
    EXPECT_EQ(logLines[0], shown.substr(0, shown.find(L"\r\n")));
    zar.CloseOwnNotepads();

    std::vector<TreeItem> threads = zar.Tree();
    ASSERT_GE(threads.size(), 2u);
    EXPECT_TRUE(StartsWith(threads[0].text, L"Создан процесс ")) << testing::PrintToString(threads[0].text);
    std::set<LPARAM> threadIds;
    for (const TreeItem& thread : threads) {
        EXPECT_TRUE(threadIds.insert(thread.param).second) << "two items for thread " << thread.param;
        for (const TreeItem& line : thread.children) {
            EXPECT_EQ(thread.param, line.param) << testing::PrintToString(line.text);
            EXPECT_TRUE(line.children.empty());
        }
    }
    // The main thread's lines hang under the process creation line, in the order they came.
    const TreeItem& main = threads[0];
    int first = IndexOfChild(main, L"Получена отладочная информация: window_target: first");
    int last = IndexOfChild(main, L"Получена отладочная информация: window_target: last");
    ASSERT_GE(first, 0);
    ASSERT_GE(last, 0);
    EXPECT_LT(first, last);
    // The second thread's item starts with its creation line, its lines beneath.
    bool workerFound = false;
    for (std::size_t i = 1; i < threads.size(); ++i) {
        if (!FindChild(threads[i], L"Получена отладочная информация: window_target: worker")) continue;
        workerFound = true;
        EXPECT_TRUE(StartsWith(threads[i].text, L"Создан поток 0x")) << testing::PrintToString(threads[i].text);
        EXPECT_TRUE(StartsWith(threads[i].children.back().text, L"Поток 0x"));
    }
    EXPECT_TRUE(workerFound);
}

TEST(WindowRun, SecondRunEmptiesBothViewsBeforeShowingItself) {
    ZarWindow zar;
    ASSERT_TRUE(zar.Started());
    RunToTheEnd(zar, FullPath(TargetPath(L"window_target.exe")));
    ASSERT_TRUE(TreeMentions(zar.Tree(), L"window_target"));

    std::wstring second = FullPath(TargetPath(L"trace_basic.exe"));
    RunToTheEnd(zar, second);
    std::vector<std::vector<std::wstring>> rows = zar.Rows();
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(L"trace_basic.exe", rows[0][0]);
    for (const auto& row : rows) EXPECT_NE(L"window_target.exe", row[0]);
    std::vector<TreeItem> threads = zar.Tree();
    ASSERT_FALSE(threads.empty());
    EXPECT_TRUE(StartsWith(threads[0].text, L"Создан процесс ")) << testing::PrintToString(threads[0].text);
    EXPECT_FALSE(TreeMentions(threads, L"window_target"));
}

TEST(WindowRun, FileCommandStartsNothingWhileARunIsActive) {
    UniqueHandle hold(CreateEventW(nullptr, TRUE, FALSE, kHoldEventName));
    ASSERT_TRUE(hold);
    ZarWindow zar;
    ASSERT_TRUE(zar.Started());
    EXPECT_TRUE(WaitForFileItemDrawn(zar, true)) << "Файл is not drawn enabled before the run";
    ASSERT_TRUE(zar.ChooseFile(FullPath(TargetPath(L"window_target.exe"))));
    ASSERT_TRUE(WaitForTreeLine(zar, L"window_target: worker", kHeldRunStartTimeoutMs));
    std::vector<std::vector<std::wstring>> rowsDuringRun = zar.Rows();
    EXPECT_TRUE(WaitForFileItemDrawn(zar, false)) << "Файл is not greyed during the run";

    zar.PostCommand(32771);
    EXPECT_EQ(nullptr, zar.WaitForOwnWindow(L"#32770", L"Выбор файла", kRefusedDialogWaitMs));
    EXPECT_EQ(rowsDuringRun, zar.Rows());

    SetEvent(hold.get());
    ASSERT_NE(nullptr, zar.WaitForLogInNotepad());
    zar.CloseOwnNotepads();
    EXPECT_TRUE(WaitForFileItemDrawn(zar, true)) << "Файл is not enabled again after the run";
    // Once the run has ended the command is offered again.
    HWND dialog = zar.OpenFileDialog();
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(zar.CancelDialog(dialog));
}

std::wstring ZarLogPath() {
    return ZarUnderTestPath().substr(0, ZarUnderTestPath().find_last_of(L'\\') + 1) + L"zar.log";
}

// What any program on the desktop can send to zar.exe's windows: every
// private message number with values that are no address of Korvane's, and
// the window property under which the views once kept their procedure.
void SendForeignMessages(const ZarWindow& zar) {
    const LPARAM values[] = {0x1, static_cast<LPARAM>(0x4141414141414141), -1};
    for (HWND view : {zar.ListView(), zar.TreeView()})
        SetPropW(view, L"Korvane.ControlProc", reinterpret_cast<HANDLE>(values[1]));
    for (HWND window : {zar.MainWindow(), zar.ListView(), zar.TreeView()}) {
        for (UINT message = WM_APP; message < WM_APP + 0x100; ++message) {
            for (LPARAM value : values) {
                DWORD_PTR answer = 0;
                SendMessageTimeoutW(window, message, static_cast<WPARAM>(value), value, SMTO_NORMAL,
                                    kForeignAnswerTimeoutMs, &answer);
                PostMessageW(window, message, static_cast<WPARAM>(value), value);
            }
        }
    }
}

TEST(WindowRun, MessagesFromOtherProgramsNeitherCrashNorSteerARun) {
    UniqueHandle hold(CreateEventW(nullptr, TRUE, FALSE, kHoldEventName));
    ASSERT_TRUE(hold);
    ZarWindow zar;
    ASSERT_TRUE(zar.Started());
    ASSERT_TRUE(zar.ChooseFile(FullPath(TargetPath(L"window_target.exe"))));
    ASSERT_TRUE(WaitForTreeLine(zar, L"window_target: worker", kHeldRunStartTimeoutMs));

    SendForeignMessages(zar);
    ASSERT_EQ(WAIT_TIMEOUT, WaitForSingleObject(zar.Process(), 0)) << "zar.exe ended";
    EXPECT_TRUE(WaitForFileItemDrawn(zar, false)) << "Файл was offered again during the run";
    zar.PostCommand(32771);
    EXPECT_EQ(nullptr, zar.WaitForOwnWindow(L"#32770", L"Выбор файла", kRefusedDialogWaitMs)) << "a second run";

    SetEvent(hold.get());
    ASSERT_NE(nullptr, zar.WaitForLogInNotepad());
    zar.CloseOwnNotepads();
    std::vector<std::wstring> lines = ReadLogLines(ZarLogPath());
    std::size_t last = FindLine(lines, L"Получена отладочная информация: window_target: last");
    std::size_t end = FindLine(lines, L"Отладка завершена", last);
    EXPECT_LT(FindLine(lines, L"Загруженные модули:", end), lines.size()) << "the log is not complete";
    EXPECT_TRUE(TreeMentions(zar.Tree(), L"window_target: last")) << "the views stopped following the run";
}

TEST(WindowRun, ExitDuringAStormEndsCleanlyAndTheWatchedProgramRunsOnToItsEnd) {
    constexpr int kStrings = 300000;
    constexpr int kRepeats = 3;
    const std::wstring target = HostileCopy(L"strings", std::to_wstring(kStrings));
    for (int repeat = 0; repeat < kRepeats; ++repeat) {
        SCOPED_TRACE(testing::Message() << "repeat " << repeat);
        ForgetCounts(target);
        DeleteFileW(ZarLogPath().c_str());
        ZarWindow zar;
        ASSERT_TRUE(zar.Started());
        ASSERT_TRUE(zar.ChooseFile(target));
        bool underway = false;
        for (DWORD waited = 0; !underway && waited < kStormUnderwayTimeoutMs; waited += kPollMs) {
            Sleep(kPollMs);
            std::vector<std::wstring> lines = ReadLogLines(ZarLogPath());
            underway = FindLine(lines, L"Получена отладочная информация: hostile string 500") < lines.size();
        }
        ASSERT_TRUE(underway) << "the storm did not start";
        zar.PostCommand(105);
        DWORD exitCode = 1;
        ASSERT_TRUE(zar.WaitForExit(kProcessExitTimeoutMs, exitCode));
        EXPECT_EQ(0u, exitCode) << "zar.exe did not end cleanly";
        // Let go, not frozen and not killed: it sends the rest of its strings and ends by itself.
        bool finished = false;
        for (DWORD waited = 0; !finished && waited < kDetachedFinishTimeoutMs; waited += kPollMs) {
            finished = ReadCounts(target).count("strings") > 0;
            if (!finished) Sleep(kPollMs);
        }
        ASSERT_TRUE(finished) << "the watched program did not run on to its end";
        EXPECT_EQ(kStrings, ReadCounts(target)["strings"]);
    }
}

TEST(WindowRun, CancellingTheDialogLeavesTheViewsAsTheyWere) {
    ZarWindow zar;
    ASSERT_TRUE(zar.Started());
    RunToTheEnd(zar, FullPath(TargetPath(L"trace_basic.exe")));
    std::vector<std::vector<std::wstring>> rows = zar.Rows();
    std::vector<TreeItem> threads = zar.Tree();
    ASSERT_FALSE(rows.empty());

    HWND dialog = zar.OpenFileDialog();
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(zar.CancelDialog(dialog));
    // Nothing starts: no run empties or fills the views, no error box, and "Файл" still works.
    HWND again = zar.OpenFileDialog();
    ASSERT_NE(nullptr, again);
    EXPECT_TRUE(zar.CancelDialog(again));
    EXPECT_EQ(rows, zar.Rows());
    EXPECT_EQ(threads.size(), zar.Tree().size());
    EXPECT_EQ(nullptr, zar.FindOwnWindow(L"#32770", L"Error"));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(zar.Process(), 0));
}

TEST(WindowRun, ExitDuringARunEndsTheProgramWithoutAReport) {
    UniqueHandle hold(CreateEventW(nullptr, TRUE, FALSE, kHoldEventName));
    ASSERT_TRUE(hold);
    LoopbackListener listener(KORVANE_TEST_REPORT_PORT);
    ASSERT_TRUE(listener.Listening());
    ZarWindow zar;
    ASSERT_TRUE(zar.Started());
    ASSERT_TRUE(zar.ChooseFile(FullPath(TargetPath(L"window_target.exe"))));
    ASSERT_TRUE(WaitForTreeLine(zar, L"window_target: worker", kHeldRunStartTimeoutMs));
    zar.PostCommand(105);
    DWORD exitCode = 1;
    ASSERT_TRUE(zar.WaitForExit(kProcessExitTimeoutMs, exitCode));
    EXPECT_EQ(0u, exitCode);
    SetEvent(hold.get());
    EXPECT_FALSE(listener.WaitForRequest(kNoUploadWaitMs).has_value()) << "the ended run still posted its report";
}

TEST(WindowRun, TargetThatCannotStartShowsTheFailureUnderThreadZeroAndEndsWithItsCode) {
    ZarWindow zar;
    ASSERT_TRUE(zar.Started());
    // A file that exists but is no program: the system refuses it with ERROR_BAD_EXE_FORMAT.
    std::wstring notAProgram = MakeTempFolder(L"window_not_a_program") + L"readme.exe";
    WriteFileBytes(notAProgram, "This is a text file, not a program.\r\n");
    ASSERT_TRUE(zar.ChooseFile(notAProgram));

    HWND box = zar.WaitForOwnWindow(L"#32770", L"Error", kErrorBoxTimeoutMs);
    ASSERT_NE(nullptr, box);
    std::vector<TreeItem> threads = zar.Tree();
    ASSERT_EQ(1u, threads.size());
    EXPECT_EQ(L"Ошибка при запуске процесса", threads[0].text);
    EXPECT_EQ(0, threads[0].param);
    EXPECT_TRUE(StartsWith(MessageBoxText(box), L"Unable to create process failed with error 0xC1: "))
        << testing::PrintToString(MessageBoxText(box));

    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    DWORD exitCode = 0;
    ASSERT_TRUE(zar.WaitForExit(kProcessExitTimeoutMs, exitCode));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_EXE_FORMAT), exitCode);
}

}  // namespace
