// The smallest DLL there is (no C runtime): the hostile runs copy it to
// thousands of files and to a folder whose name has Chinese letters.
#include <windows.h>

extern "C" BOOL WINAPI HostileDllEntry(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
