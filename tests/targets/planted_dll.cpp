// A planted system DLL: announces its loading with a marker file
// "<its own file name>.loaded" beside itself, and fails every call.
#include <windows.h>

namespace {

void WriteMarker(HINSTANCE self) {
    wchar_t path[MAX_PATH + 8] = {};
    DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    lstrcatW(path, L".loaded");
    HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
}

}  // namespace

extern "C" {
BOOL WINAPI PlantedFailure() {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) WriteMarker(self);
    return TRUE;
}
