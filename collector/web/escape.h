// Escaping of hostile text for every place a report's text goes out: HTML
// text and attributes, JSON strings, CSV cells. Every text of a report is
// treated as hostile, down to invalid UTF-8.
#pragma once
#include <string>
#include <string_view>

namespace collector {

// The text with every invalid UTF-8 sequence replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);

// For element text and quoted attribute values alike.
std::string EscapeHtml(std::string_view text);

// A JSON string literal, quotes included. "<", ">" and "&" are escaped too, so
// that a response sniffed as HTML still carries no markup.
std::string JsonString(std::string_view text);

// One CSV cell: quoted when it holds a separator, quote or line break; a cell
// that a spreadsheet would take for a formula (= + - @, tab, carriage return
// first) gets a leading apostrophe.
std::string CsvCell(std::string_view text);

// Percent-decoding of a query string or form body component ("+" is a blank).
std::string DecodeFormComponent(std::string_view text);
std::string EncodeQueryComponent(std::string_view text);

}  // namespace collector
