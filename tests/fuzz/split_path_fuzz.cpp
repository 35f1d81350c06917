// Fuzzes SplitPath: both parts stay within their buffers and, when nothing had
// to be cut, together give back the path.
#include <cstdlib>

#include "report/split_path.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    std::wstring path = in.Rest();
    if (path.find(L'\0') != std::wstring::npos) return 0;  // the program never splits such a path
    wchar_t directory[kPathChars + 1];
    wchar_t name[kPathChars + 1];
    directory[kPathChars] = name[kPathChars] = L'#';
    SplitPath(path, directory, name);
    if (directory[kPathChars] != L'#' || name[kPathChars] != L'#') std::abort();
    std::wstring joined = std::wstring(directory) + name;
    if (path.size() < kPathChars && joined != path) std::abort();
    if (std::wstring(directory).size() >= kPathChars || std::wstring(name).size() >= kPathChars) std::abort();
    return 0;
}
