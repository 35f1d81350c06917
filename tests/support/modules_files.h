// File helpers of the module-facts tests: files of a given size and file times.
#pragma once
#include <windows.h>

#include <string>

// A file time from a UTC calendar time.
FILETIME UtcFileTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second);
// Creates (or replaces) a file of exactly this many bytes.
void WriteFileOfSize(const std::wstring& path, std::size_t bytes);
// Sets a file's creation and last-write times; false when the file could not be changed.
bool SetCreatedAndModified(const std::wstring& path, const FILETIME& created, const FILETIME& modified);
// Copies a file into a test folder under a new name and sets its creation and
// last-write times to 05.03.2013 23:59:30 UTC (Wine keeps only the latter and
// reports it for both).
std::wstring CopyWithKnownTimes(const std::wstring& source, const std::wstring& folder, const std::wstring& name);
// The shell's text of a CSIDL folder, or empty.
std::wstring ShellFolder(int csidl);

// How a crafted copy of fact_two_languages.dll lies in its version resource.
enum class VersionLie {
    TranslationBeyondBlock,  // the translation list claims 65,532 bytes
    StringLengthBeyondNode,  // the Russian CompanyName claims 32,767 characters and has no NUL
    TableEndsInsideHeader,   // the Russian table's length ends inside the header of its last value
};
// Writes fact_two_languages.dll with its version resource patched that way into
// the folder under the name; its full path, or empty when the file could not be made.
std::wstring CraftedVersionDll(const std::wstring& folder, const std::wstring& name, VersionLie lie);
