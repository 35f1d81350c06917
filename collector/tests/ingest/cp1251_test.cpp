// The code page as zar.exe writes it: Cyrillic, the punctuation of the upper
// half, and the two bytes without text.
#include <gtest/gtest.h>

#include "collector/ingest/cp1251.h"

using collector::DecodeWindows1251;

TEST(DecodeWindows1251, GivesTheRussianAlphabetAndTheUpperHalfsSigns) {
    EXPECT_EQ(DecodeWindows1251("\xCE\xEF\xE8\xF1\xE0\xED\xE8\xE5"), "Описание");
    std::string alphabet;
    for (int byte = 0xC0; byte <= 0xFF; ++byte) alphabet += static_cast<char>(byte);
    EXPECT_EQ(DecodeWindows1251(alphabet), "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюя");
    EXPECT_EQ(DecodeWindows1251("\xA8\xB8\xB9\x88\x96\x97\xAB\xBB\xA0"), "Ёё№€–—«»\u00A0");
    EXPECT_EQ(DecodeWindows1251("C:\\Demo;+&=%"), "C:\\Demo;+&=%");
}

TEST(DecodeWindows1251, ReplacesTheUnassignedByteAndNul) {
    EXPECT_EQ(DecodeWindows1251(std::string("a\x98" "b\0c", 5)), "a\uFFFDb\uFFFDc");
}
