// Fuzzes the PE reader on hostile files: it never reads outside the bytes nor
// hangs, reads the same result twice, keeps every name within its bound,
// flags a file whose headers it cannot read as read in no part, and its
// export index finds what it is asked for.
#include <cstdlib>
#include <string_view>

#include "modules/pe_image.h"

namespace {

bool SameImports(const PeImage& a, const PeImage& b) {
    if (a.imports.size() != b.imports.size() || a.exports.size() != b.exports.size()) return false;
    for (std::size_t i = 0; i < a.imports.size(); ++i) {
        if (a.imports[i].name != b.imports[i].name || a.imports[i].functions.size() != b.imports[i].functions.size()) {
            return false;
        }
    }
    return true;
}

void CheckName(const std::string& name) {
    if (name.size() > 4096 || name.find('\0') != std::string::npos) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const PeImage image = ReadPeImage(bytes);
    if (!SameImports(image, ReadPeImage(bytes))) std::abort();
    if (!image.headersRead &&
        (!image.imports.empty() || !image.exports.empty() || !image.manifests.empty() || image.importsComplete)) {
        std::abort();
    }
    bool delayTableStarted = false;
    for (const PeImportedDll& dll : image.imports) {
        CheckName(dll.name);
        // The import table comes first, then the delay-load table.
        if (delayTableStarted && !dll.delayLoad) std::abort();
        delayTableStarted = dll.delayLoad;
        for (const PeImportedFunction& function : dll.functions) CheckName(function.name);
    }
    for (const PeExport& entry : image.exports) {
        CheckName(entry.name);
        CheckName(entry.forwarder);
    }
    // Each import looked up among the image's own exports, as the import check
    // does: what is found is what was asked for.
    const PeExportIndex index(image.exports);
    for (const PeImportedDll& dll : image.imports) {
        for (const PeImportedFunction& function : dll.functions) {
            const PeExport* found = index.Find(function);
            if (found && (function.byOrdinal ? found->ordinal != function.ordinal : found->name != function.name))
                std::abort();
        }
    }
    if (image.anyMachine && !image.headersRead) std::abort();
    for (const PeSection& section : image.sections) {
        for (std::uint32_t rva : {section.virtualAddress, section.virtualAddress + section.rawSize - 1}) {
            std::optional<std::uint64_t> offset = RvaToOffset(image, rva, size);
            if (offset && *offset >= size) std::abort();
        }
    }
    for (const std::string& manifest : image.manifests) {
        for (const std::string& name : ManifestNames(manifest)) {
            if (name.find_first_of("\"'") != std::string::npos) std::abort();
        }
    }
    ManifestNames(bytes);
    return 0;
}
