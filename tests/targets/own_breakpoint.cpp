// Sets a hardware breakpoint of its own (Dr0 on a function, through its own
// thread context), loads plain_helper.dll, checks that Dr0 and its enable bit
// are still as it set them, then calls the function: the breakpoint's
// single-step exception reaches its own handler, which says so in a debug
// string. Exit code 0 when all of that held, else what failed.
#include <windows.h>

namespace {

volatile LONG g_hits = 0;

// Kept a real call: the compiler may neither inline it nor drop it.
__attribute__((noipa)) int Watched(int value) {
    return value + 1;
}

void* WatchedAddress() {
    return reinterpret_cast<void*>(&Watched);
}

LONG CALLBACK OnSingleStep(EXCEPTION_POINTERS* info) {
    if (info->ExceptionRecord->ExceptionCode != EXCEPTION_SINGLE_STEP ||
        info->ExceptionRecord->ExceptionAddress != WatchedAddress())
        return EXCEPTION_CONTINUE_SEARCH;
    InterlockedIncrement(&g_hits);
    OutputDebugStringA("own_breakpoint: own single step caught");
    info->ContextRecord->Dr7 &= ~1ull;           // the breakpoint has done its work
    info->ContextRecord->EFlags |= 0x10000;      // and the instruction runs now
    return EXCEPTION_CONTINUE_EXECUTION;
}

bool ReadOwnDebugRegisters(CONTEXT& context) {
    context.ContextFlags = CONTEXT_DEBUG_REGISTERS;
    return GetThreadContext(GetCurrentThread(), &context);
}

}  // namespace

int wmain() {
    AddVectoredExceptionHandler(1, OnSingleStep);
    alignas(16) CONTEXT context = {};
    if (!ReadOwnDebugRegisters(context)) return 10;
    context.Dr0 = reinterpret_cast<DWORD64>(WatchedAddress());
    context.Dr7 = 1;  // local enable of Dr0, on execution
    context.ContextFlags = CONTEXT_DEBUG_REGISTERS;
    if (!SetThreadContext(GetCurrentThread(), &context)) return 11;

    if (!LoadLibraryW(L"plain_helper.dll")) return 12;
    alignas(16) CONTEXT after = {};
    if (!ReadOwnDebugRegisters(after)) return 13;
    if (after.Dr0 != context.Dr0 || (after.Dr7 & 0xF00FF) != 1) {
        OutputDebugStringA("own_breakpoint: debug registers changed");
        return 14;
    }
    OutputDebugStringA("own_breakpoint: debug registers kept");
    int two = Watched(1);
    return g_hits == 1 && two == 2 ? 0 : 15;
}
