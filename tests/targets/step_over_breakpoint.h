// For targets that stop at breakpoints of their own and go on: the debugger
// passes each breakpoint back unhandled, and this handler steps over it.
#pragma once
#include <windows.h>

inline LONG CALLBACK StepOverBreakpoint(EXCEPTION_POINTERS* exception) {
    if (exception->ExceptionRecord->ExceptionCode != EXCEPTION_BREAKPOINT) return EXCEPTION_CONTINUE_SEARCH;
    exception->ContextRecord->Rip += 1;
    return EXCEPTION_CONTINUE_EXECUTION;
}
