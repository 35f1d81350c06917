// FoldPath: the rule against given folder texts, and against the folders the
// running system reports.
#include "modules/fold_path.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <string>

#include "tests/support/modules_files.h"
#include "tests/support/test_files.h"

namespace {

// Folder texts as a 64-bit Windows reports them, by CSIDL.
FolderTexts WindowsFolders() {
    const std::pair<int, const wchar_t*> folders[] = {
        {CSIDL_SYSTEM, L"C:\\Windows\\system32"},
        {CSIDL_SYSTEMX86, L"C:\\Windows\\SysWOW64"},
        {CSIDL_WINDOWS, L"C:\\Windows"},
        {CSIDL_COMMON_DESKTOPDIRECTORY, L"C:\\Users\\Public\\Desktop"},
        {CSIDL_PROGRAM_FILES_COMMON, L"C:\\Program Files\\Common Files"},
        {CSIDL_PROGRAM_FILES_COMMONX86, L"C:\\Program Files (x86)\\Common Files"},
        {CSIDL_COMMON_DOCUMENTS, L"C:\\Users\\Public\\Documents"},
        {CSIDL_COMMON_PROGRAMS, L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"},
        {CSIDL_COMMON_STARTUP, L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
        {CSIDL_COMMON_STARTMENU, L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu"},
        {CSIDL_APPDATA, L"C:\\Users\\Иван\\AppData\\Roaming"},
        {CSIDL_DESKTOPDIRECTORY, L"C:\\Users\\Иван\\Desktop"},
        {CSIDL_PROGRAMS, L"C:\\Users\\Иван\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"},
        {CSIDL_STARTUP, L"C:\\Users\\Иван\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
        {CSIDL_STARTMENU, L"C:\\Users\\Иван\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu"},
        {CSIDL_PROGRAM_FILES, L"C:\\Program Files"},
        {CSIDL_PROGRAM_FILESX86, L"C:\\Program Files (x86)"},
        {CSIDL_COMMON_APPDATA, L"C:\\ProgramData"},
        {CSIDL_LOCAL_APPDATA, L"C:\\Users\\Иван\\AppData\\Local"},
        {CSIDL_PERSONAL, L"C:\\Users\\Иван\\Documents"},
        {CSIDL_PROFILE, L"C:\\Users\\Иван"},
    };
    FolderTexts texts;
    for (auto [csidl, text] : folders) {
        for (std::size_t row = 0; row < kFolderPlaceholderCount; ++row) {
            if (kFolderPlaceholders[row].csidl == csidl) texts[row] = text;
        }
    }
    return texts;
}

// A 32-bit Windows: the 32-bit folders are the same folders as the native ones.
FolderTexts Windows32Folders() {
    FolderTexts texts = WindowsFolders();
    for (std::size_t row = 0; row < kFolderPlaceholderCount; ++row) {
        switch (kFolderPlaceholders[row].csidl) {
        case CSIDL_SYSTEMX86: texts[row] = L"C:\\Windows\\system32"; break;
        case CSIDL_PROGRAM_FILESX86: texts[row] = L"C:\\Program Files"; break;
        case CSIDL_PROGRAM_FILES_COMMONX86: texts[row] = L"C:\\Program Files\\Common Files"; break;
        default: break;
        }
    }
    return texts;
}

std::wstring Folded(std::wstring path, const FolderTexts& folders) {
    FoldPathWithFolders(path, folders);
    return path;
}

std::wstring Folded(std::wstring path) {
    FoldPath(path);
    return path;
}

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    return text;
}

TEST(FoldPathRule, LongestFolderWinsAndTiesKeepTableOrder) {
    struct Case {
        const wchar_t* path;
        const wchar_t* folded;
        bool windows32;
    };
    const Case cases[] = {
        {L"C:\\Windows\\system32\\kernel32.dll", L"%SYSTEM%\\kernel32.dll", false},
        {L"C:\\Windows\\SysWOW64\\kernel32.dll", L"%SYSTEM_X86%\\kernel32.dll", false},
        {L"C:\\Windows\\system32\\kernel32.dll", L"%SYSTEM%\\kernel32.dll", true},
        {L"C:\\Windows\\explorer.exe", L"%WIN%\\explorer.exe", false},
        {L"C:\\Program Files (x86)\\Common Files\\x.dll", L"%PROGRAMFILES_COMMON_X86%\\x.dll", false},
        {L"C:\\Program Files\\Common Files\\x.dll", L"%PROGRAMFILES_COMMON%\\x.dll", true},
        {L"C:\\Program Files\\Vendor\\x.dll", L"%PROGRAMFILES%\\Vendor\\x.dll", true},
        {L"C:\\Program Files (x86)\\Vendor\\x.dll", L"%PROGRAMFILES_X86%\\Vendor\\x.dll", false},
        {L"C:\\ProgramData\\Vendor\\x.dll", L"%APPDATA%\\Vendor\\x.dll", false},
        {L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp\\a.lnk", L"%STARTUP%\\a.lnk", false},
        {L"C:\\Users\\Иван\\AppData\\Roaming\\Vendor\\x.dll", L"%USER_APPDATA%\\Vendor\\x.dll", false},
        {L"C:\\Users\\Иван\\AppData\\Local\\Vendor\\x.dll", L"%LOCAL_APPDATA%\\Vendor\\x.dll", false},
        {L"C:\\Users\\Иван\\Documents\\x.dll", L"%MY_DOCUMENTS%\\x.dll", false},
        {L"C:\\Users\\Иван\\Tools\\x.dll", L"%USER%\\Tools\\x.dll", false},
        {L"C:\\Users\\Public\\Documents\\x.dll", L"%DOCUMENTS%\\x.dll", false},
        {L"D:\\Games\\x.dll", L"D:\\Games\\x.dll", false},
        {L"", L"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.folded, Folded(c.path, c.windows32 ? Windows32Folders() : WindowsFolders())) << c.path;
    }
}

TEST(FoldPathRule, MatchAnywhereOnceWithoutBoundaryCheck) {
    const FolderTexts folders = WindowsFolders();
    EXPECT_EQ(L"%WIN%2\\demo.dll", Folded(L"C:\\Windows2\\demo.dll", folders));
    EXPECT_EQ(L"\\\\?\\%SYSTEM%\\demo.dll", Folded(L"\\\\?\\C:\\Windows\\System32\\demo.dll", folders));
    EXPECT_EQ(L"%SYSTEM%\\C:\\Windows\\system32\\x.dll",
              Folded(L"C:\\Windows\\system32\\C:\\Windows\\system32\\x.dll", folders));
    EXPECT_EQ(L"%SYSTEM%\\Demo.DLL", Folded(L"C:\\WINDOWS\\SYSTEM32\\Demo.DLL", folders));
}

TEST(FoldPathRule, LoweringCoversCyrillicButNotLatin1Capitals) {
    FolderTexts folders;
    folders[0] = L"C:\\Données";  // %SYSTEM%
    folders[20] = L"C:\\Users\\Иван";  // %USER%
    EXPECT_EQ(L"%USER%\\x.dll", Folded(L"C:\\USERS\\ИВАН\\x.dll", folders));
    EXPECT_EQ(L"%SYSTEM%\\x.dll", Folded(L"c:\\donnéeS\\x.dll", folders));
    // É (U+00C9) is not lowered, so it does not match é.
    EXPECT_EQ(L"C:\\DONNÉES\\x.dll", Folded(L"C:\\DONNÉES\\x.dll", folders));
    EXPECT_EQ(L"абвгдеёжз", LowerForFolding(L"АБВГДЕЁЖЗ"));
    EXPECT_EQ(L"abcÀÉÖ", LowerForFolding(L"ABCÀÉÖ"));
}

TEST(FoldPathRule, FoldersTheShellCannotGiveAreSkipped) {
    FolderTexts folders = WindowsFolders();
    std::size_t system = 0;
    folders[system].clear();
    EXPECT_EQ(L"%WIN%\\system32\\x.dll", Folded(L"C:\\Windows\\system32\\x.dll", folders));
    EXPECT_EQ(L"C:\\Windows\\x.dll", Folded(L"C:\\Windows\\x.dll", FolderTexts{}));
}

TEST(FoldPathSystem, FoldsWithTheRunningSystemsFolders) {
    std::wstring system = ShellFolder(CSIDL_SYSTEM);
    std::wstring windows = ShellFolder(CSIDL_WINDOWS);
    std::wstring localAppData = ShellFolder(CSIDL_LOCAL_APPDATA);
    std::wstring profile = ShellFolder(CSIDL_PROFILE);
    ASSERT_NE(L"", system);
    ASSERT_NE(L"", windows);
    ASSERT_NE(L"", localAppData);
    ASSERT_NE(L"", profile);

    EXPECT_EQ(L"%SYSTEM%\\Demo.DLL", Folded(Upper(system) + L"\\Demo.DLL"));
    EXPECT_EQ(L"%WIN%2\\demo.dll", Folded(windows + L"2\\demo.dll"));
    EXPECT_EQ(L"\\\\?\\%SYSTEM%\\demo.dll", Folded(L"\\\\?\\" + system + L"\\demo.dll"));
    EXPECT_EQ(L"%SYSTEM%\\copy\\" + system + L"\\demo.dll", Folded(system + L"\\copy\\" + system + L"\\demo.dll"));
    EXPECT_EQ(L"%LOCAL_APPDATA%\\Vendor\\demo.dll", Folded(localAppData + L"\\Vendor\\demo.dll"));
    EXPECT_EQ(L"%USER%\\Tools\\demo.dll", Folded(profile + L"\\Tools\\demo.dll"));
    EXPECT_EQ(L"Q:\\korvane\\nowhere\\demo.dll", Folded(L"Q:\\korvane\\nowhere\\demo.dll"));
    EXPECT_EQ(L"", Folded(L""));
}

// Points the user's documents folder elsewhere for the test's lifetime.
class RedirectedDocuments {
public:
    explicit RedirectedDocuments(const std::wstring& folder) {
        RegOpenKeyExW(HKEY_CURRENT_USER, kUserShellFolders, 0, KEY_READ | KEY_WRITE, &key_);
        DWORD size = sizeof(saved_);
        saved_ok_ = RegQueryValueExW(key_, L"Personal", nullptr, &type_, reinterpret_cast<BYTE*>(saved_), &size) ==
                    ERROR_SUCCESS;
        savedSize_ = size;
        Set(folder);
    }
    ~RedirectedDocuments() {
        if (saved_ok_) RegSetValueExW(key_, L"Personal", 0, type_, reinterpret_cast<const BYTE*>(saved_), savedSize_);
        RegCloseKey(key_);
    }
    void Set(const std::wstring& folder) {
        RegSetValueExW(key_, L"Personal", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                       static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    }

private:
    static constexpr const wchar_t* kUserShellFolders =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    HKEY key_ = nullptr;
    wchar_t saved_[1024] = {};
    DWORD savedSize_ = 0;
    DWORD type_ = REG_EXPAND_SZ;
    bool saved_ok_ = false;
};

TEST(FoldPathSystem, AChangedShellFolderIsSeenByTheNextFold) {
    std::wstring first = MakeTempFolder(L"fold_documents_a");
    std::wstring second = MakeTempFolder(L"fold_documents_b");
    first.pop_back();
    second.pop_back();
    RedirectedDocuments documents(first);
    ASSERT_EQ(first, ShellFolder(CSIDL_PERSONAL));
    EXPECT_EQ(L"%MY_DOCUMENTS%\\x.dll", Folded(first + L"\\x.dll"));
    EXPECT_EQ(std::wstring::npos, Folded(second + L"\\x.dll").find(L"%MY_DOCUMENTS%"));

    documents.Set(second);
    ASSERT_EQ(second, ShellFolder(CSIDL_PERSONAL));
    EXPECT_EQ(std::wstring::npos, Folded(first + L"\\x.dll").find(L"%MY_DOCUMENTS%"));
    EXPECT_EQ(L"%MY_DOCUMENTS%\\x.dll", Folded(second + L"\\x.dll"));
}

}  // namespace
