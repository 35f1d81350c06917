// WorkerMain: one run on its own thread, from the chosen path to the uploaded report.
#include "app/worker.h"

#include <commctrl.h>

#include <atomic>
#include <memory>

#include "watch/launch_trace.h"
#include "watch/run_stop.h"

namespace {

// The number of the run whose worker ended last.
std::atomic<unsigned> g_endedRun{0};

void RunTrace(std::wstring targetPath, HWND listView, HWND treeView) {
    LaunchTrace trace(std::move(targetPath), listView, treeView);
    trace.RunDebugLoop();
    // A run stopped because the program closes shows nothing and posts nothing.
    if (RunStopRequested()) return;
    trace.CloseAndShowLog();
    trace.UploadReport();
}

}  // namespace

bool RunHasEnded(unsigned runId) {
    return g_endedRun == runId;
}

DWORD WINAPI WorkerMain(void* startRecord) {
    std::unique_ptr<StartRecord> record(static_cast<StartRecord*>(startRecord));
    SendMessageW(record->listView, LVM_DELETEALLITEMS, 0, 0);
    std::wstring targetPath = record->targetPath;
    HWND listView = record->listView;
    HWND treeView = record->treeView;
    HWND mainWindow = record->mainWindow;
    unsigned runId = record->runId;
    record.reset();
    try {
        RunTrace(std::move(targetPath), listView, treeView);
    } catch (...) {
        // An exception leaving a thread entry would end the whole program; it ends
        // only this run, and the trace has been destroyed on the way out.
    }
    g_endedRun = runId;
    PostMessageW(mainWindow, kRunEndedMessage, 0, 0);
    return 0;
}
