// A DLL that exists beside the program and imports imports_absent.dll, which
// does not: the program's start fails with 0xC0000135 after this DLL's load.
#include <windows.h>

extern "C" __declspec(dllimport) int AbsentValue();

extern "C" __declspec(dllexport) int ChainValue() { return AbsentValue(); }

extern "C" BOOL WINAPI TinyDllEntry(HINSTANCE, DWORD, LPVOID) { return TRUE; }
