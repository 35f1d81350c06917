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
};

// Posted by a worker to the main window once its run has ended.
constexpr UINT kRunEndedMessage = WM_APP + 1;

// Thread entry of a run; the parameter is a StartRecord allocated with new. Returns 0.
DWORD WINAPI WorkerMain(void* startRecord);
