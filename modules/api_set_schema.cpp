// The API set schema's two layouts, and the loader's lookup in each.
#include "modules/api_set_schema.h"

#include <algorithm>
#include <cstddef>

namespace {

constexpr std::size_t kV6HeaderBytes = 28;
constexpr std::size_t kV6EntryBytes = 24;
constexpr std::size_t kV6ValueBytes = 20;
constexpr std::size_t kHashEntryBytes = 8;
constexpr std::size_t kV2HeaderBytes = 8;
constexpr std::size_t kV2EntryBytes = 12;
constexpr std::size_t kV2ValueBytes = 16;

// Bounded reads over the schema's bytes. Real schemas hold each name and each
// host once; a crafted one pointing every set at the same big table would
// otherwise cost its size squared, so what is copied out is capped by the
// schema's own size.
class SchemaBytes {
public:
    explicit SchemaBytes(std::string_view bytes) : bytes_(bytes), charsLeft_(bytes.size()), hostsLeft_(bytes.size() / 16) {}

    bool ok() const { return ok_; }

    std::uint32_t U32(std::uint64_t offset) {
        if (!Holds(offset, 4)) return 0;
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes_[offset + i]);
        return value;
    }

    // A table of count records of recordBytes each must lie within the bytes.
    bool Table(std::uint64_t offset, std::uint64_t count, std::size_t recordBytes) {
        return Holds(offset, count * recordBytes);
    }

    std::u16string Text(std::uint64_t offset, std::uint64_t byteLength) {
        if (byteLength == 0) return {};
        if (byteLength % 2 != 0 || !Holds(offset, byteLength) || byteLength / 2 > charsLeft_) {
            ok_ = false;
            return {};
        }
        charsLeft_ -= byteLength / 2;
        std::u16string text(byteLength / 2, u'\0');
        for (std::size_t i = 0; i < text.size(); ++i) {
            text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes_[offset + 2 * i]) |
                                            static_cast<unsigned char>(bytes_[offset + 2 * i + 1]) << 8);
        }
        return text;
    }

    bool TakeHosts(std::uint64_t count) {
        if (count > hostsLeft_) ok_ = false;
        if (ok_) hostsLeft_ -= count;
        return ok_;
    }

private:
    bool Holds(std::uint64_t offset, std::uint64_t length) {
        if (offset > bytes_.size() || length > bytes_.size() - offset) ok_ = false;
        return ok_;
    }

    std::string_view bytes_;
    std::uint64_t charsLeft_;
    std::uint64_t hostsLeft_;
    bool ok_ = true;
};

// Both layouts' value records: importer name, then host name, each an offset and a byte length.
std::vector<ApiSetHost> ReadHosts(SchemaBytes& in, std::uint64_t offset, std::uint64_t count, std::size_t recordBytes,
                                  std::size_t fieldsAt) {
    std::vector<ApiSetHost> hosts;
    if (!in.Table(offset, count, recordBytes) || !in.TakeHosts(count)) return hosts;
    for (std::uint64_t i = 0; i < count && in.ok(); ++i) {
        const std::uint64_t at = offset + i * recordBytes + fieldsAt;
        ApiSetHost host;
        host.importer = in.Text(in.U32(at), in.U32(at + 4));
        // A host at offset 0 is none, whatever its length says.
        if (in.U32(at + 8) != 0) host.host = in.Text(in.U32(at + 8), in.U32(at + 12));
        hosts.push_back(std::move(host));
    }
    return hosts;
}

std::optional<ApiSetSchema> ReadVersion6(std::string_view bytes) {
    SchemaBytes in(bytes);
    ApiSetSchema schema;
    schema.version = 6;
    const std::uint32_t count = in.U32(12);
    const std::uint32_t entryOffset = in.U32(16);
    const std::uint32_t hashOffset = in.U32(20);
    schema.hashFactor = in.U32(24);
    if (bytes.size() < kV6HeaderBytes || !in.Table(entryOffset, count, kV6EntryBytes) ||
        !in.Table(hashOffset, count, kHashEntryBytes)) {
        return std::nullopt;
    }
    for (std::uint32_t i = 0; i < count && in.ok(); ++i) {
        const std::uint64_t at = entryOffset + std::uint64_t{i} * kV6EntryBytes;
        ApiSet set;
        set.name = in.Text(in.U32(at + 4), in.U32(at + 8));
        const std::uint32_t hashedBytes = in.U32(at + 12);
        if (hashedBytes % 2 != 0 || hashedBytes / 2 > set.name.size()) return std::nullopt;
        set.hashedChars = hashedBytes / 2;
        set.hosts = ReadHosts(in, in.U32(at + 16), in.U32(at + 20), kV6ValueBytes, 4);
        schema.sets.push_back(std::move(set));
    }
    for (std::uint32_t i = 0; i < count && in.ok(); ++i) {
        const std::uint64_t at = hashOffset + std::uint64_t{i} * kHashEntryBytes;
        const std::uint32_t index = in.U32(at + 4);
        if (index >= count) return std::nullopt;
        schema.hashes.emplace_back(in.U32(at), index);
    }
    if (!in.ok()) return std::nullopt;
    return schema;
}

std::optional<ApiSetSchema> ReadVersion2(std::string_view bytes) {
    SchemaBytes in(bytes);
    ApiSetSchema schema;
    schema.version = 2;
    const std::uint32_t count = in.U32(4);
    if (bytes.size() < kV2HeaderBytes || !in.Table(kV2HeaderBytes, count, kV2EntryBytes)) return std::nullopt;
    for (std::uint32_t i = 0; i < count && in.ok(); ++i) {
        const std::uint64_t at = kV2HeaderBytes + std::uint64_t{i} * kV2EntryBytes;
        ApiSet set;
        set.name = in.Text(in.U32(at), in.U32(at + 4));
        const std::uint32_t dataOffset = in.U32(at + 8);
        set.hosts = ReadHosts(in, std::uint64_t{dataOffset} + 4, in.U32(dataOffset), kV2ValueBytes, 0);
        schema.sets.push_back(std::move(set));
    }
    if (!in.ok()) return std::nullopt;
    return schema;
}

char16_t LowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool SameLetters(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

// The name as the loader holds it: the import table's bytes widened one by one, up to the extension.
std::u16string BaseName(std::string_view dllName) {
    std::u16string name;
    for (char c : dllName.substr(0, dllName.find('.'))) name.push_back(static_cast<unsigned char>(c));
    return name;
}

bool HasSetPrefix(std::u16string_view name) {
    return name.size() > 4 && (SameLetters(name.substr(0, 4), u"api-") || SameLetters(name.substr(0, 4), u"ext-"));
}

// Entry 0 is the default host; the others name the one importer they serve.
ApiSetResolution HostFor(const ApiSet& set, std::u16string_view importerName) {
    if (set.hosts.empty()) return {ApiSetAnswer::NoHost, {}};
    const ApiSetHost* chosen = &set.hosts.front();
    for (std::size_t i = 1; i < set.hosts.size(); ++i) {
        if (!importerName.empty() && SameLetters(set.hosts[i].importer, importerName)) {
            chosen = &set.hosts[i];
            break;
        }
    }
    if (chosen->host.empty()) return {ApiSetAnswer::NoHost, {}};
    return {ApiSetAnswer::Hosted, chosen->host};
}

// The loader's binary search, which takes the first entry of that hash it meets.
std::optional<std::uint32_t> SetOfHash(const ApiSetSchema& schema, std::uint32_t hash) {
    std::ptrdiff_t low = 0;
    std::ptrdiff_t high = static_cast<std::ptrdiff_t>(schema.hashes.size()) - 1;
    while (low <= high) {
        const std::ptrdiff_t middle = low + (high - low) / 2;
        const auto& [entryHash, setIndex] = schema.hashes[static_cast<std::size_t>(middle)];
        if (entryHash == hash) return setIndex;
        if (entryHash < hash) low = middle + 1;
        else high = middle - 1;
    }
    return std::nullopt;
}

const ApiSet* FindVersion6(const ApiSetSchema& schema, std::u16string_view name) {
    const std::size_t lastHyphen = name.rfind(u'-');
    std::uint32_t hash = 0;
    for (std::size_t i = 0; i < lastHyphen; ++i) hash = hash * schema.hashFactor + LowerAscii(name[i]);
    const std::optional<std::uint32_t> index = SetOfHash(schema, hash);
    if (!index) return nullptr;
    const ApiSet& set = schema.sets[*index];
    if (set.hashedChars != lastHyphen || !SameLetters(std::u16string_view(set.name).substr(0, lastHyphen), name.substr(0, lastHyphen)))
        return nullptr;
    return &set;
}

const ApiSet* FindVersion2(const ApiSetSchema& schema, std::u16string_view name) {
    for (const ApiSet& set : schema.sets) {
        if (SameLetters(set.name, name.substr(4))) return &set;
    }
    return nullptr;
}

}  // namespace

std::optional<ApiSetSchema> ReadApiSetSchema(std::string_view bytes) {
    SchemaBytes in(bytes);
    switch (in.U32(0)) {
    case 2:
        return ReadVersion2(bytes);
    case 6:
        return ReadVersion6(bytes);
    default:
        return std::nullopt;
    }
}

ApiSetResolution ResolveApiSet(const ApiSetSchema& schema, std::string_view dllName, std::u16string_view importerName) {
    const std::u16string name = BaseName(dllName);
    if (!HasSetPrefix(name)) return {};
    const ApiSet* set = schema.version == 6 ? FindVersion6(schema, name) : FindVersion2(schema, name);
    return set ? HostFor(*set, importerName) : ApiSetResolution{};
}
