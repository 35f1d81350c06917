// Starts quick_exit.exe (the last process created, which ends at once) and
// loads and frees plain_helper.dll for four seconds, so that the debugger lets
// it go while its DLLs' initialisations are watched. Exit code 0 when every
// load succeeded.
#include "sibling.h"

int wmain() {
    HANDLE child = StartSibling(L"quick_exit.exe");
    if (!child) return 1;
    CloseHandle(child);
    for (DWORD start = GetTickCount(); GetTickCount() - start < 4000;) {
        HMODULE helper = LoadLibraryW(L"plain_helper.dll");
        if (!helper) return 2;
        FreeLibrary(helper);
    }
    return 0;
}
