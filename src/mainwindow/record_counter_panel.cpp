#include "mainwindow/record_counter_panel.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>

#include "mainwindow/skin_layout.h"
#include "mainwindow/window_geometry.h"

namespace {

// The text sits right of the panel's record mark and divider.
constexpr QRect kTextArea(42, 4, 133, 41);
constexpr int kLargestPixels = 24;

}  // namespace

RecordCounterPanel::RecordCounterPanel(QWidget* parent, SkinImageLoader loader)
    : QWidget(parent), panel_(loader ? loader(skinimage::kCounterPanel) : QImage()) {
    setObjectName(QStringLiteral("recordCounter"));
    setGeometry(kCounterPanelRect);
    setAttribute(Qt::WA_OpaquePaintEvent, !panel_.isNull());
    hide();
}

void RecordCounterPanel::ShowSeconds(int seconds, const QString& unit) {
    text_ = QString::asprintf("%6d ", seconds) + unit;
    show();
    raise();
    update();
}

void RecordCounterPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (panel_.isNull()) {
        painter.fillRect(rect(), Qt::black);
    } else {
        painter.drawImage(0, 0, panel_);
    }
    // The number's padding only lines numbers up; the panel shows the number and the unit as
    // large as they fit, in a fixed-pitch face so the digits do not jump as they count.
    const QString shown = text_.trimmed();
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::TypeWriter);
    font.setBold(true);
    for (int pixels = kLargestPixels; pixels >= 8; --pixels) {
        font.setPixelSize(pixels);
        if (QFontMetrics(font).horizontalAdvance(shown) <= kTextArea.width()) {
            break;
        }
    }
    painter.setFont(font);
    painter.setPen(QColor(0, 255, 0));
    painter.drawText(kTextArea, Qt::AlignVCenter | Qt::AlignHCenter, shown);
}
