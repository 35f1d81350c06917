// Loads init_fails.dll while it runs: LoadLibrary fails (the DLL refuses its
// initialisation), and the program goes on and exits with 0. It then tells the
// first byte of ntdll's LdrLoadDll, as it finds it after the refused load.
#include <windows.h>

#include <cstdio>

int wmain() {
    HMODULE dll = LoadLibraryW(L"init_fails.dll");
    char text[64];
    std::snprintf(text, sizeof(text), "loads_init_fails: %s, error %lu", dll ? "loaded" : "not loaded", GetLastError());
    OutputDebugStringA(text);
    auto loadDll = reinterpret_cast<const unsigned char*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "LdrLoadDll"));
    std::snprintf(text, sizeof(text), "loads_init_fails: LdrLoadDll begins with 0x%02X", loadDll ? *loadDll : 0u);
    OutputDebugStringA(text);
    return 0;
}
