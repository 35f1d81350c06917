// Makes neighbour/ its current folder and loads neighbour.dll by name alone,
// which a plain start finds there: 0 when it was loaded, 1 when not.
#include <windows.h>

#include <string>

int wmain() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self);
    folder.resize(folder.find_last_of(L'\\') + 1);
    if (!SetCurrentDirectoryW((folder + L"neighbour").c_str())) return 2;
    return LoadLibraryW(L"neighbour.dll") ? 0 : 1;
}
