#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "output/calibration.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Asks what the line the user drew over an object of known length measures, and under which
// name the calibration is kept. Shows the line's length in pixels and, as the fields are
// filled in, the scale they give. OK checks the fields: a length that gives no usable scale
// or an empty name is said in a message box and the field gets the focus; a name that is
// already calibrated at this resolution is replaced only when the user says so. Then the
// dialog closes with Accepted and calibration() holds the result. UI thread.
class CalibrateDialog : public QDialog {
    Q_OBJECT
public:
    // `linePixels`: the drawn line's length in frame pixels. `names`: the device's calibration
    // names, offered in the name field, the first one filled in. `exists`: whether a name is
    // calibrated at this resolution already. `messageTitle`: the caption of its message boxes.
    CalibrateDialog(double linePixels, QStringList names,
                    std::function<bool(const QString&)> exists, QString messageTitle,
                    QWidget* parent = nullptr);

    // After Accepted: micrometres per pixel and the trimmed name.
    double micrometresPerPixel() const { return micrometresPerPixel_; }
    const QString& name() const { return name_; }

    QLineEdit* lengthEdit() const { return lengthEdit_; }
    QComboBox* unitBox() const { return unitBox_; }
    QComboBox* nameBox() const { return nameBox_; }
    QLabel* resultLabel() const { return resultLabel_; }
    QPushButton* okButton() const { return ok_; }

    // The length typed in, read in the user's locale or with a decimal point; none when it
    // is not a number.
    std::optional<double> TypedLength() const;
    // The scale the fields give now; none when they give none.
    std::optional<double> FieldScale() const;

public Q_SLOTS:
    void accept() override;

private:
    void ShowResult();
    void Warn(const QString& text);

    double linePixels_;
    std::function<bool(const QString&)> exists_;
    QString messageTitle_;
    QLineEdit* lengthEdit_ = nullptr;
    QComboBox* unitBox_ = nullptr;
    QComboBox* nameBox_ = nullptr;
    QLabel* resultLabel_ = nullptr;
    QPushButton* ok_ = nullptr;
    double micrometresPerPixel_ = 0;
    QString name_;
};
