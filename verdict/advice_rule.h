// The rule that picks a finding's advice from the rows of verdict/advice.inc,
// shared by zar.exe (wide texts) and the report collector (UTF-8 texts).
// Header only and free of Windows, so that both programs apply the same rows
// the same way.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// zar.exe's line of advice begins so; the collector's pages head a column with it.
inline constexpr wchar_t kAdvicePrefix[] = L"Что делать: ";

struct AdviceRow {
    std::string_view kind;
    std::string_view module;
    std::uint32_t code;
    std::string_view utf8;
    std::wstring_view wide;
};

#define KORVANE_ADVICE(kind, module, code, text) {kind, module, code, text, L"" text},
inline constexpr AdviceRow kAdviceRows[] = {
#include "verdict/advice.inc"
};
#undef KORVANE_ADVICE

namespace advice_detail {

template <class Char>
Char LowerAscii(Char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

// The file name after the last separator.
template <class Char>
std::basic_string_view<Char> FileName(std::basic_string_view<Char> path) {
    std::size_t slash = path.find_last_of(static_cast<Char>('\\'));
    std::size_t forward = path.find_last_of(static_cast<Char>('/'));
    if (slash == path.npos || (forward != path.npos && forward > slash)) slash = forward;
    return slash == path.npos ? path : path.substr(slash + 1);
}

// A row's module pattern against a file name: "" fits any, a trailing "*" any
// ending; ASCII letters compare without case (the patterns are ASCII, and no
// other character of a name can equal one of theirs).
template <class Char>
bool FitsName(std::string_view pattern, std::basic_string_view<Char> name) {
    if (pattern.empty()) return true;
    const bool prefix = pattern.back() == '*';
    if (prefix) pattern.remove_suffix(1);
    if (name.size() < pattern.size() || (!prefix && name.size() != pattern.size())) return false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (LowerAscii(name[i]) != static_cast<Char>(pattern[i])) return false;
    }
    return true;
}

}  // namespace advice_detail

// The row that gives the advice on a finding, or none. module is the finding's
// module (a name or a path); importerKnown: the upload names the module that
// imports it; code: the finding's code, when it has one.
template <class Char>
const AdviceRow* FindAdviceRow(std::string_view kind, std::basic_string_view<Char> module, bool importerKnown,
                               std::optional<std::uint32_t> code) {
    // A foreign image that no module imports is the process's own image, no DLL to replace.
    if (kind == "bad_image_format" && !importerKnown) return nullptr;
    const std::basic_string_view<Char> name = advice_detail::FileName(module);
    for (const AdviceRow& row : kAdviceRows) {
        if (row.kind != kind || !advice_detail::FitsName(row.module, name)) continue;
        if (row.code != 0 && row.code != code) continue;
        return row.utf8.empty() ? nullptr : &row;
    }
    return nullptr;
}
