// Fuzzes the bounded formatter: any format with any arguments stays within its
// buffer, is always terminated, and a cut result is the start of the whole one.
#include <cstdlib>
#include <vector>

#include "base/format_bounded.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

std::wstring TextOf(const std::vector<wchar_t>& buffer) {
    return std::wstring(buffer.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    std::size_t capacity = in.Byte() % 64;
    std::wstring text1 = in.Text(40), text2 = in.Text(40);
    FormatArg args[] = {FormatArg(text1), FormatArg(static_cast<int>(in.Number())), FormatArg(in.Number()),
                        FormatArg(text2), FormatArg(static_cast<unsigned long long>(in.Number()) << 20)};
    std::wstring format = in.Rest();

    std::vector<wchar_t> whole(1 << 16, L'#');
    std::uint32_t wholeStatus = FormatBoundedArgs(whole.data(), whole.size(), format, args);
    Check(wholeStatus == kFormatOk || wholeStatus == kFormatCut);

    std::vector<wchar_t> small(capacity + 1, L'#');
    std::uint32_t status = FormatBoundedArgs(small.data(), capacity, format, args);
    Check(small[capacity] == L'#');  // nothing written past the capacity
    if (capacity == 0) {
        Check(status == kFormatInvalid && small[0] == L'#');
        return 0;
    }
    std::wstring cut = TextOf(small);
    Check(cut.size() <= capacity - 1);
    // A NUL inside the format ends the text early in both results alike.
    if (wholeStatus == kFormatOk && format.find(L'\0') == std::wstring::npos) {
        std::wstring full = TextOf(whole);
        Check(full.compare(0, cut.size(), cut) == 0);
        Check((status == kFormatOk) == (full.size() <= capacity - 1));
    }
    return 0;
}
