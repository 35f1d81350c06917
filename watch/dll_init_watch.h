// The initialisation watch of one debuggee process: the result of every DLL's
// DLL_PROCESS_ATTACH call and of every TLS callback's, the exceptions raised
// while a thread provably runs inside one, and the initialisations still
// running when the process ends. Its breakpoints are its own: the debuggee
// never sees them, and its debug registers are never touched.
#pragma once
#include <windows.h>

#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "verdict/findings.h"
#include "watch/debuggee.h"

// How it works, with int3 and the trap flag alone (debug registers are
// accepted and never fire on some machines): at a DLL's load event the image
// is mapped but not yet initialised, so an int3 is written at its entry point
// and at each of its TLS callbacks (original bytes kept). When the loader calls
// one, the byte is put back, the instruction pointer set back, and an int3 is
// written at the return address read from [rsp]: the loader's call site,
// which every DllMain returns to. There a thread's stack pointer tells whose
// return it is: the one just above the frame of the call it waits for. Any
// other thread passing the call site steps over it with the trap flag while
// the threads that wait there are held still, so no return is missed. A thread
// that shows at any later event that it left a frame without returning
// through the call site (its stack pointer above the frame) did not return:
// its result is unknown, or "left by an exception" when one was raised inside.
//
// Why a DLL refused: its thread's last error and last status (from its TEB) at
// the call and at the return, the strings it printed meanwhile, and the loads
// that failed inside it. A failed load raises no event, so while any
// initialisation is pending an int3 stands on ntdll's LdrLoadDll: the name is
// read at its entry, and its return is caught by the same stack pointer rule.
class DllInitWatch {
public:
    DllInitWatch() = default;
    // armed: write the breakpoints; when false only module ranges are kept.
    DllInitWatch(HANDLE process, bool armed);

    // The process's own image, so that an exception in it is named by it; its TLS callbacks are watched.
    void ImageMapped(const void* base, const std::wstring& path);
    // At a DLL's load event: its range, and the breakpoints where they can be written.
    void DllLoaded(const void* base, const std::wstring& path);
    // Before the unload is continued: no byte of the watch stays in the image.
    void DllUnloaded(const void* base);
    void ThreadCreated(DWORD threadId, HANDLE thread);
    // A thread that ends inside an initialisation leaves its result unknown.
    void ThreadExited(DWORD threadId);

    // Before any other handling of an event: a thread waiting for returns that
    // shows it has left their frames did not return through the call site.
    void ThreadShown(const DEBUG_EVENT& event);
    // True when the exception event is one of the watch's own breakpoints,
    // handled here: it is continued with DBG_CONTINUE and makes no line.
    bool TakeOwnBreakpoint(const DEBUG_EVENT& event);
    // Any other exception: true when the thread provably runs inside an
    // initialisation (the exception is then that DLL's).
    bool NoteException(const DEBUG_EVENT& event);

    // A debug string the thread printed: kept for the initialisation it runs inside, if any.
    void NoteDebugString(DWORD threadId, const std::wstring& text);

    // The path of the module whose image holds the address; empty when none does.
    std::wstring ModuleAt(DWORD64 address) const;
    // At the exit event: every initialisation seen, those still running unfinished.
    std::vector<DllInitRecord> Finish();
    // Before the debugger lets the process run on alone: every byte the watch
    // wrote gets back what it held, and no thread keeps its trap flag.
    void Disarm();
    // After Disarm, for an event that was raised before it and delivered only
    // now: true when it is the watch's own, made harmless (instruction pointer
    // back before the int3), to be continued with DBG_CONTINUE.
    bool SettleLateEvent(const DEBUG_EVENT& event);

private:
    enum class CallKind { Entry, TlsCallback };
    // One call of the loader that a breakpoint waits for.
    struct Call {
        CallKind kind;
        DWORD64 base;  // the module's
        std::wstring path;
    };
    struct Breakpoint {
        BYTE original = 0;
        bool written = false;
        std::deque<Call> calls;  // in the order the loader makes them
        int waiters = 0;         // returns pending at this address
        bool loaderLoad = false;  // the loader's LdrLoadDll, watched while an initialisation is pending

        // A call, a return or the loader's loads are still waited for here.
        bool Needed() const { return waiters > 0 || !calls.empty() || loaderLoad; }
    };
    struct Module {
        DWORD64 size;
        std::wstring path;
        // The sections mapped shared, not copy-on-write: a byte written there
        // would be written into every process that maps the file.
        std::vector<std::pair<DWORD, DWORD>> sharedRanges;  // rva, size
    };
    struct PendingCall {
        std::size_t record;
        DWORD64 callAddress;
        DWORD64 entryRsp;  // [entryRsp] holds the return address
        DWORD64 returnAddress;
        bool exceptionSeen = false;
        bool rearmed = false;  // the entry's int3 written again, for a call from this frame
        // The thread's last error and last status values when the call began.
        std::optional<std::pair<DWORD, DWORD>> lastValuesAtCall = {};
    };
    // A load asked of the loader inside an initialisation, waiting for its return.
    struct PendingLoad {
        std::size_t record;  // the initialisation it was asked in
        DWORD64 entryRsp;
        DWORD64 returnAddress;
        std::wstring name;
    };
    struct ThreadWatch {
        HANDLE handle = nullptr;
        std::vector<PendingCall> pending;  // innermost last
        DWORD64 stepAddress = 0;           // the int3 lifted for this thread's step over it
        std::vector<HeldThread> held;      // threads waiting at stepAddress, held during the step
        bool lateStep = false;             // a step that Disarm cut short may still report
        std::vector<PendingLoad> loads;    // innermost last
        std::optional<std::uintptr_t> teb;
        bool tebAsked = false;
    };

    bool OnBreakpoint(DWORD threadId, ThreadWatch& thread, DWORD64 address);
    bool OnSingleStep(ThreadWatch& thread);
    void AbandonStep(ThreadWatch& thread);
    bool TakeReturn(DWORD threadId, ThreadWatch& thread, CONTEXT& context, DWORD64 address);
    void TakeCall(DWORD threadId, ThreadWatch& thread, CONTEXT& context, DWORD64 address);
    // Records the call and waits at its return address; false when the return cannot be watched.
    bool WaitForReturn(ThreadWatch& thread, const CONTEXT& context, DWORD64 address, const Call& call);
    void StepOver(DWORD threadId, ThreadWatch& thread, CONTEXT& context, DWORD64 address);
    // LdrLoadDll entered inside an initialisation: its name kept and its return waited for.
    void TakeLoadCall(ThreadWatch& thread, const CONTEXT& context);
    bool TakeLoadReturn(DWORD threadId, ThreadWatch& thread, CONTEXT& context, DWORD64 address);
    void PassReturnSite(DWORD threadId, ThreadWatch& thread, CONTEXT& context, DWORD64 address);
    void EndLoad(ThreadWatch& thread);
    // The LdrLoadDll int3 stands exactly while some DllMain call is pending.
    void PendingInitsChanged(int change);
    std::optional<std::pair<DWORD, DWORD>> LastValues(ThreadWatch& thread);
    void NoteRefusal(ThreadWatch& thread, const PendingCall& call);
    // The innermost pending call is over: its record gets result.
    void EndPending(ThreadWatch& thread, InitResult result);
    void AddBreakpoint(DWORD64 address, Call call);
    bool Write(DWORD64 address, Breakpoint& breakpoint);
    void Lift(DWORD64 address, Breakpoint& breakpoint);
    void GiveUp(DWORD64 address, Breakpoint& breakpoint);
    // Puts the original byte back for good once nothing waits at the address.
    void Release(DWORD64 address);
    bool Writable(DWORD64 address) const;
    // The address of the watch's int3 that an exception address names.
    std::optional<DWORD64> OwnInt3At(DWORD64 address) const;
    static void SetBackTo(HANDLE thread, DWORD64 address);
    // Keeps the module's range and watches its TLS callbacks; entryRva gets
    // the entry point's when it has one. False when its header cannot be read.
    bool AddModule(DWORD64 base, const std::wstring& path, DWORD* entryRva);
    const Module* ModuleHolding(DWORD64 address, DWORD64& base) const;

    HANDLE process_ = nullptr;
    bool armed_ = false;
    bool loaderBreakpointSeen_ = false;
    DWORD64 loadDllEntry_ = 0;  // ntdll's LdrLoadDll in this process; 0 when not found
    int pendingInits_ = 0;      // entry-point (DllMain) calls waited for, on all threads
    std::map<DWORD64, Breakpoint> breakpoints_;
    std::map<DWORD64, Module> modules_;  // by base
    std::map<DWORD, ThreadWatch> threads_;
    std::vector<DllInitRecord> records_;
    // Every address that held an int3 of the watch's: an event raised there
    // may be delivered after the byte went back (another thread's event lifted
    // it, or Disarm did).
    std::set<DWORD64> everWritten_;
};
