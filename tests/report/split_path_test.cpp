// SplitPath: drive and directory with the trailing backslash, name and extension.
#include "report/split_path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::pair<std::wstring, std::wstring> Split(const std::wstring& path) {
    wchar_t directory[kPathChars];
    wchar_t name[kPathChars];
    SplitPath(path, directory, name);
    return {directory, name};
}

TEST(SplitPath, DrivePathsShareAndBarePaths) {
    using Parts = std::pair<std::wstring, std::wstring>;
    EXPECT_EQ(Parts(L"C:\\Tools\\", L"zar.exe"), Split(L"C:\\Tools\\zar.exe"));
    EXPECT_EQ(Parts(L"\\\\server\\tools\\", L"zar.exe"), Split(L"\\\\server\\tools\\zar.exe"));
    EXPECT_EQ(Parts(L"\\Tools\\", L"zar.exe"), Split(L"\\Tools\\zar.exe"));
    EXPECT_EQ(Parts(L"C:", L"zar.exe"), Split(L"C:zar.exe"));
    EXPECT_EQ(Parts(L"", L"zar"), Split(L"zar"));
    EXPECT_EQ(Parts(L"C:\\a.b\\", L"readme"), Split(L"C:\\a.b\\readme"));
    EXPECT_EQ(Parts(L"C:/x/", L"y.tar.gz"), Split(L"C:/x/y.tar.gz"));
    EXPECT_EQ(Parts(L"D:\\", L""), Split(L"D:\\"));
    EXPECT_EQ(Parts(L"", L""), Split(L""));
}

TEST(SplitPath, LongPartsAreCutToTheBuffer) {
    std::wstring longFolder = L"C:\\" + std::wstring(400, L'd') + L"\\";
    auto [directory, name] = Split(longFolder + L"x.exe");
    EXPECT_EQ(259u, directory.size());
    EXPECT_EQ(L"x.exe", name);
}

}  // namespace
