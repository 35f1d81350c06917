// Fuzzes the Windows-1251 conversion's length keeping, with a table-driven
// encoder standing in for the system's: one byte per unit, a zero byte only for
// a zero unit, representable characters exactly their byte, and '?' for every
// other unit (each half of a surrogate pair included).
#include <cstdlib>

#include "base/length_keeping_conversion.h"
#include "tests/fuzz/cp1251_table.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const std::wstring text = in.Rest();
    const std::string bytes = ConvertKeepingLength(text, StandInCp1251);
    if (bytes.size() != text.size()) std::abort();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(bytes[i]);
        if ((byte == 0) != (text[i] == 0)) std::abort();
        const int expected = Cp1251Byte(text[i]);
        if (expected >= 0 && byte != expected) std::abort();
        if (expected < 0 && byte != '?') std::abort();
    }
    return 0;
}
