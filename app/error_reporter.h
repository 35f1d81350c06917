// The fatal error box; the only part of app/ that the subsystems below know.
#pragma once
#include <windows.h>

#include <string>

// Shows "<operation> failed with error 0x<code>: <system text>" captioned
// "Error" and ends the process with the code. The caller takes the code
// (GetLastError) right where its call failed: anything in between, building
// the operation text included, may change the thread's last error.
[[noreturn]] void ReportErrorAndExit(const std::wstring& operation, DWORD code);
