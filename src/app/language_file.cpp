#include "app/language_file.h"

#include "app/program_paths.h"

namespace {

struct LanguageFileRow {
    unsigned primary;
    const char* fileName;
};

constexpr LanguageFileRow kLanguageFiles[] = {
    {0x01, "Arabic1256.ini"},  {0x06, "Danish1252.ini"},     {0x07, "German1252.ini"},
    {0x0A, "Spanish1252.ini"}, {0x0B, "Finnish1252.ini"},    {0x0C, "French1252.ini"},
    {0x0D, "Hebrew1255.ini"},  {0x10, "Italian1252.ini"},    {0x11, "Japanese932.ini"},
    {0x12, "Korean949.ini"},   {0x13, "Dutch1252.ini"},      {0x14, "Norwegian1252.ini"},
    {0x15, "Polish1250.ini"},  {0x16, "Portuguese1252.ini"}, {0x19, "Russian1251.ini"},
    {0x1D, "Swedish1252.ini"}, {0x1F, "Turkish1254.ini"},    {0x2A, "Vietnamese1258.ini"},
};

constexpr unsigned kChinese = 0x04;
constexpr unsigned kChineseSimplifiedPrc = 0x02;

}  // namespace

std::string LanguageFileName(platform::LangId langId) {
    const unsigned primary = platform::PrimaryLanguage(langId);
    if (primary == kChinese) {
        return platform::SubLanguage(langId) == kChineseSimplifiedPrc ? "Chinese936.ini"
                                                                      : "Chinese950.ini";
    }
    for (const LanguageFileRow& row : kLanguageFiles) {
        if (row.primary == primary) {
            return row.fileName;
        }
    }
    return "English1252.ini";
}

std::string ChooseLanguageFile(std::string_view programFolder, platform::LangId langId,
                               std::string_view dataFolder) {
    const std::string name = LanguageFileName(langId);
    return PreferBesideProgram(JoinPath(programFolder, name),
                               dataFolder.empty() ? std::string() : JoinPath(dataFolder, name));
}
