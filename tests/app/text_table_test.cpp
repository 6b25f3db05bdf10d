#include "app/text_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "app/language_file.h"
#include "app/profile_reader.h"
#include "app/program_paths.h"
#include "support/temp_dir.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

constexpr int kRowCount = static_cast<int>(TextId::Count);

// Points the process-wide language file at `path` for one test.
class LanguageFileScope {
public:
    explicit LanguageFileScope(const std::string& path) : saved_(CurrentProgramPaths()) {
        ProgramPaths paths = saved_;
        paths.languageFilePath = path;
        SetProgramPaths(paths);
    }
    ~LanguageFileScope() { SetProgramPaths(saved_); }

private:
    ProgramPaths saved_;
};

void ExpectEveryTextIsItsDefault() {
    for (int i = 0; i < kRowCount; ++i) {
        const TextEntry& entry = TextEntryFor(static_cast<TextId>(i));
        EXPECT_EQ(LocalizedText(static_cast<TextId>(i)).toStdString(), entry.defaultText)
            << "row " << i << " key \"" << entry.key << "\"";
    }
}

TEST(TextTable, EveryRowIsComplete) {
    for (int i = 0; i < kRowCount; ++i) {
        const TextEntry& entry = TextEntryFor(static_cast<TextId>(i));
        ASSERT_NE(entry.key, nullptr) << "row " << i;
        ASSERT_NE(entry.defaultText, nullptr) << "row " << i;
        EXPECT_TRUE(std::set<int>({16, 32, 64, 128, 256, 260}).count(entry.sizeBytes)) << entry.key;
        EXPECT_LT(std::string(entry.defaultText).size(), static_cast<std::size_t>(entry.sizeBytes))
            << entry.key;
    }
}

TEST(TextTable, KeysAreSpelledAsTheProgramLooksThemUp) {
    const std::pair<TextId, const char*> odd[] = {
        {TextId::MenuFileDelete, "Delete "},
        {TextId::PopupFileDelete, "Delete"},
        {TextId::TipReward, "TipReward"},
        {TextId::VideoProperties, "VideoProperies"},
        {TextId::VideoCaptionDevice, "VideoCaptionDevice"},
        {TextId::MailSendComplete, "SEND_CAMPLETE"},
        {TextId::CompressTitle, "CompressTilte"},
        {TextId::RecorderOk, "OK"},
        {TextId::VideoOk, "Ok"},
        {TextId::TimeLapseSetTimerFail, "SET_TIMER_FAIL"},
    };
    for (const auto& [id, key] : odd) {
        EXPECT_STREQ(TextEntryFor(id).key, key);
    }
    EXPECT_STREQ(TextEntryFor(TextId::MenuHelpAbout).defaultText, "About Digital Microscope ");
    EXPECT_STREQ(TextEntryFor(TextId::PopupHelpAbout).defaultText, "About Digital Microscope");
    EXPECT_STREQ(TextEntryFor(TextId::PopupDisplayCircle).defaultText, "Circles");
    EXPECT_STREQ(TextEntryFor(TextId::MenuSettingCircle).defaultText, "Circle");
    EXPECT_EQ(TextEntryFor(TextId::SelectFileSave).sizeBytes, 128);
    EXPECT_EQ(TextEntryFor(TextId::SelectFileEMail).sizeBytes, 256);
    EXPECT_EQ(TextEntryFor(TextId::CounterSecond).sizeBytes, 16);
    EXPECT_STREQ(TextEntryFor(TextId::CounterSecond).defaultText, "Seconds");
    EXPECT_STREQ(TextEntryFor(TextId::RecorderSecond).defaultText, "Second");
    EXPECT_EQ(TextEntryFor(TextId::TimeLapseRunStop).sizeBytes, 260);
}

TEST(TextTable, WithoutALanguageFileEveryTextIsItsDefault) {
    TempDir dir;
    LanguageFileScope scope(dir / "English1252.ini");
    ExpectEveryTextIsItsDefault();
}

TEST(TextTable, BadLanguageFilesYieldTheDefaults) {
    TempDir dir;
    std::string garbage;
    for (int i = 0; i < 100000; ++i) {
        garbage.push_back(static_cast<char>((i * 131 + 7) % 256));
    }
    const std::string longLines = "[Zentra" + std::string(2'000'000, 'z') + "]\n" + "MsgTitle" +
                                  std::string(1'000'000, ' ') + "\n";
    const std::pair<const char*, std::string> files[] = {
        {"garbage1252.ini", garbage},
        {"long1252.ini", longLines},
        {"nosection1252.ini", "MsgTitle=No section\n[Other]\nConnectMsg=Elsewhere\n"},
        {"empty1252.ini", ""},
        {"utf16-1252.ini", std::string("\xFF\xFE[\0Z\0e\0n\0t\0r\0a\0]\0", 18)},
    };
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        WriteFile(dir / name, bytes);
        LanguageFileScope scope(dir / name);
        ExpectEveryTextIsItsDefault();
    }
    // A folder where the file should be.
    LanguageFileScope scope(dir.path());
    ExpectEveryTextIsItsDefault();
}

TEST(TextTable, RussianFileComesOutAsUtf8) {
    TempDir dir;
    // "Микроскоп" and "Открыть" in CP1251.
    WriteFile(dir / "Russian1251.ini",
              "[Zentra]\r\nMsgTitle=\xCC\xE8\xEA\xF0\xEE\xF1\xEA\xEE\xEF\r\n"
              "Open=\xCE\xF2\xEA\xF0\xFB\xF2\xFC\r\n");
    LanguageFileScope scope(dir / "Russian1251.ini");
    EXPECT_EQ(LocalizedText(TextId::MsgTitle), QString::fromUtf8("Микроскоп"));
    EXPECT_EQ(LocalizedText(TextId::MenuFileOpen), QString::fromUtf8("Открыть"));
    EXPECT_EQ(LocalizedText(TextId::PopupFileOpen), QString::fromUtf8("Открыть"));
    EXPECT_EQ(LocalizedText(TextId::MenuFileSave), QString::fromUtf8("Save"));  // missing key
}

TEST(TextTable, ChineseFileComesOutAsUtf8AndIsCutOnCharacters) {
    TempDir dir;
    // "显微镜" (microscope) in CP936, and eight characters for a 16-byte lookup.
    WriteFile(dir / "Chinese936.ini",
              "[Zentra]\nMsgTitle=\xCF\xD4\xCE\xA2\xBE\xB5\n"
              "Second=\xC3\xEB\xC3\xEB\xC3\xEB\xC3\xEB\xC3\xEB\xC3\xEB\xC3\xEB\xC3\xEB\n");
    LanguageFileScope scope(dir / "Chinese936.ini");
    EXPECT_EQ(LocalizedText(TextId::MsgTitle), QString::fromUtf8("显微镜"));
    // 15 bytes hold seven two-byte characters; the eighth is left out whole.
    EXPECT_EQ(LocalizedText(TextId::CounterSecond), QString::fromUtf8("秒秒秒秒秒秒秒"));
    EXPECT_EQ(LocalizedText(TextId::RecorderSecond), QString::fromUtf8("秒秒秒秒秒秒秒秒"));
}

TEST(TextTable, LongTranslationIsCutToItsBuffer) {
    TempDir dir;
    WriteFile(dir / "German1252.ini", "[Zentra]\nSecond=Sekundensekundenxxxx\n");  // 20 characters
    LanguageFileScope scope(dir / "German1252.ini");
    EXPECT_EQ(LocalizedText(TextId::CounterSecond), QStringLiteral("Sekundensekunde"));
    EXPECT_EQ(LocalizedText(TextId::RecorderSecond), QStringLiteral("Sekundensekundenxxxx"));

    std::string text;
    EXPECT_EQ(GetLocalizedText("Second", text, 16, "Seconds"), 15);
    EXPECT_EQ(text, "Sekundensekunde");
    EXPECT_EQ(GetLocalizedText("Second", text, 1, "Seconds"), 0);
    EXPECT_EQ(text, "");
    EXPECT_EQ(GetLocalizedText("Missing", text, 4, "Seconds"), 3);
    EXPECT_EQ(text, "Sec");
}

TEST(TextTable, DeleteAndDeleteWithBlankAreDifferentKeys) {
    TempDir dir;
    WriteFile(dir / "French1252.ini", "[Zentra]\nDelete=Supprimer\n");
    {
        LanguageFileScope scope(dir / "French1252.ini");
        EXPECT_EQ(LocalizedText(TextId::PopupFileDelete), QStringLiteral("Supprimer"));
        EXPECT_EQ(LocalizedText(TextId::MenuFileDelete), QStringLiteral("Delete"));
    }
    WriteFile(dir / "French1252.ini", "[Zentra]\nDelete=Supprimer\nDelete =Effacer\n");
    LanguageFileScope scope(dir / "French1252.ini");
    EXPECT_EQ(LocalizedText(TextId::PopupFileDelete), QStringLiteral("Supprimer"));
    EXPECT_EQ(LocalizedText(TextId::MenuFileDelete), QStringLiteral("Effacer"));
}

TEST(TextTable, OneValueServesEveryRowOfItsKey) {
    TempDir dir;
    WriteFile(dir / "Italian1252.ini", "[Zentra]\nAboutViewZentra=Microscopio USB\n");
    LanguageFileScope scope(dir / "Italian1252.ini");
    EXPECT_EQ(LocalizedText(TextId::AboutCaption), QStringLiteral("Microscopio USB"));
    EXPECT_EQ(LocalizedText(TextId::AboutProduct), QStringLiteral("Microscopio USB"));
}

TEST(TextTable, FileSavedAsUtf8WithBomIsReadAsUtf8) {
    TempDir dir;
    WriteFile(dir / "Russian1251.ini",
              "\xEF\xBB\xBF[Zentra]\nMsgTitle=Микроскоп\nSecond=СекундыСекундыСекунды\n");
    LanguageFileScope scope(dir / "Russian1251.ini");
    EXPECT_EQ(LocalizedText(TextId::MsgTitle), QString::fromUtf8("Микроскоп"));
    EXPECT_EQ(LocalizedText(TextId::CounterSecond), QString::fromUtf8("СекундыСекундыС"));
}

TEST(TextTable, MessagesWithPlaceholdersKeepTheFolderAndTheReason) {
    TempDir dir;
    const QString folder = QStringLiteral("/home/u/100%2 sure/Microscope files");
    const QString reason = QStringLiteral("Permission denied");
    const struct {
        const char* translation;  // of MakeFolderFail; nullptr: none
        const char* expected;
    } cases[] = {
        {nullptr,
         "The folder /home/u/100%2 sure/Microscope files could not be made: Permission denied"},
        {"%2 - Ordner nicht angelegt: %1",
         "Permission denied - Ordner nicht angelegt: /home/u/100%2 sure/Microscope files"},
        // A translation that would drop the reason is passed over.
        {"Ordner %1 nicht angelegt",
         "The folder /home/u/100%2 sure/Microscope files could not be made: Permission denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        WriteFile(dir / "German1252.ini",
                  c.translation ? std::string("[Zentra]\nMakeFolderFail=") + c.translation + "\n"
                                : std::string("[Zentra]\n"));
        LanguageFileScope scope(dir / "German1252.ini");
        EXPECT_EQ(LocalizedText(TextId::MakeFolderFail, folder, reason).toStdString(), c.expected);
    }
}

TEST(TextTable, FileIsReadAnewOnEveryLookup) {
    TempDir dir;
    LanguageFileScope scope(dir / "Dutch1252.ini");
    EXPECT_EQ(LocalizedText(TextId::TipPlay), QStringLiteral("Play"));
    WriteFile(dir / "Dutch1252.ini", "[Zentra]\nTipPlay=Afspelen\n");
    EXPECT_EQ(LocalizedText(TextId::TipPlay), QStringLiteral("Afspelen"));
}

// The keys of a file's section "Zentra", as written before their "=".
std::vector<std::string> SectionKeys(const std::string& file) {
    std::vector<std::string> keys;
    bool inSection = false;
    std::size_t begin = 0;
    while (begin < file.size()) {
        std::size_t end = file.find('\n', begin);
        if (end == std::string::npos) {
            end = file.size();
        }
        std::string line = file.substr(begin, end - begin);
        begin = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty() && line.front() == '[') {
            inSection = line == "[" + std::string(kTextSection) + "]";
        } else if (inSection && line.find('=') != std::string::npos) {
            keys.push_back(line.substr(0, line.find('=')));
        }
    }
    return keys;
}

// The placeholders of a text in order: %1, %2, %d, %s.
std::vector<std::string> Placeholders(const std::string& text) {
    std::vector<std::string> found;
    for (std::size_t at = text.find('%'); at != std::string::npos && at + 1 < text.size();
         at = text.find('%', at + 1)) {
        const char kind = text[at + 1];
        if ((kind >= '1' && kind <= '9') || kind == 'd' || kind == 's') {
            found.push_back(text.substr(at, 2));
        }
    }
    return found;
}

// The language files that come with the program: one for each language the program picks a
// file for, each in its own code page (never UTF-8 passing for it), each translating every
// key of the table once and nothing else, every text whole within the smallest buffer its key
// is looked up with (counted in the file's own bytes) and with the placeholders of its
// default in the same order. The version and copyright lines of the About box come from the
// build and are not translated.
TEST(TextTable, TheShippedLanguageFilesTranslateEveryKeyWithinItsBuffer) {
    const platform::LangId languages[] = {0x0401, 0x0804, 0x0404, 0x0406, 0x0407, 0x040A, 0x040B,
                                          0x040C, 0x040D, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414,
                                          0x0415, 0x0416, 0x0419, 0x041D, 0x041F, 0x042A, 0x0409};
    const std::set<std::string> fromTheBuild = {"AboutVersion", "AboutCopyright"};
    std::set<std::string> tableKeys;
    for (int i = 0; i < kRowCount; ++i) {
        const std::string key = TextEntryFor(static_cast<TextId>(i)).key;
        if (fromTheBuild.count(key) == 0) {
            tableKeys.insert(key);
        }
    }
    const std::filesystem::path folder = DM_LANGUAGE_DIR;
    std::set<std::string> names;
    std::set<std::string> notAvailableTexts;
    for (const platform::LangId language : languages) {
        const std::string name = LanguageFileName(language);
        SCOPED_TRACE(name);
        names.insert(name);
        const std::optional<std::string> file = ReadProfileFile(folder / name);
        ASSERT_TRUE(file.has_value());
        // A file saved as UTF-8 without its mark would pass for its code page and be shown
        // garbled: outside ASCII, a file of code-page text is never valid UTF-8.
        const bool ascii = std::all_of(file->begin(), file->end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        EXPECT_TRUE(ascii || QString::fromUtf8(*file).toUtf8().toStdString() != *file);

        const std::vector<std::string> keys = SectionKeys(*file);
        const std::set<std::string> keySet(keys.begin(), keys.end());
        EXPECT_EQ(keys.size(), keySet.size()) << "a key is given twice";
        EXPECT_EQ(keySet, tableKeys);

        for (int i = 0; i < kRowCount; ++i) {
            const TextEntry& entry = TextEntryFor(static_cast<TextId>(i));
            if (fromTheBuild.count(entry.key) != 0) {
                continue;
            }
            SCOPED_TRACE(entry.key);
            const std::string raw = FindProfileValue(*file, kTextSection, entry.key).value_or("");
            EXPECT_LT(raw.size(), static_cast<std::size_t>(entry.sizeBytes)) << "would be cut";
            std::string text;
            GetLocalizedTextFrom(folder / name, entry.key, text, entry.sizeBytes, "");
            EXPECT_FALSE(text.empty());
            EXPECT_EQ(text.find("\xEF\xBF\xBD"), std::string::npos);  // no U+FFFD
            EXPECT_EQ(Placeholders(text), Placeholders(entry.defaultText));
            if (static_cast<TextId>(i) == TextId::NotAvailable) {
                notAvailableTexts.insert(text);
            }
        }
    }
    // Each file has its own wording, not a copy of another's.
    EXPECT_EQ(notAvailableTexts.size(), std::size(languages));
    std::set<std::string> shipped;
    for (const auto& file : std::filesystem::directory_iterator(folder)) {
        shipped.insert(file.path().filename().string());
    }
    EXPECT_EQ(shipped, names);
}

}  // namespace
