// Fuzzes the SharedSection parse: it never reads past the text and, for plain
// text whose numbers fit 32 bits, reads the same numbers as the C library's
// swscanf with "%d,%d,%d".
#include <cstdlib>
#include <cwchar>

#include "diag/shared_section.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

// Plain ASCII with no run of more than nine digits: swscanf's result is defined there.
bool ScanfComparable(const std::wstring& text) {
    std::size_t digits = 0;
    for (wchar_t c : text) {
        if (c == 0 || c > 0x7F) return false;
        digits = (c >= L'0' && c <= L'9') ? digits + 1 : 0;
        if (digits > 9) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    std::wstring value = in.Rest();
    // The parse gets a view with no terminator behind it.
    std::wstring_view view(value.data(), value.size());
    std::optional<SharedSectionSizes> sizes = FindSharedSection(view);
    if (sizes.has_value() != (view.find(L"SharedSection=") != std::wstring_view::npos)) std::abort();
    if (!sizes || !ScanfComparable(value)) return 0;
    int expected[3] = {0, 0, 0};
    std::wstring rest = value.substr(value.find(L"SharedSection=") + 14);
    std::swscanf(rest.c_str(), L"%d,%d,%d", &expected[0], &expected[1], &expected[2]);
    if (sizes->first != expected[0] || sizes->second != expected[1] || sizes->third != expected[2]) std::abort();
    if (DesktopHeapTooSmall(sizes->third) != (sizes->third >= 0 && sizes->third < 256)) std::abort();
    return 0;
}
