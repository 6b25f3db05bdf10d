// The time-lapse dialog on a clock the tests move by hand.
#include "mainwindow/time_lapse_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <ctime>
#include <vector>

#include "manual_clock.h"
#include "support/wait.h"

namespace {

using namespace std::chrono_literals;
using testsupport::WaitUntil;

// 14:05:30 on 10 March 2027, local time.
TimeLapseClock::WallTime Opened() {
    std::tm local{};
    local.tm_year = 2027 - 1900;
    local.tm_mon = 2;
    local.tm_mday = 10;
    local.tm_hour = 14;
    local.tm_min = 5;
    local.tm_sec = 30;
    local.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&local));
}

// Notes the text of every message box that opens and closes it.
class BoxAnswerer {
public:
    BoxAnswerer() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(window);
                if (box != nullptr && box->isVisible()) {
                    boxes.push_back(box->text());
                    box->done(QMessageBox::Ok);
                }
            }
        });
        timer_.start();
    }
    std::vector<QString> boxes;

private:
    QTimer timer_;
};

class TimeLapseDialogTest : public ::testing::Test {
protected:
    ManualClock clock{Opened()};
    int requests = 0;
    bool refuse = false;  // what the next request answers
    BoxAnswerer answer;
    QPointer<TimeLapseDialog> dialog = new TimeLapseDialog(clock, 640, 480, [this] {
        ++requests;
        return !std::exchange(refuse, false);
    });

    void TearDown() override { delete dialog; }
    void Set(TimeLapseField which, int value) {
        dialog->field(which)->setText(QString::number(value));
    }
    QString Completed() const { return dialog->completedLabel()->text(); }
    bool Requested(int count) {
        return WaitUntil([&] { return requests == count; }, 3000);
    }
};

}  // namespace

// It opens on 8 pictures 3 s apart from the time it opened, with the size they take; pressed
// a few seconds later, Start is refused, as that time has passed.
TEST_F(TimeLapseDialogTest, OpensOnTheDefaultsAndRefusesAStartThatHasPassed) {
    const std::vector<std::pair<TimeLapseField, const char*>> opened = {
        {TimeLapseField::IntervalSeconds, "3"}, {TimeLapseField::IntervalMinutes, "0"},
        {TimeLapseField::Count, "8"},           {TimeLapseField::Day, "10"},
        {TimeLapseField::Hour, "14"},           {TimeLapseField::Minute, "5"},
        {TimeLapseField::Month, "3"},           {TimeLapseField::Second, "30"},
        {TimeLapseField::Year, "2027"}};
    for (const auto& [which, text] : opened) {
        EXPECT_EQ(dialog->field(which)->text(), QString::fromLatin1(text));
    }
    EXPECT_EQ(dialog->estimateEdit()->text(), QStringLiteral("   7. 3"));
    EXPECT_EQ(dialog->startButton()->text(), QStringLiteral("Start"));
    clock.Advance(3s);
    dialog->startButton()->click();
    ASSERT_EQ(answer.boxes.size(), 1u);
    EXPECT_EQ(answer.boxes[0],
              QStringLiteral("The time of your setting must be should be a future time!"));
    EXPECT_FALSE(dialog->runActive());
    EXPECT_EQ(dialog->startButton()->text(), QStringLiteral("Start"));
    EXPECT_EQ(requests, 0);
}

TEST(TimeLapseSizeEstimate, IsWholeMegabytesAndHundredthsCutOff) {
    EXPECT_EQ(TimeLapseSizeEstimate(8, 640, 480), QStringLiteral("   7. 3"));
    EXPECT_EQ(TimeLapseSizeEstimate(200, 640, 480), QStringLiteral(" 175.78"));
    EXPECT_EQ(TimeLapseSizeEstimate(200, 1280, 1024), QStringLiteral(" 750. 0"));
    EXPECT_EQ(TimeLapseSizeEstimate(8, 0, 0), QStringLiteral("   0. 0"));
}

// A field out of its range (hour 24 and second 60 among them, and a day its month lacks) is
// named in a box and gets the focus; nothing starts. The estimate follows the count.
TEST_F(TimeLapseDialogTest, AFieldOutOfItsRangeIsNamedAndNothingStarts) {
    const struct {
        TimeLapseField field;
        int value;
        const char* box;
    } cases[] = {
        {TimeLapseField::IntervalSeconds, 2, "Please enter an integer between 3 and 60."},
        {TimeLapseField::IntervalMinutes, 1000, "Please enter an integer between 0 and 999."},
        {TimeLapseField::Count, 0, "Please enter an integer between 1 and 200."},
        {TimeLapseField::Hour, 24, "Please enter an integer between 0 and 23."},
        {TimeLapseField::Minute, 60, "Please enter an integer between 0 and 59."},
        {TimeLapseField::Second, 60, "Please enter an integer between 0 and 59."},
        {TimeLapseField::Year, 2033, "Please enter an integer between 2008 and 2032."},
        {TimeLapseField::Day, 32, "Please enter an integer between 1 and 31."},
    };
    dialog->show();
    for (const auto& each : cases) {
        SCOPED_TRACE(each.box);
        const QString before = dialog->field(each.field)->text();
        Set(each.field, each.value);
        answer.boxes.clear();
        dialog->startButton()->click();
        ASSERT_EQ(answer.boxes.size(), 1u);
        EXPECT_EQ(answer.boxes[0], QString::fromLatin1(each.box));
        EXPECT_FALSE(dialog->runActive());
        dialog->field(each.field)->setText(before);
    }
    // 30 February 2028.
    Set(TimeLapseField::Year, 2028);
    Set(TimeLapseField::Month, 2);
    Set(TimeLapseField::Day, 30);
    answer.boxes.clear();
    dialog->startButton()->click();
    ASSERT_EQ(answer.boxes.size(), 1u);
    EXPECT_EQ(answer.boxes[0], QStringLiteral("Please enter an integer between 1 and 29."));
    EXPECT_EQ(requests, 0);

    Set(TimeLapseField::Day, 29);
    Set(TimeLapseField::Count, 200);
    Q_EMIT dialog->field(TimeLapseField::Count)->editingFinished();
    EXPECT_EQ(dialog->estimateEdit()->text(), QStringLiteral(" 175.78"));
}

// Picture k at the start plus k intervals (2 min 60 s: 180 s), the count shown as each is
// asked for; an interval after the last the dialog closes.
TEST_F(TimeLapseDialogTest, ARunAsksForEachPictureInTurnAndClosesAnIntervalAfterTheLast) {
    dialog->open();
    Set(TimeLapseField::IntervalMinutes, 2);
    Set(TimeLapseField::IntervalSeconds, 60);
    Set(TimeLapseField::Count, 3);
    dialog->startButton()->click();
    EXPECT_TRUE(dialog->runActive());
    EXPECT_EQ(dialog->startButton()->text(), QStringLiteral("Stop"));
    ASSERT_TRUE(Requested(1));
    EXPECT_EQ(Completed(), QStringLiteral("1"));
    for (int picture = 2; picture <= 3; ++picture) {
        clock.Advance(179'900ms);
        WaitUntil([] { return false; }, 50);
        EXPECT_EQ(requests, picture - 1);
        clock.Advance(100ms);
        ASSERT_TRUE(Requested(picture));
        EXPECT_TRUE(WaitUntil([&] { return Completed() == QString::number(picture); }, 3000));
    }
    EXPECT_TRUE(dialog->isVisible());
    clock.Advance(180s);
    EXPECT_TRUE(WaitUntil([&] { return !dialog->isVisible(); }, 3000));
    EXPECT_FALSE(dialog->runActive());
    EXPECT_EQ(requests, 3);
    EXPECT_TRUE(answer.boxes.empty());
}

// Stop ends the run and clears the count; Start again with the same time is refused once it
// has passed. One picture: the dialog closes an interval later.
TEST_F(TimeLapseDialogTest, StopClearsTheCountAndTheSameStartIsThenRefused) {
    dialog->open();
    dialog->startButton()->click();
    ASSERT_TRUE(Requested(1));
    dialog->startButton()->click();
    EXPECT_FALSE(dialog->runActive());
    EXPECT_EQ(dialog->startButton()->text(), QStringLiteral("Start"));
    EXPECT_EQ(Completed(), QStringLiteral("0"));
    clock.Advance(1s);
    dialog->startButton()->click();
    ASSERT_EQ(answer.boxes.size(), 1u);
    EXPECT_FALSE(dialog->runActive());
    clock.Advance(3s);
    WaitUntil([] { return false; }, 30);
    EXPECT_EQ(requests, 1);

    // One picture a minute from now (14:05:34).
    Set(TimeLapseField::Minute, 6);
    Set(TimeLapseField::Second, 34);
    Set(TimeLapseField::Count, 1);
    dialog->startButton()->click();
    ASSERT_TRUE(dialog->runActive());
    clock.Advance(59s);
    WaitUntil([] { return false; }, 50);
    EXPECT_EQ(requests, 1);
    clock.Advance(1s);
    ASSERT_TRUE(Requested(2));
    EXPECT_TRUE(dialog->isVisible());
    clock.Advance(3s);
    EXPECT_TRUE(WaitUntil([&] { return !dialog->isVisible(); }, 3000));
}

// Pictures refused or not saved are counted, and the run's end says how many and why; so
// does a run stopped by the window (the device gone), which leaves the dialog open.
TEST_F(TimeLapseDialogTest, MissedPicturesAreCountedAndToldWhenTheRunEnds) {
    dialog->open();
    Set(TimeLapseField::Count, 3);
    dialog->startButton()->click();
    ASSERT_TRUE(Requested(1));
    dialog->NoteMissedStill(QStringLiteral("No space left on device"));
    refuse = true;
    clock.Advance(3s);
    ASSERT_TRUE(Requested(2));
    EXPECT_TRUE(
        WaitUntil([&] { return dialog->missedLabel()->text() == QStringLiteral("2"); }, 3000));
    clock.Advance(3s);
    ASSERT_TRUE(Requested(3));
    clock.Advance(3s);
    EXPECT_TRUE(WaitUntil([&] { return !dialog->isVisible(); }, 3000));
    ASSERT_EQ(answer.boxes.size(), 1u);
    EXPECT_EQ(answer.boxes[0],
              QStringLiteral("2 of the pictures could not be saved: the microscope delivered "
                             "no picture in time"));

    // Stopped from outside after two pictures, one of them missed; it is 14:05:39.
    answer.boxes.clear();
    dialog->open();
    Set(TimeLapseField::Minute, 6);
    dialog->startButton()->click();
    clock.Advance(50s);
    WaitUntil([] { return false; }, 30);
    EXPECT_EQ(requests, 3);
    clock.Advance(1s);
    ASSERT_TRUE(Requested(4));
    dialog->NoteMissedStill(QStringLiteral("No space left on device"));
    clock.Advance(3s);
    ASSERT_TRUE(Requested(5));
    WaitUntil([&] { return Completed() == QStringLiteral("2"); }, 3000);
    dialog->StopRun(QStringLiteral("Gone after %1 pictures."));
    EXPECT_FALSE(dialog->runActive());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(Completed(), QStringLiteral("2"));
    EXPECT_TRUE(WaitUntil([&] { return !answer.boxes.empty(); }, 3000));
    EXPECT_EQ(answer.boxes[0],
              QStringLiteral("Gone after 2 pictures.\n\n1 of the pictures could not be saved: No "
                             "space left on device"));
    clock.Advance(10s);
    WaitUntil([] { return false; }, 30);
    EXPECT_EQ(requests, 5);
}

// Cancel during the wait for the start, and during a run, ends the run at once.
TEST_F(TimeLapseDialogTest, CancelEndsTheRunAndCloses) {
    // Waiting for 14:15:30.
    dialog->open();
    Set(TimeLapseField::Minute, 15);
    dialog->startButton()->click();
    ASSERT_TRUE(dialog->runActive());
    dialog->cancelButton()->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_FALSE(dialog->runActive());
    clock.Advance(10min + 10s);
    WaitUntil([] { return false; }, 30);
    EXPECT_EQ(requests, 0);
    // Running since 14:16:00.
    dialog->open();
    Set(TimeLapseField::Minute, 16);
    Set(TimeLapseField::Second, 0);
    dialog->startButton()->click();
    clock.Advance(20s);
    ASSERT_TRUE(Requested(1));
    dialog->cancelButton()->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_FALSE(dialog->runActive());
    clock.Advance(10s);
    WaitUntil([] { return false; }, 30);
    EXPECT_EQ(requests, 1);
    EXPECT_TRUE(answer.boxes.empty());
}
