// Registry values that the report shows as they stand: the desktop heap setting
// and AppInit_DLLs.
#pragma once
#include <optional>
#include <string>

// The data of a value under HKEY_LOCAL_MACHINE read as text, up to its first zero
// character; empty when the key or value cannot be read. Whatever the value's
// type or size, only its whole characters are used and nothing is read past them.
std::wstring ReadHklmText(const wchar_t* keyPath, const wchar_t* valueName);

// The two values as the report shows them: the Windows subsystem's "Windows"
// value (which holds SharedSection=) and AppInit_DLLs.
std::wstring ReadSubSystemsWindows();
std::wstring ReadAppInitDlls();

// The desktop heap size of the SharedSection setting when the log's warning applies to it.
std::optional<int> SmallDesktopHeapKb(const std::wstring& subSystemsWindows);
