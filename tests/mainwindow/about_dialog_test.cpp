#include "mainwindow/about_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "app/language_file.h"
#include "app/program_paths.h"
#include "app/version.h"
#include "support/temp_dir.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

class AboutDialogTest : public ::testing::Test {
protected:
    void TearDown() override { SetProgramPaths({}); }

    static void UseLanguageFile(const std::string& path) {
        ProgramPaths paths;
        paths.languageFilePath = path;
        SetProgramPaths(paths);
    }
};

// Caption and product line share their key; every other line falls back to its default on
// its own. The version and copyright come from the build.
TEST_F(AboutDialogTest, ShowsTheDefaultsOrWhatTheLanguageFileSays) {
    struct Row {
        const char* file;  // the language file's [Zentra] lines; null: no file at all
        const char* caption;
        const char* product;
        const char* description;
        const char* ok;
    };
    const Row rows[] = {
        {nullptr, "About USB 2.0 Digital Microscope", "USB 2.0 Digital Microscope",
         "Dedicated for Halvik USB 2.0 Digital Microscope", "OK"},
        {"AboutViewZentra=Mikroskop-Info\r\nOk=Gut\r\n", "Mikroskop-Info", "Mikroskop-Info",
         "Dedicated for Halvik USB 2.0 Digital Microscope", "Gut"},
        {"AboutDescription=F\xfcr das Halvik-Mikroskop\r\n", "About USB 2.0 Digital Microscope",
         "USB 2.0 Digital Microscope", "F\xc3\xbcr das Halvik-Mikroskop", "OK"},
    };
    TempDir folder;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.caption);
        const std::string path = folder / "German1252.ini";
        std::filesystem::remove(path);
        if (row.file != nullptr) {
            WriteFile(path, std::string("[Zentra]\r\n") + row.file);
        }
        UseLanguageFile(path);
        AboutDialog dialog;
        EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8(row.caption));
        EXPECT_EQ(dialog.line(AboutDialog::kProduct)->text(), QString::fromUtf8(row.product));
        EXPECT_EQ(dialog.line(AboutDialog::kDescription)->text(),
                  QString::fromUtf8(row.description));
        EXPECT_EQ(dialog.line(AboutDialog::kVersion)->text(), QString::fromUtf8(kVersionText));
        EXPECT_EQ(dialog.line(AboutDialog::kCopyright)->text(), QString::fromUtf8(kCopyrightText));
        EXPECT_EQ(dialog.okButton()->text(), QString::fromUtf8(row.ok));
        EXPECT_EQ(dialog.picture()->pixmap().size(), QSize(82, 82));
    }
}

TEST_F(AboutDialogTest, OkAndEscapeCloseIt) {
    for (const bool escape : {false, true}) {
        AboutDialog dialog;
        QTimer::singleShot(0, &dialog, [&dialog, escape] {
            if (escape) {
                QTest::keyClick(&dialog, Qt::Key_Escape);
            } else {
                dialog.okButton()->click();
            }
        });
        EXPECT_EQ(dialog.exec(), escape ? QDialog::Rejected : QDialog::Accepted);
    }
}

// In every shipped language each line shows whole: it wraps within its room rather than run
// under the picture, over the OK button or out of the box.
TEST_F(AboutDialogTest, EveryLanguageFitsItsLinesInTheBox) {
    const std::filesystem::path folder = DM_LANGUAGE_DIR;
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        SCOPED_TRACE(entry.path().filename().string());
        ++files;
        UseLanguageFile(entry.path());
        AboutDialog dialog;
        const QRect box = dialog.rect();
        const QRect picture = dialog.picture()->geometry();
        const QRect ok = dialog.okButton()->geometry();
        for (const AboutDialog::Line which : {AboutDialog::kProduct, AboutDialog::kDescription,
                                              AboutDialog::kVersion, AboutDialog::kCopyright}) {
            const QLabel* label = dialog.line(which);
            SCOPED_TRACE(label->text().toStdString());
            EXPECT_FALSE(label->text().isEmpty());
            EXPECT_LE(label->heightForWidth(label->width()), label->height());
            EXPECT_TRUE(box.contains(label->geometry()));
            EXPECT_FALSE(label->geometry().intersects(picture));
            EXPECT_FALSE(label->geometry().intersects(ok));
            // A word longer than the line would be cut even when wrapping.
            for (const QString& word : label->text().split(QLatin1Char(' '))) {
                EXPECT_LE(label->fontMetrics().horizontalAdvance(word), label->width())
                    << word.toStdString();
            }
        }
        EXPECT_GE(dialog.okButton()->width(),
                  dialog.okButton()->fontMetrics().horizontalAdvance(dialog.okButton()->text()));
    }
    EXPECT_EQ(files, 21);
}

}  // namespace
