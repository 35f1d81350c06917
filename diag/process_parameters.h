// Another process's parameters block (RTL_USER_PROCESS_PARAMETERS, x64
// layout), found through its PEB: the counted strings and the environment it
// points to, every read bounded by the process's own buffers.
#pragma once
#include <windows.h>

#include <array>
#include <cstddef>
#include <string>

// Offsets of the counted strings (Length, MaximumLength, then the buffer at +8).
inline constexpr std::size_t kParametersCurrentDirectory = 0x38;
inline constexpr std::size_t kParametersImagePath = 0x60;
inline constexpr std::size_t kParametersCommandLine = 0x70;

// The head of the block, read afresh each time: it moves while a process starts.
struct ProcessParameters {
    ULONG_PTR address = 0;
    std::array<unsigned char, 0x88> head{};
};

// A counted string of the block: where its text is and how many of its bytes
// lie within its buffer (a process may claim a Length beyond MaximumLength).
struct RemoteText {
    ULONG_PTR address = 0;
    std::size_t bytes = 0;
    std::size_t claimedBytes = 0;  // the Length field itself
};

// The PEB's field of pointer size at that offset (x64 layout); false when unreadable.
bool ReadPebPointer(HANDLE process, std::size_t pebField, ULONG_PTR& value);
// False when the process's PEB or parameters cannot be read.
bool ReadProcessParameters(HANDLE process, ProcessParameters& parameters);
RemoteText CountedString(const ProcessParameters& parameters, std::size_t stringField);
// The text of a counted string, at most maxChars characters; empty when unreadable.
std::wstring ReadCountedString(HANDLE process, const ProcessParameters& parameters, std::size_t stringField,
                               std::size_t maxChars);
// The environment block up to its double zero, at most maxChars characters
// (and no further than the size the block records, where Windows records it);
// empty when unreadable.
std::wstring ReadEnvironment(HANDLE process, const ProcessParameters& parameters, std::size_t maxChars);
