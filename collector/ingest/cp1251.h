// Windows-1251 to UTF-8: the one place where the collector reads the code page
// that zar.exe writes its upload in. Everything after ingest is UTF-8.
#pragma once
#include <string>
#include <string_view>

namespace collector {

// U+FFFD stands for the two bytes that carry no text: 0x98, which code page
// 1251 leaves unassigned, and 0x00, which no stored text may hold.
std::string DecodeWindows1251(std::string_view bytes);

}  // namespace collector
