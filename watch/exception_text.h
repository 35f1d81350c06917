// Exception lines: the code, its description and the function at the address,
// named by the symbol handler of the process that raised the exception.
#pragma once
#include <windows.h>

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "base/handles.h"

// Ends the symbol handler's use of a process.
struct SymbolHandlerTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type process);
};
using UniqueSymbolHandler = UniqueResource<SymbolHandlerTraits>;

// The symbol handler of one debuggee process, kept from its creation to its
// exit: starting it loads every module of the process (a fraction of a second
// or more), so it starts at the first lookup. It then follows the process's
// DLL loads and unloads, brought up to date before each lookup (registering a
// module costs milliseconds, lookups are rare), so that a lookup gives what a
// fresh start would give at that moment; a module the handler refused once is
// offered again at the next lookup.
class SymbolSession {
public:
    explicit SymbolSession(HANDLE process = nullptr) : process_(process) {}

    // The process handle to look symbols up with, starting the handler on
    // first use; NULL when it cannot start (it is tried again next time).
    HANDLE Started();
    void ModuleLoaded(const std::wstring& path, DWORD64 base);
    void ModuleUnloaded(DWORD64 base);

private:
    void KeepModulesTheStartRegistered();
    void Synchronise();

    HANDLE process_;
    UniqueSymbolHandler handler_;
    std::map<DWORD64, std::wstring> loaded_;      // the process's DLLs now, by base
    std::map<DWORD64, std::wstring> registered_;  // what the handler knows of them
};

// The description of an exception code; "Нет описания" for codes outside the table.
std::wstring_view ExceptionDescription(DWORD code);

// Fills line with the exception line of the event, naming the function at the
// exception address through the session; returns DBG_EXCEPTION_NOT_HANDLED.
DWORD DescribeException(const DEBUG_EVENT& event, std::wstring& line, SymbolSession& symbols);

// Fills function with "Name+0xoffset" for the address in the process whose
// symbol handler is started, or leaves it empty. Returns the room the text was
// given (the name's length + 16), 0 when nothing was found.
std::size_t LookupSymbolName(DWORD64 address, std::wstring& function, HANDLE process);
