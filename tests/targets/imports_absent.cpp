// A DLL that is built but never placed where the loader looks: imports_chain.dll imports it.
#include <windows.h>

extern "C" __declspec(dllexport) int AbsentValue() { return 135; }

extern "C" BOOL WINAPI TinyDllEntry(HINSTANCE, DWORD, LPVOID) { return TRUE; }
