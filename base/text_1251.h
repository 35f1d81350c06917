// Windows-1251 bytes for the two places that write bytes: the log and the upload body.
#pragma once
#include <string>
#include <string_view>

// One byte per UTF-16 unit: the system's code page 1251 conversion with its
// best-fit mappings; a unit it cannot represent becomes '?', so the result
// always has as many bytes as the input has units and no text is ever lost.
std::string ToCp1251(std::wstring_view text);
