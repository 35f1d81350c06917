// A DLL that does nothing but exist, for load and unload events.
#include <windows.h>

extern "C" __declspec(dllexport) int PlainHelperValue() { return 42; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
