// The e-mail wait window and the hand-off behind it, with xdg-email replaced by a script that
// notes its arguments and exits with $DM_MAIL_STATUS.
#include "mainwindow/mail_send_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "output/bmp_file.h"
#include "support/media_probe.h"
#include "support/stub_programs.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace {

namespace fs = std::filesystem;
using testsupport::Exists;
using testsupport::ReadNotedArguments;
using testsupport::TempDir;
using testsupport::VariableScope;
using testsupport::WaitUntil;

const QString kTitle = QStringLiteral("Microscope");
constexpr const char* kComplete = "Send Camplete";

struct Box {
    QString title;
    std::string text;
    QMessageBox::Icon icon;
};

// Notes every message box that opens while it lives and closes it with OK.
class BoxAnswerer {
public:
    BoxAnswerer() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes.push_back({box->windowTitle(), box->text().toStdString(), box->icon()});
                box->done(QMessageBox::Ok);
            }
        });
        timer_.start();
    }
    std::vector<Box> boxes;

private:
    QTimer timer_;
};

class MailSend : public ::testing::Test {
protected:
    MailSend() {
        stubs_.Add("xdg-email",
                   "note_arguments \"$@\"\n"
                   "[ -n \"$DM_MAIL_SLEEP\" ] && sleep \"$DM_MAIL_SLEEP\"\n"
                   ": > \"$DM_STUB_ARGS.ended\"\n"
                   "exit \"${DM_MAIL_STATUS:-0}\"");
        fs::create_directory(root_ / "run");
    }

    // Runs the wait window for `path` to its end, with xdg-email exiting with `status`.
    int Send(const std::string& path, int status, MailAttachments& attachments,
             std::chrono::milliseconds timeout = kMailTimeout) {
        fs::remove(noted_);
        fs::remove(noted_ + ".ended");
        VariableScope exitStatus("DM_MAIL_STATUS", std::to_string(status));
        MailSendDialog dialog(kTitle, path, attachments);
        dialog.setHandOffTimeout(timeout);
        const int result = dialog.exec();
        QCoreApplication::processEvents();  // the finished hand-off's clean-up
        return result;
    }
    std::optional<std::vector<std::string>> Noted() const { return ReadNotedArguments(noted_); }
    bool StubEnded() const { return Exists(noted_ + ".ended"); }

    static std::string Failed(const std::string& path, const std::string& why) {
        return "The mail program could not take the file " + path + ": " + why;
    }

    TempDir root_;
    testsupport::StubPrograms stubs_;
    std::string noted_ = root_ / "arguments";
    VariableScope arguments_{"DM_STUB_ARGS", noted_};
    VariableScope runtime_{"XDG_RUNTIME_DIR", root_ / "run"};
    VariableScope sleep_{"DM_MAIL_SLEEP", std::nullopt};
};

TEST_F(MailSend, BitmapsGoAsATemporaryJpegAndEverythingElseAsItIs) {
    {
        MailAttachments idle;
        MailSendDialog dialog(kTitle, "unused", idle);
        EXPECT_EQ(dialog.size(), QSize(333, 31));
        EXPECT_EQ(dialog.waitText()->text(), QStringLiteral("Start outlook, Please waiting...."));
    }

    for (const char* name : {"StillCap3.bmp", "Still.BMP"}) {
        QImage picture(8, 6, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        ASSERT_TRUE(picture.save(QString::fromStdString(root_ / name), "BMP"));
    }
    testsupport::WriteFile(root_ / "AStillCap4.jpg", "a picture");
    testsupport::WriteFile(root_ / "VCap0001.avi", "a video");

    struct Case {
        const char* file;
        int status;
        std::string box;
        bool converted;
    };
    const std::string bitmap = root_ / "StillCap3.bmp";
    const std::string jpeg = root_ / "AStillCap4.jpg";
    const std::vector<Case> cases = {
        {"StillCap3.bmp", 0, kComplete, true},
        {"AStillCap4.jpg", 0, kComplete, false},
        {"VCap0001.avi", 0, kComplete, false},
        {"Still.BMP", 0, kComplete, false},
        {"StillCap3.bmp", 2, Failed(bitmap, "No such file or directory"), true},
        {"AStillCap4.jpg", 3, "No mail program is set up on this computer.", false},
        {"StillCap3.bmp", 4, Failed(bitmap, "the mail program could not be started"), true},
        // A failed send leaves nothing in the way of the next.
        {"StillCap3.bmp", 0, kComplete, true},
        {"AStillCap4.jpg", 5, Failed(jpeg, "Permission denied"), false},
    };
    std::optional<MailAttachments> holder(std::in_place);
    MailAttachments& attachments = *holder;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.status));
        BoxAnswerer answerer;
        const int result = Send(root_ / c.file, c.status, attachments);

        EXPECT_EQ(result, c.status == 0 ? QDialog::Accepted : QDialog::Rejected);
        ASSERT_EQ(answerer.boxes.size(), 1u);
        EXPECT_EQ(answerer.boxes[0].title, kTitle);
        EXPECT_EQ(answerer.boxes[0].text, c.box);
        EXPECT_EQ(answerer.boxes[0].icon,
                  c.status == 0 ? QMessageBox::Information : QMessageBox::Warning);
        const std::string picture = attachments.folder() + "/Cap.jpg";
        const std::string attached = c.converted ? picture : root_ / c.file;
        EXPECT_EQ(Noted(), (std::vector<std::string>{"--attach", attached}));
        if (c.converted) {
            EXPECT_EQ(testsupport::DjpegSize(picture), "8 x 6");
        } else {
            EXPECT_FALSE(Exists(picture)) << "the previous send's file is left";
        }
    }
    const std::string folder = attachments.folder();
    EXPECT_EQ(folder.rfind(root_ / "run/digital-microscope-mail-", 0), 0u) << folder;
    holder.reset();
    EXPECT_FALSE(Exists(folder));
}

TEST_F(MailSend, WhatStopsASendIsSaidAndTheWindowCloses) {
    QImage picture(4, 4, QImage::Format_RGB32);
    picture.fill(Qt::white);
    ASSERT_TRUE(picture.save(QString::fromStdString(root_ / "StillCap1.bmp"), "BMP"));
    testsupport::WriteFile(root_ / "Text.bmp", "not a bitmap");
    MailAttachments attachments;
    BoxAnswerer answerer;

    // A bitmap that cannot be read is not sent.
    EXPECT_EQ(Send(root_ / "Text.bmp", 0, attachments), QDialog::Rejected);
    EXPECT_FALSE(Noted());

    // No xdg-email at all.
    {
        VariableScope noPath("PATH", root_ / "nowhere");
        EXPECT_EQ(Send(root_ / "StillCap1.bmp", 0, attachments), QDialog::Rejected);
    }

    // A mail program that takes longer than allowed: said, and left to run.
    {
        VariableScope slow("DM_MAIL_SLEEP", "1");
        EXPECT_EQ(Send(root_ / "StillCap1.bmp", 0, attachments, std::chrono::milliseconds(100)),
                  QDialog::Rejected);
        EXPECT_FALSE(StubEnded());
        EXPECT_TRUE(WaitUntil([&] { return StubEnded(); }));
    }
    QTest::qWait(100);

    ASSERT_EQ(answerer.boxes.size(), 3u);
    EXPECT_EQ(answerer.boxes[0].text,
              std::string("image Create fail\n") + BitmapFileErrorText(EBADMSG));
    EXPECT_EQ(answerer.boxes[1].text,
              "Mail cannot be started on this computer: the program xdg-email (package "
              "xdg-utils) is not installed.");
    EXPECT_EQ(answerer.boxes[2].text,
              Failed(root_ / "StillCap1.bmp", "no answer from xdg-email within 1 seconds"));
    for (const Box& box : answerer.boxes) {
        EXPECT_EQ(box.title, kTitle);
        EXPECT_EQ(box.icon, QMessageBox::Warning);
    }

    // Without a usable runtime folder the private folder goes to the cache folder, made
    // when missing.
    testsupport::WriteFile(root_ / "not-a-folder", "");
    VariableScope runtime("XDG_RUNTIME_DIR", root_ / "not-a-folder");
    VariableScope cache("XDG_CACHE_HOME", root_ / "cache/new");
    MailAttachments elsewhere;
    ASSERT_TRUE(elsewhere.Prepare(root_ / "StillCap1.bmp"));
    EXPECT_EQ(elsewhere.folder().rfind(root_ / "cache/new/digital-microscope-mail-", 0), 0u);
}

TEST_F(MailSend, AHandOffThatEndsAfterItsTimeoutIsReportedOnce) {
    VariableScope slow("DM_MAIL_SLEEP", "1");
    QObject context;
    std::vector<MailStatus> reported;
    StartMailHandOff(
        root_ / "AStillCap1.jpg", &context,
        [&](const MailOutcome& outcome) { reported.push_back(outcome.status); },
        std::chrono::milliseconds(50));
    EXPECT_TRUE(WaitUntil([&] { return StubEnded(); }));
    QTest::qWait(100);
    EXPECT_EQ(reported, std::vector<MailStatus>{MailStatus::Failed});
}

TEST_F(MailSend, EscapeClosesTheWindowAndTheSendGoesOnUnreported) {
    testsupport::WriteFile(root_ / "AStillCap1.jpg", "a picture");
    VariableScope slow("DM_MAIL_SLEEP", "1");
    MailAttachments attachments;
    BoxAnswerer answerer;
    MailSendDialog dialog(kTitle, root_ / "AStillCap1.jpg", attachments);
    QTimer escape;
    escape.setInterval(5);
    QObject::connect(&escape, &QTimer::timeout, [&] {
        if (Noted()) {
            QTest::keyClick(&dialog, Qt::Key_Escape);
        }
    });
    escape.start();
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    escape.stop();
    EXPECT_FALSE(StubEnded());
    EXPECT_TRUE(WaitUntil([&] { return StubEnded(); }));
    QTest::qWait(100);
    EXPECT_TRUE(answerer.boxes.empty());
}

}  // namespace
