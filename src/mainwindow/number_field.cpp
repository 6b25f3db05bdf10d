#include "mainwindow/number_field.h"

#include <QLineEdit>
#include <QMessageBox>

#include "app/text_table.h"

QLineEdit* NumberEdit(int value, int digits, QWidget* parent) {
    auto* edit = new QLineEdit(QString::number(value), parent);
    edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QString(digits, QChar(u'0'))) + 12);
    edit->setAlignment(Qt::AlignRight);
    return edit;
}

bool TakeNumberField(QLineEdit* edit, int low, int high, int& value) {
    bool isNumber = false;
    const int read = edit->text().trimmed().toInt(&isNumber, 10);
    if (isNumber && read >= low && read <= high) {
        value = read;
        return true;
    }
    QMessageBox box(
        QMessageBox::Warning, LocalizedText(TextId::MsgTitle),
        LocalizedText(TextId::RecorderIntegerRange, QString::number(low), QString::number(high)),
        QMessageBox::Ok, edit->window());
    box.exec();
    edit->setFocus();
    edit->selectAll();
    return false;
}
