// The Windows-1251 conversion of the log and the upload, and the log stream's bytes
// (never written through a name planted as a link to another file).
#include <gtest/gtest.h>
#include <windows.h>

#include "base/log_stream.h"
#include "base/text_1251.h"
#include "tests/support/test_files.h"

namespace {

TEST(ToCp1251, CyrillicAndSignsAreSingleBytes) {
    EXPECT_EQ("\xC6\xB8\xB9", ToCp1251(L"Жё№"));
    EXPECT_EQ("\xce\xf2\xeb\xe0\xe4\xea\xe0\x20\xe7\xe0\xe2\xe5\xf0\xf8\xe5\xed\xe0", ToCp1251(L"Отладка завершена"));
}

TEST(ToCp1251, UnrepresentableCharactersBecomeQuestionMarksInPlace) {
    EXPECT_EQ("a?b", ToCp1251(L"a中b"));
    EXPECT_EQ("\xcf?", ToCp1251(L"П中"));
    // A character outside the basic plane is two units: two question marks, length kept.
    EXPECT_EQ("x??y", ToCp1251(L"x\U0001F600y"));
    EXPECT_EQ("", ToCp1251(L""));
}

TEST(LogStream, WritesCp1251WithCrLfAndNothingWhenClosed) {
    std::wstring path = MakeTempFolder(L"log_stream") + L"zar.log";
    LogStream log;
    log.WriteLine(L"before open");
    ASSERT_TRUE(log.Open(path));
    log.WriteLine(L"Операционная система: x\n");
    // Each line is in the file as soon as it is written.
    EXPECT_EQ("\xce\xef\xe5\xf0\xe0\xf6\xe8\xee\xed\xed\xe0\xff \xf1\xe8\xf1\xf2\xe5\xec\xe0: x\r\n\r\n",
              ReadFileBytes(path));
    log.WriteLine(L"中\tend");
    EXPECT_TRUE(log.Close());
    log.WriteLine(L"after close");
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ("\xce\xef\xe5\xf0\xe0\xf6\xe8\xee\xed\xed\xe0\xff \xf1\xe8\xf1\xf2\xe5\xec\xe0: x\r\n\r\n?\tend\r\n",
              ReadFileBytes(path));
}

TEST(LogStream, OpeningTruncatesTheEarlierLog) {
    std::wstring path = MakeTempFolder(L"log_truncate") + L"zar.log";
    WriteFileBytes(path, "an earlier run that was much longer\r\n");
    LogStream log;
    ASSERT_TRUE(log.Open(path));
    log.WriteLine(L"new");
    log.Close();
    EXPECT_EQ("new\r\n", ReadFileBytes(path));
}

TEST(LogStream, HardLinkPlantedAsTheLogLeavesItsOtherFileUntouched) {
    const std::wstring folder = MakeTempFolder(L"planted log link");
    const std::wstring victim = folder + L"precious.txt";
    const std::wstring log = folder + L"zar.log";
    WriteFileBytes(victim, "not the log\r\n");
    ASSERT_TRUE(CreateHardLinkW(log.c_str(), victim.c_str(), nullptr)) << GetLastError();
    {
        LogStream stream;
        ASSERT_TRUE(stream.Open(log));
        stream.WriteLine(L"Korvane v1.0.2 by Ardelan");
    }
    EXPECT_EQ("not the log\r\n", ReadFileBytes(victim));
    EXPECT_EQ("Korvane v1.0.2 by Ardelan\r\n", ReadFileBytes(log));
}

}  // namespace
