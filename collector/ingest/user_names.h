// The names of the machine's users, as they appear in paths of a report: the
// folder after "Users" (or "Documents and Settings"), which names a person,
// is replaced by a placeholder before anything is stored.
#pragma once
#include <string>
#include <string_view>

namespace collector {

inline constexpr std::string_view kUserNamePlaceholder = "%USERNAME%";

// C:\Users\ivan\AppData, c:/users/Ivan, \Device\HarddiskVolume2\Users\ivan,
// D:\Documents and Settings\ivan, its short form C:\DOCUME~1\ivan, the same
// with doubled backslashes, and a home share's \\server\home$\ivan all lose
// "ivan"; the shared profile folders (Public, Default, All Users, Default User)
// are no one's name and stay.
std::string WithoutUserNames(std::string_view path);

}  // namespace collector
