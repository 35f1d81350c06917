// The log file's place beside zar.exe.
#pragma once
#include <string>

// The directory of the running executable followed by zar.log.
std::wstring LogFilePath();
