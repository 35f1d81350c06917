// Registry values that the report shows as they stand: the desktop heap setting
// and AppInit_DLLs.
#pragma once
#include <string>

// The data of a value under HKEY_LOCAL_MACHINE read as text, up to its first zero
// character; empty when the key or value cannot be read. Whatever the value's
// type or size, only its whole characters are used and nothing is read past them.
std::wstring ReadHklmText(const wchar_t* keyPath, const wchar_t* valueName);
