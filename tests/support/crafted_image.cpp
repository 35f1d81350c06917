// Lays out a crafted image: headers in the first 0x200 bytes, then one section
// at RVA 0x1000 with the import descriptors, the delay-load descriptors, the
// export directory and everything they point to, then the .NET header, in that order.
#include "tests/support/crafted_image.h"

#include <cstring>

namespace {

constexpr std::size_t kLfanew = 0x40;
constexpr std::size_t kOptionalHeader = kLfanew + 4 + 20;

// The section's bytes, addressed by RVA.
class SectionBytes {
public:
    std::uint32_t Reserve(std::size_t bytes) {
        const std::uint32_t rva = kCraftedSectionRva + static_cast<std::uint32_t>(bytes_.size());
        bytes_.resize(bytes_.size() + bytes, '\0');
        return rva;
    }
    std::uint32_t AddText(const std::string& text) {
        const std::uint32_t rva = Reserve(text.size() + 1);
        std::memcpy(&bytes_[rva - kCraftedSectionRva], text.data(), text.size());
        return rva;
    }
    void Put(std::uint32_t rva, const void* value, std::size_t size) {
        std::memcpy(&bytes_[rva - kCraftedSectionRva], value, size);
    }
    void Put32(std::uint32_t rva, std::uint32_t value) { Put(rva, &value, 4); }
    void Put16(std::uint32_t rva, std::uint16_t value) { Put(rva, &value, 2); }
    const std::string& Bytes() const { return bytes_; }

private:
    std::string bytes_;
};

// One DLL's name table: entries, then a zero entry; names as hint and text.
std::uint32_t AddNameTable(SectionBytes& section, const PeImportedDll& dll, bool pe32Plus) {
    const std::size_t entryBytes = pe32Plus ? 8 : 4;
    const std::uint32_t table = section.Reserve((dll.functions.size() + 1) * entryBytes);
    for (std::size_t index = 0; index < dll.functions.size(); ++index) {
        const PeImportedFunction& function = dll.functions[index];
        std::uint64_t entry = 0;
        if (function.byOrdinal) {
            entry = (pe32Plus ? 0x8000000000000000ull : 0x80000000ull) | function.ordinal;
        } else {
            entry = section.AddText(std::string(2, '\0') + function.name);
        }
        section.Put(static_cast<std::uint32_t>(table + index * entryBytes), &entry, entryBytes);
    }
    return table;
}

void AddImports(SectionBytes& section, const CraftedImage& crafted, std::uint32_t directories[16][2]) {
    std::vector<const PeImportedDll*> plain;
    std::vector<const PeImportedDll*> delayed;
    for (const PeImportedDll& dll : crafted.imports) (dll.delayLoad ? delayed : plain).push_back(&dll);
    if (!plain.empty()) {
        const std::uint32_t descriptors = section.Reserve((plain.size() + 1) * 20);
        directories[1][0] = descriptors;
        directories[1][1] = static_cast<std::uint32_t>((plain.size() + 1) * 20);
        for (std::size_t index = 0; index < plain.size(); ++index) {
            const std::uint32_t at = static_cast<std::uint32_t>(descriptors + index * 20);
            section.Put32(at, AddNameTable(section, *plain[index], crafted.pe32Plus));
            section.Put32(at + 12, section.AddText(plain[index]->name));
            section.Put32(at + 16, AddNameTable(section, *plain[index], crafted.pe32Plus));
        }
    }
    if (!delayed.empty()) {
        const std::uint32_t descriptors = section.Reserve((delayed.size() + 1) * 32);
        directories[13][0] = descriptors;
        directories[13][1] = static_cast<std::uint32_t>((delayed.size() + 1) * 32);
        for (std::size_t index = 0; index < delayed.size(); ++index) {
            const std::uint32_t at = static_cast<std::uint32_t>(descriptors + index * 32);
            section.Put32(at, 1);  // RVA-based
            section.Put32(at + 4, section.AddText(delayed[index]->name));
            section.Put32(at + 16, AddNameTable(section, *delayed[index], crafted.pe32Plus));
        }
    }
}

void AddExports(SectionBytes& section, const CraftedImage& crafted, std::uint32_t directories[16][2]) {
    if (crafted.exports.empty()) return;
    const std::uint32_t directory = section.Reserve(40);
    const std::uint32_t count = static_cast<std::uint32_t>(crafted.exports.size());
    const std::uint32_t functions = section.Reserve(count * 4);
    std::vector<std::uint32_t> forwarders(count, 0);
    for (std::uint32_t index = 0; index < count; ++index) {
        if (!crafted.exports[index].forwarder.empty()) forwarders[index] = section.AddText(crafted.exports[index].forwarder);
    }
    // Forwarder texts lie inside the export directory's extent; code lies past it.
    const std::uint32_t directoryEnd = section.Reserve(0);
    std::uint32_t named = 0;
    for (const CraftedExport& entry : crafted.exports) named += entry.name.empty() ? 0 : 1;
    const std::uint32_t names = section.Reserve(named * 4);
    const std::uint32_t nameOrdinals = section.Reserve(named * 2);
    const std::uint32_t code = section.Reserve(16);
    std::uint32_t nameIndex = 0;
    for (std::uint32_t index = 0; index < count; ++index) {
        section.Put32(functions + index * 4, forwarders[index] ? forwarders[index] : code);
        if (crafted.exports[index].name.empty()) continue;
        section.Put32(names + nameIndex * 4, section.AddText(crafted.exports[index].name));
        section.Put16(nameOrdinals + nameIndex * 2, static_cast<std::uint16_t>(index));
        ++nameIndex;
    }
    section.Put32(directory + 16, crafted.ordinalBase);
    section.Put32(directory + 20, count);
    section.Put32(directory + 24, named);
    section.Put32(directory + 28, functions);
    section.Put32(directory + 32, names);
    section.Put32(directory + 36, nameOrdinals);
    directories[0][0] = directory;
    directories[0][1] = directoryEnd - directory;
}

void AddComDescriptor(SectionBytes& section, const CraftedImage& crafted, std::uint32_t directories[16][2]) {
    if (crafted.comFlags == 0) return;
    const std::uint32_t header = section.Reserve(72);
    section.Put32(header, 72);
    section.Put32(header + 16, crafted.comFlags);
    directories[14][0] = header;
    directories[14][1] = 72;
}

}  // namespace

std::size_t CraftedDirectoryOffset(bool pe32Plus, std::uint32_t index) {
    return kOptionalHeader + (pe32Plus ? 112 : 96) + index * 8;
}

void Patch32(std::string& bytes, std::size_t offset, std::uint32_t value) {
    std::memcpy(&bytes[offset], &value, 4);
}

std::uint32_t Read32(const std::string& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    std::memcpy(&value, &bytes[offset], 4);
    return value;
}

std::string BuildImage(const CraftedImage& crafted) {
    SectionBytes section;
    std::uint32_t directories[16][2] = {};
    AddImports(section, crafted, directories);
    AddExports(section, crafted, directories);
    AddComDescriptor(section, crafted, directories);
    section.Reserve((0x200 - section.Bytes().size() % 0x200) % 0x200);

    const std::size_t optionalBytes = crafted.pe32Plus ? 240 : 224;
    std::string bytes(kCraftedSectionOffset, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    Patch32(bytes, 0x3C, kLfanew);
    Patch32(bytes, kLfanew, 0x00004550);
    std::memcpy(&bytes[kLfanew + 4], &crafted.machine, 2);
    bytes[kLfanew + 6] = 1;  // one section
    bytes[kLfanew + 20] = static_cast<char>(optionalBytes);
    const std::uint16_t magic = crafted.pe32Plus ? 0x20B : 0x10B;
    std::memcpy(&bytes[kOptionalHeader], &magic, 2);
    Patch32(bytes, kOptionalHeader + (crafted.pe32Plus ? 24 : 28), 0x10000000);  // ImageBase
    Patch32(bytes, kOptionalHeader + 60, kCraftedSectionOffset);               // SizeOfHeaders
    Patch32(bytes, CraftedDirectoryOffset(crafted.pe32Plus, 0) - 4, 16);       // NumberOfRvaAndSizes
    for (std::uint32_t index = 0; index < 16; ++index) {
        Patch32(bytes, CraftedDirectoryOffset(crafted.pe32Plus, index), directories[index][0]);
        Patch32(bytes, CraftedDirectoryOffset(crafted.pe32Plus, index) + 4, directories[index][1]);
    }
    const std::size_t sectionHeader = kOptionalHeader + optionalBytes;
    std::memcpy(&bytes[sectionHeader], ".rdata\0\0", 8);
    const std::uint32_t size = static_cast<std::uint32_t>(section.Bytes().size());
    Patch32(bytes, sectionHeader + 8, size);
    Patch32(bytes, sectionHeader + 12, kCraftedSectionRva);
    Patch32(bytes, sectionHeader + 16, size);
    Patch32(bytes, sectionHeader + 20, kCraftedSectionOffset);
    return bytes + section.Bytes();
}
