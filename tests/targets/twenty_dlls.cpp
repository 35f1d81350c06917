// Imports more than twenty system DLLs and exits 0: a clean start of a
// program of realistic size. The calls are never made; they make the imports.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <iphlpapi.h>
#include <lm.h>
#include <mmsystem.h>
#include <psapi.h>
#include <setupapi.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <uxtheme.h>
#include <userenv.h>
#include <wincrypt.h>
#include <wininet.h>
#include <winspool.h>
#define SECURITY_WIN32
#include <security.h>

int wmain(int argc, wchar_t**) {
    if (argc < 1000) return 0;
    ULONG count = 0;
    DWORD size = 0;
    wchar_t text[MAX_PATH] = {};
    OPENFILENAMEW open = {};
    InitCommonControls();
    GetOpenFileNameW(&open);
    WSAGetLastError();
    timeGetTime();
    GetFileVersionInfoSizeW(text, &size);
    PathFileExistsW(text);
    CertOpenSystemStoreW(0, text);
    SetupDiDestroyDeviceInfoList(nullptr);
    InternetCloseHandle(nullptr);
    ImmGetContext(nullptr);
    IsThemeActive();
    GetModuleBaseNameW(nullptr, nullptr, text, MAX_PATH);
    GetNumberOfInterfaces(&count);
    GetUserNameExW(NameSamCompatible, text, &count);
    ClosePrinter(nullptr);
    GetUserProfileDirectoryW(nullptr, text, &size);
    NetApiBufferFree(nullptr);
    CoInitialize(nullptr);
    SysFreeString(nullptr);
    ShellExecuteW(nullptr, nullptr, text, nullptr, nullptr, 0);
    RegCloseKey(nullptr);
    return GetDeviceCaps(nullptr, 0);
}
