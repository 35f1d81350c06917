// A run whose module file changes before the run ends: loads a copy of
// fact_two_languages.dll, frees it, and puts fact_no_version.dll in its place.
#include <windows.h>

#include "sibling.h"

int wmain() {
    std::wstring copy = SiblingPath(L"replaced_module.dll");
    if (!CopyFileW(SiblingPath(L"fact_two_languages.dll").c_str(), copy.c_str(), FALSE)) return 1;
    HMODULE module = LoadLibraryW(copy.c_str());
    if (!module) return 2;
    FreeLibrary(module);
    // Another size and another version resource: the end of the run sees the new file.
    return CopyFileW(SiblingPath(L"fact_no_version.dll").c_str(), copy.c_str(), FALSE) ? 0 : 3;
}
