// Small PE images made byte by byte for the reader's and the import check's
// tests: one section holding every table, laid out in a known place, so that a
// test can break any field it wants.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "modules/pe_image.h"

struct CraftedExport {
    std::string name;       // empty: exported by ordinal only
    std::string forwarder;  // "dll.func" or "dll.#n"
};

struct CraftedImage {
    std::uint16_t machine = 0x8664;
    bool pe32Plus = true;
    std::vector<PeImportedDll> imports;  // delayLoad ones go to the delay-load table
    std::uint32_t ordinalBase = 1;       // export i has ordinal base + i
    std::vector<CraftedExport> exports;
    std::uint32_t comFlags = 0;  // non-zero: a .NET header with these flags
};

// Where the pieces lie in the file.
inline constexpr std::uint32_t kCraftedSectionRva = 0x1000;
inline constexpr std::uint32_t kCraftedSectionOffset = 0x200;
// The data directory entry `index` (RVA, then size) of a crafted image.
std::size_t CraftedDirectoryOffset(bool pe32Plus, std::uint32_t index);

std::string BuildImage(const CraftedImage& crafted);
// Writes a 32-bit value at a file offset of an image.
void Patch32(std::string& bytes, std::size_t offset, std::uint32_t value);
std::uint32_t Read32(const std::string& bytes, std::size_t offset);
