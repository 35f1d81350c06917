// The API set schema reader and the loader's lookup, on crafted schemas of
// both layouts: a set found by any minor version (version 6) or by its whole
// name (version 2), the host chosen for one importer, a set without a host,
// names that are no set; and maps whose tables or texts lie outside them,
// which are not read at all.
#include "modules/api_set_schema.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/crafted_api_sets.h"
#include "tests/support/crafted_image.h"

namespace {

const std::vector<CraftedApiSet> kVersion6Sets = {
    {u"api-ms-win-core-file-l1-2-0", {{u"", u"kernelbase.dll"}}},
    {u"api-ms-win-crt-runtime-l1-1-0", {{u"", u"ucrtbase.dll"}, {u"Kernel32.dll", u"kernelbase.dll"}}},
    {u"ext-ms-win-korvane-gone-l1-1-0", {}},
    {u"api-ms-win-korvane-empty-l1-1-0", {{u"", u""}, {u"special.dll", u"host.dll"}}},
};

const std::vector<CraftedApiSet> kVersion2Sets = {
    {u"MS-Win-Core-Console-L1-1-0", {{u"", u"kernel32.dll"}, {u"kernel32.dll", u"kernelbase.dll"}}},
    {u"ms-win-korvane-gone-l1-1-0", {{u"", u""}}},
};

// The answer as one text: "host:<name>", "no host" or "no set".
std::string Answer(const ApiSetSchema& schema, const std::string& name, const std::u16string& importer = u"") {
    const ApiSetResolution found = ResolveApiSet(schema, name, importer);
    if (found.answer == ApiSetAnswer::NotASet) return "no set";
    if (found.answer == ApiSetAnswer::NoHost) return "no host";
    return "host:" + std::string(found.host.begin(), found.host.end());
}

TEST(ApiSetSchema, Version6FindsASetByItsNameUpToTheLastHyphenAndTheHostForItsImporter) {
    const std::optional<ApiSetSchema> schema = ReadApiSetSchema(BuildApiSetSchema(6, kVersion6Sets));
    ASSERT_TRUE(schema.has_value());
    EXPECT_EQ(6u, schema->version);
    EXPECT_EQ(4u, schema->sets.size());
    struct Case {
        std::string name;
        std::u16string importer;
        std::string answer;
    };
    const Case cases[] = {
        {"api-ms-win-core-file-l1-2-0.dll", u"", "host:kernelbase.dll"},
        {"API-MS-WIN-CORE-FILE-L1-2-0.DLL", u"", "host:kernelbase.dll"},
        {"api-ms-win-core-file-l1-2-4.dll", u"", "host:kernelbase.dll"},  // a later minor version
        {"api-ms-win-core-file-l1-2-0", u"", "host:kernelbase.dll"},      // a forwarder's name has no extension
        {"api-ms-win-core-file-l1-3-0.dll", u"", "no set"},
        {"api-ms-win-core-file-l2-2-0.dll", u"", "no set"},
        {"api-ms-win-crt-runtime-l1-1-0.dll", u"program.exe", "host:ucrtbase.dll"},
        {"api-ms-win-crt-runtime-l1-1-0.dll", u"KERNEL32.DLL", "host:kernelbase.dll"},
        {"ext-ms-win-korvane-gone-l1-1-0.dll", u"", "no host"},
        {"api-ms-win-korvane-empty-l1-1-0.dll", u"program.exe", "no host"},
        {"api-ms-win-korvane-empty-l1-1-0.dll", u"special.dll", "host:host.dll"},
        {"kernel32.dll", u"", "no set"},
        {"ms-win-core-file-l1-2-0.dll", u"", "no set"},
        {"api-.dll", u"", "no set"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.answer, Answer(*schema, c.name, c.importer)) << c.name;
}

TEST(ApiSetSchema, Version2FindsASetByItsWholeNameWithoutThePrefix) {
    const std::optional<ApiSetSchema> schema = ReadApiSetSchema(BuildApiSetSchema(2, kVersion2Sets));
    ASSERT_TRUE(schema.has_value());
    EXPECT_EQ(2u, schema->version);
    EXPECT_EQ("host:kernel32.dll", Answer(*schema, "api-ms-win-core-console-l1-1-0.dll"));
    EXPECT_EQ("host:kernelbase.dll", Answer(*schema, "API-MS-Win-Core-Console-L1-1-0.dll", u"kernel32.dll"));
    EXPECT_EQ("no set", Answer(*schema, "api-ms-win-core-console-l1-1-1.dll"));
    EXPECT_EQ("no host", Answer(*schema, "api-ms-win-korvane-gone-l1-1-0.dll"));
    EXPECT_EQ("no set", Answer(*schema, "ms-win-core-console-l1-1-0.dll"));
}

// Each damage makes the whole map unread: a half-read map would name sets missing that are not.
TEST(ApiSetSchema, AMapWithAnyPartOutsideItOrOfAnotherLayoutIsNotRead) {
    const std::string whole6 = BuildApiSetSchema(6, kVersion6Sets);
    const std::string whole2 = BuildApiSetSchema(2, kVersion2Sets);
    struct Damage {
        const char* what;
        std::string bytes;
    };
    auto patched = [](std::string bytes, std::size_t offset, std::uint32_t value) {
        Patch32(bytes, offset, value);
        return bytes;
    };
    const std::size_t firstSet = 28;
    const Damage damages[] = {
        {"cut before its texts end", whole6.substr(0, whole6.size() - 2)},
        {"cut inside the header", whole6.substr(0, 20)},
        {"more sets than the map holds", patched(whole6, 12, 0x10000000)},
        {"a set's name outside", patched(whole6, firstSet + 4, static_cast<std::uint32_t>(whole6.size()))},
        {"a name of an odd length", patched(whole6, firstSet + 8, 5)},
        {"hashed beyond the name", patched(whole6, firstSet + 12, 2 * 40)},
        {"hosts outside", patched(whole6, firstSet + 20, 0x01000000)},
        {"a hash entry naming no set", patched(whole6, 28 + 24 * 4 + 4, 4)},
        {"version 4 (Windows 8.1)", patched(whole6, 0, 4)},
        {"version 2 cut", whole2.substr(0, whole2.size() - 1)},
        {"version 2 host count outside", patched(whole2, 8 + 12 * 2, 0x00FFFFFF)},
        {"empty", ""},
    };
    for (const Damage& damage : damages) EXPECT_FALSE(ReadApiSetSchema(damage.bytes).has_value()) << damage.what;
}

}  // namespace
