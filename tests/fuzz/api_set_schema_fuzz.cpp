// Fuzzes the API set schema reader on hostile maps: it never reads outside the
// bytes, reads the same schema twice, copies out no more than the map's size
// allows, keeps every hash entry on a set, and the loader's lookup of every
// set's own name, and of names from the input, answers without reading past
// what was read: a host it gives is one of that set's hosts.
#include <cstdlib>
#include <string_view>

#include "modules/api_set_schema.h"

namespace {

std::string Narrow(std::u16string_view text) {
    std::string narrow;
    for (char16_t c : text) narrow.push_back(static_cast<char>(c & 0xFF));
    return narrow;
}

void CheckLookup(const ApiSetSchema& schema, const std::string& dllName, std::u16string_view importer) {
    const ApiSetResolution found = ResolveApiSet(schema, dllName, importer);
    if (found.answer != ApiSetAnswer::Hosted && !found.host.empty()) std::abort();
    if (found.answer == ApiSetAnswer::Hosted && found.host.empty()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::optional<ApiSetSchema> schema = ReadApiSetSchema(bytes);
    const std::optional<ApiSetSchema> again = ReadApiSetSchema(bytes);
    if (schema.has_value() != again.has_value()) std::abort();
    if (!schema) return 0;
    if (schema->version != 2 && schema->version != 6) std::abort();
    if (schema->sets.size() != again->sets.size()) std::abort();
    std::size_t chars = 0;
    std::size_t hosts = 0;
    for (const ApiSet& set : schema->sets) {
        if (set.hashedChars > set.name.size()) std::abort();
        chars += set.name.size();
        hosts += set.hosts.size();
        for (const ApiSetHost& host : set.hosts) chars += host.importer.size() + host.host.size();
    }
    if (chars > size || hosts > size / 16) std::abort();
    for (const auto& [hash, index] : schema->hashes) {
        if (index >= schema->sets.size()) std::abort();
    }
    for (const ApiSet& set : schema->sets) {
        const std::string prefix = schema->version == 2 ? "api-" : "";
        const std::u16string importer = set.hosts.size() > 1 ? set.hosts.back().importer : u"";
        CheckLookup(*schema, prefix + Narrow(set.name) + ".dll", importer);
        CheckLookup(*schema, prefix + Narrow(set.name), u"");
    }
    CheckLookup(*schema, std::string(bytes.substr(0, 64)), u"kernel32.dll");
    return 0;
}
