#include "mainwindow/recorder_settings_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/text_table.h"
#include "mainwindow/number_field.h"
#include "output/compressor_probe.h"

// Wide enough for "99999" and a little room.
constexpr int kEditDigits = 7;

RecorderSettingsDialog::RecorderSettingsDialog(RecorderChoice& choice, int frameWidth,
                                               int frameHeight, QWidget* parent)
    : QDialog(parent), choice_(choice), frameWidth_(frameWidth), frameHeight_(frameHeight) {
    setModal(true);
    setWindowFlags(kFixedDialogFlags);
    // The fields first, then their texts.
    frameRateEdit_ = NumberEdit(kDefaultFrameRate, kEditDigits, this);
    secondsEdit_ = NumberEdit(kDefaultLimitSeconds, kEditDigits, this);
    timeLimitCheck_ = new QCheckBox(this);
    timeLimitCheck_->setChecked(true);

    setWindowTitle(LocalizedText(TextId::RecorderSetting));
    auto* frameRateLabel = new QLabel(LocalizedText(TextId::RecorderFrameRate), this);
    frameRateLabel->setBuddy(frameRateEdit_);
    timeLimitCheck_->setText(LocalizedText(TextId::RecorderTimerLimit));
    auto* secondLabel = new QLabel(LocalizedText(TextId::RecorderSecond), this);
    auto* frameRateHint = new QLabel(QStringLiteral("(1 --- 30)"), this);
    auto* secondsHint = new QLabel(QStringLiteral("(1 -- 99999)"), this);
    ok_ = new QPushButton(LocalizedText(TextId::RecorderOk), this);
    ok_->setDefault(true);
    cancel_ = new QPushButton(LocalizedText(TextId::RecorderCancel), this);
    compress_ = new QPushButton(LocalizedText(TextId::RecorderCompress), this);
    compress_->setAutoDefault(false);

    connect(timeLimitCheck_, &QCheckBox::toggled, secondsEdit_, &QLineEdit::setEnabled);
    connect(ok_, &QPushButton::clicked, this, &RecorderSettingsDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &RecorderSettingsDialog::reject);
    connect(compress_, &QPushButton::clicked, this, &RecorderSettingsDialog::OnCompress);

    // Label or check box, edit, unit, range hint; the buttons in a column on the right.
    auto* fields = new QGridLayout;
    fields->setHorizontalSpacing(8);
    fields->setVerticalSpacing(10);
    fields->addWidget(frameRateLabel, 0, 0);
    fields->addWidget(frameRateEdit_, 0, 1);
    fields->addWidget(frameRateHint, 0, 2, 1, 2);
    fields->addWidget(timeLimitCheck_, 1, 0);
    fields->addWidget(secondsEdit_, 1, 1);
    fields->addWidget(secondLabel, 1, 2);
    fields->addWidget(secondsHint, 1, 3);
    fields->setRowStretch(2, 1);

    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(6);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    buttons->addSpacing(10);
    buttons->addWidget(compress_);
    buttons->addStretch(1);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(11, 11, 11, 11);
    layout->setSpacing(20);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    frameRateEdit_->setFocus();
    frameRateEdit_->selectAll();
}

void RecorderSettingsDialog::accept() {
    // The fields are checked before the compressor is settled, so a second OK after a
    // corrected field still keeps a compressor the user chose.
    int frameRate = 0;
    if (!TakeNumberField(frameRateEdit_, kMinFrameRate, kMaxFrameRate, frameRate)) {
        return;
    }
    const bool timeLimitOn = timeLimitCheck_->isChecked();
    int seconds = kDefaultLimitSeconds;
    if (timeLimitOn) {
        if (!TakeNumberField(secondsEdit_, kMinLimitSeconds, kMaxLimitSeconds, seconds)) {
            return;
        }
    } else {
        // Not used without the limit, and the edit is disabled: a value out of range there
        // is not held against the user.
        bool isNumber = false;
        const int read = secondsEdit_->text().trimmed().toInt(&isNumber, 10);
        if (isNumber && read >= kMinLimitSeconds && read <= kMaxLimitSeconds) {
            seconds = read;
        }
    }

    if (choice_.compressorChosen) {
        choice_.compressorChosen = false;
    } else if (SetDefaultCompressor(choice_.options, frameWidth_, frameHeight_).ok()) {
        choice_.optionsSet = true;
    }
    frameRate_ = frameRate;
    seconds_ = seconds;
    timeLimitOn_ = timeLimitOn;
    QDialog::accept();
}

void RecorderSettingsDialog::OnCompress() {
    choice_.compressorChosen = true;
    bool replaced = false;
    (void)ChooseCompressor(this, choice_.options, frameWidth_, frameHeight_, &replaced);
    if (replaced) {
        choice_.optionsSet = true;
    }
}
