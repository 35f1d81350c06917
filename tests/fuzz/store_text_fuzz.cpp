// Fuzzes the store's handling of report texts: cleaning gives valid UTF-8
// without NUL and keeps valid text as it is; folding keeps the length and
// validity and is idempotent; a search key is a valid prefix of at most 1000 bytes.
#include <cstdlib>
#include <string>

#include "collector/storage/text_keys.h"

namespace {

bool ValidUtf8WithoutNul(const std::string& text) { return collector::CleanText(text) == text; }

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string clean = collector::CleanText(input);
    Check(clean.find('\0') == std::string::npos);
    Check(collector::CleanText(clean) == clean);
    Check(clean.size() >= input.size());  // each dropped byte becomes three

    const std::string folded = collector::FoldCase(clean);
    Check(folded.size() == clean.size());
    Check(ValidUtf8WithoutNul(folded));
    Check(collector::FoldCase(folded) == folded);

    const std::string key = collector::SearchKey(clean);
    Check(key.size() <= 1000);
    Check(ValidUtf8WithoutNul(key));
    Check(folded.compare(0, key.size(), key) == 0);
    return 0;
}
