// The PE reader on crafted images: both thunk formats, delay-load tables,
// exports with an ordinal base and forwarders, and files that are cut or whose
// tables, names and counts point outside them: read as far as they can be,
// flagged, never past the buffer.
#include "modules/pe_image.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/crafted_image.h"

namespace {

PeImportedFunction ByName(const std::string& name) { return {name, 0, false}; }
PeImportedFunction ByOrdinal(std::uint16_t ordinal) { return {"", ordinal, true}; }

CraftedImage Tables(bool pe32Plus) {
    CraftedImage image;
    image.pe32Plus = pe32Plus;
    image.machine = pe32Plus ? 0x8664 : 0x14C;
    image.imports = {{"first.dll", false, {ByName("Alpha"), ByOrdinal(7)}, true},
                     {"second.dll", false, {ByName("Beta")}, true},
                     {"later.dll", true, {ByName("Gamma"), ByOrdinal(2)}, true}};
    image.ordinalBase = 10;
    image.exports = {{"Own", ""}, {"", ""}, {"Passed", "other.Target"}, {"ByNumber", "other.#5"}};
    return image;
}

// The reader's result as lines: imports, then exports, with the flags.
std::vector<std::string> Summary(const PeImage& image) {
    if (!image.headersRead) return {"unreadable"};
    std::vector<std::string> lines;
    for (const PeImportedDll& dll : image.imports) {
        std::string line = (dll.delayLoad ? "delay " : "") + dll.name + ":";
        for (const PeImportedFunction& function : dll.functions) {
            line += " " + (function.byOrdinal ? "#" + std::to_string(function.ordinal) : function.name);
        }
        lines.push_back(line + (dll.functionsComplete ? "" : " (cut)"));
    }
    if (!image.importsComplete) lines.push_back("imports cut");
    for (const PeExport& entry : image.exports) {
        lines.push_back(std::to_string(entry.ordinal) + " " + entry.name +
                        (entry.forwarder.empty() ? "" : " -> " + entry.forwarder));
    }
    if (!image.exportsComplete) lines.push_back("exports cut");
    return lines;
}

const std::vector<std::string> kWholeTables = {
    "first.dll: Alpha #7", "second.dll: Beta", "delay later.dll: Gamma #2",
    "10 Own", "11 ", "12 Passed -> other.Target", "13 ByNumber -> other.#5"};

std::size_t ImportDescriptor(std::size_t index) { return kCraftedSectionOffset + index * 20; }

struct ReaderCase {
    const char* what;
    bool pe32Plus;
    std::function<void(std::string&)> damage;
    std::vector<std::string> expected;
};

}  // namespace

TEST(PeImageReader, ReadsWhatTheFileHoldsAndFlagsWhatItCannot) {
    const auto directory = [](std::uint32_t index) { return CraftedDirectoryOffset(true, index); };
    const std::vector<ReaderCase> cases = {
        {"PE32+ tables whole", true, [](std::string&) {}, kWholeTables},
        {"PE32 tables whole", false, [](std::string&) {}, kWholeTables},
        {"cut inside the NT headers", true, [](std::string& b) { b.resize(0x50); }, {"unreadable"}},
        {"cut inside the section table", true, [](std::string& b) { b.resize(0x150); }, {"unreadable"}},
        {"no PE signature", true, [](std::string& b) { b[0x41] = 'X'; }, {"unreadable"}},
        {"e_lfanew past the end", true, [](std::string& b) { Patch32(b, 0x3C, 0xFFFFFFF0); }, {"unreadable"}},
        {"more sections than the loader takes", true, [](std::string& b) { b[0x46] = 97; }, {"unreadable"}},
        {"cut inside the first import descriptor", true,
         [](std::string& b) { b.resize(kCraftedSectionOffset + 10); },
         {"imports cut", "exports cut"}},
        {"import table outside the file", true, [&](std::string& b) { Patch32(b, directory(1), 0x50000); },
         {"delay later.dll: Gamma #2", "imports cut", "10 Own", "11 ", "12 Passed -> other.Target",
          "13 ByNumber -> other.#5"}},
        {"import table at an address that wraps", true,
         [&](std::string& b) { Patch32(b, directory(1), 0xFFFFFFF8); },
         {"delay later.dll: Gamma #2", "imports cut", "10 Own", "11 ", "12 Passed -> other.Target",
          "13 ByNumber -> other.#5"}},
        {"second DLL's name outside the file", true,
         [](std::string& b) { Patch32(b, ImportDescriptor(1) + 12, 0x7FFF0000); },
         {"first.dll: Alpha #7", "delay later.dll: Gamma #2", "imports cut", "10 Own", "11 ",
          "12 Passed -> other.Target", "13 ByNumber -> other.#5"}},
        {"name table outside the file", true,
         [](std::string& b) { Patch32(b, ImportDescriptor(0), 0x00900000); },
         {"first.dll: (cut)", "second.dll: Beta", "delay later.dll: Gamma #2", "10 Own", "11 ",
          "12 Passed -> other.Target", "13 ByNumber -> other.#5"}},
        {"export directory outside the file", true, [&](std::string& b) { Patch32(b, directory(0), 0x40000); },
         {"first.dll: Alpha #7", "second.dll: Beta", "delay later.dll: Gamma #2", "exports cut"}},
    };
    for (const ReaderCase& test : cases) {
        std::string bytes = BuildImage(Tables(test.pe32Plus));
        test.damage(bytes);
        EXPECT_EQ(test.expected, Summary(ReadPeImage(bytes))) << test.what;
    }
}

TEST(PeImageReader, CountsThatLieAreBoundedAndFlagged) {
    const std::string whole = BuildImage(Tables(true));
    const std::uint32_t exportDirectory = Read32(whole, CraftedDirectoryOffset(true, 0));
    const std::size_t exportAt = exportDirectory - kCraftedSectionRva + kCraftedSectionOffset;
    for (std::size_t countField : {exportAt + 20, exportAt + 24}) {
        std::string bytes = whole;
        Patch32(bytes, countField, 0xFFFFFFFF);
        const PeImage image = ReadPeImage(bytes);
        EXPECT_FALSE(image.exportsComplete) << countField - exportAt;
        EXPECT_LE(image.exports.size(), 0x20000u);
        ASSERT_FALSE(image.exports.empty());
        EXPECT_EQ(10u, image.exports[0].ordinal);
    }
    // A name whose function index lies beyond the address table exports nothing, and hides no other name.
    std::string bytes = whole;
    const std::uint32_t nameOrdinals = Read32(whole, exportAt + 36) - kCraftedSectionRva + kCraftedSectionOffset;
    bytes[nameOrdinals] = 40;
    EXPECT_EQ((std::vector<std::string>{"first.dll: Alpha #7", "second.dll: Beta", "delay later.dll: Gamma #2",
                                        "10 ", "11 ", "12 Passed -> other.Target", "13 ByNumber -> other.#5"}),
              Summary(ReadPeImage(bytes)));
}

TEST(PeImageReader, ManifestNamesAreTheNameAttributes) {
    EXPECT_EQ((std::vector<std::string>{"microsoft.windows.common-controls", "helper.dll", "x"}),
              ManifestNames("<assemblyIdentity type='win32' Name=\"Microsoft.Windows.Common-Controls\"/>"
                            "<file name = 'Helper.DLL'/><typename=\"no\"/><a name=\"x\"/><b name=\"unclosed"));
}
