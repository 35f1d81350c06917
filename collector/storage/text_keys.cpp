// Case folding and UTF-8 cleaning for the store.
#include "collector/storage/text_keys.h"

namespace collector {

std::string FoldCase(std::string_view text) {
    std::string out(text);
    for (std::size_t i = 0; i < out.size(); ++i) {
        auto c = static_cast<unsigned char>(out[i]);
        if (c >= 'A' && c <= 'Z') {
            out[i] = static_cast<char>(c + 32);
        } else if (c == 0xD0 && i + 1 < out.size()) {
            auto n = static_cast<unsigned char>(out[i + 1]);
            if (n >= 0x90 && n <= 0x9F) {  // А..П -> а..п
                out[i + 1] = static_cast<char>(n + 0x20);
            } else if (n >= 0xA0 && n <= 0xAF) {  // Р..Я -> р..я
                out[i] = static_cast<char>(0xD1);
                out[i + 1] = static_cast<char>(n - 0x20);
            } else if (n >= 0x80 && n <= 0x8F) {  // Ѐ..Џ (Ё among them) -> ѐ..џ
                out[i] = static_cast<char>(0xD1);
                out[i + 1] = static_cast<char>(n + 0x10);
            }
            ++i;
        }
    }
    return out;
}

std::string SearchKey(std::string_view text) {
    constexpr std::size_t kMaxKey = 1000;
    std::string key = FoldCase(text.substr(0, kMaxKey + 4));
    if (key.size() <= kMaxKey) return key;
    std::size_t end = kMaxKey;
    while (end > 0 && (static_cast<unsigned char>(key[end]) & 0xC0) == 0x80) --end;  // not inside a character
    key.resize(end);
    return key;
}

namespace {

// Length of the valid UTF-8 sequence at text[i], or 0.
std::size_t SequenceLength(std::string_view text, std::size_t i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char c = byte(i);
    if (c >= 0x01 && c <= 0x7F) return 1;
    std::size_t length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    }
    unsigned char second = byte(i + 1);
    if (c == 0xE0 && second < 0xA0) return 0;  // overlong
    if (c == 0xED && second > 0x9F) return 0;  // surrogate
    if (c == 0xF0 && second < 0x90) return 0;  // overlong
    if (c == 0xF4 && second > 0x8F) return 0;  // above U+10FFFF
    return length;
}

}  // namespace

std::string CleanText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t length = SequenceLength(text, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

}  // namespace collector
