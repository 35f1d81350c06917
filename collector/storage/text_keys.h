// Keys the store derives from report texts: case-folded names for search and
// text made safe for both databases. Pure code over hostile bytes (fuzzed).
#pragma once
#include <string>
#include <string_view>

namespace collector {

// Lower case for Latin and Cyrillic letters (Windows file names compare so).
std::string FoldCase(std::string_view text);

// The indexed search key of a name or company: folded, and cut to 1000 bytes
// (at a character boundary) because PostgreSQL refuses index rows over ~2700.
std::string SearchKey(std::string_view text);

// Valid UTF-8 without NUL: PostgreSQL stores neither invalid sequences nor NUL,
// and a batch must not fail on one hostile field. Each offending byte becomes U+FFFD.
std::string CleanText(std::string_view text);

}  // namespace collector
