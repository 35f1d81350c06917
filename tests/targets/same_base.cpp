// Loads same_base_first.dll and calls its function, which stops at a
// breakpoint, frees it, then does the same with same_base_second.dll, which
// takes the freed address: one breakpoint address, two functions. Exits with 0
// only when both breakpoints did lie at one address.
#include <windows.h>

#include "step_over_breakpoint.h"

namespace {

void* CallOnlyExport(const wchar_t* name) {
    HMODULE dll = LoadLibraryW(name);
    if (!dll) return nullptr;
    auto* function = reinterpret_cast<void (*)()>(reinterpret_cast<void*>(GetProcAddress(dll, MAKEINTRESOURCEA(1))));
    if (function) function();
    FreeLibrary(dll);
    return reinterpret_cast<void*>(function);
}

}  // namespace

int wmain() {
    AddVectoredExceptionHandler(1, StepOverBreakpoint);
    void* first = CallOnlyExport(L"same_base_first.dll");
    void* second = CallOnlyExport(L"same_base_second.dll");
    return first && first == second ? 0 : 5;
}
