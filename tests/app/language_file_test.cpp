#include "app/language_file.h"

#include <gtest/gtest.h>

#include <QLocale>

#include "support/temp_dir.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

std::string FileFor(const char* localeName) {
    return LanguageFileName(platform::LangIdFromLocale(QLocale(QString::fromLatin1(localeName))));
}

TEST(LanguageFile, EveryLanguageOfTheTableHasItsFile) {
    const std::pair<platform::LangId, const char*> rows[] = {
        {0x0401, "Arabic1256.ini"},  {0x0406, "Danish1252.ini"},     {0x0407, "German1252.ini"},
        {0x0C0A, "Spanish1252.ini"}, {0x040B, "Finnish1252.ini"},    {0x040C, "French1252.ini"},
        {0x040D, "Hebrew1255.ini"},  {0x0410, "Italian1252.ini"},    {0x0411, "Japanese932.ini"},
        {0x0412, "Korean949.ini"},   {0x0413, "Dutch1252.ini"},      {0x0814, "Norwegian1252.ini"},
        {0x0415, "Polish1250.ini"},  {0x0816, "Portuguese1252.ini"}, {0x0419, "Russian1251.ini"},
        {0x041D, "Swedish1252.ini"}, {0x041F, "Turkish1254.ini"},    {0x042A, "Vietnamese1258.ini"},
        {0x0409, "English1252.ini"}, {0x0000, "English1252.ini"},    {0x0408, "English1252.ini"},
        {0x03FF, "English1252.ini"},
    };
    for (const auto& [id, name] : rows) {
        EXPECT_EQ(LanguageFileName(id), name) << std::hex << id;
    }
}

TEST(LanguageFile, ChineseOfThePrcIsSimplifiedAndAllOtherChineseTraditional) {
    EXPECT_EQ(LanguageFileName(0x0804), "Chinese936.ini");
    EXPECT_EQ(LanguageFileName(0x0404), "Chinese950.ini");  // Taiwan
    EXPECT_EQ(LanguageFileName(0x0C04), "Chinese950.ini");  // Hong Kong
    EXPECT_EQ(LanguageFileName(0x1004), "Chinese950.ini");  // Singapore
    EXPECT_EQ(LanguageFileName(0x1404), "Chinese950.ini");  // Macau
    EXPECT_EQ(LanguageFileName(0x7C04), "Chinese950.ini");  // any other sublanguage
}

TEST(LanguageFile, LocalesOfTheSystemMapToTheirFiles) {
    EXPECT_EQ(FileFor("zh_CN"), "Chinese936.ini");
    EXPECT_EQ(FileFor("zh_SG"), "Chinese950.ini");
    EXPECT_EQ(FileFor("zh_TW"), "Chinese950.ini");
    EXPECT_EQ(FileFor("ru_RU"), "Russian1251.ini");
    EXPECT_EQ(FileFor("nn_NO"), "Norwegian1252.ini");
    EXPECT_EQ(FileFor("pt_BR"), "Portuguese1252.ini");
    EXPECT_EQ(FileFor("el_GR"), "English1252.ini");
    EXPECT_EQ(FileFor("C"), "English1252.ini");
}

TEST(LanguageFile, BesideTheProgramFirstThenTheInstalledDataFolder) {
    TempDir program;
    TempDir data;
    // Neither has it: the path beside the program, whose lookups give the defaults.
    EXPECT_EQ(ChooseLanguageFile(program.path(), 0x0419, data.path()), program / "Russian1251.ini");

    WriteFile(data / "Russian1251.ini", "[Zentra]\n");
    EXPECT_EQ(ChooseLanguageFile(program.path(), 0x0419, data.path()), data / "Russian1251.ini");

    WriteFile(program / "Russian1251.ini", "[Zentra]\n");
    EXPECT_EQ(ChooseLanguageFile(program.path(), 0x0419, data.path()), program / "Russian1251.ini");

    // There is no fall-back to another language: English is not taken for a missing German.
    WriteFile(program / "English1252.ini", "[Zentra]\n");
    EXPECT_EQ(ChooseLanguageFile(program.path(), 0x0407, ""), program / "German1252.ini");
}

TEST(LanguageFile, ProgramInTheRootFolder) {
    EXPECT_EQ(ChooseLanguageFile("/", 0x0409, ""), "/English1252.ini");
}

}  // namespace
