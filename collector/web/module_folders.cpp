// The rule that marks modules loaded from folders a user can write to.
#include "collector/web/module_folders.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace collector {

namespace {

std::string Lower(std::string_view text) {
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::replace(lowered.begin(), lowered.end(), '/', '\\');
    while (lowered.size() > 1 && lowered.back() == '\\') lowered.pop_back();
    return lowered;
}

// True when folder is root itself or lies inside it (a following backslash:
// "%win%2" is not inside "%win%", folding matches folder texts anywhere).
bool IsInside(std::string_view folder, std::string_view root) {
    return folder.starts_with(root) && (folder.size() == root.size() || folder[root.size()] == '\\');
}

// The part after "X:" or "%WIN%", with the system folders written out as
// the Windows folder's subfolders, so that one list of exceptions serves all.
std::string WindowsRelative(std::string_view folder) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 3> kWindowsFolders = {{
        {"%system%", "\\system32"},
        {"%system_x86%", "\\syswow64"},
        {"%win%", ""},
    }};
    for (const auto& [placeholder, inside] : kWindowsFolders) {
        if (IsInside(folder, placeholder)) return std::string(inside) + std::string(folder.substr(placeholder.size()));
    }
    if (folder.size() >= 2 && folder[1] == ':' && IsInside(folder.substr(2), "\\windows")) {
        return std::string(folder.substr(2 + std::string_view("\\windows").size()));
    }
    return "-";
}

bool IsProgramFolder(std::string_view folder) {
    static constexpr std::array<std::string_view, 7> kPlaceholders = {
        "%programfiles%", "%programfiles_x86%", "%programfiles_common%", "%programfiles_common_x86%", "%programs%",
        "%startmenu%",    "%startup%",
    };
    for (const std::string_view placeholder : kPlaceholders) {
        if (IsInside(folder, placeholder)) return true;
    }
    if (folder.size() < 2 || folder[1] != ':') return false;
    const std::string_view rest = folder.substr(2);
    return IsInside(rest, "\\program files") || IsInside(rest, "\\program files (x86)");
}

}  // namespace

bool IsUserWritableFolder(std::string_view folder) {
    std::string lowered = Lower(folder);
    if (lowered.starts_with("\\\\?\\") || lowered.starts_with("\\??\\")) lowered.erase(0, 4);
    if (lowered.empty()) return false;
    if (IsProgramFolder(lowered)) return false;
    const std::string relative = WindowsRelative(lowered);
    if (relative == "-") return true;
    // Subfolders of the Windows folder that users may create files in.
    static constexpr std::array<std::string_view, 8> kWritable = {
        "\\temp",
        "\\tasks",
        "\\tracing",
        "\\registration\\crmlog",
        "\\system32\\tasks",
        "\\system32\\spool\\drivers\\color",
        "\\system32\\spool\\printers",
        "\\syswow64\\tasks",
    };
    return std::any_of(kWritable.begin(), kWritable.end(),
                       [&](std::string_view inside) { return IsInside(relative, inside); });
}

}  // namespace collector
