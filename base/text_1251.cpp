// Wide text to Windows-1251 with the system's conversion.
#include "base/text_1251.h"

#include <windows.h>

#include "base/length_keeping_conversion.h"

namespace {

constexpr UINT kCp1251 = 1251;

// Converts with the system's default character ('?' for 1251); returns the byte count.
int ConvertRun(const wchar_t* text, int length, char* out) {
    return WideCharToMultiByte(kCp1251, 0, text, length, out, length, nullptr, nullptr);
}

}  // namespace

std::string ToCp1251(std::wstring_view text) {
    return ConvertKeepingLength(text, ConvertRun);
}
