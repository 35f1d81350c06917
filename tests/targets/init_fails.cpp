// A DLL whose initialisation fails: any program that imports it ends with 0xC0000142.
#include <windows.h>

extern "C" __declspec(dllexport) int InitFailsValue() { return 1; }

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        OutputDebugStringA("init_fails: refusing to initialise\n");
        return FALSE;
    }
    return TRUE;
}
