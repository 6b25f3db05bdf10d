#include "mainwindow/microscope_dlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QThread>
#include <functional>

#include "app/program_paths.h"
#include "capture/gst/capture_stack.h"
#include "mainwindow/live_view.h"
#include "sim/simulated_microscope.h"
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

namespace {

// Processes events until `condition` holds or ten seconds pass.
bool WaitUntil(const std::function<bool()>& condition) {
    QDeadlineTimer deadline(10000);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

TEST_F(MicroscopeDlgTest, TheSimulatedMicroscopeStreamsIntoTheLiveView) {
    StartupEnvironment environment = Environment();
    environment.simulatedKind = 0;
    CMicroscopeDlg dialog(environment);
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.show();
    ASSERT_NE(dialog.capture(), nullptr);
    EXPECT_TRUE(dialog.capture()->engine().running());
    ASSERT_TRUE(WaitUntil([&] { return dialog.liveView()->framesDrawn() >= 3; }));

    // The view holds the picture upright: the frame index code is in its top row, and it
    // counts up from one frame to a later one.
    QImage first = dialog.liveView()->CurrentFrame();
    ASSERT_EQ(first.size(), QSize(720, 480));
    const std::optional<std::uint32_t> firstIndex = sim::ReadFrameIndexBgr(first.constScanLine(0), 720);
    ASSERT_TRUE(firstIndex.has_value());
    const std::uint64_t seen = dialog.liveView()->framesDrawn();
    ASSERT_TRUE(WaitUntil([&] { return dialog.liveView()->framesDrawn() > seen + 1; }));
    const QImage later = dialog.liveView()->CurrentFrame();
    const std::optional<std::uint32_t> laterIndex = sim::ReadFrameIndexBgr(later.constScanLine(0), 720);
    ASSERT_TRUE(laterIndex.has_value());
    EXPECT_GT(*laterIndex, *firstIndex);
}

TEST_F(MicroscopeDlgTest, AStillFromTheEngineIsSavedInThePictureFolder) {
    StartupEnvironment environment = Environment();
    environment.simulatedKind = 1;
    CMicroscopeDlg dialog(environment);
    ASSERT_TRUE(dialog.OnInitDialog());
    ASSERT_TRUE(WaitUntil([&] { return dialog.liveView()->framesDrawn() >= 2; }));
    dialog.capture()->engine().stillFlags().stillRequested = 1;
    const std::string still = dialog.Paths().pictureFolder + "/StillCap0.bmp";
    ASSERT_TRUE(WaitUntil([&] { return Exists(still); }));
    EXPECT_TRUE(WaitUntil([&] { return ReadFile(still).size() == 54u + 1280u * 1024u * 3u; }));
    EXPECT_EQ(dialog.capture()->engine().stillFlags().stillRequested.load(), 0);
}

}  // namespace
