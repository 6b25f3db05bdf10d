// Runs the built program on a real X server (Xvfb), the way it runs on a desktop, and looks
// at the screen.
#include <gtest/gtest.h>
#include <signal.h>

#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <functional>
#include <optional>

#include "e2e/x_server.h"
#include "support/process_signal.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace {

using testsupport::SpecimenPixels;
using testsupport::TempDir;
using testsupport::WaitUntil;
using testsupport::XServer;

class Desktop : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"Xvfb", "import"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
                GTEST_SKIP() << tool << " is not installed (scripts/setup installs it)";
            }
        }
        server_.emplace();
        ASSERT_TRUE(server_->display().has_value()) << "Xvfb did not start";
    }

    QProcessEnvironment Environment() const {
        return testsupport::DesktopEnvironment(home_.path(), *server_->display());
    }

    // Runs the program with `arguments` until it shows its window, looks at the screen, asks
    // it to end and returns what it wrote to standard error.
    std::string RunAndLook(const QStringList& arguments, const std::string& shownWhen,
                           QImage& screen) {
        QProcess process;
        process.setProcessEnvironment(Environment());
        process.start(QStringLiteral(DM_EXECUTABLE), arguments);
        EXPECT_TRUE(process.waitForStarted(10000));
        std::string err;
        EXPECT_TRUE(WaitUntil(
            [&] {
                process.waitForReadyRead(100);
                err += process.readAllStandardError().toStdString();
                return err.find(shownWhen) != std::string::npos;
            },
            20000))
            << err;
        // Give the window a moment to be mapped and the frames to reach it.
        WaitUntil(
            [&] {
                screen = server_->Screenshot();
                return !screen.isNull() && SpecimenPixels(screen) > 20000;
            },
            3000);
        testsupport::SendSignal(process, SIGTERM);
        EXPECT_TRUE(process.waitForFinished(20000));
        err += process.readAllStandardError().toStdString();
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << err;
        EXPECT_EQ(process.exitCode(), 0) << err;
        return err;
    }

    TempDir home_;
    std::optional<XServer> server_;
};

TEST_F(Desktop, TheSimulatedMicroscopeIsLiveAndTheCaptureEndsBeforeTheWindow) {
    QImage screen;
    const std::string err = RunAndLook({QStringLiteral("--simulate")}, "Simple Connect(", screen);
    ASSERT_FALSE(screen.isNull());
    // The live picture fills most of the 622 x 487 display (sampled every other pixel).
    EXPECT_GT(SpecimenPixels(screen), 20000);
    const std::size_t closing = err.find("Main window closing");
    const std::size_t shutDown = err.find("Capture shut down");
    ASSERT_NE(closing, std::string::npos) << err;
    ASSERT_NE(shutDown, std::string::npos) << err;
    EXPECT_LT(closing, shutDown);
    EXPECT_NE(err.find("NukeDownstream("), std::string::npos);
    EXPECT_EQ(err.find("WARNING"), std::string::npos) << err;
}

TEST_F(Desktop, WithoutAMicroscopeTheWindowAsksForOne) {
    QImage screen;
    const std::string err = RunAndLook({}, "No capture device is streaming", screen);
    ASSERT_FALSE(screen.isNull());
    EXPECT_EQ(SpecimenPixels(screen), 0);
    // The green connect text.
    int green = 0;
    for (int y = 0; y < screen.height(); ++y) {
        for (int x = 0; x < screen.width(); ++x) {
            const QRgb pixel = screen.pixel(x, y);
            green += (qGreen(pixel) > 200 && qRed(pixel) < 60 && qBlue(pixel) < 60) ? 1 : 0;
        }
    }
    EXPECT_GT(green, 300);
}

}  // namespace
