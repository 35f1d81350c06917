// The two schema layouts: header, set records, (hash table), host records, then every text.
#include "tests/support/crafted_api_sets.h"

#include <algorithm>
#include <utility>

namespace {

constexpr std::uint32_t kHashFactor = 31;

class SchemaWriter {
public:
    explicit SchemaWriter(std::size_t recordBytes) : records_(recordBytes, '\0') {}

    void Put32(std::size_t offset, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) records_[offset + i] = static_cast<char>(value >> (8 * i));
    }

    // Writes the text's offset (0 for no text) and byte length at the record offset.
    void PutText(std::size_t offset, const std::u16string& text) {
        Put32(offset, text.empty() ? 0 : static_cast<std::uint32_t>(records_.size() + texts_.size()));
        Put32(offset + 4, static_cast<std::uint32_t>(text.size() * 2));
        for (char16_t c : text) {
            texts_.push_back(static_cast<char>(c & 0xFF));
            texts_.push_back(static_cast<char>(c >> 8));
        }
    }

    std::string Bytes() const { return records_ + texts_; }

private:
    std::string records_;
    std::string texts_;
};

std::size_t HostCount(const std::vector<CraftedApiSet>& sets) {
    std::size_t count = 0;
    for (const CraftedApiSet& set : sets) count += set.hosts.size();
    return count;
}

std::string BuildVersion6(const std::vector<CraftedApiSet>& sets) {
    const std::size_t entries = 28;
    const std::size_t hashes = entries + 24 * sets.size();
    const std::size_t values = hashes + 8 * sets.size();
    SchemaWriter out(values + 20 * HostCount(sets));
    std::vector<std::pair<std::uint32_t, std::uint32_t>> hashTable;
    std::size_t value = values;
    for (std::size_t i = 0; i < sets.size(); ++i) {
        const CraftedApiSet& set = sets[i];
        const std::size_t hashed = set.name.rfind(u'-');
        std::uint32_t hash = 0;
        for (std::size_t c = 0; c < hashed; ++c)
            hash = hash * kHashFactor + (set.name[c] >= u'A' && set.name[c] <= u'Z' ? set.name[c] + 32 : set.name[c]);
        hashTable.emplace_back(hash, static_cast<std::uint32_t>(i));
        const std::size_t at = entries + 24 * i;
        out.PutText(at + 4, set.name);
        out.Put32(at + 12, static_cast<std::uint32_t>(hashed * 2));
        out.Put32(at + 16, static_cast<std::uint32_t>(value));
        out.Put32(at + 20, static_cast<std::uint32_t>(set.hosts.size()));
        for (const ApiSetHost& host : set.hosts) {
            out.PutText(value + 4, host.importer);
            out.PutText(value + 12, host.host);
            value += 20;
        }
    }
    std::sort(hashTable.begin(), hashTable.end());
    for (std::size_t i = 0; i < hashTable.size(); ++i) {
        out.Put32(hashes + 8 * i, hashTable[i].first);
        out.Put32(hashes + 8 * i + 4, hashTable[i].second);
    }
    out.Put32(0, 6);
    out.Put32(12, static_cast<std::uint32_t>(sets.size()));
    out.Put32(16, static_cast<std::uint32_t>(entries));
    out.Put32(20, static_cast<std::uint32_t>(hashes));
    out.Put32(24, kHashFactor);
    std::string bytes = out.Bytes();
    for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<char>(bytes.size() >> (8 * i));  // Size
    return bytes;
}

std::string BuildVersion2(const std::vector<CraftedApiSet>& sets) {
    const std::size_t entries = 8;
    const std::size_t data = entries + 12 * sets.size();
    SchemaWriter out(data + 4 * sets.size() + 16 * HostCount(sets));
    std::size_t at = data;
    for (std::size_t i = 0; i < sets.size(); ++i) {
        out.PutText(entries + 12 * i, sets[i].name);
        out.Put32(entries + 12 * i + 8, static_cast<std::uint32_t>(at));
        out.Put32(at, static_cast<std::uint32_t>(sets[i].hosts.size()));
        at += 4;
        for (const ApiSetHost& host : sets[i].hosts) {
            out.PutText(at, host.importer);
            out.PutText(at + 8, host.host);
            at += 16;
        }
    }
    out.Put32(0, 2);
    out.Put32(4, static_cast<std::uint32_t>(sets.size()));
    return out.Bytes();
}

}  // namespace

std::string BuildApiSetSchema(std::uint32_t version, const std::vector<CraftedApiSet>& sets) {
    return version == 2 ? BuildVersion2(sets) : BuildVersion6(sets);
}
