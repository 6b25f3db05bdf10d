#include "mainwindow/time_lapse_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdint>
#include <ctime>

#include "app/text_table.h"
#include "mainwindow/compressor_dialog.h"
#include "mainwindow/number_field.h"

namespace {

struct FieldRange {
    int low;
    int high;
};

// The ranges of the fields, in TimeLapseField order. Hours, minutes and seconds end at 23 and
// 59: a start at hour 24 or second 60 would never come. The day is checked against its month
// as well.
constexpr std::array<FieldRange, kTimeLapseFieldCount> kRanges = {{
    {3, 60},       // interval seconds
    {0, 999},      // interval minutes
    {1, 200},      // count
    {1, 31},       // day
    {0, 23},       // hour
    {0, 59},       // minute
    {1, 12},       // month
    {0, 59},       // second
    {2008, 2032},  // year
}};

constexpr int kDefaultIntervalSeconds = 3;
constexpr int kDefaultCount = 8;

std::tm LocalTime(TimeLapseClock::WallTime wall) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(wall);
    std::tm local{};
    localtime_r(&seconds, &local);
    return local;
}

}  // namespace

QString TimeLapseSizeEstimate(int count, int frameWidth, int frameHeight) {
    const std::int64_t bytes = std::int64_t{count} * frameWidth * frameHeight * 3;
    const std::int64_t whole = bytes / 1'048'576;
    const std::int64_t hundredths = bytes * 100 / 1'048'576 % 100;
    return QString::asprintf("%4lld.%2lld", static_cast<long long>(whole),
                             static_cast<long long>(hundredths));
}

TimeLapseDialog::TimeLapseDialog(TimeLapseClock& clock, int frameWidth, int frameHeight,
                                 std::function<bool()> requestStill, QWidget* parent)
    : QDialog(parent),
      clock_(clock),
      worker_(clock),
      frameWidth_(frameWidth),
      frameHeight_(frameHeight),
      requestStill_(std::move(requestStill)) {
    setModal(true);
    setWindowFlags(kFixedDialogFlags);
    const std::tm now = LocalTime(clock_.WallNow());
    values_ = {kDefaultIntervalSeconds,
               0,
               kDefaultCount,
               now.tm_mday,
               now.tm_hour,
               now.tm_min,
               now.tm_mon + 1,
               now.tm_sec,
               now.tm_year + 1900};
    for (int i = 0; i < kTimeLapseFieldCount; ++i) {
        fields_[static_cast<std::size_t>(i)] =
            NumberEdit(values_[static_cast<std::size_t>(i)],
                       i == static_cast<int>(TimeLapseField::Year) ? 5 : 4, this);
    }

    setWindowTitle(LocalizedText(TextId::TimeLapseCaptureSetting));
    const auto label = [this](TextId id) { return new QLabel(LocalizedText(id), this); };
    const auto unit = [this](const char* text) {
        return new QLabel(QString::fromLatin1(text), this);
    };
    completed_ = new QLabel(QStringLiteral("0"), this);
    completed_->setMinimumWidth(completed_->fontMetrics().horizontalAdvance(QStringLiteral("000")));
    completed_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    missedCount_ = new QLabel(QStringLiteral("0"), this);
    missedCount_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    estimate_ = new QLineEdit(this);
    estimate_->setReadOnly(true);
    estimate_->setFixedWidth(
        estimate_->fontMetrics().horizontalAdvance(QStringLiteral("00000.00")) + 12);
    estimate_->setAlignment(Qt::AlignRight);
    start_ = new QPushButton(LocalizedText(TextId::TimeLapseStart), this);
    start_->setDefault(true);
    cancel_ = new QPushButton(LocalizedText(TextId::TimeLapseCancel), this);
    cancel_->setAutoDefault(false);

    // Start time: year to second, each with its unit; then the interval, the count, the
    // pictures taken and missed, the size.
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(10);
    grid->addWidget(label(TextId::TimeLapseStartTime), 0, 0);
    const std::pair<TimeLapseField, const char*> startFields[] = {
        {TimeLapseField::Year, "Yr"},    {TimeLapseField::Month, "Mon"},
        {TimeLapseField::Day, "Day"},    {TimeLapseField::Hour, "Hr"},
        {TimeLapseField::Minute, "Min"}, {TimeLapseField::Second, "Sec"}};
    int column = 1;
    for (const auto& [which, text] : startFields) {
        grid->addWidget(field(which), 0, column++);
        grid->addWidget(unit(text), 0, column++);
    }
    grid->addWidget(label(TextId::TimeLapseInterval), 1, 0);
    grid->addWidget(field(TimeLapseField::IntervalMinutes), 1, 1);
    grid->addWidget(unit("Min"), 1, 2);
    grid->addWidget(field(TimeLapseField::IntervalSeconds), 1, 3);
    grid->addWidget(unit("Sec"), 1, 4);
    grid->addWidget(label(TextId::TimeLapseCapture), 2, 0);
    grid->addWidget(field(TimeLapseField::Count), 2, 1);
    grid->addWidget(label(TextId::TimeLapseFrame), 2, 2);
    grid->addWidget(label(TextId::TimeLapseCompleted), 3, 0);
    grid->addWidget(completed_, 3, 1);
    grid->addWidget(label(TextId::TimeLapseFrame), 3, 2);
    grid->addWidget(label(TextId::TimeLapseMissed), 3, 3, 1, 2, Qt::AlignRight);
    grid->addWidget(missedCount_, 3, 5);
    grid->addWidget(label(TextId::TimeLapseFileSize), 4, 0);
    grid->addWidget(estimate_, 4, 1, 1, 2);
    grid->addWidget(unit("MB"), 4, 3);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(start_);
    buttons->addWidget(cancel_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(11, 11, 11, 11);
    layout->setSpacing(14);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(start_, &QPushButton::clicked, this, &TimeLapseDialog::OnStartStop);
    connect(cancel_, &QPushButton::clicked, this, &TimeLapseDialog::reject);
    // The estimate follows the count when it loses the focus (or Enter is pressed in it).
    connect(field(TimeLapseField::Count), &QLineEdit::editingFinished, this, [this] {
        if (TakeFields()) {
            UpdateSizeEstimate();
        }
    });
    // The keyboard goes through the fields as they are laid out.
    QWidget* previous = nullptr;
    for (const TimeLapseField which :
         {TimeLapseField::Year, TimeLapseField::Month, TimeLapseField::Day, TimeLapseField::Hour,
          TimeLapseField::Minute, TimeLapseField::Second, TimeLapseField::IntervalMinutes,
          TimeLapseField::IntervalSeconds, TimeLapseField::Count}) {
        if (previous != nullptr) {
            setTabOrder(previous, field(which));
        }
        previous = field(which);
    }
    setTabOrder(previous, start_);
    setTabOrder(start_, cancel_);
    field(TimeLapseField::Year)->setFocus();
    UpdateSizeEstimate();
}

TimeLapseDialog::~TimeLapseDialog() {
    worker_.Stop();
}

bool TimeLapseDialog::TakeField(TimeLapseField which, int low, int high) {
    return TakeNumberField(field(which), low, high, values_[static_cast<std::size_t>(which)]);
}

bool TimeLapseDialog::TakeFields() {
    for (int i = 0; i < kTimeLapseFieldCount; ++i) {
        const FieldRange range = kRanges[static_cast<std::size_t>(i)];
        if (!TakeField(static_cast<TimeLapseField>(i), range.low, range.high)) {
            return false;
        }
    }
    // The day, once the month and the year are known.
    const auto value = [this](TimeLapseField which) {
        return values_[static_cast<std::size_t>(which)];
    };
    return TakeField(TimeLapseField::Day, 1,
                     DaysInMonth(value(TimeLapseField::Year), value(TimeLapseField::Month)));
}

void TimeLapseDialog::UpdateSizeEstimate() {
    estimate_->setText(TimeLapseSizeEstimate(
        values_[static_cast<std::size_t>(TimeLapseField::Count)], frameWidth_, frameHeight_));
}

void TimeLapseDialog::OnStartStop() {
    if (runActive_) {
        EndRun(true);
        return;
    }
    if (!TakeFields()) {
        return;
    }
    const auto value = [this](TimeLapseField which) {
        return values_[static_cast<std::size_t>(which)];
    };
    std::tm start{};
    start.tm_year = value(TimeLapseField::Year) - 1900;
    start.tm_mon = value(TimeLapseField::Month) - 1;
    start.tm_mday = value(TimeLapseField::Day);
    start.tm_hour = value(TimeLapseField::Hour);
    start.tm_min = value(TimeLapseField::Minute);
    start.tm_sec = value(TimeLapseField::Second);
    start.tm_isdst = -1;  // as the local clock reads then
    // A time the clocks skip (put forward for summer) is taken as mktime moves it: later.
    const std::time_t startSeconds = std::mktime(&start);
    const std::time_t nowSeconds = std::chrono::system_clock::to_time_t(clock_.WallNow());
    if (startSeconds == static_cast<std::time_t>(-1) || startSeconds < nowSeconds) {
        ShowBox(LocalizedText(TextId::TimeLapseSetTimerFail));
        return;
    }
    UpdateSizeEstimate();
    TimeLapsePlan plan;
    plan.start = std::chrono::system_clock::from_time_t(startSeconds);
    plan.interval = std::chrono::seconds(value(TimeLapseField::IntervalSeconds) +
                                         60 * value(TimeLapseField::IntervalMinutes));
    plan.count = value(TimeLapseField::Count);
    const int run = ++run_;
    TimeLapseWorker::Hooks hooks;
    hooks.requestStill = [this, run](int number) {
        QMetaObject::invokeMethod(
            this,
            [this, run, number] {
                if (run == run_ && runActive_) {
                    OnStillDue(number);
                }
            },
            Qt::QueuedConnection);
    };
    hooks.completed = [this, run] {
        QMetaObject::invokeMethod(
            this,
            [this, run] {
                if (run == run_ && runActive_) {
                    OnRunCompleted();
                }
            },
            Qt::QueuedConnection);
    };
    requested_ = 0;
    missed_ = 0;
    missedReason_.clear();
    missedCount_->setText(QStringLiteral("0"));
    if (!worker_.Start(plan, std::move(hooks))) {
        return;
    }
    runActive_ = true;
    start_->setText(LocalizedText(TextId::TimeLapseRunStop));
}

void TimeLapseDialog::OnStillDue(int number) {
    requested_ = number;
    completed_->setText(QString::number(number));
    if (requestStill_ && !requestStill_()) {
        NoteMissedStill(LocalizedText(TextId::TimeLapseNoPicture));
    }
}

void TimeLapseDialog::NoteMissedStill(const QString& reason) {
    ++missed_;
    if (!reason.isEmpty()) {
        missedReason_ = reason;
    }
    missedCount_->setText(QString::number(missed_));
}

void TimeLapseDialog::OnRunCompleted() {
    EndRun(false);
    ReportMissed();
    QDialog::reject();
}

void TimeLapseDialog::EndRun(bool clearCount) {
    ++run_;
    worker_.Stop();
    runActive_ = false;
    if (clearCount) {
        completed_->setText(QStringLiteral("0"));
    }
    start_->setText(LocalizedText(TextId::TimeLapseRunStart));
}

void TimeLapseDialog::StopRun(const QString& why) {
    if (!runActive_) {
        return;
    }
    EndRun(false);
    // Told without waiting: this comes from the window's own handling of the device.
    QString text = QString(why).replace(QStringLiteral("%1"), QString::number(requested_));
    if (const QString missed = TakeMissedText(); !missed.isEmpty()) {
        text += QStringLiteral("\n\n") + missed;
    }
    if (text.isEmpty()) {
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, LocalizedText(TextId::MsgTitle), text,
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

QString TimeLapseDialog::TakeMissedText() {
    if (missed_ == 0) {
        return {};
    }
    const QString text =
        LocalizedText(TextId::TimeLapseMissedStills, QString::number(missed_), missedReason_);
    missed_ = 0;
    missedReason_.clear();
    return text;
}

void TimeLapseDialog::ReportMissed() {
    if (const QString text = TakeMissedText(); !text.isEmpty()) {
        ShowBox(text);
    }
}

void TimeLapseDialog::reject() {
    const bool wasRunning = runActive_;
    EndRun(false);
    if (wasRunning) {
        ReportMissed();
    }
    QDialog::reject();
}

void TimeLapseDialog::ShowBox(const QString& text) {
    QMessageBox box(QMessageBox::Warning, LocalizedText(TextId::MsgTitle), text, QMessageBox::Ok,
                    this);
    box.exec();
}
