// The live views on real common controls: module rows keyed by file name,
// event lines grouped under the first line of their thread.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <map>
#include <string>

#include "base/system_library.h"
#include "watch/launch_trace.h"

namespace {

constexpr int kColumns = 5;

class LiveViews : public ::testing::Test {
protected:
    void SetUp() override {
        static auto initControls = SystemProc<decltype(InitCommonControlsEx)>(L"comctl32.dll", "InitCommonControlsEx");
        ASSERT_NE(initControls, nullptr);
        INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES};
        initControls(&classes);
        parent_ = CreateWindowExW(0, L"STATIC", L"views", WS_POPUP, 0, 0, 600, 400, nullptr, nullptr, nullptr, nullptr);
        listView_ = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | LVS_REPORT, 0, 0, 600, 200, parent_, nullptr,
                                    nullptr, nullptr);
        treeView_ = CreateWindowExW(0, WC_TREEVIEWW, L"", WS_CHILD | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT, 0,
                                    200, 600, 200, parent_, nullptr, nullptr, nullptr);
        ASSERT_TRUE(listView_ && treeView_);
        for (int column = 0; column < kColumns; ++column) {
            LVCOLUMNW header = {};
            header.mask = LVCF_TEXT | LVCF_WIDTH;
            header.cx = 100;
            header.pszText = const_cast<wchar_t*>(L"column");
            SendMessageW(listView_, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&header));
        }
    }
    void TearDown() override {
        if (parent_) DestroyWindow(parent_);
    }

    std::wstring CellText(int item, int column) {
        wchar_t text[260] = {};
        LVITEMW cell = {};
        cell.iSubItem = column;
        cell.pszText = text;
        cell.cchTextMax = 260;
        SendMessageW(listView_, LVM_GETITEMTEXTW, item, reinterpret_cast<LPARAM>(&cell));
        return text;
    }
    int RowCount() { return static_cast<int>(SendMessageW(listView_, LVM_GETITEMCOUNT, 0, 0)); }

    HTREEITEM Next(HTREEITEM item, UINT relation) {
        return reinterpret_cast<HTREEITEM>(
            SendMessageW(treeView_, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
    }
    TVITEMW Item(HTREEITEM handle, std::wstring& text) {
        static wchar_t buffer[260];
        TVITEMW item = {};
        item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_STATE | TVIF_CHILDREN;
        item.hItem = handle;
        item.pszText = buffer;
        item.cchTextMax = 260;
        item.stateMask = TVIS_EXPANDED;
        SendMessageW(treeView_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        text = buffer;
        return item;
    }
    std::wstring Text(HTREEITEM handle) {
        std::wstring text;
        Item(handle, text);
        return text;
    }

    HWND parent_ = nullptr;
    HWND listView_ = nullptr;
    HWND treeView_ = nullptr;
};

}  // namespace

TEST_F(LiveViews, ModuleRowsAreKeyedByFileNameWithoutCase) {
    LaunchTrace trace(L"C:\\Tools\\app.exe", listView_, treeView_);
    trace.AddModuleRow({L"kernel32.dll", L"%SYSTEM%", L"10.0", L"Ядро", L"Microsoft"});
    trace.AddModuleRow({L"KERNEL32.DLL", L"D:\\other", L"2.0", L"", L""});
    trace.AddModuleRow({L"plain_helper.dll", L"Z:\\targets", L"", L"", L""});
    ASSERT_EQ(RowCount(), 2);
    EXPECT_EQ(CellText(0, 0), L"kernel32.dll");
    EXPECT_EQ(CellText(0, 1), L"%SYSTEM%") << "the first row of a file name stays";
    EXPECT_EQ(CellText(0, 2), L"10.0");
    EXPECT_EQ(CellText(0, 3), L"Ядро");
    EXPECT_EQ(CellText(0, 4), L"Microsoft");
    EXPECT_EQ(CellText(1, 0), L"plain_helper.dll");
    EXPECT_EQ(CellText(1, 1), L"Z:\\targets");
}

TEST_F(LiveViews, VersionColumnsArriveForTheRowTheirModuleAddedAndOnlyOnce) {
    LaunchTrace trace(L"C:\\Tools\\app.exe", listView_, treeView_);
    trace.AddModuleRow({L"kernel32.dll", L"%SYSTEM%", L"", L"", L""});
    trace.AddModuleRow({L"helper.dll", L"Z:\\targets", L"", L"", L""});
    trace.FillModuleRows({{L"KERNEL32.DLL", L"D:\\other", L"2.0", L"Другой", L"Чужой"},
                          {L"kernel32.dll", L"%SYSTEM%", L"10.0", L"Ядро", L"Microsoft"},
                          {L"Kernel32.dll", L"%SYSTEM%", L"3.0", L"Второе написание", L""}});
    ASSERT_EQ(RowCount(), 2);
    EXPECT_EQ(CellText(0, 1), L"%SYSTEM%");
    EXPECT_EQ(CellText(0, 2), L"10.0") << "the facts of the module that added the row, not those of its namesakes";
    EXPECT_EQ(CellText(0, 3), L"Ядро");
    EXPECT_EQ(CellText(0, 4), L"Microsoft");
    EXPECT_EQ(CellText(1, 2), L"") << "a row whose facts have not arrived stays as it was shown";
    trace.FillModuleRows({{L"helper.dll", L"Z:\\targets", L"1.2", L"Помощник", L""}});
    EXPECT_EQ(CellText(1, 2), L"1.2");
    EXPECT_EQ(CellText(1, 3), L"Помощник");
}

TEST_F(LiveViews, LinesAreGroupedUnderTheFirstLineOfTheirThread) {
    LaunchTrace trace(L"C:\\Tools\\app.exe", listView_, treeView_);
    trace.AddEventItem(0x10, L"Создан процесс A");
    trace.AddEventItem(0x20, L"Создан поток 0x20");
    trace.AddEventItem(0x10, L"Загрузка x");
    trace.AddEventItem(0x20, L"Поток 0x20 уничтожен с кодом 0x0");
    trace.AddEventItem(0x10, L"Загрузка y");
    trace.AddEventItem(0x30, L"Создан поток 0x30");

    HTREEITEM first = Next(nullptr, TVGN_ROOT);
    std::wstring text;
    TVITEMW firstItem = Item(first, text);
    EXPECT_EQ(text, L"Создан процесс A");
    EXPECT_EQ(firstItem.lParam, 0x10);
    EXPECT_TRUE(firstItem.state & TVIS_EXPANDED) << "the first thread's item is kept open";
    HTREEITEM child = Next(first, TVGN_CHILD);
    EXPECT_EQ(Text(child), L"Загрузка x");
    EXPECT_EQ(Text(Next(child, TVGN_NEXT)), L"Загрузка y");

    HTREEITEM second = Next(first, TVGN_NEXT);
    EXPECT_EQ(Text(second), L"Создан поток 0x20");
    EXPECT_EQ(Text(Next(second, TVGN_CHILD)), L"Поток 0x20 уничтожен с кодом 0x0");

    HTREEITEM third = Next(second, TVGN_NEXT);
    TVITEMW thirdItem = Item(third, text);
    EXPECT_EQ(text, L"Создан поток 0x30");
    EXPECT_EQ(thirdItem.cChildren, 1) << "a new thread's item shows its expand button at once";
    EXPECT_EQ(Next(third, TVGN_NEXT), nullptr);
}

TEST_F(LiveViews, NewTraceEmptiesBothViews) {
    {
        LaunchTrace first(L"C:\\Tools\\app.exe", listView_, treeView_);
        first.AddModuleRow({L"app.exe", L"C:\\Tools", L"", L"", L""});
        first.AddEventItem(1, L"Создан процесс");
    }
    LaunchTrace second(L"C:\\Tools\\app.exe", listView_, treeView_);
    EXPECT_EQ(RowCount(), 0);
    EXPECT_EQ(Next(nullptr, TVGN_ROOT), nullptr);
}

namespace {

// What a view was last told by WM_SETREDRAW, seen by a procedure placed under
// everything the trace puts on the view.
struct RedrawRecord {
    WNDPROC control = nullptr;
    bool drawing = true;
};
std::map<HWND, RedrawRecord> g_redraw;

LRESULT CALLBACK RecordRedraw(HWND view, UINT message, WPARAM wParam, LPARAM lParam) {
    RedrawRecord& record = g_redraw[view];
    if (message == WM_SETREDRAW) record.drawing = wParam != FALSE;
    return CallWindowProcW(record.control, view, message, wParam, lParam);
}

void RecordRedrawOf(HWND view) {
    g_redraw[view].control =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrW(view, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordRedraw)));
}

}  // namespace

TEST_F(LiveViews, TraceEndingBeforeItsRunPaintedLeavesBothViewsDrawing) {
    RecordRedrawOf(listView_);
    RecordRedrawOf(treeView_);
    {
        // As when the run leaves through an exception: no paint at its end. The
        // second change of each view comes within the frame of the first, so it is held back.
        LaunchTrace trace(L"C:\\Tools\\app.exe", listView_, treeView_);
        trace.AddModuleRow({L"app.exe", L"C:\\Tools", L"", L"", L""});
        trace.AddModuleRow({L"helper.dll", L"C:\\Tools", L"", L"", L""});
        trace.AddEventItem(1, L"Создан процесс");
        trace.AddEventItem(1, L"Загрузка helper.dll");
    }
    EXPECT_TRUE(g_redraw[listView_].drawing);
    EXPECT_TRUE(g_redraw[treeView_].drawing);
    EXPECT_EQ(RowCount(), 2);
}

namespace {

constexpr int kRunChanges = 400;
constexpr DWORD kRunThreadTimeoutMs = 60000;

struct ViewRun {
    HWND list;
    HWND tree;
};

// A run's thread: rows and lines as a debug loop adds them, then the trace ends.
DWORD WINAPI AddChangesFromARun(void* parameter) {
    auto* views = static_cast<ViewRun*>(parameter);
    LaunchTrace trace(L"C:\\Tools\\app.exe", views->list, views->tree);
    for (int i = 0; i < kRunChanges; ++i) {
        trace.AddModuleRow({L"m" + std::to_wstring(i) + L".dll", L"C:\\m", L"1.0", L"", L""});
        trace.AddEventItem(0x10, L"line " + std::to_wstring(i));
        if (i % 3 == 0) trace.AddEventItem(0x20, L"other " + std::to_wstring(i));
    }
    return 0;
}

}  // namespace

TEST_F(LiveViews, ChangesFromTheRunsThreadAreShownInTheirOrder) {
    ViewRun views = {listView_, treeView_};
    HANDLE run = CreateThread(nullptr, 0, AddChangesFromARun, &views, 0, nullptr);
    ASSERT_NE(run, nullptr);
    // This thread serves the views, as the window's thread does.
    ULONGLONG deadline = GetTickCount64() + kRunThreadTimeoutMs;
    while (WaitForSingleObject(run, 0) == WAIT_TIMEOUT && GetTickCount64() < deadline) {
        MsgWaitForMultipleObjects(1, &run, FALSE, 100, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    ASSERT_EQ(WaitForSingleObject(run, 0), WAIT_OBJECT_0) << "the run's thread did not end";
    CloseHandle(run);
    ASSERT_EQ(RowCount(), kRunChanges);
    for (int i = 0; i < kRunChanges; i += 37) EXPECT_EQ(CellText(i, 0), L"m" + std::to_wstring(i) + L".dll");
    HTREEITEM first = Next(nullptr, TVGN_ROOT);
    EXPECT_EQ(Text(first), L"line 0");
    HTREEITEM child = Next(first, TVGN_CHILD);
    for (int i = 1; i < kRunChanges; ++i, child = Next(child, TVGN_NEXT))
        ASSERT_EQ(Text(child), L"line " + std::to_wstring(i)) << "line " << i;
    EXPECT_EQ(child, nullptr);
    HTREEITEM second = Next(first, TVGN_NEXT);
    EXPECT_EQ(Text(second), L"other 0");
    EXPECT_EQ(Text(Next(second, TVGN_CHILD)), L"other 3");
}
