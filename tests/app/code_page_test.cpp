#include "app/code_page.h"

#include <gtest/gtest.h>

#include <QString>

namespace {

TEST(CodePage, ComesFromTheDigitsOfTheFileName) {
    EXPECT_EQ(CodePageFromFileName("/opt/x/Chinese936.ini"), 936);
    EXPECT_EQ(CodePageFromFileName("Russian1251.ini"), 1251);
    EXPECT_EQ(CodePageFromFileName("/a1250/Vietnamese1258.ini"), 1258);
    EXPECT_EQ(CodePageFromFileName("/a/English.ini"), 1252);
    EXPECT_EQ(CodePageFromFileName("/a/Odd1234.ini"), 1252);
    EXPECT_EQ(CodePageFromFileName("/a/Huge99999999999999999999.ini"), 1252);
    EXPECT_EQ(CodePageFromFileName(""), 1252);
}

TEST(CodePage, ConvertsSingleAndDoubleByteTextToUtf8) {
    // "Привет" in CP1251, "你好" in CP936, "中文" in CP950, "日本" in CP932, "한국" in CP949.
    EXPECT_EQ(ConvertToUtf8("\xCF\xF0\xE8\xE2\xE5\xF2", 1251, 100).utf8, "Привет");
    EXPECT_EQ(ConvertToUtf8("\xC4\xE3\xBA\xC3", 936, 100).utf8, "你好");
    EXPECT_EQ(ConvertToUtf8("\xA4\xA4\xA4\xE5", 950, 100).utf8, "中文");
    EXPECT_EQ(ConvertToUtf8("\x93\xFA\x96\x7B", 932, 100).utf8, "日本");
    EXPECT_EQ(ConvertToUtf8("\xC7\xD1\xB1\xB9", 949, 100).utf8, "한국");
    EXPECT_EQ(ConvertToUtf8("\x80 \xE9", 1252, 100).utf8, "€ é");
}

TEST(CodePage, CutsByCodePageBytesWithoutSplittingACharacter) {
    const ConvertedText russian = ConvertToUtf8("\xCF\xF0\xE8\xE2\xE5\xF2", 1251, 4);
    EXPECT_EQ(russian.utf8, "Прив");
    EXPECT_EQ(russian.sourceBytes, 4u);

    // Five bytes of "你好" + "A" would split the second character: it is left out whole.
    const ConvertedText chinese = ConvertToUtf8("A\xC4\xE3\xBA\xC3", 936, 4);
    EXPECT_EQ(chinese.utf8, "A你");
    EXPECT_EQ(chinese.sourceBytes, 3u);

    // A trail byte in the ASCII range must not be mistaken for a character of its own.
    const ConvertedText japanese = ConvertToUtf8("\x93\xFA\x96\x7B", 932, 3);
    EXPECT_EQ(japanese.utf8, "日");
}

TEST(CodePage, InvalidBytesBecomeReplacementCharacters) {
    // 0x98 is unassigned in CP1251; 0x81 0x20 is no character of CP936.
    EXPECT_EQ(ConvertToUtf8("a\x98z", 1251, 100).utf8, "a\xEF\xBF\xBDz");
    const ConvertedText broken = ConvertToUtf8("\x81\x20ok", 936, 100);
    EXPECT_NE(broken.utf8.find("ok"), std::string::npos);
    EXPECT_NE(broken.utf8.find("\xEF\xBF\xBD"), std::string::npos);
}

TEST(CodePage, VietnameseCombiningMarkAtTheEndIsKept) {
    // "a" followed by the combining acute accent (0xEC in CP1258) ends the text.
    const ConvertedText text = ConvertToUtf8("Xa\xEC", 1258, 100);
    EXPECT_EQ(QString::fromStdString(text.utf8).normalized(QString::NormalizationForm_C),
              QString::fromUtf8("Xá"));
}

TEST(CodePage, TextEndsAtItsFirstNul) {
    EXPECT_EQ(ConvertToUtf8(std::string_view("ab\0cd", 5), 1252, 100).utf8, "ab");
    EXPECT_EQ(ConvertToUtf8(std::string_view("ab\0cd", 5), kUtf8, 100).utf8, "ab");
}

TEST(CodePage, Utf8TextIsCutAsTheCodePageWouldCountIt) {
    // Each Cyrillic letter is one byte of CP1251; each Han character two of CP936.
    EXPECT_EQ(ConvertToUtf8("Привет", kUtf8, 4, 1251).utf8, "Прив");
    EXPECT_EQ(ConvertToUtf8("你好你好", kUtf8, 5, 936).utf8, "你好");
    EXPECT_EQ(ConvertToUtf8("ab\xFF"
                            "c",
                            kUtf8, 10, 1252)
                  .utf8,
              "ab\xEF\xBF\xBD"
              "c");
    EXPECT_EQ(ConvertToUtf8("ab\xE4\xBD", kUtf8, 10, 1252).utf8, "ab\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
