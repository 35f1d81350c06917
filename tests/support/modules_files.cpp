// File helpers of the module-facts tests.
#include "tests/support/modules_files.h"

#include <shlobj.h>

#include <string>

#include "base/handles.h"
#include "tests/support/test_files.h"

namespace {

// Offset of the n-th (from 0) UTF-16 occurrence of the text in the bytes, or npos.
std::size_t FindUtf16(const std::string& bytes, std::wstring_view text, int n) {
    std::string pattern;
    for (wchar_t c : text) pattern += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    std::size_t at = bytes.find(pattern);
    for (; n > 0 && at != std::string::npos; --n) at = bytes.find(pattern, at + 1);
    return at;
}

void PutWord(std::string& bytes, std::size_t at, unsigned value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

unsigned WordAt(const std::string& bytes, std::size_t at) {
    return static_cast<unsigned char>(bytes[at]) | (static_cast<unsigned char>(bytes[at + 1]) << 8);
}

// A node's header stands 6 bytes before its key: length, value length, type.
constexpr std::size_t kKeyOffset = 6;

}  // namespace

FILETIME UtcFileTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME utc{};
    utc.wYear = year;
    utc.wMonth = month;
    utc.wDay = day;
    utc.wHour = hour;
    utc.wMinute = minute;
    utc.wSecond = second;
    FILETIME time{};
    SystemTimeToFileTime(&utc, &time);
    return time;
}

void WriteFileOfSize(const std::wstring& path, std::size_t bytes) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    std::string content(bytes, 'k');
    DWORD written = 0;
    if (bytes) WriteFile(file.get(), content.data(), static_cast<DWORD>(bytes), &written, nullptr);
}

bool SetCreatedAndModified(const std::wstring& path, const FILETIME& created, const FILETIME& modified) {
    UniqueFile file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && SetFileTime(file.get(), &created, nullptr, &modified);
}

std::wstring CopyWithKnownTimes(const std::wstring& source, const std::wstring& folder, const std::wstring& name) {
    std::wstring copy = folder + name;
    CopyFileW(source.c_str(), copy.c_str(), FALSE);
    SetCreatedAndModified(copy, UtcFileTime(2013, 3, 5, 23, 59, 30), UtcFileTime(2013, 3, 5, 23, 59, 30));
    return copy;
}

std::wstring ShellFolder(int csidl) {
    wchar_t buffer[MAX_PATH + 1] = {};
    if (!SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE)) return {};
    return buffer;
}

std::wstring CraftedVersionDll(const std::wstring& folder, const std::wstring& name, VersionLie lie) {
    std::string bytes = ReadFileBytes(TargetPath(L"fact_two_languages.dll"));
    std::size_t translation = FindUtf16(bytes, L"Translation", 0);
    std::size_t russianCompany = FindUtf16(bytes, L"CompanyName", 1);
    std::size_t russianTable = FindUtf16(bytes, L"041904e3", 0);
    std::size_t author = FindUtf16(bytes, L"Author", 0);
    if (translation == std::string::npos || russianCompany == std::string::npos || russianTable == std::string::npos ||
        author == std::string::npos)
        return {};
    switch (lie) {
    case VersionLie::TranslationBeyondBlock:
        PutWord(bytes, translation - kKeyOffset + 2, 0xFFFC);
        break;
    case VersionLie::StringLengthBeyondNode: {
        std::size_t header = russianCompany - kKeyOffset;
        std::size_t nodeEnd = header + WordAt(bytes, header);
        PutWord(bytes, header + 2, 0x7FFF);
        // The value's closing NUL (the node's last unit) becomes a letter.
        PutWord(bytes, nodeEnd - 2, L'X');
        break;
    }
    case VersionLie::TableEndsInsideHeader: {
        std::size_t table = russianTable - kKeyOffset;
        std::size_t authorHeader = author - kKeyOffset;
        PutWord(bytes, table, static_cast<unsigned>(authorHeader + 3 - table));
        break;
    }
    }
    std::wstring path = folder + name;
    WriteFileBytes(path, bytes);
    return ReadFileBytes(path) == bytes ? path : std::wstring();
}
