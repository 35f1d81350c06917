// The version information block, walked node by node. A node is a 16-bit
// length (the whole node with its children), a 16-bit value length (characters
// for a text, bytes for binary data), a 16-bit type (1 text, 0 binary), a
// NUL-terminated UTF-16 key, the value, then the children, each part starting
// on a 4-byte boundary. No node reaches beyond its parent or the block.
#include "modules/version_block.h"

#include <algorithm>

namespace {

constexpr std::size_t kHeaderBytes = 6;
constexpr std::size_t kTranslationBytes = 4;

std::size_t Align4(std::size_t offset) {
    return (offset + 3) & ~std::size_t{3};
}

wchar_t AsciiLower(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool SameKey(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
               return AsciiLower(x) == AsciiLower(y);
           });
}

struct Node {
    std::size_t end;  // one past its last byte
    std::uint16_t valueLength;
    std::uint16_t type;
    std::wstring key;
    std::size_t valueStart;
    std::size_t childrenStart;
};

class Block {
public:
    Block(const unsigned char* bytes, std::size_t size) : bytes_(bytes), size_(size) {}

    // The node at the offset, cut to the limit (the end of its parent or of the
    // block); nothing when its header or key does not fit there.
    std::optional<Node> NodeAt(std::size_t at, std::size_t limit) const {
        if (at > limit || limit - at < kHeaderBytes) return std::nullopt;
        std::size_t length = Word(at);
        if (length < kHeaderBytes) return std::nullopt;
        Node node;
        node.end = std::min(limit, at + length);
        node.valueLength = Word(at + 2);
        node.type = Word(at + 4);
        std::size_t unit = at + kHeaderBytes;
        for (; unit + 2 <= node.end && Word(unit) != 0; unit += 2) node.key.push_back(static_cast<wchar_t>(Word(unit)));
        if (unit + 2 > node.end) return std::nullopt;
        node.valueStart = Align4(unit + 2);
        std::size_t valueBytes = std::size_t{node.valueLength} * (node.type ? 2 : 1);
        node.childrenStart = Align4(node.valueStart + valueBytes);
        return node;
    }

    std::optional<Node> Root() const { return NodeAt(0, size_); }

    std::optional<Node> Child(const std::optional<Node>& parent, std::wstring_view key) const {
        if (!parent) return std::nullopt;
        for (std::size_t at = parent->childrenStart; at < parent->end;) {
            std::optional<Node> child = NodeAt(at, parent->end);
            if (!child) return std::nullopt;
            if (SameKey(child->key, key)) return child;
            at = Align4(child->end);
        }
        return std::nullopt;
    }

    // Bytes of the node's value that lie inside the node.
    static std::size_t ValueRoom(const Node& node) {
        return node.valueStart < node.end ? node.end - node.valueStart : 0;
    }

    std::uint16_t Word(std::size_t at) const {
        return static_cast<std::uint16_t>(bytes_[at] | (bytes_[at + 1] << 8));
    }

private:
    const unsigned char* bytes_;
    std::size_t size_;
};

}  // namespace

std::vector<VersionTranslation> ReadVersionTranslations(const unsigned char* block, std::size_t size) {
    Block version(block, size);
    std::optional<Node> list = version.Child(version.Child(version.Root(), L"VarFileInfo"), L"Translation");
    if (!list) return {};
    std::size_t bytes = std::min<std::size_t>(list->valueLength, Block::ValueRoom(*list));
    std::vector<VersionTranslation> translations(bytes / kTranslationBytes);
    for (std::size_t i = 0; i < translations.size(); ++i) {
        std::size_t at = list->valueStart + i * kTranslationBytes;
        translations[i] = {version.Word(at), version.Word(at + 2)};
    }
    return translations;
}

std::optional<std::wstring> ReadVersionString(const unsigned char* block, std::size_t size, std::wstring_view table,
                                              std::wstring_view key) {
    Block version(block, size);
    std::optional<Node> value =
        version.Child(version.Child(version.Child(version.Root(), L"StringFileInfo"), table), key);
    if (!value) return std::nullopt;
    std::wstring text;
    if (value->valueLength > Block::ValueRoom(*value) / 2) return text;
    for (std::size_t i = 0; i < value->valueLength; ++i) {
        std::uint16_t unit = version.Word(value->valueStart + 2 * i);
        if (unit == 0) break;
        text.push_back(static_cast<wchar_t>(unit));
    }
    return text;
}
