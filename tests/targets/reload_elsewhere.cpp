// Loads plain_helper.dll, frees it, keeps its old address range taken and
// loads it again, so that the second load and unload happen at another address.
#include <windows.h>

int wmain() {
    HMODULE first = LoadLibraryW(L"plain_helper.dll");
    if (!first) return 1;
    FreeLibrary(first);
    if (!VirtualAlloc(first, 1, MEM_RESERVE, PAGE_NOACCESS)) return 2;
    HMODULE second = LoadLibraryW(L"plain_helper.dll");
    if (!second) return 3;
    FreeLibrary(second);
    return second == first ? 4 : 0;
}
