// SetDebugPrivilege: the administrator warning and the switch of SeDebugPrivilege.
#include "diag/privilege.h"

#include <windows.h>

#include "app/error_reporter.h"
#include "base/handles.h"

namespace {

// IsUserAnAdmin is exported by shell32 (a known DLL) under ordinal 680.
bool RunsAsAdministrator() {
    using IsUserAnAdminFn = BOOL WINAPI();
    HMODULE shell = GetModuleHandleW(L"shell32.dll");
    if (!shell) shell = LoadLibraryW(L"shell32.dll");
    auto isAdmin = shell ? reinterpret_cast<IsUserAnAdminFn*>(
                               reinterpret_cast<void*>(GetProcAddress(shell, MAKEINTRESOURCEA(680))))
                         : nullptr;
    return isAdmin && isAdmin();
}

}  // namespace

void SetDebugPrivilege(PrivilegeSwitch state) {
    if (!RunsAsAdministrator()) {
        MessageBoxW(nullptr,
                    L"Программа запущена не от имени Администратора.\nВозможно, она будет работать не так как задумано!",
                    L"Нет прав Администратора!", MB_ICONWARNING);
    }
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put())) return;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &privileges.Privileges[0].Luid);
    privileges.Privileges[0].Attributes = state == PrivilegeSwitch::On ? SE_PRIVILEGE_ENABLED : 0;
    AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof(privileges), nullptr, nullptr);
    // A TRUE return can still mean "not all assigned" (1300): only the last error tells.
    DWORD error = GetLastError();
    if (error != ERROR_SUCCESS) ReportErrorAndExit(L"Не удалось получить системное разрешение на отладку приложения", error);
}
