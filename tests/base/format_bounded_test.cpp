// The bounded formatter's contract: directives, the cut at N-1, and its status codes.
#include "base/format_bounded.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Format100(const wchar_t* format, FormatArg a = {}, FormatArg b = {}) {
    wchar_t out[100];
    const FormatArg args[] = {a, b};
    EXPECT_EQ(kFormatOk, FormatBoundedArgs(out, 100, format, args));
    return out;
}

TEST(FormatBounded, EveryDirectiveAsTheReportsUseIt) {
    EXPECT_EQ(L"path C:\\x.exe!", Format100(L"path %s!", L"C:\\x.exe"));
    EXPECT_EQ(L"-5 and 7", Format100(L"%d and %d", -5, 7));
    EXPECT_EQ(L"4294967295", Format100(L"%u", 0xFFFFFFFFu));
    EXPECT_EQ(L"-2147483648", Format100(L"%ld", static_cast<long>(-2147483647L - 1)));
    EXPECT_EQ(L"C0000142", Format100(L"%X", 0xC0000142u));
    EXPECT_EQ(L"c0000142", Format100(L"%x", 0xC0000142u));
    EXPECT_EQ(L"0", Format100(L"%X", 0u));
    EXPECT_EQ(L"05.03", Format100(L"%02d.%02d", 5, 3));
    EXPECT_EQ(L"2013 0042", Format100(L"%04d %04d", 2013, 42));
    EXPECT_EQ(L"0419 04b0", Format100(L"%04x %04x", 0x419, 0x4b0));
    EXPECT_EQ(L"100%", Format100(L"100%%"));
}

TEST(FormatBounded, AddressesShowTheirLow32BitsAndDWordsAreUnsigned) {
    const void* address = reinterpret_cast<const void*>(0x00007FF812345678ull);
    EXPECT_EQ(L"12345678", Format100(L"%X", address));
    EXPECT_EQ(L"80000003", Format100(L"%X", static_cast<unsigned long>(0x80000003ul)));
    EXPECT_EQ(L"3221225794", Format100(L"%u", static_cast<unsigned long>(0xC0000142ul)));
}

TEST(FormatBounded, SignedDecimalOfA32BitValueWrapsLikeTheCRuntime) {
    EXPECT_EQ(L"-1", Format100(L"%d", 0xFFFFFFFFu));
    EXPECT_EQ(L"1", Format100(L"%ld", 0x100000001ull));
}

TEST(FormatBounded, CyrillicTextPassesUnchanged) {
    EXPECT_EQ(L"Создан процесс C:\\Тест.exe (id: 0x1A)", Format100(L"Создан процесс %s (id: 0x%X)", L"C:\\Тест.exe", 0x1Au));
}

TEST(FormatBounded, OutputLongerThanNMinusOneIsCutAndTerminated) {
    wchar_t out[6];
    wmemset(out, L'#', 6);
    EXPECT_EQ(kFormatCut, FormatBounded(out, 6, L"%s", L"abcdefgh"));
    EXPECT_EQ(std::wstring(L"abcde"), out);
    EXPECT_EQ(kFormatOk, FormatBounded(out, 6, L"%s", L"abcde"));
    EXPECT_EQ(std::wstring(L"abcde"), out);
    EXPECT_EQ(kFormatCut, FormatBounded(out, 6, L"%X", 0x12345678u));
    EXPECT_EQ(std::wstring(L"12345"), out);
}

TEST(FormatBounded, CapacityOneWritesOnlyTheTerminator) {
    wchar_t out[2] = {L'#', L'#'};
    EXPECT_EQ(kFormatCut, FormatBounded(out, 1, L"x"));
    EXPECT_EQ(L'\0', out[0]);
    EXPECT_EQ(L'#', out[1]);
    EXPECT_EQ(kFormatOk, FormatBounded(out, 1, L""));
}

TEST(FormatBounded, CapacityZeroOrAbove2147483647WritesNothing) {
    wchar_t out[2] = {L'#', L'#'};
    EXPECT_EQ(kFormatInvalid, FormatBounded(out, 0, L"x"));
    EXPECT_EQ(kFormatInvalid, FormatBounded(out, std::size_t{2147483648u}, L"x"));
    EXPECT_EQ(L'#', out[0]);
}

TEST(FormatBounded, MissingOrMismatchedArgumentsWriteNothingForTheirDirective) {
    EXPECT_EQ(L"a  b", Format100(L"a %s b"));
    EXPECT_EQ(L"[]", Format100(L"[%d]", L"text"));
    EXPECT_EQ(L"[]", Format100(L"[%s]", 5));
}

TEST(FormatBounded, TextArgumentsEndAtTheirFirstZero) {
    std::wstring sized(260, L'\0');
    sized.replace(0, 5, L"C:\\ab");
    wchar_t out[8];
    EXPECT_EQ(kFormatOk, FormatBounded(out, 8, L"[%s]", sized));
    EXPECT_EQ(std::wstring(L"[C:\\ab]"), out);
}

TEST(FormatToString, KeepsOnlyTheFormattedCharacters) {
    EXPECT_EQ(L"6.1.7601", FormatToString(20, L"%d.%d.%d", 6, 1, 7601));
    EXPECT_EQ(std::wstring(19, L'9'), FormatToString(20, L"%s", std::wstring(40, L'9')));
}

}  // namespace
