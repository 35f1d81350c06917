// FoldPath: the 21-row folder table, the shell's folder texts, and the fold
// itself (longest folder first, first occurrence anywhere, one replacement).
#include "modules/fold_path.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>

const std::array<FolderPlaceholder, kFolderPlaceholderCount> kFolderPlaceholders = {{
    {CSIDL_SYSTEM, L"%SYSTEM%"},
    {CSIDL_SYSTEMX86, L"%SYSTEM_X86%"},
    {CSIDL_WINDOWS, L"%WIN%"},
    {CSIDL_COMMON_DESKTOPDIRECTORY, L"%DESKTOP%"},
    {CSIDL_PROGRAM_FILES_COMMON, L"%PROGRAMFILES_COMMON%"},
    {CSIDL_PROGRAM_FILES_COMMONX86, L"%PROGRAMFILES_COMMON_X86%"},
    {CSIDL_COMMON_DOCUMENTS, L"%DOCUMENTS%"},
    {CSIDL_COMMON_PROGRAMS, L"%PROGRAMS%"},
    {CSIDL_COMMON_STARTUP, L"%STARTUP%"},
    {CSIDL_COMMON_STARTMENU, L"%STARTMENU%"},
    {CSIDL_APPDATA, L"%USER_APPDATA%"},
    {CSIDL_DESKTOPDIRECTORY, L"%USER_DESKTOP%"},
    {CSIDL_PROGRAMS, L"%USER_PROGRAMS%"},
    {CSIDL_STARTUP, L"%USER_STARTUP%"},
    {CSIDL_STARTMENU, L"%USER_STARTMENU%"},
    {CSIDL_PROGRAM_FILES, L"%PROGRAMFILES%"},
    {CSIDL_PROGRAM_FILESX86, L"%PROGRAMFILES_X86%"},
    {CSIDL_COMMON_APPDATA, L"%APPDATA%"},
    {CSIDL_LOCAL_APPDATA, L"%LOCAL_APPDATA%"},
    {CSIDL_PERSONAL, L"%MY_DOCUMENTS%"},
    {CSIDL_PROFILE, L"%USER%"},
}};

namespace {

std::wstring ShellFolderText(int csidl) {
    wchar_t buffer[MAX_PATH + 1] = {};
    if (!SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE)) return {};
    return buffer;
}

}  // namespace

std::wstring LowerForFolding(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        } else if (c >= 0x100) {
            CharLowerBuffW(&c, 1);
        }
    }
    return text;
}

void FoldPathWithFolders(std::wstring& path, const FolderTexts& folderTexts) {
    std::array<std::size_t, kFolderPlaceholderCount> order;
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return folderTexts[a].size() > folderTexts[b].size();
    });
    const std::wstring loweredPath = LowerForFolding(path);
    for (std::size_t row : order) {
        const std::wstring& folder = folderTexts[row];
        if (folder.empty()) continue;
        std::size_t at = loweredPath.find(LowerForFolding(folder));
        if (at == std::wstring::npos) continue;
        path.replace(at, folder.size(), kFolderPlaceholders[row].placeholder);
        return;
    }
}

void FoldPath(std::wstring& path) {
    // The shell is asked once per row and call: the texts cannot differ within
    // one fold, and each query is slow enough (under Wine about 0.4 ms) that
    // asking per comparison of the sort would dominate a DLL load.
    FolderTexts folderTexts;
    for (std::size_t row = 0; row < kFolderPlaceholderCount; ++row) {
        folderTexts[row] = ShellFolderText(kFolderPlaceholders[row].csidl);
    }
    FoldPathWithFolders(path, folderTexts);
}
