// Fuzzes the upload line's path split: any length is split whole (nothing cut),
// the name holds no separator, and the parts rejoin to the folded path, with
// the one trailing backslash that the directory text drops.
#include <cstdlib>

#include "modules/upload_path_split.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const std::wstring path = in.Rest();
    const UploadPathParts parts = SplitForUpload(path);
    if (parts.name.find_first_of(L"\\/") != std::wstring::npos) std::abort();
    std::wstring rejoined = parts.directory + parts.name;
    if (rejoined.size() + 1 == path.size()) rejoined = parts.directory + L"\\" + parts.name;
    if (rejoined != path) std::abort();
    // The directory ends where the path's last separator after the drive ends.
    const std::size_t drive = path.size() >= 2 && path[1] == L':' ? 2 : 0;
    const std::size_t last = path.find_last_of(L"\\/");
    const std::size_t nameStart = last == std::wstring::npos || last < drive ? drive : last + 1;
    if (parts.name != path.substr(nameStart)) std::abort();
    return 0;
}
