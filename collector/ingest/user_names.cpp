// Path segments are compared without regard to ASCII case, as Windows does.
#include "collector/ingest/user_names.h"

#include <array>

namespace collector {
namespace {

bool IsSlash(char c) {
    return c == '\\' || c == '/';
}

bool SameAsciiText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

bool IsProfilesFolder(std::string_view segment) {
    return SameAsciiText(segment, "Users") || SameAsciiText(segment, "Documents and Settings");
}

bool IsSharedProfile(std::string_view segment) {
    constexpr std::array<std::string_view, 5> kShared = {"Public", "Default", "All Users", "Default User",
                                                         kUserNamePlaceholder};
    for (std::string_view shared : kShared)
        if (SameAsciiText(segment, shared)) return true;
    return false;
}

}  // namespace

std::string WithoutUserNames(std::string_view path) {
    std::string result;
    result.reserve(path.size());
    bool afterProfiles = false;  // the segment being read follows "Users\"
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = at;
        while (end < path.size() && !IsSlash(path[end])) ++end;
        std::string_view segment = path.substr(at, end - at);
        if (afterProfiles && !segment.empty() && !IsSharedProfile(segment))
            result += kUserNamePlaceholder;
        else
            result += segment;
        afterProfiles = IsProfilesFolder(segment);
        if (end == path.size()) break;
        result += path[end];
        at = end + 1;
    }
    return result;
}

}  // namespace collector
