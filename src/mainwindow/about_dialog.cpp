#include "mainwindow/about_dialog.h"

#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <algorithm>
#include <iterator>

#include "app/text_table.h"
#include "mainwindow/compressor_dialog.h"
#include "mainwindow/dialog_units.h"
#include "skin_resources.h"

namespace {

constexpr int kProductLineId = 1082;
constexpr int kDescriptionId = 1083;
constexpr int kVersionLineId = 1084;
constexpr int kCopyrightLineId = 1085;
constexpr int kPictureId = 1109;
constexpr int kOkId = 1;

QString ControlName(int id) {
    return QStringLiteral("control%1").arg(id);
}

// The four lines of text, in AboutDialog::Line order: where the dialog's template puts them
// and how much room each may take when its text does not fit (all in dialog units).
struct TextLine {
    int id;
    TextId text;
    int x, y, width, height;
    int roomWidth, roomHeight;
};

constexpr TextLine kTextLines[] = {
    {kProductLineId, TextId::AboutProduct, 7, 23, 140, 8, 170, 20},
    {kDescriptionId, TextId::AboutDescription, 7, 44, 172, 18, 172, 22},
    {kVersionLineId, TextId::AboutVersion, 5, 79, 182, 8, 232, 15},
    {kCopyrightLineId, TextId::AboutCopyright, 5, 95, 181, 8, 232, 13},
};
static_assert(std::size(kTextLines) == AboutDialog::kLineCount);

}  // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setModal(true);
    setWindowFlags(kFixedDialogFlags);
    setFixedSize(DialogUnitsToPixels(244, 141));
    setWindowTitle(LocalizedText(TextId::AboutCaption));

    auto* frame = new QFrame(this);
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    frame->setGeometry(DialogRect(0, 0, 242, 137));
    auto* line = new QFrame(this);
    line->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    line->setGeometry(DialogRect(5, 67, 223, 1));

    for (std::size_t i = 0; i < kLineCount; ++i) {
        const TextLine& row = kTextLines[i];
        auto* label = new QLabel(LocalizedText(row.text), this);
        label->setObjectName(ControlName(row.id));
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        const QRect place = DialogRect(row.x, row.y, row.width, row.height);
        label->setGeometry(place);
        // A text longer than its place takes the room beside and below it: up to the picture
        // or the frame's edge, down to the next line, wrapping when it must. A line of the
        // font may also be a little taller than the template's eight units.
        const int oneLine = label->fontMetrics().horizontalAdvance(label->text()) + 2;
        const int width = oneLine > place.width()
                              ? std::min(oneLine, DialogUnitsToPixelsX(row.roomWidth))
                              : place.width();
        const int height = std::max(place.height(), label->heightForWidth(width));
        label->resize(width, std::min(height, DialogUnitsToPixelsY(row.roomHeight)));
        lines_[i] = label;
    }

    InitSkinResources();
    picture_ = new QLabel(this);
    picture_->setObjectName(ControlName(kPictureId));
    picture_->setGeometry(DialogRect(179, 6, 53, 60));
    picture_->setAlignment(Qt::AlignCenter);
    picture_->setPixmap(QPixmap(QStringLiteral(":/skin/139.png")));

    ok_ = new QPushButton(LocalizedText(TextId::AboutOk), this);
    ok_->setObjectName(ControlName(kOkId));
    ok_->setGeometry(DialogRect(166, 109, 50, 14));
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
}
