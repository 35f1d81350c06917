// The run shown live: one list view row per module file name, and every event
// line in the tree view under the first line of the thread that reported it.
// Messages are sent, so the window's thread makes each change while the
// worker, and the debuggee at its event, wait.
#include "watch/launch_trace.h"

#include <commctrl.h>

namespace {

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

}  // namespace

bool LaunchTrace::ViewsHeld() const {
    return liveViews.treeHeld || liveViews.listHeld;
}

void LaunchTrace::PaintViews() {
    ULONGLONG start = GetTickCount64();
    ReleaseDrawing(listView, liveViews.listHeld);
    ReleaseDrawing(treeView, liveViews.treeHeld);
    liveViews.lastPaint = GetTickCount64();
    liveViews.paintCost = liveViews.lastPaint - start;
}

void LaunchTrace::PaintViewsWhenDue() {
    ULONGLONG interval = kFrameMs > 4 * liveViews.paintCost ? kFrameMs : 4 * liveViews.paintCost;
    if (GetTickCount64() - liveViews.lastPaint >= interval) PaintViews();
}

void LaunchTrace::AddModuleRow(const std::vector<std::wstring>& row) {
    if (!listView || row.empty()) return;
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
    PaintViewsWhenDue();
}

void LaunchTrace::AddEventItem(DWORD threadId, std::wstring line) {
    if (!treeView) return;
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
    PaintViewsWhenDue();
}
