// A DLL whose initialisation raises an access violation (a write through NULL).
#include <windows.h>

extern "C" __declspec(dllexport) int InitCrashesValue() { return 1; }

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        OutputDebugStringA("init_crashes: writing through NULL\n");
        *static_cast<volatile int*>(nullptr) = 1;
    }
    return TRUE;
}
