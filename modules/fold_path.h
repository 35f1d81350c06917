// FoldPath: a known shell folder inside a path becomes its placeholder (%SYSTEM% ...).
#pragma once
#include <array>
#include <cstddef>
#include <string>

// One row of the folder table: the shell folder's CSIDL and its placeholder.
struct FolderPlaceholder {
    int csidl;
    const wchar_t* placeholder;
};

inline constexpr std::size_t kFolderPlaceholderCount = 21;
using FolderTexts = std::array<std::wstring, kFolderPlaceholderCount>;

// The folder table in its fixed order; on equal folder texts the earlier row wins.
extern const std::array<FolderPlaceholder, kFolderPlaceholderCount> kFolderPlaceholders;

// Replaces the first occurrence (ignoring case) of the longest known shell
// folder in the path by its placeholder; leaves the path unchanged otherwise.
// The folder texts are the shell's; they are asked for again whenever the
// shell-folder registry keys have changed since the last call of this thread.
void FoldPath(std::wstring& path);

// The same rule with the folder texts given, one per table row in table order
// (empty: the shell gave none).
void FoldPathWithFolders(std::wstring& path, const FolderTexts& folderTexts);

// The case-insensitive comparison's lowering: A-Z, other characters below
// U+0100 kept as they are, the rest by the system's lower-case mapping.
std::wstring LowerForFolding(std::wstring text);
