// The initialisation watch of one debuggee process: the result of every DLL's
// DLL_PROCESS_ATTACH call, the exceptions raised while a thread is inside a
// DLL's initialisation, and the initialisations still running when the process
// ends. Its breakpoints are its own: the debuggee never sees them.
#pragma once
#include <windows.h>

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "verdict/findings.h"

// How it works: at a DLL's load event the image is mapped but not yet
// initialised, so an int3 is written at its entry point (original byte kept).
// When the loader calls the entry, the byte is put back and the instruction
// pointer set back, and a hardware breakpoint on the return address (read from
// [rsp]) is set in that thread's own debug registers, in a slot the debuggee
// does not use: every DllMain returns to the same call site in the loader, and
// only a thread's debug register tells one thread's return from another's. At
// the return RAX holds the result, and the slot gets back what it held.
class DllInitWatch {
public:
    DllInitWatch() = default;
    // armed: write the breakpoints; when false only module ranges are kept.
    DllInitWatch(HANDLE process, bool armed);

    // The process's own image, so that an exception in it is named by it.
    void ImageMapped(const void* base, const std::wstring& path);
    // At a DLL's load event: its range, and the entry breakpoint where it can be written.
    void DllLoaded(const void* base, const std::wstring& path);
    void DllUnloaded(const void* base);

    // True when the exception event is one of the watch's own breakpoints,
    // handled here: it is continued with DBG_CONTINUE and makes no line.
    bool TakeOwnBreakpoint(const DEBUG_EVENT& event);
    // Any other exception: true when the thread was inside a DLL's initialisation
    // (the exception is then that DLL's).
    bool NoteException(const DEBUG_EVENT& event);

    // The path of the module whose image holds the address; empty when none does.
    std::wstring ModuleAt(DWORD64 address) const;
    // At the exit event: every initialisation seen, those still running unfinished.
    std::vector<DllInitRecord> Finish();
    // Before the debugger lets the process run on alone: every byte and
    // debug register the watch changed gets back what it held.
    void Disarm();

private:
    struct EntryBreakpoint {
        DWORD64 base;
        BYTE original;
        std::wstring path;
    };
    struct Module {
        DWORD64 size;
        std::wstring path;
    };
    struct PendingReturn {
        std::size_t record;
        DWORD64 entryRsp;  // [entryRsp] holds the return address
    };
    // The return breakpoint of one thread and the initialisations it waits for
    // (nested ones, such as a DllMain loading another DLL, share it).
    struct ThreadWatch {
        int slot = -1;
        DWORD64 returnAddress = 0;
        DWORD64 savedAddress = 0;  // what the debuggee had in the slot
        DWORD64 savedDr7Bits = 0;
        DWORD64 savedDr6 = 0;
        std::vector<PendingReturn> pending;  // innermost last
        bool stepping = false;  // one instruction past the call site with the breakpoint off
    };

    bool OnEntryHit(DWORD threadId, DWORD64 entry);
    bool OnReturnHit(DWORD threadId, DWORD64 address);
    static void RestoreSlot(const ThreadWatch& watch, CONTEXT& context);
    // The thread's slot back as the debuggee had it, its waiting results unknown.
    static void GiveUp(DWORD threadId, const ThreadWatch& watch);

    HANDLE process_ = nullptr;
    bool armed_ = false;
    std::map<DWORD64, EntryBreakpoint> entries_;  // by entry address
    std::map<DWORD64, Module> modules_;           // by base
    std::map<DWORD, ThreadWatch> threads_;
    std::vector<DllInitRecord> records_;
};
