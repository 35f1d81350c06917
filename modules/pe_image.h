// Reads a PE image from its file's bytes: headers, sections, the import,
// delay-load and export directories and the manifest resources. Pure code over
// bytes, without Windows calls: every read is bounded by the buffer, and what
// cannot be read whole is returned as far as it could be read, flagged so.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct PeSection {
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawOffset = 0;
    std::uint32_t rawSize = 0;
};

struct PeImportedFunction {
    std::string name;           // empty when imported by ordinal
    std::uint16_t ordinal = 0;  // only when imported by ordinal
    bool byOrdinal = false;
};

struct PeImportedDll {
    std::string name;
    bool delayLoad = false;  // named by the delay-load table
    std::vector<PeImportedFunction> functions;
    bool functionsComplete = true;  // false when its name table could not be read to its end
};

struct PeExport {
    std::uint32_t ordinal = 0;  // with the ordinal base added
    std::string name;           // empty when exported by ordinal only
    std::string forwarder;      // "dll.func" or "dll.#n"; empty for code or data
};

struct PeImage {
    bool headersRead = false;  // DOS and NT headers and the section table
    std::uint16_t machine = 0;
    // An IL-only .NET image that does not require 32 bits: the loader maps it
    // for a process of any machine, whatever its header's machine says.
    bool anyMachine = false;
    bool pe32Plus = false;
    std::uint32_t headersSize = 0;  // SizeOfHeaders: mapped at address 0
    std::vector<PeSection> sections;
    // The import table's DLLs, then the delay-load table's, each in table order.
    std::vector<PeImportedDll> imports;
    bool importsComplete = true;  // false when a table could not be read to its end
    std::vector<PeExport> exports;
    bool exportsComplete = true;
    std::vector<std::string> manifests;  // the RT_MANIFEST resources' bytes
    bool manifestsComplete = true;
};

PeImage ReadPeImage(std::string_view bytes);

// The exports of an image by name and by ordinal, indexed once: a lookup costs
// the same however many imports of a crafted file ask. The first of entries
// sharing a name or an ordinal is found. Points into the vector it was built from.
class PeExportIndex {
public:
    explicit PeExportIndex(const std::vector<PeExport>& exports);
    const PeExport* Find(const PeImportedFunction& wanted) const;

private:
    std::unordered_map<std::string, const PeExport*> byName_;
    std::unordered_map<std::uint32_t, const PeExport*> byOrdinal_;
};

// The file offset of an address of the loaded image, when the file holds it.
std::optional<std::uint64_t> RvaToOffset(const PeImage& image, std::uint32_t rva, std::size_t fileSize);

// Every name="..." value of a manifest (assembly identities, files), lower
// case: the names through which a side-by-side manifest can supply a DLL.
std::vector<std::string> ManifestNames(std::string_view manifest);
