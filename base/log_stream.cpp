// Writing of the log file: one WriteFile per line, no buffer of ours in between.
#include "base/log_stream.h"

#include "base/text_1251.h"

namespace {

// True when the name is a link to a file that has other names, or a reparse
// point: a program that can write the log's folder may have planted it there
// so that the log overwrites that other file.
bool IsPlantedLink(const std::wstring& path) {
    UniqueFile existing(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!existing || !GetFileInformationByHandle(existing.get(), &info)) return false;
    return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || info.nNumberOfLinks > 1;
}

}  // namespace

bool LogStream::Open(const std::wstring& path) {
    file_.reset();
    // Only the planted name is removed, never the file it leads to; a name that
    // cannot be removed leaves the log closed rather than written through it.
    if (IsPlantedLink(path) && !DeleteFileW(path.c_str())) return false;
    file_.reset(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return IsOpen();
}

bool LogStream::Close() {
    if (!IsOpen()) return false;
    file_.reset();
    return true;
}

void LogStream::WriteLine(std::wstring_view text) {
    if (!IsOpen()) return;
    std::string bytes;
    bytes.reserve(text.size() + 8);
    for (char byte : ToCp1251(text)) {
        if (byte == '\n') bytes += '\r';
        bytes += byte;
    }
    bytes += "\r\n";
    DWORD written = 0;
    WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
