// FileFacts: version strings from real version resources, size and date texts
// from real files, and the upload line.
#include "modules/file_facts.h"
#include "modules/fold_path.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>

#include "tests/support/modules_files.h"
#include "tests/support/test_files.h"

namespace {

enum VersionKey : std::size_t {
    kCompanyName,
    kFileDescription,
    kFileVersion,
    kInternalName,
    kLegalCopyright,
    kLegalTradeMarks,
    kOriginalFilename,
    kProductName,
    kProductVersion,
    kComments,
    kAuthor,
};

void ExpectAllVersionValuesEmpty(const FileFacts& facts) {
    for (std::size_t index = 0; index < FileFacts::kVersionKeyCount; ++index) {
        EXPECT_EQ(L"", facts.VersionValue(index)) << "index " << index;
    }
}

std::wstring FileSizeOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return L"?";
    return std::to_wstring((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

TEST(FileFactsVersion, LaterTranslationWinsAndEarlierKeepsItsOwnKeys) {
    FileFacts facts(TargetPath(L"fact_two_languages.dll"));
    EXPECT_EQ(L"ООО Корване", facts.CompanyText());
    EXPECT_EQ(L"Проба сведений о модуле", facts.DescriptionText());
    EXPECT_EQ(L"Only the English table has comments", facts.VersionValue(kComments));
    EXPECT_EQ(L"5.6.7.8", facts.ProductVersionText());
    EXPECT_EQ(L"1.2.3.4", facts.VersionValue(kFileVersion));
    EXPECT_EQ(L"Иван Петров", facts.VersionValue(kAuthor));
    // The Russian table carries the key with an empty text, and it is read last.
    EXPECT_EQ(L"", facts.VersionValue(kLegalTradeMarks));
    EXPECT_EQ(L"", facts.VersionValue(kProductName));
    EXPECT_EQ(L"", facts.VersionValue(FileFacts::kVersionKeyCount));
}

TEST(FileFactsVersion, LyingVersionResourcesGiveEmptyTextsForWhatCannotBeRead) {
    const std::wstring folder = MakeTempFolder(L"lying versions");
    const std::wstring beyond = CraftedVersionDll(folder, L"translation_beyond.dll", VersionLie::TranslationBeyondBlock);
    const std::wstring lying = CraftedVersionDll(folder, L"lying_string.dll", VersionLie::StringLengthBeyondNode);
    const std::wstring cut = CraftedVersionDll(folder, L"table_cut.dll", VersionLie::TableEndsInsideHeader);
    ASSERT_FALSE(beyond.empty() || lying.empty() || cut.empty());
    {
        SCOPED_TRACE("translation list longer than its block: its whole entries are read");
        FileFacts facts(beyond);
        EXPECT_EQ(L"ООО Корване", facts.CompanyText());
        EXPECT_EQ(L"Проба сведений о модуле", facts.DescriptionText());
        EXPECT_EQ(L"5.6.7.8", facts.ProductVersionText());
    }
    {
        SCOPED_TRACE("a value longer than its node: empty, the Russian table read last");
        FileFacts facts(lying);
        EXPECT_EQ(L"", facts.CompanyText());
        EXPECT_EQ(L"Проба сведений о модуле", facts.DescriptionText());
        EXPECT_EQ(L"5.6.7.8", facts.ProductVersionText());
        EXPECT_NE(L"", facts.SizeText());
    }
    {
        SCOPED_TRACE("a table that ends inside its last value's header: that value is not read");
        FileFacts facts(cut);
        EXPECT_EQ(L"", facts.VersionValue(kAuthor));
        EXPECT_EQ(L"ООО Корване", facts.CompanyText());
        EXPECT_EQ(L"Only the English table has comments", facts.VersionValue(kComments));
    }
}

TEST(FileFactsVersion, StringTablesWithoutTranslationTableGiveNothing) {
    FileFacts facts(TargetPath(L"fact_no_translation.dll"));
    ExpectAllVersionValuesEmpty(facts);
    EXPECT_NE(L"", facts.SizeText());
}

TEST(FileFactsVersion, DllWithoutVersionResourceStillHasSizeAndDates) {
    std::wstring folder = MakeTempFolder(L"facts-no-version");
    std::wstring path = CopyWithKnownTimes(TargetPath(L"fact_no_version.dll"), folder, L"bare.dll");
    FileFacts facts(path);
    ExpectAllVersionValuesEmpty(facts);
    EXPECT_EQ(FileSizeOf(path), facts.SizeText());
    EXPECT_NE(L"", facts.SizeKText());
    EXPECT_EQ(L"05.03.2013", facts.CreatedText());
    EXPECT_EQ(L"05.03.2013", facts.ModifiedText());
    EXPECT_EQ(path, facts.FilePath());
}

TEST(FileFactsVersion, MissingFileGivesOnlyEmptyTexts) {
    std::wstring path = MakeTempFolder(L"facts-missing") + L"nowhere.dll";
    FileFacts facts(path);
    ExpectAllVersionValuesEmpty(facts);
    EXPECT_EQ(L"", facts.SizeText());
    EXPECT_EQ(L"", facts.SizeKText());
    EXPECT_EQ(L"", facts.CreatedText());
    EXPECT_EQ(L"", facts.ModifiedText());
    EXPECT_EQ(path, facts.FilePath());

    FileFacts empty(L"");
    ExpectAllVersionValuesEmpty(empty);
    EXPECT_EQ(L"", empty.SizeText());
    EXPECT_EQ(L"", empty.CreatedText());
}

TEST(FileFactsSize, KilobytesRoundDownAndZeroBytesShowNothing) {
    std::wstring folder = MakeTempFolder(L"facts-sizes");
    struct Case {
        std::size_t bytes;
        const wchar_t* sizeText;
        const wchar_t* sizeKText;
    };
    const Case cases[] = {
        {0, L"", L""}, {1, L"1", L"0K"}, {1023, L"1023", L"0K"}, {1024, L"1024", L"1K"}, {1536, L"1536", L"1K"},
        {2048, L"2048", L"2K"},
    };
    for (const Case& c : cases) {
        std::wstring path = folder + L"size" + std::to_wstring(c.bytes) + L".bin";
        WriteFileOfSize(path, c.bytes);
        FileFacts facts(path);
        EXPECT_EQ(c.sizeText, facts.SizeText()) << c.bytes;
        EXPECT_EQ(c.sizeKText, facts.SizeKText()) << c.bytes;
    }
}

TEST(FileFactsDate, DatesAreUtcCalendarDays) {
    std::wstring path = MakeTempFolder(L"facts-dates") + L"dated.bin";
    WriteFileOfSize(path, 10);
    // Wine keeps no creation time of its own (it reports the last-write
    // time), so both times are set to the same moment.
    FILETIME beforeMidnight = UtcFileTime(2013, 3, 5, 23, 59, 59);
    ASSERT_TRUE(SetCreatedAndModified(path, beforeMidnight, beforeMidnight));
    FileFacts facts(path);
    EXPECT_EQ(L"05.03.2013", facts.CreatedText());
    EXPECT_EQ(L"05.03.2013", facts.ModifiedText());
    FILETIME afterMidnight = UtcFileTime(2024, 12, 1, 0, 0, 1);
    ASSERT_TRUE(SetCreatedAndModified(path, afterMidnight, afterMidnight));
    EXPECT_EQ(L"01.12.2024", FileFacts(path).ModifiedText());
}

TEST(FileFactsDate, ZeroAndUnconvertibleTimesGiveEmptyDates) {
    EXPECT_EQ(L"", FileDateText(FILETIME{0, 0}));
    EXPECT_EQ(L"", FileDateText(FILETIME{0, 0x80000000}));
    EXPECT_EQ(L"", FileDateText(FILETIME{0xFFFFFFFF, 0xFFFFFFFF}));
    EXPECT_EQ(L"01.01.1601", FileDateText(FILETIME{1, 0}));
    EXPECT_EQ(L"09.07.2001", FileDateText(UtcFileTime(2001, 7, 9, 12, 0, 0)));
}

TEST(FileFactsUploadLine, FoldedDirectoryAndNameLeadTheFields) {
    std::wstring system = ShellFolder(CSIDL_SYSTEM);
    ASSERT_NE(L"", system);
    std::wstring demo = system + L"\\demo.dll";
    ASSERT_TRUE(CopyFileW(TargetPath(L"fact_two_languages.dll").c_str(), demo.c_str(), FALSE));
    SetCreatedAndModified(demo, UtcFileTime(2013, 3, 5, 23, 59, 30), UtcFileTime(2013, 3, 5, 23, 59, 30));
    std::wstring line = FileFacts(demo).UploadLine(";");
    std::wstring size = FileSizeOf(demo);
    DeleteFileW(demo.c_str());
    EXPECT_EQ(L"demo.dll;%SYSTEM%;" + size + L";5.6.7.8;05.03.2013;05.03.2013;Проба сведений о модуле;ООО Корване",
              line);
}

TEST(FileFactsUploadLine, DriveRootBarePathsAndSeparators) {
    EXPECT_EQ(L"demo.dll;D:;;;;;;", FileFacts(L"D:\\demo.dll").UploadLine(";"));
    EXPECT_EQ(L"korvane-nowhere.dll;;;;;;;", FileFacts(L"korvane-nowhere.dll").UploadLine(";"));
    EXPECT_EQ(L"x.tar.gz;D:\\a.b;;;;;;", FileFacts(L"D:\\a.b\\x.tar.gz").UploadLine(";"));
    EXPECT_EQ(L"x.dll;D:/dir/;;;;;;", FileFacts(L"D:/dir/x.dll").UploadLine(";"));
    EXPECT_EQ(L"readme;\\\\server\\share;;;;;;", FileFacts(L"\\\\server\\share\\readme").UploadLine(";"));
    EXPECT_EQ(L"a.dll, D:, , , , , , ", FileFacts(L"D:\\a.dll").UploadLine(", "));
}

TEST(FileFactsUploadLine, FileWithoutVersionEndsInTwoEmptyFields) {
    std::wstring folder = MakeTempFolder(L"facts-upload-bare");
    std::wstring path = CopyWithKnownTimes(TargetPath(L"fact_no_version.dll"), folder, L"bare.dll");
    std::wstring line = FileFacts(path).UploadLine(";");
    std::wstring directory = folder.substr(0, folder.size() - 1);
    FoldPath(directory);
    EXPECT_EQ(L"bare.dll;" + directory + L";" + FileSizeOf(path) + L";;05.03.2013;05.03.2013;;", line);
    EXPECT_EQ(L";;", line.substr(line.size() - 2));
}

TEST(FileFactsUploadLine, LongPathsAreSplitWhole) {
    std::wstring folder = L"D:\\" + std::wstring(300, L'f') + L"\\" + std::wstring(280, L'g');
    std::wstring name = std::wstring(270, L'n') + L".dll";
    EXPECT_EQ(name + L";" + folder + L";;;;;;", FileFacts(folder + L"\\" + name).UploadLine(";"));
}

}  // namespace
