// A process's API set schema (the map its loader uses to turn api-ms-win-* and
// ext-ms-* names into the DLLs that host them), read from its bytes. Pure code
// over bytes, without Windows calls: every read is bounded by the buffer, and
// a schema with any part outside it is not read at all (the loader would find
// nothing reliable in it either, and a half-read map would name false causes).
// Two layouts: version 2 (Windows 7 and 8) and version 6 (Windows 10 and
// later, and Wine); others (Windows 8.1's version 4) are not read.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct ApiSetHost {
    std::u16string importer;  // empty: the default host; else the one DLL this host is for
    std::u16string host;      // empty: no host
};

struct ApiSet {
    // Version 6: the whole name without ".dll"; version 2: without "api-" and ".dll".
    std::u16string name;
    std::size_t hashedChars = 0;  // version 6: the characters the loader compares
    std::vector<ApiSetHost> hosts;
};

struct ApiSetSchema {
    std::uint32_t version = 0;
    std::vector<ApiSet> sets;  // in the schema's order
    // Version 6: the loader's hash table, sorted by hash, each with its set's index.
    std::uint32_t hashFactor = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> hashes;
};

std::optional<ApiSetSchema> ReadApiSetSchema(std::string_view bytes);

enum class ApiSetAnswer {
    NotASet,  // the loader takes the name as a file name
    Hosted,   // the loader loads `host` instead
    NoHost,   // the loader refuses the name
};

struct ApiSetResolution {
    ApiSetAnswer answer = ApiSetAnswer::NotASet;
    std::u16string host;
};

// What the loader makes of a DLL name as imported ("api-ms-win-core-file-l1-2-0.dll")
// by the module named `importerName` (a file name): version 6 finds the set by
// the name up to its last hyphen, so any minor version of a set matches.
ApiSetResolution ResolveApiSet(const ApiSetSchema& schema, std::string_view dllName, std::u16string_view importerName);
