// The initialisation watch: entry breakpoints, return breakpoints in a thread's
// debug registers, and what they tell of each DLL's initialisation.
#include "watch/dll_init_watch.h"

#include <optional>

#include "base/handles.h"

namespace {

constexpr BYTE kInt3 = 0xCC;
constexpr DWORD kThreadContextAccess = THREAD_GET_CONTEXT | THREAD_SET_CONTEXT | THREAD_QUERY_INFORMATION;
constexpr DWORD kTrapFlag = 0x100;  // EFLAGS.TF: a single-step exception after the next instruction
constexpr LONG kMaxHeaderOffset = 0x10000;

struct ImageHeader {
    DWORD entryRva = 0;
    DWORD sizeOfImage = 0;
    WORD machine = 0;
};

DWORD64& SlotAddress(CONTEXT& context, int slot) {
    switch (slot) {
    case 0: return context.Dr0;
    case 1: return context.Dr1;
    case 2: return context.Dr2;
    default: return context.Dr3;
    }
}

// The Dr7 bits of a slot: its two enable bits and its type and length bits.
DWORD64 SlotMask(int slot) {
    return (3ull << (2 * slot)) | (0xFull << (16 + 4 * slot));
}

// A slot that the thread's own code has not enabled; -1 when all four are in use.
int FreeSlot(DWORD64 dr7) {
    for (int slot = 0; slot < 4; ++slot) {
        if (!(dr7 & (3ull << (2 * slot)))) return slot;
    }
    return -1;
}

// Writes one byte of code, whatever the page's protection, and gives the page its protection back.
bool WriteCodeByte(HANDLE process, DWORD64 address, BYTE value) {
    auto* at = reinterpret_cast<void*>(address);
    DWORD protection = 0;
    bool unprotected = VirtualProtectEx(process, at, 1, PAGE_EXECUTE_READWRITE, &protection);
    SIZE_T written = 0;
    bool done = WriteProcessMemory(process, at, &value, 1, &written) && written == 1;
    if (unprotected) VirtualProtectEx(process, at, 1, protection, &protection);
    FlushInstructionCache(process, at, 1);
    return done;
}

bool ReadMemory(HANDLE process, DWORD64 address, void* out, std::size_t size) {
    SIZE_T got = 0;
    return ReadProcessMemory(process, reinterpret_cast<const void*>(address), out, size, &got) && got == size;
}

std::optional<ImageHeader> ReadImageHeader(HANDLE process, DWORD64 base) {
    IMAGE_DOS_HEADER dos = {};
    if (!ReadMemory(process, base, &dos, sizeof(dos)) || dos.e_magic != IMAGE_DOS_SIGNATURE) return std::nullopt;
    if (dos.e_lfanew <= 0 || dos.e_lfanew > kMaxHeaderOffset) return std::nullopt;
    // Entry point and image size stand at the same offsets in both optional header forms.
    IMAGE_NT_HEADERS64 nt = {};
    if (!ReadMemory(process, base + dos.e_lfanew, &nt, sizeof(nt)) || nt.Signature != IMAGE_NT_SIGNATURE)
        return std::nullopt;
    return ImageHeader{nt.OptionalHeader.AddressOfEntryPoint, nt.OptionalHeader.SizeOfImage, nt.FileHeader.Machine};
}

bool IsWow64(HANDLE process) {
    BOOL wow64 = FALSE;
    return IsWow64Process(process, &wow64) && wow64;
}

bool GetContext(HANDLE thread, CONTEXT& context) {
    context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER | CONTEXT_DEBUG_REGISTERS;
    return GetThreadContext(thread, &context);
}

bool SetContext(HANDLE thread, CONTEXT& context) {
    context.ContextFlags = CONTEXT_CONTROL | CONTEXT_DEBUG_REGISTERS;
    return SetThreadContext(thread, &context);
}

}  // namespace

DllInitWatch::DllInitWatch(HANDLE process, bool armed) : process_(process), armed_(armed && !IsWow64(process)) {}

void DllInitWatch::ImageMapped(const void* base, const std::wstring& path) {
    auto at = reinterpret_cast<DWORD64>(base);
    if (std::optional<ImageHeader> header = ReadImageHeader(process_, at))
        modules_[at] = Module{header->sizeOfImage, path};
}

void DllInitWatch::DllLoaded(const void* base, const std::wstring& path) {
    auto at = reinterpret_cast<DWORD64>(base);
    std::optional<ImageHeader> header = ReadImageHeader(process_, at);
    if (!header) return;
    modules_[at] = Module{header->sizeOfImage, path};
    // No entry point (resource-only DLLs), or code this watch does not speak: nothing to arm.
    if (!armed_ || header->entryRva == 0 || header->entryRva >= header->sizeOfImage ||
        header->machine != IMAGE_FILE_MACHINE_AMD64)
        return;
    DWORD64 entry = at + header->entryRva;
    BYTE original = 0;
    if (!ReadMemory(process_, entry, &original, 1) || !WriteCodeByte(process_, entry, kInt3)) return;
    entries_[entry] = EntryBreakpoint{at, original, path};
}

void DllInitWatch::DllUnloaded(const void* base) {
    auto at = reinterpret_cast<DWORD64>(base);
    modules_.erase(at);
    // A DLL unloaded before its entry was called (a load that failed on a dependency).
    for (auto it = entries_.begin(); it != entries_.end();) it = it->second.base == at ? entries_.erase(it) : ++it;
}

bool DllInitWatch::TakeOwnBreakpoint(const DEBUG_EVENT& event) {
    const EXCEPTION_RECORD& exception = event.u.Exception.ExceptionRecord;
    auto address = reinterpret_cast<DWORD64>(exception.ExceptionAddress);
    if (exception.ExceptionCode == EXCEPTION_BREAKPOINT) return OnEntryHit(event.dwThreadId, address);
    if (exception.ExceptionCode == EXCEPTION_SINGLE_STEP) return OnReturnHit(event.dwThreadId, address);
    return false;
}

bool DllInitWatch::OnEntryHit(DWORD threadId, DWORD64 address) {
    // The exception address is the int3 itself; one system may report the byte after it.
    auto found = entries_.find(address);
    if (found == entries_.end()) found = entries_.find(address - 1);
    if (found == entries_.end()) return false;
    DWORD64 entry = found->first;
    EntryBreakpoint breakpoint = std::move(found->second);
    entries_.erase(found);
    WriteCodeByte(process_, entry, breakpoint.original);
    records_.emplace_back().path = breakpoint.path;  // the result stays unknown until the return

    UniqueHandle thread(OpenThread(kThreadContextAccess, FALSE, threadId));
    alignas(16) CONTEXT context = {};
    if (!thread || !GetContext(thread.get(), context)) return true;  // the result stays unknown
    if (context.Rip == entry + 1) context.Rip = entry;

    // Kept only once the thread's registers have taken the change.
    auto known = threads_.find(threadId);
    ThreadWatch watch = known == threads_.end() ? ThreadWatch{} : known->second;
    DWORD64 returnAddress = 0;
    bool attach = context.Rdx == DLL_PROCESS_ATTACH &&
                  ReadMemory(process_, context.Rsp, &returnAddress, sizeof(returnAddress));
    // A nested initialisation returns to the same call site: it shares the breakpoint set already.
    int slot = !attach ? -1 : watch.slot >= 0 ? (watch.returnAddress == returnAddress ? watch.slot : -1)
                                               : FreeSlot(context.Dr7);
    if (slot >= 0 && watch.slot < 0) {
        watch.slot = slot;
        watch.returnAddress = returnAddress;
        watch.savedAddress = SlotAddress(context, slot);
        watch.savedDr7Bits = context.Dr7 & SlotMask(slot);
        watch.savedDr6 = context.Dr6;
        SlotAddress(context, slot) = returnAddress;
        context.Dr7 = (context.Dr7 & ~SlotMask(slot)) | (1ull << (2 * slot));  // local enable, execute, one byte
    }
    if (slot >= 0) watch.pending.push_back({records_.size() - 1, context.Rsp});
    if (!SetContext(thread.get(), context)) {
        // Without the debug registers, at least the instruction pointer goes back.
        context.ContextFlags = CONTEXT_CONTROL;
        SetThreadContext(thread.get(), &context);
        return true;
    }
    if (watch.slot >= 0)
        threads_[threadId] = std::move(watch);
    else
        threads_.erase(threadId);
    return true;
}

bool DllInitWatch::OnReturnHit(DWORD threadId, DWORD64 address) {
    auto found = threads_.find(threadId);
    if (found == threads_.end() || found->second.slot < 0) return false;
    ThreadWatch& watch = found->second;
    if (!watch.stepping && watch.returnAddress != address) return false;
    UniqueHandle thread(OpenThread(kThreadContextAccess, FALSE, threadId));
    alignas(16) CONTEXT context = {};
    if (!thread || !GetContext(thread.get(), context)) return true;
    if (watch.stepping) {
        // Past the call site: the breakpoint waits there again for the outer returns.
        watch.stepping = false;
        context.EFlags &= ~kTrapFlag;
        context.Dr7 |= 1ull << (2 * watch.slot);
        context.Dr6 = watch.savedDr6;
        SetContext(thread.get(), context);
        return true;
    }

    // The call site is also reached by returns this watch did not arm: the
    // stack tells whose return it is.
    bool returned = !watch.pending.empty() && context.Rsp == watch.pending.back().entryRsp + sizeof(DWORD64);
    if (returned) {
        records_[watch.pending.back().record].result =
            static_cast<DWORD>(context.Rax) ? InitResult::Succeeded : InitResult::Failed;
        watch.pending.pop_back();
    }
    if (watch.pending.empty()) {
        RestoreSlot(watch, context);
    } else {
        // Outer initialisations still wait for this call site: its instruction
        // runs once with the breakpoint off, and the single step after it puts
        // the breakpoint back.
        context.Dr7 &= ~(3ull << (2 * watch.slot));
        context.EFlags |= kTrapFlag;
        watch.stepping = true;
    }
    if (SetContext(thread.get(), context) && watch.pending.empty()) threads_.erase(found);
    return true;
}

// The slot gets back what the debuggee had in it; the other slots are left as
// they are now, which keeps whatever the debuggee set meanwhile.
void DllInitWatch::RestoreSlot(const ThreadWatch& watch, CONTEXT& context) {
    SlotAddress(context, watch.slot) = watch.savedAddress;
    context.Dr7 = (context.Dr7 & ~SlotMask(watch.slot)) | watch.savedDr7Bits;
    context.Dr6 = watch.savedDr6;
}

void DllInitWatch::GiveUp(DWORD threadId, const ThreadWatch& watch) {
    UniqueHandle thread(OpenThread(kThreadContextAccess, FALSE, threadId));
    alignas(16) CONTEXT context = {};
    if (!thread || !GetContext(thread.get(), context)) return;
    RestoreSlot(watch, context);
    context.EFlags &= ~kTrapFlag;
    SetContext(thread.get(), context);
}

void DllInitWatch::Disarm() {
    for (const auto& [entry, breakpoint] : entries_) WriteCodeByte(process_, entry, breakpoint.original);
    entries_.clear();
    // The process runs: its threads stop for the change of their registers.
    for (const auto& [threadId, watch] : threads_) {
        UniqueHandle thread(OpenThread(kThreadContextAccess | THREAD_SUSPEND_RESUME, FALSE, threadId));
        if (!thread || watch.slot < 0 || SuspendThread(thread.get()) == static_cast<DWORD>(-1)) continue;
        alignas(16) CONTEXT context = {};
        if (GetContext(thread.get(), context)) {
            RestoreSlot(watch, context);
            SetContext(thread.get(), context);
        }
        ResumeThread(thread.get());
    }
    threads_.clear();
}

bool DllInitWatch::NoteException(const DEBUG_EVENT& event) {
    auto found = threads_.find(event.dwThreadId);
    if (found == threads_.end() || found->second.pending.empty()) return false;
    // The step over the call site did not come: the breakpoint is off, so the
    // waiting results can no longer be told.
    if (found->second.stepping) {
        GiveUp(event.dwThreadId, found->second);
        threads_.erase(found);
        return false;
    }
    const EXCEPTION_RECORD& exception = event.u.Exception.ExceptionRecord;
    DllInitRecord& record = records_[found->second.pending.back().record];
    if (!record.exceptionCode) record.exceptionCode = exception.ExceptionCode;
    if (!event.u.Exception.dwFirstChance && *record.exceptionCode == exception.ExceptionCode)
        record.exceptionUnhandled = true;
    return true;
}

std::wstring DllInitWatch::ModuleAt(DWORD64 address) const {
    auto above = modules_.upper_bound(address);
    if (above == modules_.begin()) return {};
    --above;
    return address - above->first < above->second.size ? above->second.path : std::wstring();
}

std::vector<DllInitRecord> DllInitWatch::Finish() {
    for (const auto& [threadId, watch] : threads_) {
        if (watch.stepping) continue;  // no breakpoint was waiting: the results stay unknown
        for (const PendingReturn& pending : watch.pending) records_[pending.record].result = InitResult::Unfinished;
    }
    threads_.clear();
    return std::move(records_);
}
