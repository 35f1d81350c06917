// The run shown live: one list view row per module file name, and every event
// line in the tree view under the first line of the thread that reported it.
// Each change is sent as one message, so the window's thread makes it while the
// worker, and the debuggee at its event, wait.
#include "watch/launch_trace.h"

#include <commctrl.h>

#include <functional>

namespace {

// One change of a view, carried out on the view's own thread. A message sent
// from another thread costs a round trip through the system (under Wine some
// hundred microseconds); a change takes up to seven messages to the control,
// so the whole change travels as one message and its parts are plain calls.
using ViewChange = std::function<void()>;
constexpr UINT kApplyViewChange = WM_APP + 0x4B;
constexpr const wchar_t* kControlProcProperty = L"Korvane.ControlProc";

LRESULT CALLBACK LiveViewProc(HWND view, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kApplyViewChange) {
        (*reinterpret_cast<const ViewChange*>(lParam))();
        return 0;
    }
    auto control = reinterpret_cast<WNDPROC>(GetPropW(view, kControlProcProperty));
    return control ? CallWindowProcW(control, view, message, wParam, lParam) : DefWindowProcW(view, message, wParam, lParam);
}

void ApplyOnViewThread(HWND view, const ViewChange& change) {
    if (GetWindowThreadProcessId(view, nullptr) == GetCurrentThreadId()) {
        change();
        return;
    }
    auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(view, GWLP_WNDPROC));
    if (current != LiveViewProc) {
        SetPropW(view, kControlProcProperty, reinterpret_cast<HANDLE>(current));
        SetWindowLongPtrW(view, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(LiveViewProc));
    }
    SendMessageW(view, kApplyViewChange, 0, reinterpret_cast<LPARAM>(&change));
}

// A view that is drawn while items pour in redraws its scroll bar and rows at
// every insert (under Wine and X about 5 ms each, hundreds of times the insert
// itself). So the views' drawing is held back and they are painted at most once
// a frame, and never more often than leaves four fifths of the time to the run;
// PaintViews paints the last change when the events pause or the run ends.
constexpr ULONGLONG kFrameMs = 16;

void HoldDrawing(HWND view, bool& held) {
    if (held) return;
    SendMessageW(view, WM_SETREDRAW, FALSE, 0);
    held = true;
}

void ReleaseDrawing(HWND view, bool& held) {
    if (!held) return;
    SendMessageW(view, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(view, nullptr, TRUE);
    UpdateWindow(view);
    held = false;
}

void InsertModuleRow(HWND listView, LiveViewState& liveViews, const std::vector<std::wstring>& row) {
    LVFINDINFOW find = {};
    find.flags = LVFI_STRING;
    find.psz = row[0].c_str();
    if (SendMessageW(listView, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)) != -1) return;
    HoldDrawing(listView, liveViews.listHeld);
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(SendMessageW(listView, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = const_cast<wchar_t*>(row[0].c_str());
    SendMessageW(listView, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    for (std::size_t column = 1; column < row.size(); ++column) {
        LVITEMW cell = {};
        cell.iSubItem = static_cast<int>(column);
        cell.pszText = const_cast<wchar_t*>(row[column].c_str());
        SendMessageW(listView, LVM_SETITEMTEXTW, static_cast<WPARAM>(item.iItem), reinterpret_cast<LPARAM>(&cell));
    }
}

void InsertEventItem(HWND treeView, LiveViewState& liveViews, DWORD threadId, std::wstring& line) {
    HoldDrawing(treeView, liveViews.treeHeld);
    // Expanded on every call, so the first thread's lines stay in sight. Asked
    // first: expanding an open item changes nothing but costs a full re-layout.
    auto first = SendMessageW(treeView, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    if (first && !(SendMessageW(treeView, TVM_GETITEMSTATE, static_cast<WPARAM>(first), TVIS_EXPANDED) & TVIS_EXPANDED))
        SendMessageW(treeView, TVM_EXPAND, TVE_EXPAND, first);
    TVINSERTSTRUCTW insert = {};
    insert.item.mask = TVIF_TEXT | TVIF_PARAM;
    insert.item.pszText = line.data();
    insert.item.lParam = static_cast<LPARAM>(threadId);
    auto known = liveViews.threadItems.find(threadId);
    if (known != liveViews.threadItems.end()) {
        insert.hParent = known->second;
        insert.hInsertAfter = TVI_LAST;
    } else {
        // A child count of 1 shows the expand button before the first child arrives.
        insert.hParent = nullptr;
        insert.hInsertAfter = TVI_ROOT;
        insert.item.mask |= TVIF_CHILDREN;
        insert.item.cChildren = 1;
    }
    auto added = reinterpret_cast<HTREEITEM>(SendMessageW(treeView, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
    if (added && known == liveViews.threadItems.end()) liveViews.threadItems.emplace(threadId, added);
}

}  // namespace

bool LaunchTrace::ViewsHeld() const {
    return liveViews.treeHeld || liveViews.listHeld;
}

void LaunchTrace::PaintViews() {
    if (!ViewsHeld()) return;
    ULONGLONG start = GetTickCount64();
    ApplyOnViewThread(liveViews.treeHeld ? treeView : listView, [&] {
        ReleaseDrawing(listView, liveViews.listHeld);
        ReleaseDrawing(treeView, liveViews.treeHeld);
    });
    liveViews.lastPaint = GetTickCount64();
    liveViews.paintCost = liveViews.lastPaint - start;
}

void LaunchTrace::PaintViewsWhenDue() {
    ULONGLONG interval = kFrameMs > 4 * liveViews.paintCost ? kFrameMs : 4 * liveViews.paintCost;
    if (GetTickCount64() - liveViews.lastPaint >= interval) PaintViews();
}

void LaunchTrace::AddModuleRow(const std::vector<std::wstring>& row) {
    if (!listView || row.empty()) return;
    ApplyOnViewThread(listView, [&] { InsertModuleRow(listView, liveViews, row); });
    PaintViewsWhenDue();
}

void LaunchTrace::AddEventItem(DWORD threadId, std::wstring line) {
    if (!treeView) return;
    ApplyOnViewThread(treeView, [&] { InsertEventItem(treeView, liveViews, threadId, line); });
    PaintViewsWhenDue();
}

void LaunchTrace::RevealEventItem(DWORD threadId) {
    auto known = liveViews.threadItems.find(threadId);
    if (!treeView || known == liveViews.threadItems.end()) return;
    auto item = reinterpret_cast<LPARAM>(known->second);
    ApplyOnViewThread(treeView, [&] {
        SendMessageW(treeView, TVM_EXPAND, TVE_EXPAND, item);
        LPARAM last = item;
        for (LPARAM child = SendMessageW(treeView, TVM_GETNEXTITEM, TVGN_CHILD, item); child;
             child = SendMessageW(treeView, TVM_GETNEXTITEM, TVGN_NEXT, child))
            last = child;
        SendMessageW(treeView, TVM_ENSUREVISIBLE, 0, last);
    });
}
