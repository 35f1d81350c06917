// The debuggee as the debugger sees it: reads of its memory, each with one
// stated meaning, one byte of its code written and put back, and the context
// of one of its threads, read on entry and written on commit.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// Whole or nothing: true only when every byte was read.
bool ReadWhole(HANDLE process, std::uintptr_t address, void* out, std::size_t size);

template <class T>
bool ReadValue(HANDLE process, std::uintptr_t address, T& value) {
    return ReadWhole(process, address, &value, sizeof(T));
}

// Up to the first byte that cannot be read: what can be read of size bytes,
// page by page, from address on.
std::string ReadUpToUnreadable(HANDLE process, std::uintptr_t address, std::size_t size);

// The address of the thread's environment block (TEB); none when the system
// does not tell it for this handle.
std::optional<std::uintptr_t> ThreadEnvironmentBlock(HANDLE thread);

// One byte of code, whatever the page's protection, which it gets back; the
// processor then sees the new byte.
bool WriteCodeByte(HANDLE process, std::uintptr_t address, BYTE value);

// The context of one stopped thread of the debuggee: read when the scope is
// made, written only by Commit. With suspend, the thread is held still from
// before the read until the scope ends (for a thread the debugger has not
// stopped).
class ThreadContextScope {
public:
    ThreadContextScope(HANDLE thread, DWORD flags, bool suspend = false);
    ~ThreadContextScope();
    ThreadContextScope(const ThreadContextScope&) = delete;
    ThreadContextScope& operator=(const ThreadContextScope&) = delete;

    bool Read() const { return read_; }
    CONTEXT& Context() { return context_; }
    bool Commit();

private:
    HANDLE thread_;
    bool suspended_ = false;
    bool read_ = false;
    alignas(16) CONTEXT context_ = {};
};

// A thread held still beyond one debug event (SuspendThread and ResumeThread paired).
class HeldThread {
public:
    explicit HeldThread(HANDLE thread);
    ~HeldThread();
    HeldThread(HeldThread&& other) noexcept;
    HeldThread(const HeldThread&) = delete;
    HeldThread& operator=(const HeldThread&) = delete;
    HeldThread& operator=(HeldThread&&) = delete;

private:
    HANDLE thread_;
};
