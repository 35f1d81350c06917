// Memory after which nothing is readable: the end of a committed allocation
// placed at the start of a free part of the address space. (A PAGE_NOACCESS
// page would not do: under Wine another process still reads it.)
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstring>

inline constexpr std::uintptr_t kAllocationGranularity = 0x10000;

// The first byte after a committed 64 KB block whose next 64 KB are free; NULL when none is found.
inline unsigned char* EndOfReadableMemory() {
    MEMORY_BASIC_INFORMATION info = {};
    for (std::uintptr_t at = 0x10000000; VirtualQuery(reinterpret_cast<void*>(at), &info, sizeof(info));
         at = reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize) {
        if (info.State != MEM_FREE || info.RegionSize < 4 * kAllocationGranularity) continue;
        std::uintptr_t base = (reinterpret_cast<std::uintptr_t>(info.BaseAddress) + kAllocationGranularity - 1) &
                              ~(kAllocationGranularity - 1);
        void* block = VirtualAlloc(reinterpret_cast<void*>(base), kAllocationGranularity, MEM_RESERVE | MEM_COMMIT,
                                   PAGE_READWRITE);
        if (block) return static_cast<unsigned char*>(block) + kAllocationGranularity;
    }
    return nullptr;
}

// A copy of bytes that ends where readable memory ends.
inline void* CopyBeforeUnreadable(const void* bytes, std::size_t size) {
    unsigned char* end = EndOfReadableMemory();
    if (!end) return nullptr;
    std::memcpy(end - size, bytes, size);
    return end - size;
}
