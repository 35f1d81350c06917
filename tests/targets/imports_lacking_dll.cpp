// imports_lacking.dll: the .def file decides what it exports (all three, or LackingKept only).
#include <windows.h>

extern "C" int LackingKept() { return 1; }
extern "C" int LackingGone() { return 2; }
extern "C" int LackingByOrdinal() { return 3; }

extern "C" BOOL WINAPI TinyDllEntry(HINSTANCE, DWORD, LPVOID) { return TRUE; }
