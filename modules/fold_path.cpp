// FoldPath: the 21-row folder table, the shell's folder texts, and the fold
// itself (longest folder first, first occurrence anywhere, one replacement).
#include "modules/fold_path.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "base/handles.h"

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

FolderTexts AskShellForFolders() {
    FolderTexts folderTexts;
    for (std::size_t row = 0; row < kFolderPlaceholderCount; ++row) {
        folderTexts[row] = ShellFolderText(kFolderPlaceholders[row].csidl);
    }
    return folderTexts;
}

// The registry keys from which the shell takes the folders (user and common
// shell folders, program files, profiles), watched with their subkeys.
struct WatchedKey {
    HKEY root;
    const wchar_t* path;
};
const WatchedKey kShellFolderKeys[] = {
    {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList"},
};

// The 21 folder texts, asked for again as soon as one of the shell-folder keys
// changes. Asking the shell costs about 1-2 ms a fold under Wine; a run folds
// at every DLL load and unload. A registration belongs to the thread that made
// it (it ends with the thread), so each new thread renews it.
class ShellFolderWatch {
public:
    FolderTexts Current() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!Fresh()) {
            watching_ = Arm();  // before asking: a change meanwhile is seen next time
            texts_ = AskShellForFolders();
        }
        return texts_;
    }

private:
    bool Fresh() const {
        return watching_ && armedThread_ == GetCurrentThreadId() && WaitForSingleObject(changed_.get(), 0) == WAIT_TIMEOUT;
    }

    bool Arm() {
        keys_.clear();
        if (!changed_) changed_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!changed_) return false;
        ResetEvent(changed_.get());
        armedThread_ = GetCurrentThreadId();
        for (const WatchedKey& watched : kShellFolderKeys) {
            UniqueRegKey key;
            if (RegOpenKeyExW(watched.root, watched.path, 0, KEY_NOTIFY, key.put()) != ERROR_SUCCESS) return false;
            if (RegNotifyChangeKeyValue(key.get(), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                        changed_.get(), TRUE) != ERROR_SUCCESS)
                return false;
            keys_.push_back(std::move(key));
        }
        return true;
    }

    std::mutex mutex_;
    UniqueHandle changed_;
    std::vector<UniqueRegKey> keys_;
    DWORD armedThread_ = 0;
    bool watching_ = false;
    FolderTexts texts_;
};

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
    static ShellFolderWatch folders;
    FoldPathWithFolders(path, folders.Current());
}
