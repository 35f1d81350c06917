// A DLL that refuses to initialise, as a broken dependency does.
#include <windows.h>

extern "C" __declspec(dllexport) int BrokenInitValue() { return 0; }

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        OutputDebugStringA("broken_init.dll: initialisation failed\n");
        return FALSE;
    }
    return TRUE;
}
