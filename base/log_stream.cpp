// Writing of the log file: one WriteFile per line, no buffer of ours in between.
#include "base/log_stream.h"

#include "base/text_1251.h"

bool LogStream::Open(const std::wstring& path) {
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
