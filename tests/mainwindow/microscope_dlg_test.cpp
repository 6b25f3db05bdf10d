#include "mainwindow/microscope_dlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>

#include "app/program_paths.h"
#include "support/temp_dir.h"

namespace {

using testsupport::Exists;
using testsupport::IsDirectory;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

class MicroscopeDlgTest : public ::testing::Test {
protected:
    StartupEnvironment Environment(platform::LangId language = 0x0409) const {
        StartupEnvironment environment;
        environment.executablePath = program / "digital-microscope";
        environment.documentsFolder = documents.path();
        environment.languageId = language;
        return environment;
    }
    void TearDown() override { SetProgramPaths({}); }

    TempDir program;
    TempDir documents;
};

TEST_F(MicroscopeDlgTest, StartsWithDefaultsAndTheFixedClientArea) {
    CMicroscopeDlg dialog(Environment());
    ASSERT_TRUE(dialog.OnInitDialog());
    EXPECT_EQ(dialog.MessageTitle(), QStringLiteral("USB 2.0 Digital Microscope"));
    EXPECT_EQ(dialog.windowTitle(), dialog.MessageTitle());
    dialog.show();
    EXPECT_EQ(dialog.centralWidget()->size(), QSize(842, 579));

    EXPECT_EQ(dialog.Paths().programFolder, program.path());
    EXPECT_EQ(dialog.Paths().languageFilePath, program / "English1252.ini");
    EXPECT_TRUE(IsDirectory(documents / "Microscope files/Picture"));
    EXPECT_TRUE(IsDirectory(documents / "Microscope files/Video"));
    EXPECT_EQ(CurrentProgramPaths().videoFolder, dialog.Paths().videoFolder);
}

TEST_F(MicroscopeDlgTest, TitleComesFromTheLanguageOfTheSystem) {
    WriteFile(program / "Russian1251.ini",
              "[Zentra]\nMsgTitle=\xCC\xE8\xEA\xF0\xEE\xF1\xEA\xEE\xEF\n");
    CMicroscopeDlg dialog(Environment(0x0419));
    ASSERT_TRUE(dialog.OnInitDialog());
    EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("Микроскоп"));
}

TEST_F(MicroscopeDlgTest, LeftoverProbeGoesAndCapturedFilesStay) {
    ASSERT_EQ(::mkdir((documents / "Microscope files").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((documents / "Microscope files/Video").c_str(), 0755), 0);
    WriteFile(documents / "Microscope files/Video/test.avi", "probe");
    WriteFile(documents / "Microscope files/Video/VCap0000.avi", "recording");

    CMicroscopeDlg dialog(Environment());
    ASSERT_TRUE(dialog.OnInitDialog());
    EXPECT_FALSE(Exists(documents / "Microscope files/Video/test.avi"));
    EXPECT_EQ(ReadFile(documents / "Microscope files/Video/VCap0000.avi"), "recording");
    EXPECT_TRUE(IsDirectory(documents / "Microscope files/Picture"));
}

TEST_F(MicroscopeDlgTest, ClosingEndsTheWindow) {
    CMicroscopeDlg dialog(Environment());
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.show();
    ASSERT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.close());
    EXPECT_FALSE(dialog.isVisible());
}

}  // namespace
