#include "platform/system_language.h"

#include <QLocale>

namespace platform {
namespace {

struct LanguageRow {
    QLocale::Language language;
    unsigned primary;
};

// Primary language identifiers (winnt.h LANG_*) of the languages the program can name.
constexpr LanguageRow kLanguages[] = {
    {QLocale::Arabic, 0x01},
    {QLocale::Chinese, 0x04},
    {QLocale::Czech, 0x05},
    {QLocale::Danish, 0x06},
    {QLocale::German, 0x07},
    {QLocale::Greek, 0x08},
    {QLocale::English, 0x09},
    {QLocale::Spanish, 0x0A},
    {QLocale::Finnish, 0x0B},
    {QLocale::French, 0x0C},
    {QLocale::Hebrew, 0x0D},
    {QLocale::Hungarian, 0x0E},
    {QLocale::Icelandic, 0x0F},
    {QLocale::Italian, 0x10},
    {QLocale::Japanese, 0x11},
    {QLocale::Korean, 0x12},
    {QLocale::Dutch, 0x13},
    {QLocale::NorwegianBokmal, 0x14},
    {QLocale::NorwegianNynorsk, 0x14},
    {QLocale::Polish, 0x15},
    {QLocale::Portuguese, 0x16},
    {QLocale::Romanian, 0x18},
    {QLocale::Russian, 0x19},
    {QLocale::Croatian, 0x1A},
    {QLocale::Slovak, 0x1B},
    {QLocale::Albanian, 0x1C},
    {QLocale::Swedish, 0x1D},
    {QLocale::Thai, 0x1E},
    {QLocale::Turkish, 0x1F},
    {QLocale::Indonesian, 0x21},
    {QLocale::Ukrainian, 0x22},
    {QLocale::Belarusian, 0x23},
    {QLocale::Slovenian, 0x24},
    {QLocale::Estonian, 0x25},
    {QLocale::Latvian, 0x26},
    {QLocale::Lithuanian, 0x27},
    {QLocale::Persian, 0x29},
    {QLocale::Vietnamese, 0x2A},
};

// SUBLANG_CHINESE_*: the PRC is the simplified one; the others write traditional.
unsigned ChineseSubLanguage(const QLocale& locale) {
    switch (locale.territory()) {
        case QLocale::China:
            return 0x02;
        case QLocale::Taiwan:
            return 0x01;
        case QLocale::HongKong:
            return 0x03;
        case QLocale::Singapore:
            return 0x04;
        case QLocale::Macau:
            return 0x05;
        default:
            break;
    }
    return locale.script() == QLocale::TraditionalHanScript ? 0x01 : 0x02;
}

}  // namespace

LangId LangIdFromLocale(const QLocale& locale) {
    const QLocale::Language language = locale.language();
    for (const LanguageRow& row : kLanguages) {
        if (row.language != language) {
            continue;
        }
        if (row.primary == 0x04) {
            return MakeLangId(row.primary, ChineseSubLanguage(locale));
        }
        const unsigned sub = language == QLocale::NorwegianNynorsk ? 0x02 : 0x01;
        return MakeLangId(row.primary, sub);
    }
    return 0;
}

LangId SystemDefaultLangId() {
    return LangIdFromLocale(QLocale::system());
}

}  // namespace platform
