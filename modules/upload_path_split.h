// The upload line's split of a folded path into its directory text and its
// name text; pure text work (no system calls), so that it is fuzzed natively.
#pragma once
#include <string>
#include <string_view>

struct UploadPathParts {
    std::wstring directory;  // drive and directory, without one trailing backslash
    std::wstring name;       // name and extension
};

// Splits a path whole, however long it is: the drive is the first two characters
// when the second is a colon, the directory runs to the last backslash or slash.
// %SYSTEM%\demo.dll gives %SYSTEM% and demo.dll; D:\demo.dll gives D: and demo.dll.
UploadPathParts SplitForUpload(std::wstring_view path);
