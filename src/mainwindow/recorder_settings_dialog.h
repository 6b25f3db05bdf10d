#pragma once

#include <QDialog>
#include <climits>

#include "mainwindow/compressor_dialog.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The limits of the recorder settings and their starting values.
inline constexpr int kMinFrameRate = 1;
inline constexpr int kMaxFrameRate = 30;
inline constexpr int kDefaultFrameRate = 15;
inline constexpr int kMinLimitSeconds = 1;
inline constexpr int kMaxLimitSeconds = 99999;
inline constexpr int kDefaultLimitSeconds = 10;
// The time limit of a recording without one.
inline constexpr int kNoTimeLimit = INT_MAX;

// The settings asked for before every recording: the frame rate, an optional time limit in
// seconds and the compressor. Made afresh for each recording, so it always opens on 15
// frames per second, 10 seconds and the limit ticked. It works on the window's
// RecorderChoice:
// - Compress marks the choice as the user's own and shows the compressor choice, which
//   replaces the options when its pick can record at the frame size given here;
// - OK checks the fields (a value out of range is named in a message box, the field gets
//   the focus and the dialog stays open); once they are good, a choice of the user's own is
//   kept (and the mark cleared), else Microsoft Video 1 is installed when it can record at
//   this size; then the dialog closes with Accepted;
// - Cancel changes nothing, so a Compress followed by Cancel still counts at the next OK.
// Run it with exec(); read the fields after it returned Accepted. UI thread.
class RecorderSettingsDialog : public QDialog {
    Q_OBJECT
public:
    // `frameWidth` x `frameHeight`: the current frame size, 0 x 0 before the first frame.
    RecorderSettingsDialog(RecorderChoice& choice, int frameWidth, int frameHeight,
                           QWidget* parent = nullptr);

    // The frame rate, 1 to 30.
    int frameRate() const { return frameRate_; }
    // Whether the recording stops after seconds().
    bool timeLimitOn() const { return timeLimitOn_; }
    // The time limit in seconds, 1 to 99999.
    int seconds() const { return seconds_; }
    // How long the recording may run: seconds() when the limit is on, else 2147483647.
    int recordLimitSeconds() const { return timeLimitOn_ ? seconds_ : kNoTimeLimit; }

    QLineEdit* frameRateEdit() const { return frameRateEdit_; }
    QLineEdit* secondsEdit() const { return secondsEdit_; }
    QCheckBox* timeLimitCheck() const { return timeLimitCheck_; }
    QPushButton* compressButton() const { return compress_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

public Q_SLOTS:
    // OK: the fields first, then the compressor, then close.
    void accept() override;

private:
    void OnCompress();

    RecorderChoice& choice_;
    int frameWidth_;
    int frameHeight_;
    int frameRate_ = kDefaultFrameRate;
    int seconds_ = kDefaultLimitSeconds;
    bool timeLimitOn_ = true;
    QLineEdit* frameRateEdit_ = nullptr;
    QLineEdit* secondsEdit_ = nullptr;
    QCheckBox* timeLimitCheck_ = nullptr;
    QPushButton* compress_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};
