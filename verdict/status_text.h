// The descriptions of exception codes and exit statuses (verdict/status_texts.inc).
#pragma once
#include <cstdint>
#include <string_view>

// The description of an exception code; "Нет описания" for codes outside the table.
std::wstring_view ExceptionDescription(std::uint32_t code);

// The description of an exit status; "Нет описания" for codes outside the table.
std::wstring_view ExitStatusDescription(std::uint32_t code);
// The same, empty for codes outside the table.
std::wstring_view KnownExitStatusDescription(std::uint32_t code);

// The codes with which the .NET host ends a program whose runtime it cannot find or start.
bool IsDotNetHostStatus(std::uint32_t code);
