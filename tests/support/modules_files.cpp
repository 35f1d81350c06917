// File helpers of the module-facts tests.
#include "tests/support/modules_files.h"

#include <shlobj.h>

#include <string>

#include "base/handles.h"

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
