#include "mainwindow/calibrate_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "app/text_table.h"

namespace {

// The units offered, in the unit box's order.
constexpr LengthUnit kUnits[] = {LengthUnit::kMicrometre, LengthUnit::kMillimetre};

}  // namespace

CalibrateDialog::CalibrateDialog(double linePixels, QStringList names,
                                 std::function<bool(const QString&)> exists, QString messageTitle,
                                 QWidget* parent)
    : QDialog(parent),
      linePixels_(linePixels),
      exists_(std::move(exists)),
      messageTitle_(std::move(messageTitle)) {
    setObjectName(QStringLiteral("calibrateDialog"));
    setWindowTitle(LocalizedText(TextId::CalibrateTitle));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    auto* line = new QLabel(LocalizedText(TextId::CalibrateLine)
                                .arg(QLocale().toString(std::round(linePixels_ * 10) / 10, 'f', 1)),
                            this);
    line->setObjectName(QStringLiteral("lineLabel"));

    lengthEdit_ = new QLineEdit(this);
    lengthEdit_->setObjectName(QStringLiteral("lengthEdit"));
    unitBox_ = new QComboBox(this);
    unitBox_->setObjectName(QStringLiteral("unitBox"));
    unitBox_->addItem(QStringLiteral("\u00B5m"));
    unitBox_->addItem(QStringLiteral("mm"));
    auto* lengthRow = new QHBoxLayout;
    lengthRow->addWidget(lengthEdit_, 1);
    lengthRow->addWidget(unitBox_);

    nameBox_ = new QComboBox(this);
    nameBox_->setObjectName(QStringLiteral("nameBox"));
    nameBox_->setEditable(true);
    nameBox_->setInsertPolicy(QComboBox::NoInsert);
    nameBox_->addItems(names);
    nameBox_->setMinimumContentsLength(16);

    resultLabel_ = new QLabel(this);
    resultLabel_->setObjectName(QStringLiteral("resultLabel"));

    auto* form = new QFormLayout;
    form->addRow(LocalizedText(TextId::CalibrateLength), lengthRow);
    form->addRow(LocalizedText(TextId::CalibrateName), nameBox_);

    auto* buttons = new QDialogButtonBox(this);
    ok_ = buttons->addButton(LocalizedText(TextId::RecorderOk), QDialogButtonBox::AcceptRole);
    ok_->setObjectName(QStringLiteral("okButton"));
    ok_->setDefault(true);
    QPushButton* cancel =
        buttons->addButton(LocalizedText(TextId::RecorderCancel), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CalibrateDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CalibrateDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(line);
    layout->addLayout(form);
    layout->addWidget(resultLabel_);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(lengthEdit_, &QLineEdit::textChanged, this, &CalibrateDialog::ShowResult);
    connect(unitBox_, &QComboBox::currentIndexChanged, this, &CalibrateDialog::ShowResult);
    ShowResult();
    lengthEdit_->setFocus();
}

std::optional<double> CalibrateDialog::TypedLength() const {
    const QString text = lengthEdit_->text().trimmed();
    bool ok = false;
    double value = QLocale().toDouble(text, &ok);
    if (!ok) {
        value = QLocale::c().toDouble(text, &ok);
    }
    if (!ok || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> CalibrateDialog::FieldScale() const {
    const std::optional<double> length = TypedLength();
    const int unit = unitBox_->currentIndex();
    if (!length || unit < 0 || unit >= static_cast<int>(std::size(kUnits))) {
        return std::nullopt;
    }
    return MicrometresPerPixel(linePixels_, *length, kUnits[unit]);
}

void CalibrateDialog::ShowResult() {
    const std::optional<double> scale = FieldScale();
    resultLabel_->setText(scale ? LocalizedText(TextId::CalibrateResult).arg(LengthText(*scale))
                                : QString());
}

void CalibrateDialog::Warn(const QString& text) {
    QMessageBox box(QMessageBox::Warning, messageTitle_, text, QMessageBox::Ok, this);
    box.exec();
}

void CalibrateDialog::accept() {
    const std::optional<double> scale = FieldScale();
    if (!scale) {
        Warn(LocalizedText(TextId::CalibrateBadLength));
        lengthEdit_->setFocus();
        lengthEdit_->selectAll();
        return;
    }
    const QString name = nameBox_->currentText().trimmed();
    if (name.isEmpty()) {
        Warn(LocalizedText(TextId::CalibrateNoName));
        nameBox_->setFocus();
        return;
    }
    if (exists_ && exists_(name)) {
        QMessageBox box(QMessageBox::Question, messageTitle_,
                        LocalizedText(TextId::CalibrateReplace).arg(name),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(QMessageBox::No);
        if (box.exec() != QMessageBox::Yes) {
            nameBox_->setFocus();
            return;
        }
    }
    micrometresPerPixel_ = *scale;
    name_ = name;
    QDialog::accept();
}
