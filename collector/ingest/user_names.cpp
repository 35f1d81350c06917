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

// "Users", "Documents and Settings" and its short name "DOCUME~1" (or ~2...).
bool IsProfilesFolder(std::string_view segment) {
    if (SameAsciiText(segment, "Users") || SameAsciiText(segment, "Documents and Settings")) return true;
    constexpr std::string_view kShort = "DOCUME~";
    return segment.size() > kShort.size() && SameAsciiText(segment.substr(0, kShort.size()), kShort) &&
           segment.find_first_not_of("0123456789", kShort.size()) == std::string_view::npos;
}

// Shares that hold one folder per user: \\server\home$\ivan.
bool IsHomeShare(std::string_view segment) {
    constexpr std::array<std::string_view, 8> kHomes = {"home",  "home$",  "homes",     "homes$",
                                                        "users", "users$", "profiles", "profiles$"};
    for (std::string_view home : kHomes)
        if (SameAsciiText(segment, home)) return true;
    return false;
}

bool IsSharedProfile(std::string_view segment) {
    constexpr std::array<std::string_view, 5> kShared = {"Public", "Default", "All Users", "Default User",
                                                         kUserNamePlaceholder};
    for (std::string_view shared : kShared)
        if (SameAsciiText(segment, shared)) return true;
    return false;
}

// A path's folders one by one, empty ones (doubled slashes) skipped, with
// what comes before each: whether the path is a share's (\\server\share or
// \\?\UNC\server\share) and which of its folders this is.
class Segments {
public:
    explicit Segments(std::string_view path) {
        unc_ = path.size() > 2 && IsSlash(path[0]) && IsSlash(path[1]) && path[2] != '?' && path[2] != '.';
    }

    // The name follows "Users\" or a home share; `segment` and `previous` are
    // the non-empty folders.
    bool NamesAUser(std::string_view segment) {
        bool user = false;
        if (SameAsciiText(previous_, "UNC") && index_ == 2 && !unc_) {
            unc_ = true;  // \\?\UNC\server: count the share's folders from here
            index_ = 0;
        }
        if (!IsSharedProfile(segment))
            user = IsProfilesFolder(previous_) || (unc_ && index_ == 2 && IsHomeShare(previous_));
        previous_ = segment;
        ++index_;
        return user;
    }

private:
    std::string_view previous_;
    std::size_t index_ = 0;  // of the non-empty segment, from the path's start
    bool unc_ = false;
};

}  // namespace

std::string WithoutUserNames(std::string_view path) {
    std::string result;
    result.reserve(path.size());
    Segments segments(path);
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = at;
        while (end < path.size() && !IsSlash(path[end])) ++end;
        std::string_view segment = path.substr(at, end - at);
        if (!segment.empty() && segments.NamesAUser(segment))
            result += kUserNamePlaceholder;
        else
            result += segment;
        if (end == path.size()) break;
        result += path[end];
        at = end + 1;
    }
    return result;
}

}  // namespace collector
