// A DLL whose only purpose is its file: the version resource linked beside it
// (or none) is what the module-facts tests read.
#include <windows.h>

extern "C" __declspec(dllexport) int FactProbeValue() { return 7; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
