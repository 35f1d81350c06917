// Korvane's own DLLs that are not known DLLs of the system (dbghelp, version,
// wininet, comctl32) are never imported statically: they are loaded from the
// system folder only, so that a planted copy beside zar.exe or in the current
// directory is never run. Functions are looked up here.
#pragma once
#include <windows.h>

// The module from the system folder, loaded once and kept for the process's lifetime; NULL on failure.
HMODULE LoadSystemLibrary(const wchar_t* dllName);

// The address of an export of a system-folder DLL, typed from its declaration:
//   static auto symFromAddr = SystemProc<decltype(SymFromAddrW)>(L"dbghelp.dll", "SymFromAddrW");
// NULL when the DLL or the export is missing; callers treat that as a failed call.
template <class Fn>
Fn* SystemProc(const wchar_t* dllName, const char* procName) {
    HMODULE module = LoadSystemLibrary(dllName);
    return module ? reinterpret_cast<Fn*>(reinterpret_cast<void*>(GetProcAddress(module, procName))) : nullptr;
}

// Restricts this process's own DLL search to the system folder, called first
// thing at start; the DLL search of the processes it creates stays untouched.
void RestrictDllSearchToSystemFolder();

// The address of an export of ntdll, which every process has mapped from its
// start, typed from its declaration; NULL when this ntdll lacks it.
template <class Fn>
Fn* NtdllProc(const char* procName) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll ? reinterpret_cast<Fn*>(reinterpret_cast<void*>(GetProcAddress(ntdll, procName))) : nullptr;
}
