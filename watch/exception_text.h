// Exception lines: the code, its description and the function at the address,
// named by the symbol handler of the process that raised the exception.
#pragma once
#include <windows.h>

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "base/handles.h"
#include "verdict/status_text.h"

// Ends the symbol handler's use of a process.
struct SymbolHandlerTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type process);
};
using UniqueSymbolHandler = UniqueResource<SymbolHandlerTraits>;

// The symbol handler of one debuggee process, kept from its creation to its
// exit. It starts at the first lookup, without enumerating the process's
// modules (under Wine that costs a fifth of a second while the debuggee
// waits): the session keeps the process's image and DLLs from their events and
// registers with the handler only the module holding the looked-up address
// (registering one costs milliseconds), so that a lookup gives what a handler
// knowing every module would give at that moment. Unloaded modules leave the
// handler before the next lookup; a module the handler refused once is offered
// again at the next lookup at its address.
class SymbolSession {
public:
    explicit SymbolSession(HANDLE process = nullptr) : process_(process) {}

    // Fills function with "Name+0xoffset" for the address, or leaves it empty;
    // returns the room the text was given (the name's length + 16), 0 when
    // nothing was found. A name
    // found is kept until the process's modules next change, so that a program
    // raising the same exception over and over pays for one lookup.
    std::size_t FunctionAt(DWORD64 address, std::wstring& function);
    // The process's image at its creation, and each DLL at its load.
    void ModuleLoaded(const std::wstring& path, DWORD64 base);
    void ModuleUnloaded(DWORD64 base);

private:
    // The process handle to look the address up with: the handler started and
    // the module holding the address registered; NULL when the handler cannot
    // start (it is tried again next time).
    HANDLE ReadyFor(DWORD64 address);
    HANDLE Started();
    void ForgetUnloaded();
    void RegisterModuleAt(DWORD64 address);

    HANDLE process_;
    UniqueSymbolHandler handler_;
    std::map<DWORD64, std::wstring> loaded_;      // the process's modules now, by base
    std::map<DWORD64, std::wstring> registered_;  // what the handler knows of them
    struct KnownName {
        std::wstring function;
        std::size_t room = 0;
    };
    std::map<DWORD64, KnownName> named_;  // by address, since the last change of the modules
};

// Fills line with the exception line of the event, naming the function at the
// exception address through the session; returns DBG_EXCEPTION_NOT_HANDLED.
DWORD DescribeException(const DEBUG_EVENT& event, std::wstring& line, SymbolSession& symbols);
