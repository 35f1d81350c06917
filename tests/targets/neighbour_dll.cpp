// A DLL that lies only in neighbour/, beside the folder of the programs that use it.
#include <windows.h>

extern "C" __declspec(dllexport) int NeighbourValue() { return 7; }

extern "C" BOOL WINAPI TinyDllEntry(HINSTANCE, DWORD, LPVOID) { return TRUE; }
