// The worker of a run: the record the window hands it and the thread entry.
#pragma once
#include <windows.h>

#include <string>

// What the main window hands to the worker of one run. The worker owns it from
// its first instruction on and releases it once it has copied what it needs.
struct StartRecord {
    HWND listView = nullptr;
    HWND treeView = nullptr;
    std::wstring targetPath;
    // Told with kRunEndedMessage when the run is over, so that it can offer "Файл" again.
    HWND mainWindow = nullptr;
    // The run's number: the worker marks it ended as its last act (RunHasEnded).
    unsigned runId = 0;
};

// Posted by a worker to the main window once its run has ended. Any program
// can post it too, so it only makes the window look whether the worker of its
// active run has marked that run ended in Korvane's memory.
constexpr UINT kRunEndedMessage = WM_APP + 1;
bool RunHasEnded(unsigned runId);

// Thread entry of a run; the parameter is a StartRecord allocated with new. Returns 0.
DWORD WINAPI WorkerMain(void* startRecord);
