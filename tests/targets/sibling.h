// Starting a program that lies beside the running one (the debug loop starts
// targets without arguments, so a parent finds its child by its own path).
#pragma once
#include <windows.h>

#include <string>

inline std::wstring SiblingPath(const wchar_t* fileName) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    return path.substr(0, path.find_last_of(L'\\') + 1) + fileName;
}

// The child's process handle, or NULL when it cannot start.
inline HANDLE StartSibling(const wchar_t* fileName) {
    std::wstring path = SiblingPath(fileName);
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child))
        return nullptr;
    CloseHandle(child.hThread);
    return child.hProcess;
}
