// A run for the loaded-modules section: plain_helper.dll loaded, freed and
// loaded again, then a child (modules_child.exe), whose exit ends the watching.
#include <windows.h>

#include "sibling.h"

int wmain() {
    HMODULE helper = LoadLibraryW(SiblingPath(L"plain_helper.dll").c_str());
    if (helper) FreeLibrary(helper);
    helper = LoadLibraryW(SiblingPath(L"plain_helper.dll").c_str());
    if (HANDLE child = StartSibling(L"modules_child.exe")) {
        WaitForSingleObject(child, INFINITE);
        CloseHandle(child);
    }
    if (helper) FreeLibrary(helper);
    return 0;
}
