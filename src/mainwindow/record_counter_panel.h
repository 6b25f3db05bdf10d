#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include "skin/skin_drawing.h"

// The recording counter: the skin's counter panel with the seconds recorded so far, "%6d %s"
// with the unit from the text table, in green. Hidden until the first second is shown. UI
// thread.
class RecordCounterPanel : public QWidget {
public:
    explicit RecordCounterPanel(QWidget* parent, SkinImageLoader loader = LoadSkinImage);

    // Shows the panel with `seconds` and `unit`.
    void ShowSeconds(int seconds, const QString& unit);
    // The text the panel shows, as formatted.
    const QString& text() const { return text_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage panel_;
    QString text_;
};
