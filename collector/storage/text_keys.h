// Keys the store derives from report texts: case-folded names for search,
// digests that identify dictionary rows, and text made safe for both databases.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace collector {

// Lower case for Latin and Cyrillic letters (Windows file names compare so).
std::string FoldCase(std::string_view text);

// The indexed search key of a name or company: folded, and cut to 1000 bytes
// (at a character boundary) because PostgreSQL refuses index rows over ~2700.
std::string SearchKey(std::string_view text);

// Valid UTF-8 without NUL: PostgreSQL stores neither invalid sequences nor NUL,
// and a batch must not fail on one hostile field. Each offending byte becomes U+FFFD.
std::string CleanText(std::string_view text);

// A 128-bit BLAKE2b digest (hex) of the fields, each length-prefixed so that
// ("ab","c") and ("a","bc") differ.
std::string DigestOf(const std::vector<std::string_view>& fields);

}  // namespace collector
