// imports_machine.dll, built for x64 (the import library) and for i386 (the DLL placed beside the program).
#include <windows.h>

extern "C" __declspec(dllexport) int MachineValue() { return 7; }

extern "C" BOOL WINAPI MachineEntry(HINSTANCE, DWORD, LPVOID) { return TRUE; }
