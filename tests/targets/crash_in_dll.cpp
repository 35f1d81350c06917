// Stops at a breakpoint in a function of its own image (and goes on), then
// loads crash_helper.dll and crashes inside it with an access violation.
#include <windows.h>

#include "step_over_breakpoint.h"

// Exported, so that the image names it without debug information.
extern "C" __declspec(dllexport) __attribute__((noinline)) void BreakInOwnImage() {
    __debugbreak();
}

int wmain() {
    PVOID handler = AddVectoredExceptionHandler(1, StepOverBreakpoint);
    BreakInOwnImage();
    RemoveVectoredExceptionHandler(handler);
    HMODULE helper = LoadLibraryW(L"crash_helper.dll");
    if (!helper) return 1;
    using WriteFn = void(volatile int*);
    auto write = reinterpret_cast<WriteFn*>(reinterpret_cast<void*>(GetProcAddress(helper, "CrashHelperWrite")));
    if (!write) return 2;
    write(nullptr);
    return 3;
}
