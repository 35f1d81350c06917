// Reads and writes of the debuggee's memory and its threads' contexts.
#include "watch/debuggee.h"

#include <algorithm>

#include "base/system_library.h"

namespace {

constexpr std::uintptr_t kPageSize = 4096;
constexpr DWORD kSuspendFailed = static_cast<DWORD>(-1);

// The protection of one page changed for as long as the guard lives.
class ProtectionGuard {
public:
    ProtectionGuard(HANDLE process, void* at, DWORD protection) : process_(process), at_(at) {
        changed_ = VirtualProtectEx(process_, at_, 1, protection, &previous_) != FALSE;
    }
    ~ProtectionGuard() {
        if (changed_) VirtualProtectEx(process_, at_, 1, previous_, &previous_);
    }
    ProtectionGuard(const ProtectionGuard&) = delete;
    ProtectionGuard& operator=(const ProtectionGuard&) = delete;

private:
    HANDLE process_;
    void* at_;
    DWORD previous_ = 0;
    bool changed_ = false;
};

// THREAD_BASIC_INFORMATION as NtQueryInformationThread fills it.
struct ThreadBasicInformation {
    LONG exitStatus;
    void* tebBaseAddress;
    void* clientId[2];
    ULONG_PTR affinityMask;
    LONG priority;
    LONG basePriority;
};
constexpr ULONG kThreadBasicInformation = 0;
using NtQueryInformationThreadFn = LONG NTAPI(HANDLE, ULONG, void*, ULONG, ULONG*);

NtQueryInformationThreadFn* FindNtQueryInformationThread() {
    static NtQueryInformationThreadFn* const query =
        NtdllProc<NtQueryInformationThreadFn>("NtQueryInformationThread");
    return query;
}

}  // namespace

std::optional<std::uintptr_t> ThreadEnvironmentBlock(HANDLE thread) {
    NtQueryInformationThreadFn* query = FindNtQueryInformationThread();
    ThreadBasicInformation information = {};
    if (!query || !thread ||
        query(thread, kThreadBasicInformation, &information, sizeof(information), nullptr) < 0 ||
        !information.tebBaseAddress)
        return std::nullopt;
    return reinterpret_cast<std::uintptr_t>(information.tebBaseAddress);
}

bool ReadWhole(HANDLE process, std::uintptr_t address, void* out, std::size_t size) {
    SIZE_T got = 0;
    return ReadProcessMemory(process, reinterpret_cast<const void*>(address), out, size, &got) && got == size;
}

std::string ReadUpToUnreadable(HANDLE process, std::uintptr_t address, std::size_t size) {
    std::string bytes(size, '\0');
    std::size_t done = 0;
    while (process && done < size) {
        std::size_t chunk = std::min<std::size_t>(size - done, kPageSize - (address + done) % kPageSize);
        if (!ReadWhole(process, address + done, bytes.data() + done, chunk)) break;
        done += chunk;
    }
    bytes.resize(done);
    return bytes;
}

bool WriteCodeByte(HANDLE process, std::uintptr_t address, BYTE value) {
    auto* at = reinterpret_cast<void*>(address);
    SIZE_T done = 0;
    // WriteProcessMemory makes a copy-on-write image page writable by itself
    // on both systems; only where it refuses is the protection changed here,
    // which costs two more calls into the other process.
    bool written = WriteProcessMemory(process, at, &value, 1, &done) && done == 1;
    if (!written) {
        ProtectionGuard writable(process, at, PAGE_EXECUTE_READWRITE);
        written = WriteProcessMemory(process, at, &value, 1, &done) && done == 1;
    }
    FlushInstructionCache(process, at, 1);
    return written;
}

ThreadContextScope::ThreadContextScope(HANDLE thread, DWORD flags, bool suspend) : thread_(thread) {
    if (!thread_) return;
    if (suspend) {
        suspended_ = SuspendThread(thread_) != kSuspendFailed;
        if (!suspended_) return;
    }
    context_.ContextFlags = flags;
    read_ = GetThreadContext(thread_, &context_) != FALSE;
}

ThreadContextScope::~ThreadContextScope() {
    if (suspended_) ResumeThread(thread_);
}

bool ThreadContextScope::Commit() {
    return read_ && SetThreadContext(thread_, &context_) != FALSE;
}

HeldThread::HeldThread(HANDLE thread) : thread_(thread) {
    if (thread_ && SuspendThread(thread_) == kSuspendFailed) thread_ = nullptr;
}

HeldThread::~HeldThread() {
    if (thread_) ResumeThread(thread_);
}

HeldThread::HeldThread(HeldThread&& other) noexcept : thread_(other.thread_) {
    other.thread_ = nullptr;
}
