#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <functional>

#include "output/time_lapse_worker.h"

class QLabel;
class QLineEdit;
class QPushButton;

// The fields of the time-lapse dialog, in the order they are taken up.
enum class TimeLapseField {
    IntervalSeconds,
    IntervalMinutes,
    Count,
    Day,
    Hour,
    Minute,
    Month,
    Second,
    Year,
};
inline constexpr int kTimeLapseFieldCount = 9;

// The size estimate of a series: count x width x height x 3 bytes, as "%4d.%2d" of whole
// megabytes (2^20 bytes) and hundredths, both cut off.
QString TimeLapseSizeEstimate(int count, int frameWidth, int frameHeight);

// Takes a series of stills: from a start time set to the second, a number of pictures at a
// fixed interval, timed by a TimeLapseWorker. Start checks the fields (a value out of range,
// or a day the month does not have, is named in a message box and gets the focus) and
// refuses a start time already past (to the second); Stop ends the run and clears the count;
// Cancel ends any run and closes. A run that took all its pictures closes the dialog one
// interval after the last. Each picture is asked for with `requestStill` (false: it was
// refused, and counts as missed); the window tells of a picture that could not be saved
// with NoteMissedStill. Missed pictures are counted in the dialog, and when the run ends a
// box says how many and why. Run it with exec(). UI thread.
class TimeLapseDialog : public QDialog {
    Q_OBJECT
public:
    TimeLapseDialog(TimeLapseClock& clock, int frameWidth, int frameHeight,
                    std::function<bool()> requestStill, QWidget* parent = nullptr);
    ~TimeLapseDialog() override;

    // A picture of the run could not be saved; `reason` tells why.
    void NoteMissedStill(const QString& reason);
    // Ends the run, when one goes, and says `why` (%1: the pictures asked for) and what was
    // missed in a box that does not wait. The dialog stays open.
    void StopRun(const QString& why);
    bool runActive() const { return runActive_; }
    int missed() const { return missed_; }

    QLineEdit* field(TimeLapseField which) const {
        return fields_[static_cast<std::size_t>(which)];
    }
    QPushButton* startButton() const { return start_; }
    QPushButton* cancelButton() const { return cancel_; }
    QLabel* completedLabel() const { return completed_; }
    QLabel* missedLabel() const { return missedCount_; }
    QLineEdit* estimateEdit() const { return estimate_; }

public Q_SLOTS:
    // Cancel, and the close button: ends the run, waits for the worker, closes.
    void reject() override;

private:
    void OnStartStop();
    // Reads every field in order into values_; false at the first one out of range.
    bool TakeFields();
    bool TakeField(TimeLapseField which, int low, int high);
    void UpdateSizeEstimate();
    void OnStillDue(int number);
    void OnRunCompleted();
    // Stops the worker and shows Start; the count stays unless `clearCount`.
    void EndRun(bool clearCount);
    void ShowBox(const QString& text);
    // The text about the missed pictures, "" when none was; the count starts again.
    QString TakeMissedText();
    void ReportMissed();

    TimeLapseClock& clock_;
    TimeLapseWorker worker_;
    int frameWidth_;
    int frameHeight_;
    std::function<bool()> requestStill_;
    std::array<int, kTimeLapseFieldCount> values_{};
    std::array<QLineEdit*, kTimeLapseFieldCount> fields_{};
    QPushButton* start_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QLabel* completed_ = nullptr;
    QLabel* missedCount_ = nullptr;
    QLineEdit* estimate_ = nullptr;
    bool runActive_ = false;
    int requested_ = 0;
    int missed_ = 0;
    QString missedReason_;
    // Tells a worker's posted calls of an ended run from the current one's.
    int run_ = 0;
};
