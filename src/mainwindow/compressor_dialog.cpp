#include "mainwindow/compressor_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>

#include "app/text_table.h"
#include "output/compressor_probe.h"

namespace {

constexpr int kMaxKeyFrameEvery = 9999;

// Why a pick cannot be taken, in the user's words.
QString ProbeFailureText(RecorderCodec codec, const IoResult& failure, int width, int height) {
    if (width <= 0 || height <= 0) {
        width = kProbeDefaultWidth;
        height = kProbeDefaultHeight;
    }
    const QString name = CodecDisplayName(codec);
    if (failure.error() == EINVAL) {
        return LocalizedText(TextId::CompressSizeFail, name,
                             QStringLiteral("%1 x %2").arg(width).arg(height));
    }
    return LocalizedText(TextId::CompressFail, name,
                         QString::fromLocal8Bit(std::strerror(failure.error())));
}

}  // namespace

std::vector<RecorderCodec> OfferedCodecs() {
    std::vector<RecorderCodec> offered;
    for (const RecorderCodec codec : kRecorderCodecs) {
        if (RecorderCodecAvailable(codec)) {
            offered.push_back(codec);
        }
    }
    return offered;
}

QString CodecDisplayName(RecorderCodec codec) {
    const char* name = "";
    switch (codec) {
        case RecorderCodec::MicrosoftVideo1:
            name = "Microsoft Video 1";
            break;
        case RecorderCodec::MotionJpeg:
            name = "Motion JPEG";
            break;
        case RecorderCodec::UncompressedDib:
            name = "Uncompressed RGB";
            break;
        case RecorderCodec::Ffv1:
            name = "FFV1 lossless";
            break;
        case RecorderCodec::HuffYuv:
            name = "Huffyuv lossless";
            break;
        case RecorderCodec::Mpeg4:
            name = "MPEG-4 part 2";
            break;
        case RecorderCodec::H264:
            name = "H.264";
            break;
    }
    // "DIB " ends in a blank that means nothing to a reader.
    const QString fourcc = QString::fromLatin1(RecorderCodecFourcc(codec)).trimmed();
    return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(name), fourcc);
}

CompressorDialog::CompressorDialog(const RecorderCompressOptions& current, int frameWidth,
                                   int frameHeight, QWidget* parent)
    : QDialog(parent), frameWidth_(frameWidth), frameHeight_(frameHeight), accepted_(current) {
    setWindowTitle(LocalizedText(TextId::CompressTitle));
    setModal(true);
    setWindowFlags(kFixedDialogFlags);

    auto* compressorLabel = new QLabel(LocalizedText(TextId::CompressCompressor), this);
    codecList_ = new QComboBox(this);
    for (const RecorderCodec codec : OfferedCodecs()) {
        codecList_->addItem(CodecDisplayName(codec), static_cast<int>(codec));
    }
    compressorLabel->setBuddy(codecList_);

    qualityLabel_ = new QLabel(LocalizedText(TextId::CompressQuality), this);
    qualityValue_ = new QLabel(this);
    qualityValue_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    qualityValue_->setMinimumWidth(
        qualityValue_->fontMetrics().horizontalAdvance(QStringLiteral("100")) + 4);
    quality_ = new QSlider(Qt::Horizontal, this);
    quality_->setRange(1, 100);
    quality_->setPageStep(10);
    quality_->setTickPosition(QSlider::TicksBelow);
    quality_->setTickInterval(25);
    qualityLabel_->setBuddy(quality_);
    connect(quality_, &QSlider::valueChanged, qualityValue_,
            [this](int value) { qualityValue_->setNum(value); });

    keyFrameCheck_ = new QCheckBox(LocalizedText(TextId::CompressKeyFrameEvery), this);
    keyFrameEdit_ = new QSpinBox(this);
    keyFrameEdit_->setRange(1, kMaxKeyFrameEvery);
    keyFrameUnit_ = new QLabel(LocalizedText(TextId::CompressKeyFrameFrames), this);
    connect(keyFrameCheck_, &QCheckBox::toggled, this, [this] { UpdateControls(); });

    ok_ = new QPushButton(LocalizedText(TextId::CompressOk), this);
    ok_->setDefault(true);
    cancel_ = new QPushButton(LocalizedText(TextId::CompressCancel), this);
    connect(ok_, &QPushButton::clicked, this, &CompressorDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &CompressorDialog::reject);

    // The settings on the left, the buttons in a column on the right.
    auto* settings = new QGridLayout;
    settings->setHorizontalSpacing(8);
    settings->setVerticalSpacing(6);
    settings->addWidget(compressorLabel, 0, 0, 1, 2);
    settings->addWidget(codecList_, 1, 0, 1, 2);
    settings->addItem(new QSpacerItem(0, 6), 2, 0);
    settings->addWidget(qualityLabel_, 3, 0);
    settings->addWidget(qualityValue_, 3, 1);
    settings->addWidget(quality_, 4, 0, 1, 2);
    auto* keyFrames = new QHBoxLayout;
    keyFrames->setSpacing(6);
    keyFrames->addWidget(keyFrameCheck_);
    keyFrames->addWidget(keyFrameEdit_);
    keyFrames->addWidget(keyFrameUnit_);
    keyFrames->addStretch(1);
    settings->addItem(new QSpacerItem(0, 6), 5, 0);
    settings->addLayout(keyFrames, 6, 0, 1, 2);
    settings->setColumnStretch(0, 1);

    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(6);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    buttons->addStretch(1);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(11, 11, 11, 11);
    layout->setSpacing(16);
    layout->addLayout(settings, 1);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    codecList_->setMinimumWidth(codecList_->sizeHint().width() + 24);

    // Opens on the current options; a codec this FFmpeg lacks leaves the first one selected.
    SelectCodec(current.codec);
    quality_->setValue(current.quality > 0 ? current.quality : kDefaultCompressQuality);
    qualityValue_->setNum(quality_->value());
    keyFrameCheck_->setChecked(current.keyFrameEvery > 0);
    keyFrameEdit_->setValue(current.keyFrameEvery > 0 ? current.keyFrameEvery
                                                      : kDefaultKeyFrameEvery);
    connect(codecList_, &QComboBox::currentIndexChanged, this, [this] { UpdateControls(); });
    UpdateControls();
}

bool CompressorDialog::SelectCodec(RecorderCodec codec) {
    const int index = codecList_->findData(static_cast<int>(codec));
    if (index < 0) {
        return false;
    }
    codecList_->setCurrentIndex(index);
    return true;
}

RecorderCompressOptions CompressorDialog::pick() const {
    RecorderCompressOptions options;
    options.codec = static_cast<RecorderCodec>(codecList_->currentData().toInt());
    options.quality = RecorderCodecUsesQuality(options.codec) ? quality_->value() : 0;
    options.keyFrameEvery =
        RecorderCodecHasKeyFrameInterval(options.codec) && keyFrameCheck_->isChecked()
            ? keyFrameEdit_->value()
            : 0;
    return options;
}

void CompressorDialog::UpdateControls() {
    const bool any = codecList_->count() > 0;
    const auto codec = static_cast<RecorderCodec>(codecList_->currentData().toInt());
    const bool quality = any && RecorderCodecUsesQuality(codec);
    const bool interval = any && RecorderCodecHasKeyFrameInterval(codec);
    qualityLabel_->setEnabled(quality);
    qualityValue_->setEnabled(quality);
    quality_->setEnabled(quality);
    keyFrameCheck_->setEnabled(interval);
    keyFrameEdit_->setEnabled(interval && keyFrameCheck_->isChecked());
    keyFrameUnit_->setEnabled(interval);
    ok_->setEnabled(any);
}

void CompressorDialog::accept() {
    if (codecList_->count() == 0) {
        return;
    }
    const RecorderCompressOptions candidate = pick();
    lastProbe_ = ApplyChosenCompressor(accepted_, candidate, frameWidth_, frameHeight_);
    if (!lastProbe_.ok()) {
        QMessageBox box(QMessageBox::Warning, LocalizedText(TextId::MsgTitle),
                        ProbeFailureText(candidate.codec, lastProbe_, frameWidth_, frameHeight_),
                        QMessageBox::Ok, this);
        box.exec();
        codecList_->setFocus();
        return;
    }
    QDialog::accept();
}

IoResult ChooseCompressor(QWidget* parent, RecorderCompressOptions& options, int width, int height,
                          bool* replaced) {
    if (replaced != nullptr) {
        *replaced = false;
    }
    CompressorDialog dialog(options, width, height, parent);
    if (dialog.exec() != QDialog::Accepted) {
        return dialog.lastProbe();
    }
    options = dialog.accepted();
    if (replaced != nullptr) {
        *replaced = true;
    }
    return IoResult();
}

IoResult ChooseRecorderCompressor(QWidget* parent, RecorderChoice& choice, int width, int height) {
    bool replaced = false;
    IoResult result = ChooseCompressor(parent, choice.options, width, height, &replaced);
    if (replaced) {
        choice.compressorChosen = true;
        choice.optionsSet = true;
    }
    return result;
}
