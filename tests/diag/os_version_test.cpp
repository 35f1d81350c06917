// The OS line: the product name table row by row, the blanks of the line, the
// running system's line and version triple, and the empty line after it in the log.
#include "diag/os_version.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>

#include "tests/support/test_files.h"
#include "watch/launch_trace.h"

namespace {

OsDescription Describe(DWORD major, DWORD minor, DWORD build, BYTE productType, const wchar_t* servicePack,
                       WORD suiteMask = 0) {
    OsDescription os;
    os.version.dwOSVersionInfoSize = sizeof(os.version);
    os.version.dwMajorVersion = major;
    os.version.dwMinorVersion = minor;
    os.version.dwBuildNumber = build;
    os.version.wProductType = productType;
    os.version.wSuiteMask = suiteMask;
    wcsncpy(os.version.szCSDVersion, servicePack, std::size(os.version.szCSDVersion) - 1);
    return os;
}

std::wstring NameOf(OsDescription os) {
    ComposeOsName(os);
    return os.productName;
}

std::wstring LineOf(OsDescription os) {
    ComposeOsName(os);
    return FormatOsLine(os);
}

constexpr BYTE kWorkstation = VER_NT_WORKSTATION;
constexpr BYTE kDomainController = VER_NT_DOMAIN_CONTROLLER;
constexpr BYTE kServer = VER_NT_SERVER;
constexpr WORD kHomeEditionBit = 0x0200;

TEST(OsName, EachRowOfTheTableWithItsTrailingBlank) {
    EXPECT_EQ(L"Microsoft Windows Vista ", NameOf(Describe(6, 0, 6002, kWorkstation, L"")));
    EXPECT_EQ(L"Microsoft Windows Server 2008 ", NameOf(Describe(6, 0, 6002, kServer, L"")));
    EXPECT_EQ(L"Microsoft Windows 7 ", NameOf(Describe(6, 1, 7601, kWorkstation, L"")));
    EXPECT_EQ(L"Microsoft Windows Server 2008 R2 ", NameOf(Describe(6, 1, 7601, kServer, L"")));
    EXPECT_EQ(L"Microsoft Windows 8", NameOf(Describe(6, 2, 9200, kWorkstation, L"")));
    EXPECT_EQ(L"Microsoft Windows Server 2012", NameOf(Describe(6, 2, 9200, kServer, L"")));
    EXPECT_EQ(L"Microsoft ", NameOf(Describe(6, 3, 9600, kWorkstation, L"")));
    EXPECT_EQ(L"Microsoft ", NameOf(Describe(6, 4, 9841, kServer, L"")));
    EXPECT_EQ(L"Microsoft ", NameOf(Describe(10, 0, 19045, kWorkstation, L"")));
    EXPECT_EQ(L"Microsoft ", NameOf(Describe(5, 0, 2195, kWorkstation, L"")));
    EXPECT_EQ(L"Microsoft Windows XP Professional", NameOf(Describe(5, 1, 2600, kWorkstation, L"")));
    EXPECT_EQ(L"Microsoft Windows XP Home Edition",
              NameOf(Describe(5, 1, 2600, kWorkstation, L"", kHomeEditionBit)));
    EXPECT_EQ(L"Microsoft ", NameOf(Describe(5, 2, 3790, kServer, L"", kHomeEditionBit)));
}

TEST(OsName, OnlyAWorkstationIsNamedAsOneADomainControllerIsAServer) {
    EXPECT_EQ(L"Microsoft Windows Server 2008 R2 ", NameOf(Describe(6, 1, 7601, kDomainController, L"")));
    EXPECT_EQ(L"Microsoft Windows Server 2008 ", NameOf(Describe(6, 0, 6001, kDomainController, L"")));
    EXPECT_EQ(L"Microsoft Windows Server 2012", NameOf(Describe(6, 2, 9200, 0, L"")));
    // The suite mask decides nothing outside 5.1.
    EXPECT_EQ(L"Microsoft Windows 7 ", NameOf(Describe(6, 1, 7601, kWorkstation, L"", kHomeEditionBit)));
}

TEST(OsLine, BlanksBetweenNameServicePackAndNumbers) {
    EXPECT_EQ(L"Операционная система: Microsoft Windows 7  Service Pack 1 (6.1.7601)\n",
              LineOf(Describe(6, 1, 7601, kWorkstation, L"Service Pack 1")));
    EXPECT_EQ(L"Операционная система: Microsoft Windows 8  (6.2.9200)\n",
              LineOf(Describe(6, 2, 9200, kWorkstation, L"")));
    EXPECT_EQ(L"Операционная система: Microsoft Windows Server 2012  (6.2.9200)\n",
              LineOf(Describe(6, 2, 9200, kServer, L"")));
    EXPECT_EQ(L"Операционная система: Microsoft Windows Vista  Service Pack 2 (6.0.6002)\n",
              LineOf(Describe(6, 0, 6002, kWorkstation, L"Service Pack 2")));
    EXPECT_EQ(L"Операционная система: Microsoft Windows Server 2008 R2   (6.1.7600)\n",
              LineOf(Describe(6, 1, 7600, kServer, L"")));
    EXPECT_EQ(L"Операционная система: Microsoft   (5.0.2195)\n", LineOf(Describe(5, 0, 2195, kWorkstation, L"")));
    EXPECT_EQ(L"Операционная система: Microsoft   (5.2.3790)\n", LineOf(Describe(5, 2, 3790, kServer, L"")));
    EXPECT_EQ(L"Операционная система: Microsoft   (6.3.9600)\n", LineOf(Describe(6, 3, 9600, kWorkstation, L"")));
    EXPECT_EQ(L"Операционная система: Microsoft   (10.0.19045)\n",
              LineOf(Describe(10, 0, 19045, kWorkstation, L"")));
    EXPECT_EQ(L"Операционная система: Microsoft Windows XP Home Edition Service Pack 3 (5.1.2600)\n",
              LineOf(Describe(5, 1, 2600, kWorkstation, L"Service Pack 3", kHomeEditionBit)));
    EXPECT_EQ(L"Операционная система: Microsoft Windows XP Professional  (5.1.2600)\n",
              LineOf(Describe(5, 1, 2600, kWorkstation, L"")));
}

TEST(OsLine, NumbersAreSignedDecimalAndAZeroRecordNamesNothing) {
    EXPECT_EQ(L"Операционная система: Microsoft   (0.0.0)\n", LineOf(OsDescription{}));
    EXPECT_EQ(L"Операционная система: Microsoft   (-1.0.-2)\n",
              LineOf(Describe(0xFFFFFFFF, 0, 0xFFFFFFFE, kWorkstation, L"")));
}

TEST(OsLine, AServicePackTextWithoutTerminatorIsReadToTheEndOfItsField) {
    OsDescription os = Describe(6, 1, 7601, kWorkstation, L"");
    std::fill(std::begin(os.version.szCSDVersion), std::end(os.version.szCSDVersion), L'S');
    os.version.wServicePackMajor = 1;  // the field right after the text must not be read as text
    EXPECT_EQ(L"Операционная система: Microsoft Windows 7  " + std::wstring(128, L'S') + L" (6.1.7601)\n",
              LineOf(os));
}

TEST(OsLine, ALongNameIsCutAt999Characters) {
    OsDescription os = Describe(6, 1, 7601, kWorkstation, L"Service Pack 1");
    os.productName = std::wstring(1200, L'n');
    std::wstring line = FormatOsLine(os);
    EXPECT_EQ(999u, line.size());
    EXPECT_EQ(L"Операционная система: " + std::wstring(999 - 22, L'n'), line);
}

TEST(OsLine, RunningSystemGivesItsVersionAndServicePack) {
    OsDescription os;
    os.version.dwOSVersionInfoSize = sizeof(os.version);
    ASSERT_TRUE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&os.version)));
    ComposeOsName(os);
    // The test prefix is a new Wine prefix: Windows 7 Service Pack 1 on a workstation.
    EXPECT_EQ(L"Операционная система: Microsoft Windows 7  Service Pack 1 (6.1.7601)\n", FormatOsLine(os));
    EXPECT_EQ(L"6.1.7601", GetOsVersionTriple());
    EXPECT_EQ(8u, GetOsVersionTriple().size());
}

TEST(OsLine, LogHasTheLineFollowedByAnEmptyLine) {
    {
        LaunchTrace trace(L"x", nullptr, nullptr);
        ASSERT_TRUE(trace.log.IsOpen());
        trace.WriteOsLine();
    }
    std::vector<std::wstring> lines = ReadLogLines(TestProgramFolder() + L"zar.log");
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(L"Операционная система: Microsoft Windows 7  Service Pack 1 (6.1.7601)", lines[0]);
    EXPECT_EQ(L"", lines[1]);
    std::string bytes = ReadFileBytes(TestProgramFolder() + L"zar.log");
    EXPECT_EQ("\r\n\r\n", bytes.substr(bytes.size() - 4));
}

TEST(OsLine, NothingIsWrittenWhenTheLogIsClosed) {
    {
        LaunchTrace trace(L"x", nullptr, nullptr);
        trace.log.Close();
        trace.WriteOsLine();
    }
    EXPECT_EQ("", ReadFileBytes(TestProgramFolder() + L"zar.log"));
}

}  // namespace
