// The recorder settings dialog and the compressor choice, driven as a user drives them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <cerrno>
#include <climits>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "mainwindow/compressor_dialog.h"
#include "mainwindow/recorder_settings_dialog.h"
#include "support/temp_dir.h"

namespace {

using CompressorStep = std::function<void(CompressorDialog&)>;

// Answers the modal windows that open while it lives: a message box is noted and closed
// with OK; each time a compressor choice becomes the active window (when it opens, and again
// when a box it showed has closed) the next of `compressorSteps` runs on it, from an event
// of its own so that it may open further windows.
class ModalDriver {
public:
    std::vector<QString> boxes;
    std::deque<CompressorStep> compressorSteps;

    ModalDriver() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start();
    }

private:
    void Tick() {
        QWidget* active = QApplication::activeModalWidget();
        if (active == seen_.data()) {
            return;
        }
        seen_ = active;
        if (auto* box = qobject_cast<QMessageBox*>(active)) {
            boxes.push_back(box->text());
            box->done(QMessageBox::Ok);
        } else if (auto* dialog = qobject_cast<CompressorDialog*>(active)) {
            if (compressorSteps.empty()) {
                ADD_FAILURE() << "a compressor choice nobody expected";
                dialog->reject();
                return;
            }
            CompressorStep step = std::move(compressorSteps.front());
            compressorSteps.pop_front();
            QTimer::singleShot(0, dialog, [dialog, step] { step(*dialog); });
        }
    }

    QTimer timer_;
    QPointer<QWidget> seen_;
};

// Picks `codec` with a quality and a key-frame interval (0: the box unticked) and presses OK.
CompressorStep PickAndOk(RecorderCodec codec, int quality, int keyFrameEvery) {
    return [=](CompressorDialog& dialog) {
        EXPECT_TRUE(dialog.SelectCodec(codec)) << RecorderCodecFourcc(codec);
        dialog.qualitySlider()->setValue(quality);
        dialog.keyFrameCheck()->setChecked(keyFrameEvery > 0);
        if (keyFrameEvery > 0) {
            dialog.keyFrameEdit()->setValue(keyFrameEvery);
        }
        dialog.okButton()->click();
    };
}

CompressorStep Cancel() {
    return [](CompressorDialog& dialog) { dialog.cancelButton()->click(); };
}

constexpr RecorderCompressOptions kMsvc{RecorderCodec::MicrosoftVideo1, 0, 0};
constexpr RecorderCompressOptions kMjpg40{RecorderCodec::MotionJpeg, 40, 0};

// The probe's folder goes into a test folder of its own.
class RecorderDialogsTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("TMPDIR", tmp_.path().c_str(), 1); }
    void TearDown() override { ::unsetenv("TMPDIR"); }

    testsupport::TempDir tmp_;
};

}  // namespace

// The dialog opens on 15 frames per second, 10 seconds and the limit ticked; the box
// enables the seconds exactly when ticked; OK takes the fields only within their ranges,
// and only then settles the compressor (the default here); a field out of range is named in
// a box, gets the focus and keeps the dialog open.
TEST_F(RecorderDialogsTest, SettingsDialogChecksItsFieldsBeforeItClosesAndSettlesTheCompressor) {
    struct Case {
        const char* frameRate;
        bool limit;
        const char* seconds;
        const char* box;  // nullptr: OK closes the dialog
        int frameRateExpected;
        int limitExpected;
    };
    const char* const kRateBox = "Please enter an integer between 1 and 30.";
    const char* const kSecondsBox = "Please enter an integer between 1 and 99999.";
    const Case cases[] = {
        {nullptr, true, nullptr, nullptr, 15, 10},  // as it opens
        {"30", true, "99999", nullptr, 30, 99999},
        {" 1 ", true, "1", nullptr, 1, 1},
        {"20", false, "10", nullptr, 20, INT_MAX},
        {"20", false, "100000", nullptr, 20, INT_MAX},  // unused, so not checked
        {"0", true, "10", kRateBox, 0, 0},
        {"31", true, "10", kRateBox, 0, 0},
        {"1x", true, "10", kRateBox, 0, 0},
        {"", true, "10", kRateBox, 0, 0},
        {"0", true, "0", kRateBox, 0, 0},  // one box: the first field
        {"15", true, "0", kSecondsBox, 0, 0},
        {"15", true, "100000", kSecondsBox, 0, 0},
        {"15", true, "99999999999", kSecondsBox, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.frameRate ? c.frameRate : "-") + " / " +
                     (c.seconds ? c.seconds : "-") + (c.limit ? "" : " off"));
        RecorderChoice choice{kMjpg40, false, false};
        RecorderSettingsDialog dialog(choice, 640, 480);
        dialog.show();
        EXPECT_EQ(dialog.frameRateEdit()->text(), QStringLiteral("15"));
        EXPECT_EQ(dialog.secondsEdit()->text(), QStringLiteral("10"));
        EXPECT_TRUE(dialog.timeLimitCheck()->isChecked());
        EXPECT_TRUE(dialog.secondsEdit()->isEnabled());
        if (c.frameRate != nullptr) {
            dialog.frameRateEdit()->setText(QString::fromUtf8(c.frameRate));
            dialog.secondsEdit()->setText(QString::fromUtf8(c.seconds));
        }
        if (!c.limit) {
            dialog.timeLimitCheck()->click();
            EXPECT_FALSE(dialog.secondsEdit()->isEnabled());
            dialog.timeLimitCheck()->click();
            EXPECT_TRUE(dialog.secondsEdit()->isEnabled());
            dialog.timeLimitCheck()->click();
        }

        ModalDriver driver;
        dialog.okButton()->click();
        if (c.box == nullptr) {
            EXPECT_TRUE(driver.boxes.empty());
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
            EXPECT_EQ(dialog.frameRate(), c.frameRateExpected);
            EXPECT_EQ(dialog.recordLimitSeconds(), c.limitExpected);
            EXPECT_EQ(dialog.timeLimitOn(), c.limit);
            EXPECT_EQ(choice.options, kMsvc);
            EXPECT_TRUE(choice.optionsSet);
        } else {
            EXPECT_EQ(driver.boxes, std::vector<QString>{QString::fromUtf8(c.box)});
            EXPECT_TRUE(dialog.isVisible());
            EXPECT_EQ(dialog.focusWidget(),
                      c.box == kRateBox ? dialog.frameRateEdit() : dialog.secondsEdit());
            EXPECT_EQ(choice.options, kMjpg40);
            EXPECT_FALSE(choice.optionsSet);
        }
    }
}

// The compressor choice opens on the current options, offers a quality and a key-frame
// interval only where the codec has them, and replaces the options with a pick only when a
// recording with it can be made at the frame size; otherwise it says so and keeps them.
TEST_F(RecorderDialogsTest, ChooseCompressorTakesAPickOnlyWhenItCanRecordAtTheFrameSize) {
    const RecorderCompressOptions fmp4{RecorderCodec::Mpeg4, 30, 25};
    struct Case {
        const char* what;
        RecorderCompressOptions start;
        int width;
        int height;
        std::vector<CompressorStep> steps;
        RecorderCompressOptions expected;
        std::vector<QString> boxes;
        int error;
    };
    const QString msvcAt642 =
        QStringLiteral("Microsoft Video 1 (MSVC) cannot record frames of 642 x 480 pixels.");
    const RecorderCompressOptions dib{RecorderCodec::UncompressedDib, 0, 0};
    const auto pick = PickAndOk;
    // clang-format off
    const Case cases[] = {
        {"Cancel", kMjpg40, 640, 480, {Cancel()}, kMjpg40, {}, 0},
        {"MJPG has a quality but no interval", kMsvc, 640, 480,
         {pick(RecorderCodec::MotionJpeg, 60, 10)}, {RecorderCodec::MotionJpeg, 60, 0}, {}, 0},
        {"FFV1 has an interval but no quality", fmp4, 0, 0,
         {pick(RecorderCodec::Ffv1, 60, 10)}, {RecorderCodec::Ffv1, 0, 10}, {}, 0},
        {"FMP4 has both", kMsvc, 320, 240, {pick(RecorderCodec::Mpeg4, 30, 25)}, fmp4, {}, 0},
        {"MSVC every 5 frames", kMjpg40, 640, 480,
         {pick(RecorderCodec::MicrosoftVideo1, 90, 5)}, {RecorderCodec::MicrosoftVideo1, 0, 5}, {},
         0},
        {"MSVC cannot take the size, then Cancel", kMjpg40, 642, 480,
         {pick(RecorderCodec::MicrosoftVideo1, 50, 0), Cancel()}, kMjpg40, {msvcAt642}, EINVAL},
        {"MSVC cannot take the size, then DIB can", kMjpg40, 642, 480,
         {pick(RecorderCodec::MicrosoftVideo1, 50, 0), pick(RecorderCodec::UncompressedDib, 50, 7)},
         dib, {msvcAt642}, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<RecorderCompressOptions> shown;
        ModalDriver driver;
        driver.compressorSteps.assign(c.steps.begin(), c.steps.end());
        // The first step also notes what the dialog opened on.
        CompressorStep first = driver.compressorSteps.front();
        driver.compressorSteps.front() = [&shown, first](CompressorDialog& dialog) {
            shown = dialog.pick();
            first(dialog);
        };
        RecorderCompressOptions options = c.start;
        bool replaced = false;
        const IoResult result = ChooseCompressor(nullptr, options, c.width, c.height, &replaced);
        EXPECT_EQ(shown, c.start);
        EXPECT_TRUE(driver.compressorSteps.empty());
        EXPECT_EQ(driver.boxes, c.boxes);
        EXPECT_EQ(options, c.expected);
        EXPECT_EQ(replaced, !(c.expected == c.start));
        EXPECT_EQ(result.error(), c.error);
    }
}

// OK without Compress installs Microsoft Video 1 where it can record; Compress marks the
// choice as the user's, so the next OK keeps the options (even after Cancel, at a later
// recording) and clears the mark; a pick from the menu counts as the user's too.
TEST_F(RecorderDialogsTest, TheUsersOwnCompressorSurvivesTheNextOkOnly) {
    RecorderChoice choice;
    ModalDriver driver;
    // Runs one recorder settings dialog at `width` x `height`: Compress first when `steps`
    // are given, then OK or Cancel.
    const auto run = [&](int width, int height, std::vector<CompressorStep> steps, bool ok) {
        RecorderSettingsDialog dialog(choice, width, height);
        dialog.show();
        if (!steps.empty()) {
            driver.compressorSteps.assign(steps.begin(), steps.end());
            dialog.compressButton()->click();
            EXPECT_TRUE(driver.compressorSteps.empty());
        }
        (ok ? dialog.okButton() : dialog.cancelButton())->click();
        EXPECT_FALSE(dialog.isVisible());
    };

    // MSVC cannot record 642 x 480: the options stay as they were.
    choice.options = kMjpg40;
    run(642, 480, {}, true);
    EXPECT_EQ(choice.options, kMjpg40);
    EXPECT_FALSE(choice.optionsSet);

    run(640, 480, {}, true);
    EXPECT_EQ(choice.options, kMsvc);
    EXPECT_TRUE(choice.optionsSet);
    EXPECT_FALSE(choice.compressorChosen);

    run(640, 480, {PickAndOk(RecorderCodec::MotionJpeg, 40, 0)}, true);
    EXPECT_EQ(choice.options, kMjpg40);
    EXPECT_FALSE(choice.compressorChosen);

    // Compress, Cancel there and Cancel here: the mark stays for the next recording.
    run(640, 480, {Cancel()}, false);
    EXPECT_TRUE(choice.compressorChosen);
    run(640, 480, {}, true);
    EXPECT_EQ(choice.options, kMjpg40);
    EXPECT_FALSE(choice.compressorChosen);
    run(640, 480, {}, true);
    EXPECT_EQ(choice.options, kMsvc);

    // The menu's choice.
    driver.compressorSteps.assign({PickAndOk(RecorderCodec::HuffYuv, 50, 0)});
    EXPECT_TRUE(ChooseRecorderCompressor(nullptr, choice, 640, 480).ok());
    EXPECT_EQ(choice.options, (RecorderCompressOptions{RecorderCodec::HuffYuv, 0, 0}));
    EXPECT_TRUE(choice.compressorChosen);
    run(640, 480, {}, true);
    EXPECT_EQ(choice.options.codec, RecorderCodec::HuffYuv);
    EXPECT_TRUE(driver.boxes.empty());
}
