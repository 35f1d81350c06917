// Loads crash_helper.dll and crashes inside it with an access violation.
#include <windows.h>

int wmain() {
    HMODULE helper = LoadLibraryW(L"crash_helper.dll");
    if (!helper) return 1;
    using WriteFn = void(volatile int*);
    auto write = reinterpret_cast<WriteFn*>(reinterpret_cast<void*>(GetProcAddress(helper, "CrashHelperWrite")));
    if (!write) return 2;
    write(nullptr);
    return 3;
}
