// The run shown live: one list view row per module file name, and every event
// line in the tree view under the first line of the thread that reported it.
//
// The run's thread never calls into the views. It queues each change in
// Korvane's own memory and, when the queue was empty, posts the views' thread
// a message that carries nothing; on it the views' thread drains the queue and
// makes the changes in the order they were queued. Changes queued while the
// views' thread is busy travel together, and the debuggee does not wait at its
// event for the views. Any program on the desktop can send that message too:
// all it can do is make the views' thread drain Korvane's queue early.
#include "watch/live_views.h"

#include <commctrl.h>

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "watch/launch_trace.h"

namespace {

// The kinds of change. A new kind is one more record here and one more Apply
// of ViewChannel; the run's side queues it with ViewChannel::Queue.
struct ClearBoth {};
struct ModuleRowChange {
    std::vector<std::wstring> cells;
};
// The version columns of a row shown before its file's facts were read, with
// the name and directory that row was added with.
struct VersionColumnsChange {
    std::vector<std::wstring> cells;
};
struct EventLineChange {
    DWORD threadId;
    std::wstring text;
};
// The item of a thread id opened, its last line scrolled into sight.
struct RevealThreadChange {
    DWORD threadId;
};
struct PaintNow {};
using ViewChange =
    std::variant<ClearBoth, ModuleRowChange, VersionColumnsChange, EventLineChange, RevealThreadChange, PaintNow>;

constexpr UINT kDrainViewChanges = WM_APP + 0x4B;
constexpr UINT_PTR kPaintTimer = 0x4B52;

// A view that is drawn while items pour in redraws its scroll bar and rows at
// every insert (under Wine and X about 5 ms each, hundreds of times the insert
// itself). So the views' drawing is held back and they are painted at most once
// a frame, and never more often than leaves four fifths of the time to the run;
// a timer paints the last change when no further change comes.
constexpr ULONGLONG kFrameMs = 16;

// When the views' thread has not drained for a frame, the run's thread waits
// for the drain (one message for all that is queued), so the views never show
// the run more than a frame late and the queue stays short.
constexpr ULONGLONG kLagMs = kFrameMs;

LRESULT CALLBACK LiveViewProc(HWND view, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace

class ViewChannel {
public:
    ViewChannel(HWND listView, HWND treeView, HWND carrier, WNDPROC controlProc)
        : listView_(listView), treeView_(treeView), carrier_(carrier), controlProc_(controlProc),
          viewsThread_(GetWindowThreadProcessId(carrier, nullptr)) {}

    bool Shows(HWND listView, HWND treeView) const { return listView == listView_ && treeView == treeView_; }
    WNDPROC ControlProc() const { return controlProc_; }

    // The run's side: any thread.
    void Queue(ViewChange change) {
        bool askDrain = false;
        bool lagging = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pending_.push_back(std::move(change));
            ULONGLONG now = GetTickCount64();
            if (!drainAsked_) {
                drainAsked_ = true;
                askedAt_ = now;
                askDrain = true;
            } else {
                lagging = now - askedAt_ >= kLagMs;
            }
        }
        if (viewsThread_ == GetCurrentThreadId()) {
            Drain();
        } else if (lagging || (askDrain && !PostMessageW(carrier_, kDrainViewChanges, 0, 0))) {
            DrainAndWait();
        }
    }

    // Returns once the views' thread has made every change queued so far.
    void DrainAndWait() {
        if (viewsThread_ == GetCurrentThreadId()) {
            Drain();
            return;
        }
        SendMessageW(carrier_, kDrainViewChanges, 0, 0);
        if (IsWindow(carrier_)) return;
        // The views are gone (the program is closing): nobody will drain.
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.clear();
        drainAsked_ = false;
    }

    // The views' side: their thread only.
    void Drain() {
        std::vector<ViewChange> batch;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            batch.swap(pending_);
            drainAsked_ = false;
        }
        bool paintNow = false;
        for (ViewChange& change : batch) {
            if (std::holds_alternative<PaintNow>(change)) paintNow = true;
            std::visit([this](auto& kind) { Apply(kind); }, change);
        }
        PaintWhenDue(paintNow);
    }

private:
    void Apply(ClearBoth&) {
        if (listView_) SendMessageW(listView_, LVM_DELETEALLITEMS, 0, 0);
        if (treeView_) SendMessageW(treeView_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
        threadItems_.clear();
        filledRows_.clear();
    }

    void Apply(ModuleRowChange& row) {
        if (!listView_ || row.cells.empty()) return;
        LVFINDINFOW find = {};
        find.flags = LVFI_STRING;
        find.psz = row.cells[0].c_str();
        if (SendMessageW(listView_, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)) != -1)
            return;
        Hold(listView_, listHeld_);
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(SendMessageW(listView_, LVM_GETITEMCOUNT, 0, 0));
        item.pszText = row.cells[0].data();
        SendMessageW(listView_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        for (std::size_t column = 1; column < row.cells.size(); ++column) {
            LVITEMW cell = {};
            cell.iSubItem = static_cast<int>(column);
            cell.pszText = row.cells[column].data();
            SendMessageW(listView_, LVM_SETITEMTEXTW, static_cast<WPARAM>(item.iItem), reinterpret_cast<LPARAM>(&cell));
        }
    }

    // Fills the version columns of the row that this row's name added, when that
    // row shows the same directory and has not been filled yet: a later module of
    // the same name (another folder, or another spelling) leaves it as it is.
    void Apply(VersionColumnsChange& row) {
        if (!listView_ || row.cells.size() < 2) return;
        LVFINDINFOW find = {};
        find.flags = LVFI_STRING;
        find.psz = row.cells[0].c_str();
        auto index = static_cast<int>(
            SendMessageW(listView_, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)));
        if (index < 0 || filledRows_.count(index)) return;
        // One character more than the directory: a longer text then differs from it.
        std::wstring shown(row.cells[1].size() + 2, L'\0');
        LVITEMW directory = {};
        directory.iSubItem = 1;
        directory.pszText = shown.data();
        directory.cchTextMax = static_cast<int>(shown.size());
        SendMessageW(listView_, LVM_GETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&directory));
        if (std::wstring(shown.c_str()) != row.cells[1]) return;
        filledRows_.insert(index);
        Hold(listView_, listHeld_);
        for (std::size_t column = 2; column < row.cells.size(); ++column) {
            LVITEMW cell = {};
            cell.iSubItem = static_cast<int>(column);
            cell.pszText = row.cells[column].data();
            SendMessageW(listView_, LVM_SETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&cell));
        }
    }

    void Apply(EventLineChange& line) {
        if (!treeView_) return;
        Hold(treeView_, treeHeld_);
        // Expanded on every call, so the first thread's lines stay in sight. Asked
        // first: expanding an open item changes nothing but costs a full re-layout.
        auto first = SendMessageW(treeView_, TVM_GETNEXTITEM, TVGN_ROOT, 0);
        if (first && !(SendMessageW(treeView_, TVM_GETITEMSTATE, static_cast<WPARAM>(first), TVIS_EXPANDED) &
                       TVIS_EXPANDED))
            SendMessageW(treeView_, TVM_EXPAND, TVE_EXPAND, first);
        TVINSERTSTRUCTW insert = {};
        insert.item.mask = TVIF_TEXT | TVIF_PARAM;
        insert.item.pszText = line.text.data();
        insert.item.lParam = static_cast<LPARAM>(line.threadId);
        // The top-level item of each thread id: items are only ever added during a
        // run, so this is exactly the first top-level item carrying that id.
        auto known = threadItems_.find(line.threadId);
        if (known != threadItems_.end()) {
            insert.hParent = known->second;
            insert.hInsertAfter = TVI_LAST;
        } else {
            // A child count of 1 shows the expand button before the first child arrives.
            insert.hParent = nullptr;
            insert.hInsertAfter = TVI_ROOT;
            insert.item.mask |= TVIF_CHILDREN;
            insert.item.cChildren = 1;
        }
        auto added =
            reinterpret_cast<HTREEITEM>(SendMessageW(treeView_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
        if (added && known == threadItems_.end()) threadItems_.emplace(line.threadId, added);
    }

    void Apply(RevealThreadChange& reveal) {
        auto known = threadItems_.find(reveal.threadId);
        if (!treeView_ || known == threadItems_.end()) return;
        auto item = reinterpret_cast<LPARAM>(known->second);
        SendMessageW(treeView_, TVM_EXPAND, TVE_EXPAND, item);
        LPARAM last = item;
        for (LPARAM child = SendMessageW(treeView_, TVM_GETNEXTITEM, TVGN_CHILD, item); child;
             child = SendMessageW(treeView_, TVM_GETNEXTITEM, TVGN_NEXT, child))
            last = child;
        SendMessageW(treeView_, TVM_ENSUREVISIBLE, 0, last);
    }

    void Apply(PaintNow&) {}

    static void Hold(HWND view, bool& held) {
        if (held) return;
        SendMessageW(view, WM_SETREDRAW, FALSE, 0);
        held = true;
    }

    static void Release(HWND view, bool& held) {
        if (!held) return;
        SendMessageW(view, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(view, nullptr, TRUE);
        UpdateWindow(view);
        held = false;
    }

    // Paints what is held once a frame has passed since the last paint (or at
    // once when asked); until then a timer stands ready to paint it.
    void PaintWhenDue(bool now) {
        if (!listHeld_ && !treeHeld_) return;
        ULONGLONG interval = kFrameMs > 4 * paintCost_ ? kFrameMs : 4 * paintCost_;
        ULONGLONG since = GetTickCount64() - lastPaint_;
        if (now || since >= interval) {
            ULONGLONG start = GetTickCount64();
            Release(listView_, listHeld_);
            Release(treeView_, treeHeld_);
            lastPaint_ = GetTickCount64();
            paintCost_ = lastPaint_ - start;
            if (timerSet_) KillTimer(carrier_, kPaintTimer);
            timerSet_ = false;
        } else if (!timerSet_) {
            timerSet_ = SetTimer(carrier_, kPaintTimer, static_cast<UINT>(interval - since), nullptr) != 0;
        }
    }

    const HWND listView_;
    const HWND treeView_;
    const HWND carrier_;  // the view that receives the drain message
    const WNDPROC controlProc_;
    const DWORD viewsThread_;

    std::mutex mutex_;
    std::vector<ViewChange> pending_;
    bool drainAsked_ = false;
    ULONGLONG askedAt_ = 0;

    // The views' thread only.
    std::map<DWORD, HTREEITEM> threadItems_;
    std::set<int> filledRows_;  // list view rows whose version columns have been filled
    bool listHeld_ = false;
    bool treeHeld_ = false;
    bool timerSet_ = false;
    ULONGLONG lastPaint_ = 0;
    ULONGLONG paintCost_ = 0;
};

namespace {

// Every channel by the view that carries its messages, with that view's own
// window procedure: kept in Korvane's memory, never in a window property that
// another process could set. Never destroyed, so that no view's message finds
// it gone while the program ends.
struct ChannelRegistry {
    std::mutex mutex;
    std::map<HWND, std::shared_ptr<ViewChannel>> channels;
};

ChannelRegistry& Registry() {
    static auto* registry = new ChannelRegistry;
    return *registry;
}

std::shared_ptr<ViewChannel> ChannelOf(HWND carrier) {
    ChannelRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto found = registry.channels.find(carrier);
    return found == registry.channels.end() ? nullptr : found->second;
}

LRESULT CALLBACK LiveViewProc(HWND view, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<ViewChannel> channel = ChannelOf(view);
    if (!channel) return DefWindowProcW(view, message, wParam, lParam);
    // Neither message carries anything that is used: both only drain the queue.
    if (message == kDrainViewChanges || (message == WM_TIMER && wParam == kPaintTimer)) {
        channel->Drain();
        return 0;
    }
    return CallWindowProcW(channel->ControlProc(), view, message, wParam, lParam);
}

}  // namespace

std::shared_ptr<ViewChannel> OpenViewChannel(HWND listView, HWND treeView) {
    HWND carrier = treeView ? treeView : listView;
    if (!carrier) return nullptr;
    auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(carrier, GWLP_WNDPROC));
    std::shared_ptr<ViewChannel> channel = ChannelOf(carrier);
    // The same views as before keep their channel; a new window (whose handle
    // may be that of one destroyed) gets a new one.
    if (channel && current == LiveViewProc && channel->Shows(listView, treeView)) return channel;
    WNDPROC control = current == LiveViewProc && channel ? channel->ControlProc() : current;
    channel = std::make_shared<ViewChannel>(listView, treeView, carrier, control);
    {
        ChannelRegistry& registry = Registry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        registry.channels[carrier] = channel;
    }
    if (current != LiveViewProc) SetWindowLongPtrW(carrier, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(LiveViewProc));
    return channel;
}

void LaunchTrace::ClearViews() {
    if (liveViews) liveViews->Queue(ClearBoth{});
}

void LaunchTrace::PaintViews() {
    if (!liveViews) return;
    liveViews->Queue(PaintNow{});
    liveViews->DrainAndWait();
}

void LaunchTrace::AddModuleRow(const std::vector<std::wstring>& row) {
    if (liveViews && listView && !row.empty()) liveViews->Queue(ModuleRowChange{row});
}

void LaunchTrace::FillModuleRows(const std::vector<std::vector<std::wstring>>& rows) {
    if (!liveViews || !listView) return;
    for (const std::vector<std::wstring>& row : rows) liveViews->Queue(VersionColumnsChange{row});
}

void LaunchTrace::AddEventItem(DWORD threadId, std::wstring line) {
    if (liveViews && treeView) liveViews->Queue(EventLineChange{threadId, std::move(line)});
}

void LaunchTrace::RevealEventItem(DWORD threadId) {
    if (liveViews && treeView) liveViews->Queue(RevealThreadChange{threadId});
}
