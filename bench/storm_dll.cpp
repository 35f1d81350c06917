// The DLL that the benchmark copies to distinct files for its load/unload storm.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
