// A sample that starts normally: it loads a few system DLLs and says so in a debug string.
#include <windows.h>

int wmain() {
    const wchar_t* names[] = {L"version.dll", L"shlwapi.dll", L"ws2_32.dll"};
    for (const wchar_t* name : names) {
        if (HMODULE module = LoadLibraryW(name)) FreeLibrary(module);
    }
    OutputDebugStringW(L"starts_fine: всё загружено\n");
    return 0;
}
