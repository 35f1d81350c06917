// What the live views keep between the lines of one run.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <map>
#include <set>

struct LiveViewState {
    // The top-level item of each thread id: items are only ever added during a
    // run, so this is exactly the first top-level item carrying that id.
    std::map<DWORD, HTREEITEM> threadItems;
    // List view rows whose version columns have been filled.
    std::set<int> filledRows;
    // Views whose drawing is held back until the next paint (WM_SETREDRAW off).
    bool treeHeld = false;
    bool listHeld = false;
    // When the views were last painted, and what that paint cost (GetTickCount64 ms).
    ULONGLONG lastPaint = 0;
    ULONGLONG paintCost = 0;
};
