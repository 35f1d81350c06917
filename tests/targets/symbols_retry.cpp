// Loads a private copy of crash_helper.dll, moves the copy's file away while
// the debugger looks up a first exception (so that the symbol handler cannot
// read it then), puts it back and crashes inside the DLL.
#include <windows.h>

#include <string>

namespace {

constexpr DWORD kProbeException = 0xE0000001;

LONG CALLBACK ContinueAfterProbe(EXCEPTION_POINTERS* info) {
    return info->ExceptionRecord->ExceptionCode == kProbeException ? EXCEPTION_CONTINUE_EXECUTION
                                                                   : EXCEPTION_CONTINUE_SEARCH;
}

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path);
    return text.substr(0, text.find_last_of(L'\\') + 1);
}

}  // namespace

int wmain() {
    const std::wstring copy = OwnFolder() + L"symbols_retry_helper.dll";
    const std::wstring away = copy + L".away";
    if (!CopyFileW((OwnFolder() + L"crash_helper.dll").c_str(), copy.c_str(), FALSE)) return 1;
    HMODULE helper = LoadLibraryW(copy.c_str());
    if (!helper) return 2;
    using WriteFn = void(volatile int*);
    auto write = reinterpret_cast<WriteFn*>(reinterpret_cast<void*>(GetProcAddress(helper, "CrashHelperWrite")));
    if (!write) return 3;
    // The debugger's reader of module facts may hold the file for a moment.
    for (int attempt = 0; attempt < 100; ++attempt, Sleep(10))
        if (MoveFileExW(copy.c_str(), away.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            OutputDebugStringW(L"symbols_retry: away");
            break;
        }
    AddVectoredExceptionHandler(1, ContinueAfterProbe);
    RaiseException(kProbeException, 0, 0, nullptr);
    if (MoveFileExW(away.c_str(), copy.c_str(), MOVEFILE_REPLACE_EXISTING)) OutputDebugStringW(L"symbols_retry: back");
    write(nullptr);
    return 4;
}
