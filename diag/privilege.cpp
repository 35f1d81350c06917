// SetDebugPrivilege: the administrator warning and the switch of SeDebugPrivilege.
#include "diag/privilege.h"

#include <windows.h>

#include "app/error_reporter.h"
#include "base/handles.h"

namespace {

// IsUserAnAdmin is exported by shell32 (a known DLL) under ordinal 680.
bool AskIfAdministrator() {
    using IsUserAnAdminFn = BOOL WINAPI();
    HMODULE shell = GetModuleHandleW(L"shell32.dll");
    if (!shell) shell = LoadLibraryW(L"shell32.dll");
    auto isAdmin = shell ? reinterpret_cast<IsUserAnAdminFn*>(
                               reinterpret_cast<void*>(GetProcAddress(shell, MAKEINTRESOURCEA(680))))
                         : nullptr;
    return isAdmin && isAdmin();
}

// A process's token keeps its groups for the process's life, and a
// privilege's LUID stays the same until the system restarts: each is asked
// once (the inventory switches the privilege three times per process).
bool RunsAsAdministrator() {
    static const bool administrator = AskIfAdministrator();
    return administrator;
}

const LUID& DebugPrivilegeLuid() {
    static const LUID luid = [] {
        LUID value = {};
        LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &value);
        return value;
    }();
    return luid;
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
    privileges.Privileges[0].Luid = DebugPrivilegeLuid();
    privileges.Privileges[0].Attributes = state == PrivilegeSwitch::On ? SE_PRIVILEGE_ENABLED : 0;
    AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof(privileges), nullptr, nullptr);
    // A TRUE return can still mean "not all assigned" (1300): only the last error tells.
    DWORD error = GetLastError();
    if (error != ERROR_SUCCESS) ReportErrorAndExit(L"Не удалось получить системное разрешение на отладку приложения", error);
}
