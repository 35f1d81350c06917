// The run shown live: one list view row per module file name, and every event
// line in the tree view under the first line of the thread that reported it.
// Messages are sent, so the window's thread makes each change while the
// worker, and the debuggee at its event, wait.
#include "watch/launch_trace.h"

#include <commctrl.h>

namespace {

// An immediate repaint costs milliseconds under a busy X server; more than
// one a frame shows nothing more. Between them the window's thread paints the
// rest by itself as soon as it is idle, so the last change is always painted.
constexpr ULONGLONG kRepaintIntervalMs = 16;

}  // namespace

void LaunchTrace::AddModuleRow(const std::vector<std::wstring>& row) {
    if (!listView || row.empty()) return;
    LVFINDINFOW find = {};
    find.flags = LVFI_STRING;
    find.psz = row[0].c_str();
    if (SendMessageW(listView, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)) != -1) return;
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

void LaunchTrace::AddEventItem(DWORD threadId, std::wstring line) {
    if (!treeView) return;
    // Expanded on every call, so the first thread's lines stay in sight.
    auto first = SendMessageW(treeView, TVM_GETNEXTITEM, TVGN_ROOT, 0);
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
    ULONGLONG now = GetTickCount64();
    if (now - liveViews.lastPaint >= kRepaintIntervalMs) {
        UpdateWindow(treeView);
        liveViews.lastPaint = now;
    }
}
