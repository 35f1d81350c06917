// Parsing of the "SharedSection=" numbers and the desktop heap threshold.
#include "diag/shared_section.h"

#include <climits>
#include <cstdint>

namespace {

constexpr std::wstring_view kSharedSectionKey = L"SharedSection=";
constexpr unsigned kSmallestHeapKb = 256;

bool IsScanfSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// One "%d" at pos: skips white space, an optional sign, then at least one digit.
// On success stores the number and moves pos past it.
bool ReadNumber(std::wstring_view text, std::size_t& pos, int& number) {
    std::size_t at = pos;
    while (at < text.size() && IsScanfSpace(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == L'+' || text[at] == L'-')) negative = text[at++] == L'-';
    if (at >= text.size() || !IsDigit(text[at])) return false;
    // Held just above the 32-bit range so that a long run of digits cannot overflow.
    constexpr std::int64_t kCeiling = static_cast<std::int64_t>(INT_MAX) + 2;
    std::int64_t magnitude = 0;
    for (; at < text.size() && IsDigit(text[at]); ++at) {
        magnitude = magnitude * 10 + (text[at] - L'0');
        if (magnitude > kCeiling) magnitude = kCeiling;
    }
    std::int64_t value = negative ? -magnitude : magnitude;
    if (value > INT_MAX) value = INT_MAX;
    if (value < INT_MIN) value = INT_MIN;
    number = static_cast<int>(value);
    pos = at;
    return true;
}

bool ReadComma(std::wstring_view text, std::size_t& pos) {
    if (pos >= text.size() || text[pos] != L',') return false;
    ++pos;
    return true;
}

}  // namespace

std::optional<SharedSectionSizes> FindSharedSection(std::wstring_view value) {
    std::size_t key = value.find(kSharedSectionKey);
    if (key == std::wstring_view::npos) return std::nullopt;
    std::wstring_view rest = value.substr(key + kSharedSectionKey.size());
    SharedSectionSizes sizes;
    std::size_t pos = 0;
    if (ReadNumber(rest, pos, sizes.first) && ReadComma(rest, pos) && ReadNumber(rest, pos, sizes.second) &&
        ReadComma(rest, pos)) {
        ReadNumber(rest, pos, sizes.third);
    }
    return sizes;
}

bool DesktopHeapTooSmall(int nonInteractiveHeapKb) {
    return static_cast<unsigned>(nonInteractiveHeapKb) < kSmallestHeapKb;
}
