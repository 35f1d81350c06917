// The report upload (LaunchTrace::UploadReport, declared with the trace) and its text conversion.
#pragma once
#include <string>
#include <string_view>

// Windows-1251, one byte per UTF-16 unit; a unit that code page cannot hold
// goes out as "?", so a field keeps its length and never starts with a NUL.
std::string ToNarrowText(std::wstring_view text);
