// The main window as zar.exe shows it: the panes' layout, the module list's
// columns, and the "Выход" command.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cwchar>
#include <string>

#include "app/main_window.h"
#include "tests/support/window_driver.h"

namespace {

TEST(LayOutPanes, ListViewTakesThreeQuartersOfTheHeightRoundedDown) {
    EXPECT_EQ(300, ListViewHeight(400));
    EXPECT_EQ(0, ListViewHeight(1));
    EXPECT_EQ(2, ListViewHeight(3));
    EXPECT_EQ(562, ListViewHeight(750));
}

// Resizes zar.exe's main window so that its client area is exactly width × height.
bool SetClientSize(HWND window, int width, int height) {
    constexpr int kAttempts = 3;
    RECT wanted = {0, 0, width, height};
    AdjustWindowRectEx(&wanted, WS_OVERLAPPEDWINDOW, TRUE, 0);
    int outerWidth = wanted.right - wanted.left;
    int outerHeight = wanted.bottom - wanted.top;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        SetWindowPos(window, nullptr, 0, 0, outerWidth, outerHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        RECT client = {};
        GetClientRect(window, &client);
        if (client.right == width && client.bottom == height) return true;
        // The menu bar or the frame may differ from what the metrics say: correct by what is missing.
        outerWidth += width - client.right;
        outerHeight += height - client.bottom;
    }
    return false;
}

// A child's rectangle in the client coordinates of the child dialog.
RECT RectInPanes(HWND child, HWND panes) {
    RECT rect = {};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, panes, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void ExpectLayout(const ZarWindow& zar, int height, int listHeight) {
    SCOPED_TRACE(testing::Message() << "client height " << height);
    ASSERT_TRUE(SetClientSize(zar.MainWindow(), 1000, height));
    RECT panes = {};
    GetWindowRect(zar.Panes(), &panes);
    MapWindowPoints(nullptr, zar.MainWindow(), reinterpret_cast<POINT*>(&panes), 2);
    EXPECT_EQ(0, panes.left);
    EXPECT_EQ(0, panes.top);
    EXPECT_EQ(1000, panes.right);
    EXPECT_EQ(height, panes.bottom);
    RECT panesClient = {};
    GetClientRect(zar.Panes(), &panesClient);
    const int d = panesClient.right;
    RECT list = RectInPanes(zar.ListView(), zar.Panes());
    EXPECT_EQ(0, list.left);
    EXPECT_EQ(0, list.top);
    EXPECT_EQ(d, list.right - list.left);
    EXPECT_EQ(listHeight, list.bottom - list.top);
    RECT tree = RectInPanes(zar.TreeView(), zar.Panes());
    EXPECT_EQ(0, tree.left);
    EXPECT_EQ(listHeight + 1, tree.top);
    EXPECT_EQ(d, tree.right - tree.left);
    EXPECT_EQ(height - listHeight, tree.bottom - tree.top);
}

TEST(MainWindow, PanesFollowTheClientAreaWhenTheWindowIsResized) {
    ZarWindow zar;
    ASSERT_TRUE(zar.Started());
    ExpectLayout(zar, 400, 300);
    ExpectLayout(zar, 1, 0);
    ExpectLayout(zar, 3, 2);
}

TEST(MainWindow, ModuleListHasFiveTitledColumnsOfFixedWidths) {
    ZarWindow zar;
    ASSERT_TRUE(zar.Started());
    std::vector<ListColumn> columns = zar.Columns();
    ASSERT_EQ(5u, columns.size());
    const ListColumn expected[] = {
        {L"Модуль", 100}, {L"Директория", 150}, {L"Версия файла", 150}, {L"Описание", 350}, {L"Правообладатель", 200}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(expected[i].title, columns[i].title) << "column " << i;
        EXPECT_EQ(expected[i].width, columns[i].width) << "column " << i;
    }
    EXPECT_EQ(0, SendMessageW(zar.ListView(), LVM_GETITEMCOUNT, 0, 0));
    EXPECT_EQ(nullptr, reinterpret_cast<HWND>(SendMessageW(zar.TreeView(), TVM_GETNEXTITEM, TVGN_ROOT, 0)));
}

TEST(MainWindow, TitleAndViewStylesAreThoseOfTheResources) {
    ZarWindow zar;
    ASSERT_TRUE(zar.Started());
    wchar_t title[200] = {};
    GetWindowTextW(zar.MainWindow(), title, 200);
    EXPECT_EQ(0, wcsncmp(title, L"Korvane by Ardelan: ", 20)) << testing::PrintToString(std::wstring(title));
    LONG_PTR panes = GetWindowLongPtrW(zar.Panes(), GWL_STYLE);
    EXPECT_TRUE(panes & WS_CHILD);
    EXPECT_FALSE(panes & WS_CAPTION);
    LONG_PTR list = GetWindowLongPtrW(zar.ListView(), GWL_STYLE);
    EXPECT_EQ(LVS_REPORT, list & LVS_TYPEMASK);
    // Rows stay in the order they came: the target's row first.
    EXPECT_FALSE(list & (LVS_SORTASCENDING | LVS_SORTDESCENDING));
    LONG_PTR tree = GetWindowLongPtrW(zar.TreeView(), GWL_STYLE);
    const LONG_PTR treeStyles = TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT;
    EXPECT_EQ(treeStyles, tree & treeStyles);
}

TEST(MainWindow, ExitCommandEndsTheProgram) {
    ZarWindow zar;
    ASSERT_TRUE(zar.Started());
    zar.PostCommand(105);
    DWORD exitCode = 1;
    ASSERT_TRUE(zar.WaitForExit(kProcessExitTimeoutMs, exitCode));
    EXPECT_EQ(0u, exitCode);
}

}  // namespace
