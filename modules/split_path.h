// The one place a path is taken apart: drive, folder, name and extension.
// Pure text work (no system calls), fuzzed natively; each caller cuts the
// parts to its own buffer, or keeps them whole.
#pragma once
#include <string>
#include <string_view>

// Views into the path; together, in order, they are the whole path.
struct PathParts {
    std::wstring_view drive;      // "C:" when the second character is a colon, else empty
    std::wstring_view folder;     // up to and with the last backslash or slash after the drive
    std::wstring_view stem;       // the name up to its last dot
    std::wstring_view extension;  // from the name's last dot, or empty
};

PathParts SplitPathParts(std::wstring_view path);

// The folder of a file with its drive, without its one trailing separator:
// C:\Tools\zar.exe gives C:\Tools, C:\zar.exe gives C:.
std::wstring FolderOf(std::wstring_view path);
// The name and extension: C:\Tools\zar.exe gives zar.exe.
std::wstring FileNameOf(std::wstring_view path);
// A name under a folder, with one backslash between them unless the folder ends with a separator.
std::wstring JoinPath(std::wstring_view folder, std::wstring_view name);

struct UploadPathParts {
    std::wstring directory;  // drive and directory, without one trailing backslash
    std::wstring name;       // name and extension
};

// The upload line's split of a folded path, whole however long it is:
// %SYSTEM%\demo.dll gives %SYSTEM% and demo.dll; D:\demo.dll gives D: and demo.dll.
UploadPathParts SplitForUpload(std::wstring_view path);
