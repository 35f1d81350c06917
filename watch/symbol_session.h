// The symbol handler as the run uses it: one session per debuggee process,
// and what all of them share — the names found so far, by module file and
// base, and the system's ntdll prepared before any process needs it.
#pragma once
#include <windows.h>

#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

#include "base/handles.h"

// Ends the symbol handler's use of a process (or of another caller's value).
struct SymbolHandlerTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type process);
};
using UniqueSymbolHandler = UniqueResource<SymbolHandlerTraits>;

// A function name found at an address, and the room its text was given (the name's length + 16).
struct KnownName {
    std::wstring function;
    std::size_t room = 0;
};

// Registers the system's ntdll (this process's: on Windows and under Wine
// every process maps the same file at the same base) with the symbol handler
// and reads its symbols, once for the program's life, on a thread of its own:
// called at the program's start, it is done before the user has chosen a
// program; the first run starts it otherwise.
void PrepareSystemSymbols();

// What the run's sessions share. The same file at the same base names the
// same addresses in every process, so a name found once serves every later
// process of the run: a run whose processes each break in ntdll looks the
// name up once. A process whose ntdll is the prepared file at the prepared
// base is served by the prepared session. The symbol handler serves one
// caller at a time: every call into it holds HandlerLock().
class RunSymbols {
public:
    RunSymbols() { PrepareSystemSymbols(); }

    static std::recursive_mutex& HandlerLock();

    const KnownName* Known(const std::wstring& path, DWORD64 base, DWORD64 address) const;
    void Keep(const std::wstring& path, DWORD64 base, DWORD64 address, KnownName name);
    // The prepared session, when the module at that base is the prepared file
    // and its preparation succeeded (waited for); NULL otherwise.
    static HANDLE PreparedFor(const std::wstring& path, DWORD64 base);

private:
    std::map<std::tuple<std::wstring, DWORD64, DWORD64>, KnownName> known_;
};

// The symbol handler of one debuggee process, kept from its creation to its
// exit. It starts at the first lookup the run's shared names cannot answer,
// without enumerating the process's modules (under Wine that costs a fifth of
// a second while the debuggee waits): the session keeps the process's image
// and DLLs from their events and registers with the handler only the module
// holding the looked-up address (registering one costs milliseconds), so that
// a lookup gives what a handler knowing every module would give at that
// moment. Unloaded modules leave the handler before the next lookup; a module
// the handler refused once is offered again at the next lookup at its address.
class SymbolSession {
public:
    explicit SymbolSession(HANDLE process = nullptr, RunSymbols* shared = nullptr)
        : process_(process), shared_(shared) {}

    // Fills function with "Name+0xoffset" for the address, or leaves it empty;
    // returns the room the text was given (the name's length + 16), 0 when
    // nothing was found.
    std::size_t FunctionAt(DWORD64 address, std::wstring& function);
    // The process's image at its creation, and each DLL at its load.
    void ModuleLoaded(const std::wstring& path, DWORD64 base);
    void ModuleUnloaded(DWORD64 base);

private:
    KnownName Lookup(DWORD64 address, const std::wstring& path, DWORD64 base);
    // The process handle to look the address up with: the handler started and
    // the module holding the address registered; NULL when the handler cannot
    // start (it is tried again next time).
    HANDLE ReadyFor(const std::wstring& path, DWORD64 base);
    HANDLE Started();
    void ForgetUnloaded();

    HANDLE process_;
    RunSymbols* shared_;
    UniqueSymbolHandler handler_;
    std::map<DWORD64, std::wstring> loaded_;      // the process's modules now, by base
    std::map<DWORD64, std::wstring> registered_;  // what the handler knows of them
};
