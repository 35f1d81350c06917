// Outlives its parent: sleeps a while, then exits with code 9.
#include <windows.h>

int wmain() {
    constexpr DWORD kLingerMs = 1000;
    Sleep(kLingerMs);
    return 9;
}
