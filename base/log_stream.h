// The log's byte stream: a file written in Windows-1251 with CR LF line ends,
// each line handed to the system as it is written.
#pragma once
#include <string>
#include <string_view>

#include "base/handles.h"

class LogStream {
public:
    // Creates (truncates) the file; others may read and write it meanwhile. A
    // name planted there as a link to another file is replaced, never followed.
    bool Open(const std::wstring& path);
    // Closes the file; false when it was not open.
    bool Close();
    // The log counts as open from a successful Open to Close.
    bool IsOpen() const { return file_.valid(); }
    // Writes the text and then "\n"; every "\n" is stored as CR LF. Skipped when not open.
    void WriteLine(std::wstring_view text);

private:
    UniqueFile file_;
};
