#include "platform/system_language.h"

#include <gtest/gtest.h>

#include <QLocale>

namespace {

platform::LangId IdOf(const char* name) {
    return platform::LangIdFromLocale(QLocale(QString::fromLatin1(name)));
}

TEST(SystemLanguage, ChineseSublanguageFollowsTheTerritory) {
    EXPECT_EQ(IdOf("zh_CN"), 0x0804);
    EXPECT_EQ(IdOf("zh_TW"), 0x0404);
    EXPECT_EQ(IdOf("zh_HK"), 0x0C04);
    EXPECT_EQ(IdOf("zh_SG"), 0x1004);
    EXPECT_EQ(IdOf("zh_MO"), 0x1404);
    // A bare "zh" is Chinese of the PRC; traditional script alone means Taiwan.
    EXPECT_EQ(IdOf("zh"), 0x0804);
    EXPECT_EQ(IdOf("zh_Hant"), 0x0404);
}

TEST(SystemLanguage, LanguagesGiveTheirPrimaryIdentifier) {
    EXPECT_EQ(IdOf("ru_RU"), 0x0419);
    EXPECT_EQ(IdOf("de_AT"), 0x0407);
    EXPECT_EQ(IdOf("nb_NO"), 0x0414);
    EXPECT_EQ(platform::PrimaryLanguage(IdOf("nn_NO")), 0x14);
    EXPECT_EQ(IdOf("vi_VN"), 0x042A);
    EXPECT_EQ(IdOf("en_US"), 0x0409);
    EXPECT_EQ(IdOf("ja_JP"), 0x0411);
    EXPECT_EQ(IdOf("pt_BR"), 0x0416);
}

TEST(SystemLanguage, UnknownLanguageAndCLocaleAreNeutral) {
    EXPECT_EQ(platform::LangIdFromLocale(QLocale::c()), 0);
    EXPECT_EQ(IdOf("sw_KE"), 0);  // Swahili has no identifier here
}

TEST(SystemLanguage, SystemLanguageFollowsTheEnvironment) {
    // QLocale::system() is read when the application starts, so only check consistency.
    EXPECT_EQ(platform::SystemDefaultLangId(), platform::LangIdFromLocale(QLocale::system()));
}

}  // namespace
