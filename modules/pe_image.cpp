// The PE reader: every structure is copied out of the file only after its
// whole extent was checked against the buffer, in 64-bit arithmetic so that no
// offset or count wraps; counts the file gives are bounded by what it can hold.
#include "modules/pe_image.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

constexpr std::uint16_t kDosMagic = 0x5A4D;  // "MZ"
constexpr std::uint32_t kNtSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint64_t kLfanewOffset = 0x3C;
constexpr std::uint64_t kFileHeaderBytes = 20;
constexpr std::uint64_t kSectionHeaderBytes = 40;
constexpr std::uint32_t kMostSections = 96;  // the loader refuses more
constexpr std::uint32_t kDataDirectories = 16;

enum DataDirectory : std::uint32_t {
    kExportDirectory = 0,
    kImportDirectory = 1,
    kResourceDirectory = 2,
    kDelayImportDirectory = 13,
    kComDescriptorDirectory = 14,
};

// The .NET header's flags: IL only; 32 bits required (unless also only preferred).
constexpr std::uint32_t kComIlOnly = 0x1;
constexpr std::uint32_t kCom32BitRequired = 0x2;
constexpr std::uint32_t kCom32BitPreferred = 0x20000;
constexpr std::uint32_t kComFlagsOffset = 16;

// No real table comes near these; they stop crafted files from making the walk
// quadratic (many descriptors sharing one long name table).
constexpr std::size_t kMostNameBytes = 4096;
constexpr std::size_t kMostImportedDlls = 4096;
constexpr std::size_t kMostImportedFunctions = 1 << 20;
constexpr std::uint32_t kMostExports = 0x10000;  // ordinals are 16 bits
constexpr std::size_t kMostResourceEntries = 4096;
constexpr std::size_t kMostManifests = 16;
constexpr std::size_t kMostManifestBytes = 1 << 20;
constexpr std::uint32_t kRtManifest = 24;
constexpr std::uint32_t kResourceSubdirectory = 0x80000000;

// Where an address of the loaded image lies in the file: the bytes the file
// holds from there, and how far the mapped region goes on. Past the section's
// raw data the mapping holds zeros; past the end of a cut file nothing is known.
struct Region {
    std::uint64_t fileOffset = 0;
    std::uint64_t fileBytes = 0;
    std::uint64_t mappedBytes = 0;
    bool zerosFollow = false;
};

// A table of fixed-size entries at an address: those the file holds, and those
// mapped (the ones past the file's part read as zeros).
struct Table {
    std::uint64_t fileOffset = 0;
    std::uint64_t inFile = 0;
    std::uint64_t mapped = 0;
};

Region RegionOf(std::uint64_t fileOffset, std::uint64_t into, std::uint64_t rawSize, std::uint64_t mapped,
                std::size_t fileSize) {
    Region region;
    region.fileOffset = fileOffset;
    region.mappedBytes = mapped - into;
    if (into < rawSize && fileOffset < fileSize) region.fileBytes = std::min(rawSize - into, fileSize - fileOffset);
    region.zerosFollow = into + region.fileBytes >= rawSize;
    return region;
}

std::optional<Region> LocateRva(const PeImage& image, std::uint32_t rva, std::size_t fileSize) {
    if (rva < image.headersSize) return RegionOf(rva, 0, image.headersSize, image.headersSize, fileSize);
    for (const PeSection& section : image.sections) {
        const std::uint64_t mapped = section.virtualSize ? section.virtualSize : section.rawSize;
        if (rva < section.virtualAddress || rva - section.virtualAddress >= mapped) continue;
        const std::uint64_t into = rva - section.virtualAddress;
        return RegionOf(section.rawOffset + into, into, std::min<std::uint64_t>(section.rawSize, mapped), mapped,
                        fileSize);
    }
    return std::nullopt;
}

class ImageReader {
public:
    // Names may be shared by many entries; what all of them copy together is
    // bounded by a multiple of the file's size.
    explicit ImageReader(std::string_view bytes) : bytes_(bytes), nameBudget_(2 * bytes.size() + kMostNameBytes) {}

    template <class T>
    bool ReadAtOffset(std::uint64_t offset, T& value) const {
        if (offset > bytes_.size() || sizeof(T) > bytes_.size() - offset) return false;
        std::memcpy(&value, bytes_.data() + offset, sizeof(T));
        return true;
    }

    void SetLayout(const PeImage& image) { image_ = &image; }

    std::optional<Region> Locate(std::uint32_t rva) const { return LocateRva(*image_, rva, bytes_.size()); }

    // A fixed-size structure at an address; what lies past the raw data reads as zero.
    template <class T>
    bool Read(std::uint32_t rva, T& value) const {
        std::optional<Region> region = Locate(rva);
        if (!region || region->mappedBytes < sizeof(T)) return false;
        if (region->fileBytes < sizeof(T) && !region->zerosFollow) return false;
        unsigned char raw[sizeof(T)] = {};
        const std::size_t fromFile = static_cast<std::size_t>(std::min<std::uint64_t>(region->fileBytes, sizeof(T)));
        if (fromFile) std::memcpy(raw, bytes_.data() + region->fileOffset, fromFile);
        std::memcpy(&value, raw, sizeof(T));
        return true;
    }

    Table TableAt(std::uint32_t rva, std::uint64_t entryBytes) const {
        Table table;
        if (std::optional<Region> region = Locate(rva)) {
            table.fileOffset = region->fileOffset;
            table.inFile = region->fileBytes / entryBytes;
            table.mapped = region->zerosFollow ? region->mappedBytes / entryBytes : table.inFile;
        }
        return table;
    }

    // Entry `index` of a table, which the caller keeps below table.inFile.
    template <class T>
    T Entry(const Table& table, std::uint64_t index) const {
        T value{};
        ReadAtOffset(table.fileOffset + index * sizeof(T), value);
        return value;
    }

    // Takes bytes of the names' budget; false when it is spent.
    bool Spend(std::size_t bytes) {
        if (bytes > nameBudget_) return false;
        nameBudget_ -= bytes;
        return true;
    }

    // A zero-terminated name at an address, or nothing when it runs off the
    // image or the names' budget is spent.
    std::optional<std::string> Name(std::uint32_t rva) {
        std::optional<Region> region = Locate(rva);
        if (!region) return std::nullopt;
        const std::size_t available = static_cast<std::size_t>(std::min<std::uint64_t>(region->fileBytes, kMostNameBytes));
        std::string_view text(bytes_.data() + region->fileOffset, available);
        std::size_t end = text.find('\0');
        // Past the raw data the mapped section holds zeros: the name ends there.
        if (end == std::string_view::npos && available == region->fileBytes && region->zerosFollow &&
            region->mappedBytes > region->fileBytes) {
            end = available;
        }
        if (end == std::string_view::npos || !Spend(end + 1)) return std::nullopt;
        return std::string(text.substr(0, end));
    }

    // Bytes of a resource: only what the file holds, all of it or nothing.
    std::optional<std::string> Block(std::uint32_t rva, std::uint32_t size) const {
        std::optional<Region> region = Locate(rva);
        if (!region || region->fileBytes < size) return std::nullopt;
        return std::string(bytes_.data() + region->fileOffset, size);
    }

private:
    std::string_view bytes_;
    std::size_t nameBudget_;
    const PeImage* image_ = nullptr;
};

struct DirectoryEntry {
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
};

struct ImportDescriptor {
    std::uint32_t originalFirstThunk;
    std::uint32_t timeDateStamp;
    std::uint32_t forwarderChain;
    std::uint32_t name;
    std::uint32_t firstThunk;
};

struct DelayDescriptor {
    std::uint32_t attributes;
    std::uint32_t dllName;
    std::uint32_t moduleHandle;
    std::uint32_t importAddressTable;
    std::uint32_t importNameTable;
    std::uint32_t boundImportAddressTable;
    std::uint32_t unloadInformationTable;
    std::uint32_t timeDateStamp;
};

struct ExportDirectory {
    std::uint32_t characteristics;
    std::uint32_t timeDateStamp;
    std::uint16_t majorVersion;
    std::uint16_t minorVersion;
    std::uint32_t name;
    std::uint32_t base;
    std::uint32_t numberOfFunctions;
    std::uint32_t numberOfNames;
    std::uint32_t addressOfFunctions;
    std::uint32_t addressOfNames;
    std::uint32_t addressOfNameOrdinals;
};

struct ResourceDirectory {
    std::uint32_t characteristics;
    std::uint32_t timeDateStamp;
    std::uint16_t majorVersion;
    std::uint16_t minorVersion;
    std::uint16_t namedEntries;
    std::uint16_t idEntries;
};

struct ResourceEntry {
    std::uint32_t nameOrId;
    std::uint32_t offsetToData;
};

struct ResourceData {
    std::uint32_t rva;
    std::uint32_t size;
    std::uint32_t codePage;
    std::uint32_t reserved;
};

// The parts of the headers the walk needs besides what PeImage keeps.
struct Layout {
    std::uint64_t imageBase = 0;
    DirectoryEntry directories[kDataDirectories] = {};
};

bool ReadHeaders(const ImageReader& reader, PeImage& image, Layout& layout) {
    std::uint16_t dosMagic = 0;
    std::uint32_t lfanew = 0;
    std::uint32_t signature = 0;
    if (!reader.ReadAtOffset(0, dosMagic) || dosMagic != kDosMagic || !reader.ReadAtOffset(kLfanewOffset, lfanew) ||
        !reader.ReadAtOffset(lfanew, signature) || signature != kNtSignature) {
        return false;
    }
    const std::uint64_t fileHeader = std::uint64_t{lfanew} + 4;
    std::uint16_t sectionCount = 0;
    std::uint16_t optionalBytes = 0;
    std::uint16_t magic = 0;
    const std::uint64_t optional = fileHeader + kFileHeaderBytes;
    if (!reader.ReadAtOffset(fileHeader, image.machine) || !reader.ReadAtOffset(fileHeader + 2, sectionCount) ||
        !reader.ReadAtOffset(fileHeader + 16, optionalBytes) || !reader.ReadAtOffset(optional, magic)) {
        return false;
    }
    if (magic != kPe32Magic && magic != kPe32PlusMagic) return false;
    image.pe32Plus = magic == kPe32PlusMagic;
    const std::uint64_t directoryCountAt = optional + (image.pe32Plus ? 108 : 92);
    std::uint32_t directoryCount = 0;
    if (!reader.ReadAtOffset(optional + 60, image.headersSize) || !reader.ReadAtOffset(directoryCountAt, directoryCount)) {
        return false;
    }
    if (image.pe32Plus) {
        if (!reader.ReadAtOffset(optional + 24, layout.imageBase)) return false;
    } else {
        std::uint32_t base32 = 0;
        if (!reader.ReadAtOffset(optional + 28, base32)) return false;
        layout.imageBase = base32;
    }
    // Directories beyond the count or the optional header's size are absent.
    const std::uint64_t directoriesAt = directoryCountAt + 4;
    for (std::uint32_t index = 0; index < std::min(directoryCount, kDataDirectories); ++index) {
        const std::uint64_t at = directoriesAt + index * 8;
        if (at + 8 > optional + optionalBytes) break;
        if (!reader.ReadAtOffset(at, layout.directories[index].rva) ||
            !reader.ReadAtOffset(at + 4, layout.directories[index].size)) {
            return false;
        }
    }
    if (sectionCount > kMostSections) return false;
    const std::uint64_t sectionTable = optional + optionalBytes;
    for (std::uint32_t index = 0; index < sectionCount; ++index) {
        const std::uint64_t at = sectionTable + index * kSectionHeaderBytes;
        PeSection section;
        if (!reader.ReadAtOffset(at + 8, section.virtualSize) || !reader.ReadAtOffset(at + 12, section.virtualAddress) ||
            !reader.ReadAtOffset(at + 16, section.rawSize) || !reader.ReadAtOffset(at + 20, section.rawOffset)) {
            return false;
        }
        image.sections.push_back(section);
    }
    return true;
}

// One entry of an import name table: by ordinal, or the address of hint and name.
std::optional<PeImportedFunction> ReadThunk(ImageReader& reader, std::uint64_t thunk, bool pe32Plus) {
    const std::uint64_t ordinalFlag = pe32Plus ? 0x8000000000000000ull : 0x80000000ull;
    PeImportedFunction function;
    if (thunk & ordinalFlag) {
        function.byOrdinal = true;
        function.ordinal = static_cast<std::uint16_t>(thunk & 0xFFFF);
        return function;
    }
    // The name follows a 16-bit hint.
    std::optional<std::string> name = reader.Name(static_cast<std::uint32_t>(thunk & 0x7FFFFFFF) + 2u);
    if (!name) return std::nullopt;
    function.name = std::move(*name);
    return function;
}

// The functions of one DLL's name table, up to its zero entry.
void ReadNameTable(ImageReader& reader, std::uint32_t table, bool pe32Plus, std::size_t& budget,
                   PeImportedDll& dll) {
    const Table entries = reader.TableAt(table, pe32Plus ? 8 : 4);
    for (std::uint64_t index = 0;; ++index) {
        // Past the file's part of the table the mapping holds zeros: the list ends there.
        if (index >= entries.inFile && index < entries.mapped) return;
        const std::uint64_t thunk = index >= entries.inFile ? 0
                                    : pe32Plus          ? reader.Entry<std::uint64_t>(entries, index)
                                                        : reader.Entry<std::uint32_t>(entries, index);
        if (index < entries.inFile && thunk == 0) return;
        if (index >= entries.inFile || budget == 0) {
            dll.functionsComplete = false;
            return;
        }
        std::optional<PeImportedFunction> function = ReadThunk(reader, thunk, pe32Plus);
        if (!function) {
            dll.functionsComplete = false;
            return;
        }
        --budget;
        dll.functions.push_back(std::move(*function));
    }
}

void ReadImports(ImageReader& reader, const Layout& layout, std::size_t& budget, PeImage& image) {
    const DirectoryEntry directory = layout.directories[kImportDirectory];
    if (directory.rva == 0) return;
    for (std::uint64_t at = directory.rva;; at += sizeof(ImportDescriptor)) {
        ImportDescriptor descriptor = {};
        if (at > 0xFFFFFFFFull || !reader.Read(static_cast<std::uint32_t>(at), descriptor) ||
            image.imports.size() >= kMostImportedDlls) {
            image.importsComplete = false;
            return;
        }
        if (descriptor.name == 0 && descriptor.firstThunk == 0) return;
        std::optional<std::string> name = reader.Name(descriptor.name);
        if (!name) {
            image.importsComplete = false;
            return;
        }
        PeImportedDll dll;
        dll.name = std::move(*name);
        // Without a name table the address table serves, unless the image was
        // bound: then it holds addresses, not names.
        if (descriptor.originalFirstThunk != 0) {
            ReadNameTable(reader, descriptor.originalFirstThunk, image.pe32Plus, budget, dll);
        } else if (descriptor.timeDateStamp == 0) {
            ReadNameTable(reader, descriptor.firstThunk, image.pe32Plus, budget, dll);
        } else {
            dll.functionsComplete = false;
        }
        image.imports.push_back(std::move(dll));
    }
}

// Old delay-load tables hold virtual addresses instead of RVAs.
std::optional<std::uint32_t> DelayRva(const DelayDescriptor& descriptor, std::uint32_t field, std::uint64_t imageBase) {
    if (descriptor.attributes & 1) return field;
    if (field < imageBase || field - imageBase > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<std::uint32_t>(field - imageBase);
}

void ReadDelayImports(ImageReader& reader, const Layout& layout, std::size_t& budget, PeImage& image) {
    const DirectoryEntry directory = layout.directories[kDelayImportDirectory];
    if (directory.rva == 0) return;
    // Only tools walk this table, and some linkers put no zero descriptor after
    // it: a size that holds whole descriptors bounds it.
    const std::uint64_t end = directory.size >= sizeof(DelayDescriptor) ? std::uint64_t{directory.rva} + directory.size
                                                                        : std::uint64_t{1} << 33;
    for (std::uint64_t at = directory.rva; at + sizeof(DelayDescriptor) <= end; at += sizeof(DelayDescriptor)) {
        DelayDescriptor descriptor = {};
        if (at > 0xFFFFFFFFull || !reader.Read(static_cast<std::uint32_t>(at), descriptor) ||
            image.imports.size() >= kMostImportedDlls) {
            image.importsComplete = false;
            return;
        }
        if (descriptor.dllName == 0) return;
        std::optional<std::uint32_t> nameRva = DelayRva(descriptor, descriptor.dllName, layout.imageBase);
        std::optional<std::uint32_t> tableRva = DelayRva(descriptor, descriptor.importNameTable, layout.imageBase);
        std::optional<std::string> name = nameRva ? reader.Name(*nameRva) : std::nullopt;
        if (!name || !tableRva) {
            image.importsComplete = false;
            return;
        }
        PeImportedDll dll;
        dll.name = std::move(*name);
        dll.delayLoad = true;
        ReadNameTable(reader, *tableRva, image.pe32Plus, budget, dll);
        image.imports.push_back(std::move(dll));
    }
}

void ReadExports(ImageReader& reader, const Layout& layout, PeImage& image) {
    const DirectoryEntry directory = layout.directories[kExportDirectory];
    if (directory.rva == 0) return;
    ExportDirectory exports = {};
    if (!reader.Read(directory.rva, exports)) {
        image.exportsComplete = false;
        return;
    }
    // Index i of the address table stands for ordinal base + i (wrapping as the
    // loader's arithmetic does). Entries past the file's part of the table are
    // zeros of the mapping: nothing exported.
    const Table functions = reader.TableAt(exports.addressOfFunctions, 4);
    const std::uint64_t functionCount = std::min<std::uint64_t>(exports.numberOfFunctions, kMostExports);
    if (functionCount < exports.numberOfFunctions || functions.mapped < functionCount) image.exportsComplete = false;
    constexpr std::size_t kNoEntry = static_cast<std::size_t>(-1);
    std::vector<std::size_t> entryOfIndex;
    for (std::uint64_t index = 0; index < std::min(functionCount, functions.inFile); ++index) {
        const std::uint32_t function = reader.Entry<std::uint32_t>(functions, index);
        entryOfIndex.push_back(kNoEntry);
        if (function == 0) continue;
        PeExport entry;
        entry.ordinal = static_cast<std::uint32_t>(exports.base + index);
        if (function >= directory.rva && function - directory.rva < directory.size) {
            std::optional<std::string> forwarder = reader.Name(function);
            if (!forwarder) {
                image.exportsComplete = false;
                continue;
            }
            entry.forwarder = std::move(*forwarder);
        }
        entryOfIndex.back() = image.exports.size();
        image.exports.push_back(std::move(entry));
    }
    // A name the file does not hold (zeros of the mapping included) cannot be read.
    const Table names = reader.TableAt(exports.addressOfNames, 4);
    const Table nameOrdinals = reader.TableAt(exports.addressOfNameOrdinals, 2);
    const std::uint64_t nameCount = std::min<std::uint64_t>(exports.numberOfNames, kMostExports);
    for (std::uint64_t index = 0; index < nameCount; ++index) {
        std::optional<std::string> name;
        std::uint16_t functionIndex = 0;
        if (index < names.inFile && index < nameOrdinals.inFile) {
            functionIndex = reader.Entry<std::uint16_t>(nameOrdinals, index);
            name = reader.Name(reader.Entry<std::uint32_t>(names, index));
        }
        if (!name) {
            image.exportsComplete = false;
            break;
        }
        // A name of a function the table does not hold exports nothing.
        if (functionIndex >= entryOfIndex.size() || entryOfIndex[functionIndex] == kNoEntry) continue;
        const std::size_t entry = entryOfIndex[functionIndex];
        if (image.exports[entry].name.empty()) {
            image.exports[entry].name = std::move(*name);
        } else if (reader.Spend(image.exports[entry].forwarder.size())) {
            PeExport alias = image.exports[entry];
            alias.name = std::move(*name);
            image.exports.push_back(std::move(alias));
        } else {
            image.exportsComplete = false;
            break;
        }
    }
}

void ReadComDescriptor(const ImageReader& reader, const Layout& layout, PeImage& image) {
    const DirectoryEntry directory = layout.directories[kComDescriptorDirectory];
    std::uint32_t flags = 0;
    if (directory.rva == 0 || directory.rva > 0xFFFFFFFFu - kComFlagsOffset ||
        !reader.Read(directory.rva + kComFlagsOffset, flags)) {
        return;
    }
    const bool needs32Bits = (flags & kCom32BitRequired) && !(flags & kCom32BitPreferred);
    image.anyMachine = (flags & kComIlOnly) && !needs32Bits;
}

// The entries of one resource directory, or nothing when it cannot be read.
std::optional<std::vector<ResourceEntry>> ReadResourceEntries(const ImageReader& reader, std::uint32_t root,
                                                              std::uint32_t offset, std::size_t& budget) {
    ResourceDirectory directory = {};
    const std::uint64_t at = std::uint64_t{root} + offset;
    if (at > 0xFFFFFFFFull || !reader.Read(static_cast<std::uint32_t>(at), directory)) return std::nullopt;
    std::vector<ResourceEntry> entries;
    const std::uint64_t count = std::uint64_t{directory.namedEntries} + directory.idEntries;
    for (std::uint64_t index = 0; index < count; ++index) {
        ResourceEntry entry = {};
        const std::uint64_t entryAt = at + sizeof(ResourceDirectory) + index * sizeof(ResourceEntry);
        if (budget == 0 || entryAt > 0xFFFFFFFFull || !reader.Read(static_cast<std::uint32_t>(entryAt), entry)) {
            return std::nullopt;
        }
        --budget;
        entries.push_back(entry);
    }
    return entries;
}

// RT_MANIFEST, each of its names, each of their languages: three levels, never deeper.
void ReadManifests(const ImageReader& reader, const Layout& layout, PeImage& image) {
    const std::uint32_t root = layout.directories[kResourceDirectory].rva;
    if (root == 0) return;
    std::size_t budget = kMostResourceEntries;
    auto subdirectory = [&](const ResourceEntry& entry) {
        return (entry.offsetToData & kResourceSubdirectory)
                   ? ReadResourceEntries(reader, root, entry.offsetToData & ~kResourceSubdirectory, budget)
                   : std::nullopt;
    };
    std::optional<std::vector<ResourceEntry>> types = ReadResourceEntries(reader, root, 0, budget);
    if (!types) {
        image.manifestsComplete = false;
        return;
    }
    for (const ResourceEntry& type : *types) {
        if (type.nameOrId != kRtManifest) continue;
        std::optional<std::vector<ResourceEntry>> names = subdirectory(type);
        if (!names) {
            image.manifestsComplete = false;
            return;
        }
        for (const ResourceEntry& name : *names) {
            std::optional<std::vector<ResourceEntry>> languages = subdirectory(name);
            if (!languages) {
                image.manifestsComplete = false;
                continue;
            }
            for (const ResourceEntry& language : *languages) {
                ResourceData data = {};
                const std::uint64_t at = std::uint64_t{root} + language.offsetToData;
                std::optional<std::string> bytes;
                if (!(language.offsetToData & kResourceSubdirectory) && at <= 0xFFFFFFFFull &&
                    reader.Read(static_cast<std::uint32_t>(at), data) && data.size <= kMostManifestBytes) {
                    bytes = reader.Block(data.rva, data.size);
                }
                if (!bytes || image.manifests.size() >= kMostManifests) {
                    image.manifestsComplete = false;
                    continue;
                }
                image.manifests.push_back(std::move(*bytes));
            }
        }
    }
}

}  // namespace

PeImage ReadPeImage(std::string_view bytes) {
    PeImage image;
    ImageReader reader(bytes);
    Layout layout;
    if (!ReadHeaders(reader, image, layout)) {
        image.sections.clear();
        image.importsComplete = image.exportsComplete = image.manifestsComplete = false;
        return image;
    }
    image.headersRead = true;
    reader.SetLayout(image);
    std::size_t budget = std::min(kMostImportedFunctions, bytes.size());
    ReadImports(reader, layout, budget, image);
    ReadDelayImports(reader, layout, budget, image);
    ReadExports(reader, layout, image);
    ReadManifests(reader, layout, image);
    ReadComDescriptor(reader, layout, image);
    return image;
}

PeExportIndex::PeExportIndex(const std::vector<PeExport>& exports) {
    for (const PeExport& entry : exports) {
        if (!entry.name.empty()) byName_.emplace(entry.name, &entry);
        byOrdinal_.emplace(entry.ordinal, &entry);
    }
}

const PeExport* PeExportIndex::Find(const PeImportedFunction& wanted) const {
    if (wanted.byOrdinal) {
        auto found = byOrdinal_.find(wanted.ordinal);
        return found == byOrdinal_.end() ? nullptr : found->second;
    }
    auto found = byName_.find(wanted.name);
    return found == byName_.end() ? nullptr : found->second;
}

std::optional<std::uint64_t> RvaToOffset(const PeImage& image, std::uint32_t rva, std::size_t fileSize) {
    std::optional<Region> region = LocateRva(image, rva, fileSize);
    if (!region || region->fileBytes == 0) return std::nullopt;
    return region->fileOffset;
}

std::vector<std::string> ManifestNames(std::string_view manifest) {
    // UTF-16 manifests become ASCII-searchable once their zero bytes go.
    std::string text;
    for (char c : manifest) {
        if (c != '\0') text.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
    }
    std::vector<std::string> names;
    for (std::size_t at = text.find("name"); at != std::string::npos; at = text.find("name", at + 1)) {
        // Only the attribute itself: "name" not part of a longer word, then = and a quote.
        if (at > 0 && (std::isalnum(static_cast<unsigned char>(text[at - 1])) || text[at - 1] == ':')) continue;
        std::size_t value = at + 4;
        while (value < text.size() && std::isspace(static_cast<unsigned char>(text[value]))) ++value;
        if (value >= text.size() || text[value] != '=') continue;
        ++value;
        while (value < text.size() && std::isspace(static_cast<unsigned char>(text[value]))) ++value;
        if (value >= text.size() || (text[value] != '"' && text[value] != '\'')) continue;
        const std::size_t close = text.find(text[value], value + 1);
        if (close == std::string::npos) break;
        names.push_back(text.substr(value + 1, close - value - 1));
    }
    return names;
}
