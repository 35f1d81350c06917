// SplitPath: drive, directory, name and extension, joined back in pairs.
#include "report/split_path.h"

#include "base/format_bounded.h"

namespace {

std::wstring_view Cut(std::wstring_view part, std::size_t capacity) {
    return part.substr(0, capacity - 1);
}

}  // namespace

void SplitPath(std::wstring_view path, wchar_t* directory, wchar_t* name) {
    std::wstring_view drive;
    if (path.size() >= 2 && path[1] == L':') {
        drive = path.substr(0, 2);
        path.remove_prefix(2);
    }
    std::size_t slash = path.find_last_of(L"\\/");
    std::wstring_view folder = slash == std::wstring_view::npos ? std::wstring_view() : path.substr(0, slash + 1);
    std::wstring_view rest = path.substr(folder.size());
    std::size_t dot = rest.rfind(L'.');
    std::wstring_view extension = dot == std::wstring_view::npos ? std::wstring_view() : rest.substr(dot);
    std::wstring_view stem = rest.substr(0, rest.size() - extension.size());
    FormatBounded(directory, kPathChars, L"%s%s", Cut(drive, 5), Cut(folder, kPathChars));
    FormatBounded(name, kPathChars, L"%s%s", Cut(stem, kPathChars), Cut(extension, kPathChars));
}
