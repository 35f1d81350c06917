// Paths from file handles and process ids, and the device names behind them.
#include <gtest/gtest.h>
#include <windows.h>

#include "tests/support/test_files.h"
#include "watch/image_names.h"

namespace {

const std::vector<DriveDevice> kDrives = {
    {L"C:", L"\\Device\\HarddiskVolume1"},
    {L"D:", L"\\Device\\HarddiskVolume10"},
};

}  // namespace

TEST(DrivePathFromMappedName, TurnsEachDeviceFormIntoItsDrivePath) {
    struct Case {
        const wchar_t* mapped;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"\\??\\C:\\windows\\system32\\ntdll.dll", L"C:\\windows\\system32\\ntdll.dll"},
        {L"\\??\\UNC\\server\\share\\x.dll", L"\\\\server\\share\\x.dll"},
        {L"\\Device\\HarddiskVolume1\\Tools\\zar.exe", L"C:\\Tools\\zar.exe"},
        {L"\\Device\\HarddiskVolume10\\Tools\\zar.exe", L"D:\\Tools\\zar.exe"},
        {L"\\DEVICE\\harddiskvolume1\\x.dll", L"C:\\x.dll"},
        {L"\\Device\\HarddiskVolume7\\x.dll", L"\\Device\\HarddiskVolume7\\x.dll"},
        {L"\\Device\\Mup\\server\\share\\x.dll", L"\\Device\\Mup\\server\\share\\x.dll"},
        {L"\\Device\\HarddiskVolume1", L"\\Device\\HarddiskVolume1"},
        // Only a drive letter or UNC follows the prefix in a rewritten name; a
        // volume without a drive letter keeps its device form.
        {L"\\??\\z:\\x.dll", L"z:\\x.dll"},
        {L"\\??\\Volume{0b1f4c2e-9d3a-11e9-a1b2-806e6f6e6963}\\x.dll",
         L"\\??\\Volume{0b1f4c2e-9d3a-11e9-a1b2-806e6f6e6963}\\x.dll"},
        {L"\\??\\GLOBALROOT\\Device\\HarddiskVolume7\\x.dll", L"\\??\\GLOBALROOT\\Device\\HarddiskVolume7\\x.dll"},
        {L"\\??\\C:", L"\\??\\C:"},
        {L"\\??\\1:\\x.dll", L"\\??\\1:\\x.dll"},
    };
    for (const Case& c : cases) EXPECT_EQ(DrivePathFromMappedName(c.mapped, kDrives), c.expected);
}

TEST(DrivePathFromMappedName, CutsToTheBufferOfAPath) {
    std::wstring longName = L"\\??\\C:\\" + std::wstring(400, L'a');
    EXPECT_EQ(DrivePathFromMappedName(longName, kDrives).size(), 259u);
}

TEST(FileNameFromHandle, NamesAFileByItsDrivePath) {
    const std::wstring path = MakeTempFolder(L"file names") + L"named.bin";
    WriteFileBytes(path, "some bytes");
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    wchar_t name[MAX_PATH] = L"";
    EXPECT_TRUE(FileNameFromHandle(file, name));
    CloseHandle(file);
    EXPECT_EQ(CompareStringOrdinal(name, -1, path.c_str(), -1, TRUE), CSTR_EQUAL) << "got a different name";
}

TEST(FileNameFromHandle, EmptyFileGivesNoName) {
    const std::wstring path = MakeTempFolder(L"file names") + L"empty.bin";
    WriteFileBytes(path, "");
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    wchar_t name[MAX_PATH] = L"";
    EXPECT_FALSE(FileNameFromHandle(file, name));
    CloseHandle(file);
    EXPECT_STREQ(name, L"");
}

TEST(ProcessImagePath, NamesTheMainModuleOfARunningProcess) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = L"stale";
    EXPECT_TRUE(ProcessImagePath(GetCurrentProcessId(), path));
    EXPECT_EQ(path, self);
}

TEST(ProcessImagePath, ProcessThatCannotBeOpenedGivesEmptyText) {
    constexpr DWORD kNoSuchProcess = 0xFFFFFFF0;
    std::wstring path = L"stale";
    EXPECT_FALSE(ProcessImagePath(kNoSuchProcess, path));
    EXPECT_TRUE(path.empty());
}
