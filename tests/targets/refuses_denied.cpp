// A DLL that refuses its initialisation with ERROR_ACCESS_DENIED as the
// thread's last error, and prints nothing.
#include <windows.h>

extern "C" __declspec(dllexport) int RefusesDeniedValue() { return 1; }

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}
