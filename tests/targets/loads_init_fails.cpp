// Loads init_fails.dll while it runs: LoadLibrary fails (the DLL refuses its
// initialisation), and the program goes on and exits with 0.
#include <windows.h>

#include <cstdio>

int wmain() {
    HMODULE dll = LoadLibraryW(L"init_fails.dll");
    char text[64];
    std::snprintf(text, sizeof(text), "loads_init_fails: %s, error %lu", dll ? "loaded" : "not loaded", GetLastError());
    OutputDebugStringA(text);
    return 0;
}
