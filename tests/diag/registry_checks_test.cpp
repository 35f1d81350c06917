// The desktop heap and AppInit_DLLs blocks over real values in the test
// prefix's registry, the SharedSection numbers, and registry values of every
// shape read as text without reading past them.
#include "diag/registry_checks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/shared_section.h"
#include "tests/support/diag_registry.h"
#include "tests/support/test_files.h"
#include "watch/launch_trace.h"

namespace {

const std::wstring kSubSystemsKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\SubSystems";
const std::wstring kWindowsKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
const std::wstring kScratchKey = L"SOFTWARE\\Korvane Tests\\Registry Text";

const std::wstring kHeapHeading =
    L"Heap info: HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\SubSystems\t\t\t";
const std::wstring kAppInitHeading =
    L"AppInit_DLLs: HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\AppInit_DLLs\t\t\t";

std::wstring WindowsValue(const std::wstring& sharedSection) {
    return L"%SystemRoot%\\system32\\csrss.exe ObjectDirectory=\\Windows " + sharedSection +
           L" Windows=On SubSystemType=Windows ServerDll=basesrv,1 MaxRequestThreads=16";
}

std::vector<std::wstring> HeapBlock() {
    {
        LaunchTrace trace(L"x", nullptr, nullptr);
        trace.WriteDesktopHeapInfo();
    }
    return ReadLogLines(TestProgramFolder() + L"zar.log");
}

std::vector<std::wstring> HeapBlockFor(const std::wstring& value) {
    SavedHklmValue saved(kSubSystemsKey, L"Windows");
    saved.SetText(value);
    return HeapBlock();
}

std::vector<std::wstring> HeapLinesWithoutWarning(const std::wstring& value) {
    return {L"", kHeapHeading, std::wstring(75, L'-'), value};
}

std::vector<std::wstring> HeapLinesWithWarning(const std::wstring& value, const std::wstring& size) {
    return {L"",
            kHeapHeading,
            std::wstring(75, L'-'),
            value,
            L"ВНИМАНИЕ!!! Значение Desktop Heap = " + size + L" - недостаточно для нормальной работы.\t\t\t\t ",
            L"Рекомендуется увеличить его до 512"};
}

std::vector<std::wstring> AppInitBlock() {
    {
        LaunchTrace trace(L"x", nullptr, nullptr);
        trace.WriteAppInitDlls();
    }
    return ReadLogLines(TestProgramFolder() + L"zar.log");
}

TEST(DesktopHeap, NoWarningForAHeapOf768AmongOtherSettings) {
    std::wstring value = WindowsValue(L"SharedSection=1024,512,768");
    EXPECT_EQ(HeapLinesWithoutWarning(value), HeapBlockFor(value));
}

TEST(DesktopHeap, WarningBelow256AndNoneFrom256) {
    std::wstring small = WindowsValue(L"SharedSection=1024,512,255");
    EXPECT_EQ(HeapLinesWithWarning(small, L"255"), HeapBlockFor(small));
    std::wstring enough = WindowsValue(L"SharedSection=1024,512,256");
    EXPECT_EQ(HeapLinesWithoutWarning(enough), HeapBlockFor(enough));
}

TEST(DesktopHeap, TwoNumbersOnlyWarnWithZero) {
    std::wstring value = WindowsValue(L"SharedSection=1024,512");
    EXPECT_EQ(HeapLinesWithWarning(value, L"0"), HeapBlockFor(value));
}

TEST(DesktopHeap, NegativeThirdNumberCountsAsLarge) {
    std::wstring value = WindowsValue(L"SharedSection=1024,512,-1");
    EXPECT_EQ(HeapLinesWithoutWarning(value), HeapBlockFor(value));
}

TEST(DesktopHeap, SettingInOtherLetterCaseIsShownButNotChecked) {
    std::wstring value = WindowsValue(L"sharedsection=1024,512,10");
    EXPECT_EQ(HeapLinesWithoutWarning(value), HeapBlockFor(value));
}

TEST(DesktopHeap, MissingValueGivesHeadingAndEmptyLine) {
    SavedHklmValue saved(kSubSystemsKey, L"Windows");
    saved.Remove();
    EXPECT_EQ(HeapLinesWithoutWarning(L""), HeapBlock());
}

TEST(DesktopHeap, ValueIsReadWithoutTheLogAndNothingIsWritten) {
    SavedHklmValue saved(kSubSystemsKey, L"Windows");
    saved.SetText(WindowsValue(L"SharedSection=1024,512,1"));
    {
        LaunchTrace trace(L"x", nullptr, nullptr);
        trace.log.Close();
        trace.WriteDesktopHeapInfo();
    }
    EXPECT_EQ("", ReadFileBytes(TestProgramFolder() + L"zar.log"));
}

TEST(AppInitDlls, MissingOrEmptyValueGivesHeadingAndEmptyLine) {
    const std::vector<std::wstring> empty = {L"", kAppInitHeading, std::wstring(84, L'-'), L""};
    SavedHklmValue saved(kWindowsKey, L"AppInit_DLLs");
    saved.Remove();
    EXPECT_EQ(empty, AppInitBlock());
    saved.SetText(L"");
    EXPECT_EQ(empty, AppInitBlock());
    saved.SetRaw(REG_SZ, {});
    EXPECT_EQ(empty, AppInitBlock());
}

TEST(AppInitDlls, PresentValueIsShownRaw) {
    SavedHklmValue saved(kWindowsKey, L"AppInit_DLLs");
    // Names of DLLs that do not exist: nothing is loaded even if the system honours the value.
    const std::wstring value = L"C:\\нет\\korvane_absent1.dll, korvane_absent2.dll %SystemRoot%";
    saved.SetText(value);
    EXPECT_EQ((std::vector<std::wstring>{L"", kAppInitHeading, std::wstring(84, L'-'), value}), AppInitBlock());
}

std::vector<BYTE> Bytes(std::initializer_list<int> values) {
    std::vector<BYTE> bytes;
    for (int v : values) bytes.push_back(static_cast<BYTE>(v));
    return bytes;
}

TEST(ReadHklmText, TextValuesUpToTheirFirstZero) {
    SavedHklmValue saved(kScratchKey, L"Value");
    saved.SetText(L"Значение Z");
    EXPECT_EQ(L"Значение Z", ReadHklmText(kScratchKey.c_str(), L"Value"));
    saved.SetRaw(REG_EXPAND_SZ, Bytes({'%', 0, 'W', 0, '%', 0, 0, 0}));
    EXPECT_EQ(L"%W%", ReadHklmText(kScratchKey.c_str(), L"Value"));
    saved.SetRaw(REG_MULTI_SZ, Bytes({'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}));
    EXPECT_EQ(L"a", ReadHklmText(kScratchKey.c_str(), L"Value"));
}

TEST(ReadHklmText, MissingKeyValueOrEmptyDataGiveEmptyText) {
    SavedHklmValue saved(kScratchKey, L"Value");
    saved.SetText(L"present");
    EXPECT_EQ(L"", ReadHklmText(kScratchKey.c_str(), L"Other"));
    EXPECT_EQ(L"", ReadHklmText(L"SOFTWARE\\Korvane Tests\\No Such Key", L"Value"));
    saved.SetRaw(REG_SZ, {});
    EXPECT_EQ(L"", ReadHklmText(kScratchKey.c_str(), L"Value"));
    saved.SetRaw(REG_BINARY, Bytes({'x'}));
    EXPECT_EQ(L"", ReadHklmText(kScratchKey.c_str(), L"Value"));
}

TEST(ReadHklmText, DataWithoutTerminatingZeroEndsAtItsLastCharacter) {
    SavedHklmValue saved(kScratchKey, L"Value");
    saved.SetRaw(REG_SZ, Bytes({'a', 0, 'b', 0, 'c', 0}));
    EXPECT_EQ(L"abc", ReadHklmText(kScratchKey.c_str(), L"Value"));
}

TEST(ReadHklmText, BinaryAndDwordDataAreTakenAsWholeCharacters) {
    SavedHklmValue saved(kScratchKey, L"Value");
    saved.SetRaw(REG_BINARY, Bytes({'A', 0, 'B', 0, 'C'}));
    EXPECT_EQ(L"AB", ReadHklmText(kScratchKey.c_str(), L"Value"));
    saved.SetRaw(REG_DWORD, Bytes({'O', 0, 'K', 0}));
    EXPECT_EQ(L"OK", ReadHklmText(kScratchKey.c_str(), L"Value"));
    saved.SetRaw(REG_DWORD, Bytes({0, 1, 0, 0}));
    EXPECT_EQ(L"\x0100", ReadHklmText(kScratchKey.c_str(), L"Value"));
    saved.SetRaw(REG_QWORD, Bytes({0x3F, 0x04, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(L"п", ReadHklmText(kScratchKey.c_str(), L"Value"));
}

TEST(ReadHklmText, AMegabyteValueIsReadWhole) {
    SavedHklmValue saved(kScratchKey, L"Value");
    const std::wstring huge(512 * 1024 - 1, L'ж');
    saved.SetText(huge);
    EXPECT_EQ(huge, ReadHklmText(kScratchKey.c_str(), L"Value"));
    std::vector<BYTE> unterminated(1024 * 1024 + 1, 'q');
    saved.SetRaw(REG_BINARY, unterminated);
    EXPECT_EQ(std::wstring(512 * 1024, static_cast<wchar_t>(('q' << 8) | 'q')),
              ReadHklmText(kScratchKey.c_str(), L"Value"));
}

TEST(SharedSection, NumbersAsWideScanfReadsThem) {
    auto sizes = [](const wchar_t* value) {
        auto found = FindSharedSection(value);
        EXPECT_TRUE(found.has_value()) << "in " << testing::PrintToString(std::wstring(value));
        return found ? std::vector<int>{found->first, found->second, found->third} : std::vector<int>{};
    };
    EXPECT_EQ((std::vector<int>{1024, 512, 768}), sizes(L"a SharedSection=1024,512,768 b"));
    EXPECT_EQ((std::vector<int>{1024, 512, 0}), sizes(L"SharedSection=1024,512"));
    EXPECT_EQ((std::vector<int>{1024, 512, -1}), sizes(L"SharedSection=1024,512,-1"));
    EXPECT_EQ((std::vector<int>{1024, 20480, 768}), sizes(L"SharedSection= 1024,\t20480,\n +768x"));
    // A comma must follow a number directly.
    EXPECT_EQ((std::vector<int>{1024, 0, 0}), sizes(L"SharedSection=1024 ,512,768"));
    EXPECT_EQ((std::vector<int>{0, 0, 0}), sizes(L"SharedSection=,512,768"));
    EXPECT_EQ((std::vector<int>{0, 0, 0}), sizes(L"SharedSection=-,512,768"));
    EXPECT_EQ((std::vector<int>{0, 0, 0}), sizes(L"SharedSection="));
    EXPECT_EQ((std::vector<int>{1, 2, 3}), sizes(L"SharedSection=1,2,3 SharedSection=4,5,6"));
    EXPECT_EQ((std::vector<int>{2147483647, -2147483647 - 1, 2147483647}),
              sizes(L"SharedSection=99999999999999999999999,-99999999999,2147483648"));
    EXPECT_FALSE(FindSharedSection(L"sharedsection=1,2,3").has_value());
    EXPECT_FALSE(FindSharedSection(L"SharedSection 1,2,3").has_value());
    EXPECT_FALSE(FindSharedSection(L"").has_value());
}

TEST(SharedSection, ThresholdIsComparedUnsigned) {
    EXPECT_TRUE(DesktopHeapTooSmall(0));
    EXPECT_TRUE(DesktopHeapTooSmall(255));
    EXPECT_FALSE(DesktopHeapTooSmall(256));
    EXPECT_FALSE(DesktopHeapTooSmall(-1));
    EXPECT_FALSE(DesktopHeapTooSmall(-2147483647 - 1));
}

}  // namespace
