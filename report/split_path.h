// Splitting a path into drive-and-directory and name-and-extension.
#pragma once
#include <cstddef>
#include <string_view>

inline constexpr std::size_t kPathChars = 260;  // MAX_PATH, terminator included

// Writes drive and directory (with its trailing backslash) into directory and
// name and extension into name, each a buffer of kPathChars, cut to fit.
// C:\Tools\zar.exe gives C:\Tools\ and zar.exe.
void SplitPath(std::wstring_view path, wchar_t* directory, wchar_t* name);
