// SplitPath: the path's parts joined back in pairs, each cut to its buffer.
#include "report/split_path.h"

#include "base/format_bounded.h"
#include "modules/split_path.h"

namespace {

std::wstring_view Cut(std::wstring_view part, std::size_t capacity) {
    return part.substr(0, capacity - 1);
}

}  // namespace

void SplitPath(std::wstring_view path, wchar_t* directory, wchar_t* name) {
    const PathParts parts = SplitPathParts(path);
    FormatBounded(directory, kPathChars, L"%s%s", Cut(parts.drive, 5), Cut(parts.folder, kPathChars));
    FormatBounded(name, kPathChars, L"%s%s", Cut(parts.stem, kPathChars), Cut(parts.extension, kPathChars));
}
