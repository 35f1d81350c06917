// Starts sleeps_then_exits.exe and exits with code 3 at once, leaving it running.
#include "sibling.h"

int wmain() {
    HANDLE child = StartSibling(L"sleeps_then_exits.exe");
    if (!child) return 1;
    CloseHandle(child);
    return 3;
}
