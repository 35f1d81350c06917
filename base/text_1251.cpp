// Wide text to Windows-1251 with the system's conversion.
#include "base/text_1251.h"

#include <windows.h>

namespace {

constexpr UINT kCp1251 = 1251;

// Converts with the system's default character ('?' for 1251); returns the byte count.
int ConvertRun(const wchar_t* text, int length, char* out) {
    return WideCharToMultiByte(kCp1251, 0, text, length, out, length, nullptr, nullptr);
}

}  // namespace

std::string ToCp1251(std::wstring_view text) {
    std::string bytes(text.size(), '?');
    if (text.empty()) return bytes;
    int length = static_cast<int>(text.size());
    if (ConvertRun(text.data(), length, bytes.data()) == length) return bytes;
    // Surrogate pairs convert to fewer bytes than units; go unit by unit so that
    // each keeps its own byte and its place.
    for (std::size_t i = 0; i < text.size(); ++i) {
        char byte = '?';
        if (ConvertRun(&text[i], 1, &byte) != 1) byte = '?';
        bytes[i] = byte;
    }
    return bytes;
}
