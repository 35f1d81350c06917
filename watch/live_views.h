// What the live views keep between the lines of one run.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <map>

struct LiveViewState {
    // The top-level item of each thread id: items are only ever added during a
    // run, so this is exactly the first top-level item carrying that id.
    std::map<DWORD, HTREEITEM> threadItems;
    // When the tree view was last painted at once (GetTickCount64).
    ULONGLONG lastPaint = 0;
};
