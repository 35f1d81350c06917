// The path splitter and the small joins built on it.
#include "modules/split_path.h"

PathParts SplitPathParts(std::wstring_view path) {
    PathParts parts;
    if (path.size() >= 2 && path[1] == L':') parts.drive = path.substr(0, 2);
    const std::wstring_view rest = path.substr(parts.drive.size());
    const std::size_t slash = rest.find_last_of(L"\\/");
    parts.folder = slash == std::wstring_view::npos ? std::wstring_view() : rest.substr(0, slash + 1);
    const std::wstring_view name = rest.substr(parts.folder.size());
    const std::size_t dot = name.rfind(L'.');
    parts.extension = dot == std::wstring_view::npos ? std::wstring_view() : name.substr(dot);
    parts.stem = name.substr(0, name.size() - parts.extension.size());
    return parts;
}

std::wstring FolderOf(std::wstring_view path) {
    const PathParts parts = SplitPathParts(path);
    std::wstring_view folder = parts.folder;
    if (!folder.empty()) folder.remove_suffix(1);
    return std::wstring(parts.drive) + std::wstring(folder);
}

std::wstring FileNameOf(std::wstring_view path) {
    const PathParts parts = SplitPathParts(path);
    return std::wstring(parts.stem) + std::wstring(parts.extension);
}

std::wstring JoinPath(std::wstring_view folder, std::wstring_view name) {
    if (folder.empty()) return std::wstring(name);
    if (folder.back() == L'\\' || folder.back() == L'/') return std::wstring(folder) + std::wstring(name);
    return std::wstring(folder) + L"\\" + std::wstring(name);
}

UploadPathParts SplitForUpload(std::wstring_view path) {
    const PathParts parts = SplitPathParts(path);
    UploadPathParts upload;
    upload.directory = std::wstring(parts.drive) + std::wstring(parts.folder);
    if (!upload.directory.empty() && upload.directory.back() == L'\\') upload.directory.pop_back();
    upload.name = std::wstring(parts.stem) + std::wstring(parts.extension);
    return upload;
}
