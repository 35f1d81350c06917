// A DLL whose DllMain loads init_fails.dll (which refuses its initialisation)
// and then succeeds itself: one initialisation inside another on one thread.
#include <windows.h>

extern "C" __declspec(dllexport) int NestedInitValue() { return 0; }

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH && LoadLibraryW(L"init_fails.dll")) return FALSE;
    return TRUE;
}
