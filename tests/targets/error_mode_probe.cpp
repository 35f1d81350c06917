// Writes the error mode it started with (GetErrorMode, in decimal) to
// <own path>.mode, for a test to compare its starts with and without Korvane.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain() {
    UINT mode = GetErrorMode();
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    FILE* file = _wfopen((std::wstring(self) + L".mode").c_str(), L"wb");
    if (!file) return 1;
    std::fprintf(file, "%u", mode);
    std::fclose(file);
    return 0;
}
