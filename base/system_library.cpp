// Loading of non-known system DLLs from the system folder only.
#include "base/system_library.h"

#include <map>
#include <mutex>
#include <string>

namespace {

std::wstring SystemFolderPath(const wchar_t* dllName) {
    wchar_t folder[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    std::wstring path(folder, length);
    if (path.back() != L'\\') path += L'\\';
    return path + dllName;
}

HMODULE LoadFromSystemFolder(const wchar_t* dllName) {
    // A full path is never searched for; LOAD_LIBRARY_SEARCH_SYSTEM32 also keeps
    // the DLL's own dependencies in the system folder where the system supports it.
    std::wstring path = SystemFolderPath(dllName);
    if (path.empty()) return nullptr;
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module) module = LoadLibraryExW(path.c_str(), nullptr, 0);
    return module;
}

}  // namespace

HMODULE LoadSystemLibrary(const wchar_t* dllName) {
    static std::mutex guard;
    static std::map<std::wstring, HMODULE> loaded;
    std::lock_guard<std::mutex> lock(guard);
    auto found = loaded.find(dllName);
    if (found != loaded.end()) return found->second;
    HMODULE module = LoadFromSystemFolder(dllName);
    if (module) loaded.emplace(dllName, module);
    return module;
}

void RestrictDllSearchToSystemFolder() {
    using SetDefaultDllDirectoriesFn = BOOL WINAPI(DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn*>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    // Never SetDllDirectoryW: the processes Korvane creates would inherit it,
    // and the watched program must search for its DLLs as in a plain start.
    if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}
