// The fatal error box; the only part of app/ that the subsystems below know.
#pragma once
#include <string>

// Shows "<operation> failed with error 0x<code>: <system text>" captioned
// "Error" and ends the process with the thread's last error code.
[[noreturn]] void ReportErrorAndExit(const std::wstring& operation);
