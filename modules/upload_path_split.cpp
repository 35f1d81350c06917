// The upload line's path split: nothing is cut, whatever the path's length.
#include "modules/upload_path_split.h"

UploadPathParts SplitForUpload(std::wstring_view path) {
    std::wstring_view drive;
    if (path.size() >= 2 && path[1] == L':') drive = path.substr(0, 2);
    std::wstring_view rest = path.substr(drive.size());
    std::size_t slash = rest.find_last_of(L"\\/");
    std::wstring_view folder = slash == std::wstring_view::npos ? std::wstring_view() : rest.substr(0, slash + 1);
    UploadPathParts parts;
    parts.directory = std::wstring(drive) + std::wstring(folder);
    if (!parts.directory.empty() && parts.directory.back() == L'\\') parts.directory.pop_back();
    parts.name = std::wstring(rest.substr(folder.size()));
    return parts;
}
