#pragma once

#include <QDialog>
#include <array>

class QLabel;
class QPushButton;

// The About box: product line, description, version and copyright from the text table, the
// program's picture, OK. Laid out in dialog units; a translated line longer than its place
// wraps within the room the box has. OK or Escape closes it. UI thread.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);

    enum Line { kProduct, kDescription, kVersion, kCopyright, kLineCount };
    QLabel* line(Line which) const { return lines_[which]; }
    QLabel* picture() const { return picture_; }
    QPushButton* okButton() const { return ok_; }

private:
    std::array<QLabel*, kLineCount> lines_{};
    QLabel* picture_ = nullptr;
    QPushButton* ok_ = nullptr;
};
