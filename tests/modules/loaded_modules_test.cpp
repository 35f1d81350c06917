// The loaded-modules section: its lines in the log and the reported-module
// list that the upload sends, with and without an open log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modules/file_facts.h"
#include "report/log_file.h"
#include "tests/support/modules_files.h"
#include "tests/support/test_files.h"
#include "watch/launch_trace.h"

namespace {

const std::wstring kLegend =
    L"Имя файла - [Размер, Кб; Версия; Дата создания; Дата модификации] - Описание - Компания";
const std::wstring kRule(87, L'-');
constexpr std::size_t kRowLimit = 999;

std::wstring SizeInK(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return std::to_wstring(data.nFileSizeLow / 1024) + L"K";
}

// The section of a launch trace whose module list is given, read back from
// its log after the log is closed.
struct SectionResult {
    std::vector<std::wstring> lines;
    std::vector<FileFacts> reported;
};

SectionResult WriteSection(const std::vector<std::wstring>& modulePaths, bool logOpen) {
    LaunchTrace trace(L"C:\\nowhere\\target.exe", nullptr, nullptr);
    if (!logOpen) trace.log.Close();
    trace.modulePaths = modulePaths;
    trace.WriteLoadedModules();
    trace.log.Close();
    return {ReadLogLines(LogFilePath()), trace.reportedModules};
}

std::vector<std::wstring> SectionStart() {
    return {L"", L"", L"Загруженные модули:", kLegend, kRule};
}

TEST(LoadedModules, OneRowPerPathInListOrderWithItsFacts) {
    std::wstring folder = MakeTempFolder(L"loaded-modules-rows");
    std::wstring versioned = CopyWithKnownTimes(TargetPath(L"fact_two_languages.dll"), folder, L"versioned.dll");
    std::wstring bare = CopyWithKnownTimes(TargetPath(L"fact_no_version.dll"), folder, L"bare.dll");
    std::wstring empty = folder + L"empty.dll";
    WriteFileOfSize(empty, 0);
    SetCreatedAndModified(empty, UtcFileTime(2013, 3, 5, 23, 59, 30), UtcFileTime(2013, 3, 5, 23, 59, 30));
    std::wstring missing = folder + L"missing.dll";
    const std::vector<std::wstring> paths = {versioned, versioned, missing, L"", bare, empty};

    SectionResult section = WriteSection(paths, true);

    std::vector<std::wstring> expected = SectionStart();
    const std::wstring versionedRow = versioned + L" - [" + SizeInK(versioned) +
                                      L"; 5.6.7.8; 05.03.2013; 05.03.2013] - Проба сведений о модуле - ООО Корване";
    expected.push_back(versionedRow);
    expected.push_back(versionedRow);
    expected.push_back(missing + L" - [; ; ; ] -  - ");
    expected.push_back(L" - [; ; ; ] -  - ");
    expected.push_back(bare + L" - [" + SizeInK(bare) + L"; ; 05.03.2013; 05.03.2013] -  - ");
    expected.push_back(empty + L" - [; ; 05.03.2013; 05.03.2013] -  - ");
    EXPECT_EQ(expected, section.lines);

    ASSERT_EQ(paths.size(), section.reported.size());
    for (std::size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(paths[i], section.reported[i].FilePath());
    EXPECT_EQ(L"ООО Корване", section.reported[0].CompanyText());
    EXPECT_EQ(L"", section.reported[2].SizeText());
}

TEST(LoadedModules, EmptyModuleListGivesHeadingLegendAndRuleOnly) {
    SectionResult section = WriteSection({}, true);
    EXPECT_EQ(SectionStart(), section.lines);
    EXPECT_TRUE(section.reported.empty());
}

TEST(LoadedModules, LongRowIsCutWhileItsFactsStayWhole) {
    // A real file more than 999 characters deep, reached through the long-path prefix.
    std::wstring folder = L"\\\\?\\" + MakeTempFolder(L"loaded-modules-long");
    for (int level = 0; level < 5; ++level) {
        folder += std::wstring(200, static_cast<wchar_t>(L'a' + level)) + L"\\";
        CreateDirectoryW(folder.c_str(), nullptr);
    }
    std::wstring deep = folder + L"versioned.dll";
    ASSERT_TRUE(CopyFileW(TargetPath(L"fact_two_languages.dll").c_str(), deep.c_str(), FALSE));
    ASSERT_GT(deep.size(), kRowLimit);

    SectionResult section = WriteSection({deep}, true);

    FileFacts whole(deep);
    std::wstring fullRow = deep + L" - [" + whole.SizeKText() + L"; " + whole.ProductVersionText() + L"; " +
                           whole.CreatedText() + L"; " + whole.ModifiedText() + L"] - " + whole.DescriptionText() +
                           L" - " + whole.CompanyText();
    std::vector<std::wstring> expected = SectionStart();
    expected.push_back(fullRow.substr(0, kRowLimit));
    EXPECT_EQ(expected, section.lines);
    ASSERT_EQ(1u, section.reported.size());
    EXPECT_EQ(deep, section.reported[0].FilePath());
    EXPECT_NE(L"", section.reported[0].SizeText());
    EXPECT_EQ(L"ООО Корване", section.reported[0].CompanyText());
    EXPECT_EQ(whole.UploadLine(";"), section.reported[0].UploadLine(";"));
}

TEST(LoadedModules, ClosedLogStillFillsTheReportedList) {
    std::wstring folder = MakeTempFolder(L"loaded-modules-closed");
    std::wstring versioned = CopyWithKnownTimes(TargetPath(L"fact_two_languages.dll"), folder, L"versioned.dll");
    const std::vector<std::wstring> paths = {versioned, L"", folder + L"missing.dll", versioned};

    SectionResult open = WriteSection(paths, true);
    SectionResult closed = WriteSection(paths, false);

    EXPECT_EQ(SectionStart().size() + paths.size(), open.lines.size());
    EXPECT_TRUE(closed.lines.empty());
    ASSERT_EQ(paths.size(), closed.reported.size());
    ASSERT_EQ(open.reported.size(), closed.reported.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(paths[i], closed.reported[i].FilePath());
        EXPECT_EQ(open.reported[i].UploadLine(";"), closed.reported[i].UploadLine(";"));
    }
    EXPECT_EQ(L"ООО Корване", closed.reported[3].CompanyText());
}

}  // namespace
