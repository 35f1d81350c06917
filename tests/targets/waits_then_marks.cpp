// Starts quick_exit.exe, waits for it, then goes on with work of its own:
// after a pause it writes waits_then_marks.marker beside itself and exits
// with code 4. The marker proves that it was not killed when its child ended.
#include "sibling.h"

int wmain() {
    HANDLE child = StartSibling(L"quick_exit.exe");
    if (!child) return 1;
    WaitForSingleObject(child, INFINITE);
    CloseHandle(child);
    constexpr DWORD kWorkMs = 1500;
    Sleep(kWorkMs);
    HANDLE marker = CreateFileW(SiblingPath(L"waits_then_marks.marker").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE) return 2;
    DWORD written = 0;
    WriteFile(marker, "done", 4, &written, nullptr);
    CloseHandle(marker);
    return 4;
}
