// Loads every DLL in its own folder, in the order the system lists them, and
// frees it again: a copy placed beside crafted DLLs makes the debug loop read
// their files.
#include <windows.h>

#include <string>

int wmain() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self);
    folder.resize(folder.find_last_of(L'\\') + 1);
    WIN32_FIND_DATAW found = {};
    HANDLE search = FindFirstFileW((folder + L"*.dll").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 1;
    int loaded = 0;
    do {
        if (HMODULE module = LoadLibraryW((folder + found.cFileName).c_str())) {
            ++loaded;
            FreeLibrary(module);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return loaded;
}
