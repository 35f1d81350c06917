// Fuzzes the one path splitter and its callers: the parts are the path again;
// SplitPath's parts stay within their buffers and, when nothing had to be cut,
// together give back the path; the upload line's split cuts nothing, whatever
// the length, and drops only one trailing backslash; FolderOf and FileNameOf
// agree with both.
#include <cstdlib>

#include "modules/split_path.h"
#include "report/split_path.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

void CheckParts(const std::wstring& path) {
    const PathParts parts = SplitPathParts(path);
    const std::wstring whole =
        std::wstring(parts.drive) + std::wstring(parts.folder) + std::wstring(parts.stem) + std::wstring(parts.extension);
    if (whole != path) std::abort();
    const std::wstring name = std::wstring(parts.stem) + std::wstring(parts.extension);
    if (name.find_first_of(L"\\/") != std::wstring::npos || parts.extension.find(L'.', 1) != std::wstring_view::npos) std::abort();
    if (FileNameOf(path) != name) std::abort();
    const std::wstring folder = FolderOf(path);
    if (folder.size() + name.size() + (parts.folder.empty() ? 0 : 1) != path.size()) std::abort();
    if (path.compare(0, folder.size(), folder) != 0) std::abort();
}

void CheckBufferSplit(const std::wstring& path) {
    if (path.find(L'\0') != std::wstring::npos) return;  // the program never splits such a path
    wchar_t directory[kPathChars + 1];
    wchar_t name[kPathChars + 1];
    directory[kPathChars] = name[kPathChars] = L'#';
    SplitPath(path, directory, name);
    if (directory[kPathChars] != L'#' || name[kPathChars] != L'#') std::abort();
    const std::wstring joined = std::wstring(directory) + name;
    if (path.size() < kPathChars && joined != path) std::abort();
    if (std::wstring(directory).size() >= kPathChars || std::wstring(name).size() >= kPathChars) std::abort();
}

void CheckUploadSplit(const std::wstring& path) {
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
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const std::wstring path = in.Rest();
    CheckParts(path);
    CheckBufferSplit(path);
    CheckUploadSplit(path);
    return 0;
}
