// The length-keeping part of the Windows-1251 conversion, apart from the system
// call that does the converting (so that it also builds and is fuzzed natively):
// one byte per UTF-16 unit, whatever the converter does with units it cannot
// represent or with surrogate pairs.
#pragma once
#include <string>
#include <string_view>

// convert(units, count, out) converts count units into at most count bytes at out,
// replacing what it cannot represent, and returns the number of bytes written
// (0 on failure), as WideCharToMultiByte does for a single-byte code page.
template <class Convert>
std::string ConvertKeepingLength(std::wstring_view text, Convert convert) {
    std::string bytes(text.size(), '?');
    if (text.empty()) return bytes;
    int length = static_cast<int>(text.size());
    if (convert(text.data(), length, bytes.data()) == length) return bytes;
    // A surrogate pair converts to one byte for two units, and a failure to
    // none: go unit by unit so that each keeps a byte of its own and its place.
    for (std::size_t i = 0; i < text.size(); ++i) {
        char byte = '?';
        if (convert(&text[i], 1, &byte) != 1) byte = '?';
        bytes[i] = byte;
    }
    return bytes;
}
