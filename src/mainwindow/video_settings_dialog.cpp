#include "mainwindow/video_settings_dialog.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <algorithm>
#include <utility>
#include <vector>

#include "app/debug_trace.h"
#include "app/text_table.h"
#include "capture/capture_engine.h"
#include "mainwindow/compressor_dialog.h"
#include "mainwindow/dialog_units.h"
#include "media/video_norms.h"

namespace {

using namespace videosetting;

constexpr int kWidthUnits = 239;
constexpr int kHeightUnits = 241;
// Height of a closed drop-down list.
constexpr int kListUnits = 12;
// The sliders leave the value boxes room for "-180".
constexpr int kSliderUnits = 99;
// How far a group box's title reaches above its frame.
constexpr int kTitleUnits = 5;

// Vertical positions of a row's caption, slider, value box and scroll bar.
struct RowPlace {
    int caption;
    int slider;
    int value;
    int stepper;
};
constexpr std::array<RowPlace, kPicturePropertyRows> kRowPlaces = {{
    {106, 108, 106, 106},
    {127, 128, 127, 126},
    {149, 148, 147, 146},
    {169, 169, 167, 166},
    {190, 189, 187, 186},
    {191, 190, 188, 187},
}};

// A library device shows its norm above the resolution; a camera shows the resolution alone,
// in the middle of the group.
constexpr int kNormRowUnits = 57;
constexpr int kResolutionWithNormUnits = 71;
constexpr int kResolutionAloneUnits = 64;

constexpr std::array<TextId, kPicturePropertyRows> kCaptionTexts = {
    TextId::PropertyBrightness, TextId::PropertyContrast, TextId::PropertySaturation,
    TextId::PropertySharpness,  TextId::PropertyGamma,    TextId::PropertyHue};

template <typename Widget>
Widget* Place(Widget* widget, int id, int x, int y, int width, int height) {
    widget->setObjectName(QStringLiteral("control%1").arg(id));
    widget->setGeometry(DialogRect(x, y, width, height));
    return widget;
}

// The norm as the list shows it, without changing it.
int ListedNorm(CaptureEngine& engine) {
    int norm = kNormNtscM;
    return Succeeded(engine.GetNorm(norm)) && norm != kNormNtscM ? kNormPalB : kNormNtscM;
}

QString ValueText(int value) {
    return QString::asprintf("%3d", value);
}

}  // namespace

VideoSettingsDialog::VideoSettingsDialog(CaptureEngine& engine,
                                         std::function<void(int slot)> switchDevice, bool recording,
                                         QWidget* parent)
    : QDialog(parent),
      engine_(engine),
      switchDevice_(std::move(switchDevice)),
      recording_(recording) {
    setModal(true);
    setWindowFlags(kFixedDialogFlags);
    setFixedSize(DialogUnitsToPixels(kWidthUnits, kHeightUnits));
    BuildControls();
    SetTexts();
    Initialise();
}

VideoSettingsDialog::~VideoSettingsDialog() = default;

void VideoSettingsDialog::BuildControls() {
    // Group boxes first, so the controls drawn over them take the clicks. Their titles stand
    // above the frame rather than on it, so each reaches up a little further.
    deviceGroup_ =
        Place(new QGroupBox(this), kDeviceGroup, 14, 11 - kTitleUnits, 211, 30 + kTitleUnits);
    settingGroup_ = Place(new QGroupBox(this), kDeviceSettingGroup, 14, 46 - kTitleUnits, 211,
                          39 + kTitleUnits);
    propertiesGroup_ =
        Place(new QGroupBox(this), kPropertiesGroup, 14, 91 - kTitleUnits, 212, 115 + kTitleUnits);

    deviceLabel_ = Place(new QLabel(this), kDeviceNameLabel, 29, 25, 76, 8);
    deviceList_ = Place(new QComboBox(this), kDeviceList, 109, 23, 111, kListUnits);
    normLabel_ = Place(new QLabel(this), kNormLabel, 29, kNormRowUnits + 2, 78, 8);
    normList_ = Place(new QComboBox(this), kNormList, 109, kNormRowUnits, 111, kListUnits);
    resolutionLabel_ =
        Place(new QLabel(this), kResolutionLabel, 29, kResolutionAloneUnits + 2, 78, 8);
    resolutionList_ =
        Place(new QComboBox(this), kResolutionList, 109, kResolutionAloneUnits, 111, kListUnits);
    normLabel_->hide();
    normList_->hide();
    deviceLabel_->setBuddy(deviceList_);
    normLabel_->setBuddy(normList_);
    resolutionLabel_->setBuddy(resolutionList_);
    // Only a choice the user makes acts; the lists are filled with their signals quiet.
    connect(deviceList_, &QComboBox::activated, this, &VideoSettingsDialog::OnDeviceChosen);
    connect(normList_, &QComboBox::activated, this, &VideoSettingsDialog::OnNormChosen);
    connect(resolutionList_, &QComboBox::activated, this, [this] { ApplyResolution(); });

    for (int row = 0; row < kPicturePropertyRows; ++row) {
        const RowIds& ids = kRowIds[Index(row)];
        const RowPlace& place = kRowPlaces[Index(row)];
        Row& controls = rows_[Index(row)];
        controls.caption = Place(new QLabel(this), ids.caption, 30, place.caption, 56, 8);
        controls.slider = Place(new QSlider(Qt::Horizontal, this), ids.slider, 87, place.slider - 2,
                                kSliderUnits, 13);
        controls.slider->setTickPosition(QSlider::NoTicks);
        controls.value = Place(new QLineEdit(this), ids.value, 87 + kSliderUnits + 1, place.value,
                               209 - 88 - kSliderUnits, 12);
        controls.value->setReadOnly(true);
        controls.value->setAlignment(Qt::AlignRight);
        controls.value->setFocusPolicy(Qt::NoFocus);
        controls.value->setTextMargins(0, 0, 0, 0);
        controls.stepper =
            Place(new QScrollBar(Qt::Vertical, this), ids.stepper, 210, place.stepper, 8, 13);
        // The scroll bar is only its two arrows: its own position never moves.
        controls.stepper->setRange(0, 2);
        controls.stepper->setValue(1);
        controls.stepper->setPageStep(0);
        controls.stepper->setFocusPolicy(Qt::NoFocus);
        connect(controls.slider, &QSlider::valueChanged, this,
                [this, row](int value) { OnSliderMoved(row, value); });
        connect(controls.slider, &QSlider::sliderReleased, this,
                [this, row] { OnSliderReleased(row); });
        QScrollBar* stepper = controls.stepper;
        connect(stepper, &QScrollBar::actionTriggered, this, [this, row, stepper](int action) {
            stepper->setSliderPosition(1);
            if (action == QAbstractSlider::SliderSingleStepSub) {
                StepRow(row, +1);  // the upper arrow
            } else if (action == QAbstractSlider::SliderSingleStepAdd) {
                StepRow(row, -1);
            }
        });
        controls.caption->setBuddy(controls.slider);
    }

    default_ = Place(new QPushButton(this), kDefault, 18, 217, 50, 14);
    ok_ = Place(new QPushButton(this), kOk, 120, 217, 50, 14);
    exit_ = Place(new QPushButton(this), kExit, 177, 217, 50, 14);
    default_->setAutoDefault(false);
    exit_->setAutoDefault(false);
    ok_->setDefault(true);
    connect(default_, &QPushButton::clicked, this, &VideoSettingsDialog::OnDefault);
    connect(ok_, &QPushButton::clicked, this, &VideoSettingsDialog::accept);
    connect(exit_, &QPushButton::clicked, this, &VideoSettingsDialog::reject);
}

void VideoSettingsDialog::SetTexts() {
    setWindowTitle(LocalizedText(TextId::VideoSetting));
    deviceGroup_->setTitle(LocalizedText(TextId::VideoCaptionDevice));
    deviceLabel_->setText(LocalizedText(TextId::VideoDeviceName));
    settingGroup_->setTitle(LocalizedText(TextId::VideoDeviceSetting));
    normLabel_->setText(LocalizedText(TextId::VideoNorm));
    resolutionLabel_->setText(LocalizedText(TextId::VideoResolution));
    propertiesGroup_->setTitle(LocalizedText(TextId::VideoProperties));
    for (int row = 0; row < kPicturePropertyRows; ++row) {
        rows_[Index(row)].caption->setText(LocalizedText(kCaptionTexts[Index(row)]));
    }
    default_->setText(LocalizedText(TextId::VideoDefault));
    ok_->setText(LocalizedText(TextId::VideoOk));
    exit_->setText(LocalizedText(TextId::VideoExit));
    MakeRoomForTexts();
}

void VideoSettingsDialog::MakeRoomForTexts() {
    // A translation longer than the English text takes room from the control to its right
    // (a list, a slider) rather than being cut; a button grows to the left of the next.
    const auto widen = [](const std::vector<QLabel*>& labels, const std::vector<QWidget*>& right) {
        int extra = 0;
        for (const QLabel* label : labels) {
            extra = std::max(extra, label->sizeHint().width() - label->width());
        }
        if (extra <= 0) {
            return;
        }
        for (QLabel* label : labels) {
            label->resize(label->width() + extra, label->height());
        }
        for (QWidget* widget : right) {
            widget->setGeometry(widget->x() + extra, widget->y(), widget->width() - extra,
                                widget->height());
        }
    };
    widen({deviceLabel_, normLabel_, resolutionLabel_}, {deviceList_, normList_, resolutionList_});
    std::vector<QLabel*> captions;
    std::vector<QWidget*> sliders;
    for (const Row& row : rows_) {
        captions.push_back(row.caption);
        sliders.push_back(row.slider);
    }
    widen(captions, sliders);
    for (QPushButton* button : {default_, ok_, exit_}) {
        const int extra = button->sizeHint().width() - button->width();
        if (extra > 0) {
            // OK and Exit grow to the left, towards the room in the middle.
            const int left = button == default_ ? button->x() : button->x() - extra;
            button->setGeometry(left, button->y(), button->width() + extra, button->height());
        }
    }
}

bool VideoSettingsDialog::LibraryDevice() const {
    return engine_.libraryDeviceMode() == 1;
}

void VideoSettingsDialog::ShowRow(int row, bool shown) {
    const Row& controls = rows_[Index(row)];
    for (QWidget* widget :
         {static_cast<QWidget*>(controls.caption), static_cast<QWidget*>(controls.slider),
          static_cast<QWidget*>(controls.value), static_cast<QWidget*>(controls.stepper)}) {
        widget->setVisible(shown);
    }
}

void VideoSettingsDialog::PlaceSlider(int row, int value) {
    const QSignalBlocker quiet(rows_[Index(row)].slider);
    rows_[Index(row)].slider->setValue(value);
}

void VideoSettingsDialog::ShowValue(int row, int value) {
    rows_[Index(row)].value->setText(ValueText(value));
}

void VideoSettingsDialog::ClearDevice() {
    // Values still waiting go to the device they were meant for.
    channel_.reset();
    table_ = MakePicturePropertyTable();
    for (QComboBox* list : {deviceList_, normList_, resolutionList_}) {
        const QSignalBlocker quiet(list);
        list->clear();
        list->setEnabled(false);
    }
    for (int row = 0; row < kPicturePropertyRows; ++row) {
        Row& controls = rows_[Index(row)];
        PlaceSlider(row, controls.slider->minimum());
        controls.value->clear();
        controls.awaiting = false;
        for (QWidget* widget :
             {static_cast<QWidget*>(controls.slider), static_cast<QWidget*>(controls.stepper)}) {
            widget->setEnabled(false);
        }
    }
    default_->setEnabled(false);
}

void VideoSettingsDialog::InitialiseLater() {
    if (initialiseQueued_) {
        return;
    }
    initialiseQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            initialiseQueued_ = false;
            Initialise();
        },
        Qt::QueuedConnection);
}

void VideoSettingsDialog::Initialise() {
    ClearDevice();
    const CaptureDeviceEntry* current = engine_.CurrentEntry();
    // The device in use: bound to the graph. A removed device leaves everything empty.
    if (current == nullptr || !current->moniker || !engine_.hasGraph()) {
        return;
    }
    std::unique_ptr<DeviceControls> device = engine_.backend().OpenControls(*current->moniker);
    if (device == nullptr) {
        DebugTrace(0, "The video settings cannot reach the device\n");
        return;
    }
    ReadPictureProperties(*device, table_);
    channel_ = std::make_unique<PictureControlChannel>(std::move(device), [this] {
        // On the channel's thread; the dialog outlives the channel.
        QMetaObject::invokeMethod(
            this, [this] { TakeAnswers(); }, Qt::QueuedConnection);
    });

    bool anyProperty = false;
    for (int row = 0; row < kPicturePropertyRows; ++row) {
        const PicturePropertyRow& property = table_[Index(row)];
        Row& controls = rows_[Index(row)];
        controls.slider->setEnabled(property.available);
        controls.stepper->setEnabled(property.available);
        if (!property.available) {
            continue;
        }
        anyProperty = true;
        {
            const QSignalBlocker quiet(controls.slider);
            controls.slider->setRange(property.range.minimum, property.range.maximum);
            controls.slider->setValue(property.value);
        }
        controls.requested = property.value;
        ShowValue(row, property.value);
    }
    default_->setEnabled(anyProperty || !recording_);

    {
        const QSignalBlocker quiet(deviceList_);
        const auto& devices = engine_.DeviceList();
        for (int slot = 0; slot < static_cast<int>(devices.size()); ++slot) {
            const CaptureDeviceEntry& entry = devices[static_cast<std::size_t>(slot)];
            if (entry.identityRow < 0 || entry.friendlyName.empty()) {
                continue;
            }
            deviceList_->addItem(QString::fromStdString(entry.friendlyName), slot);
            if (&entry == current) {
                deviceList_->setCurrentIndex(deviceList_->count() - 1);
            }
        }
        deviceList_->setEnabled(!recording_);
    }

    const bool library = LibraryDevice();
    {
        const QSignalBlocker quiet(normList_);
        if (library) {
            normList_->addItems({QStringLiteral("NTSC_M"), QStringLiteral("PAL B")});
            // A norm other than these two becomes PAL B, unless a recording runs on it.
            norm_ = recording_ ? ListedNorm(engine_) : SettleLibraryNorm(engine_);
            normList_->setCurrentIndex(norm_ == kNormNtscM ? 0 : 1);
        } else {
            norm_ = kNormNone;
            normList_->addItem(QStringLiteral("N/A"));
            normList_->setCurrentIndex(0);
        }
        normList_->setEnabled(library && !recording_);
        normLabel_->setVisible(library);
        normList_->setVisible(library);
    }
    const int resolutionY = library ? kResolutionWithNormUnits : kResolutionAloneUnits;
    resolutionLabel_->move(resolutionLabel_->x(), DialogUnitsToPixelsY(resolutionY + 2));
    resolutionList_->move(resolutionList_->x(), DialogUnitsToPixelsY(resolutionY));
    {
        const QSignalBlocker quiet(resolutionList_);
        for (const std::string& text : ResolutionChoiceTexts(library, norm_)) {
            resolutionList_->addItem(QString::fromStdString(text));
        }
        int width = engine_.latestFrame().Header().biWidth;
        if (width <= 0) {
            width = engine_.Settings().biWidth;
        }
        resolutionList_->setCurrentIndex(ResolutionChoiceFor(width, library));
        resolutionList_->setEnabled(!recording_);
    }
    ShowRow(kGammaRow, !library);
    ShowRow(kHueRow, library);
}

void VideoSettingsDialog::OnSliderMoved(int row, int value) {
    Row& controls = rows_[Index(row)];
    ShowValue(row, value);
    if (channel_ == nullptr || !table_[Index(row)].available) {
        return;
    }
    controls.requested = value;
    controls.awaiting = true;
    channel_->Send(table_[Index(row)].property, value);
}

void VideoSettingsDialog::OnSliderReleased(int row) {
    // An answer that came in while the slider was held may differ from where it was let go
    // (the device rounds or refuses): the slider follows the device.
    const Row& controls = rows_[Index(row)];
    if (!controls.awaiting && table_[Index(row)].available &&
        controls.slider->value() != table_[Index(row)].value) {
        PlaceSlider(row, table_[Index(row)].value);
    }
}

void VideoSettingsDialog::TakeAnswers() {
    // Answers of a channel replaced meanwhile went with it.
    if (channel_ != nullptr) {
        for (const SentPictureProperty& sent : channel_->TakeSent()) {
            OnSent(sent);
        }
    }
}

void VideoSettingsDialog::OnSent(const SentPictureProperty& sent) {
    for (int row = 0; row < kPicturePropertyRows; ++row) {
        if (table_[Index(row)].property != sent.property) {
            continue;
        }
        Row& controls = rows_[Index(row)];
        if (sent.requested != controls.requested) {
            return;  // a newer value is on its way
        }
        controls.awaiting = false;
        PicturePropertyRow& property = table_[Index(row)];
        if (sent.readBack) {
            property.value = sent.value;
        } else if (Succeeded(sent.result)) {
            property.value = sent.requested;
        }
        if (!Succeeded(sent.result)) {
            DebugTrace(0, "%s %d was refused, the device holds %d\n", property.name, sent.requested,
                       property.value);
        }
        ShowValue(row, property.value);
        if (!controls.slider->isSliderDown() && controls.slider->value() != property.value) {
            PlaceSlider(row, property.value);
        }
        return;
    }
}

void VideoSettingsDialog::StepRow(int row, int delta) {
    QSlider* slider = rows_[Index(row)].slider;
    if (!slider->isEnabled()) {
        return;
    }
    const int position = std::clamp(slider->value() + delta, slider->minimum(), slider->maximum());
    if (position != slider->value()) {
        slider->setValue(position);  // sends it
    }
}

void VideoSettingsDialog::OnDefault() {
    if (channel_ == nullptr) {
        return;
    }
    for (int row = 0; row < kPicturePropertyRows; ++row) {
        const PicturePropertyRow& property = table_[Index(row)];
        if (!property.available) {
            continue;
        }
        PlaceSlider(row, property.range.defaultValue);
        OnSliderMoved(row, property.range.defaultValue);
    }
    if (recording_) {
        return;  // the frames of the recording keep their size
    }
    if (LibraryDevice()) {
        engine_.SetNorm(kNormNtscM);
        norm_ = kNormNtscM;
        const QSignalBlocker quiet(normList_);
        normList_->setCurrentIndex(0);
        resolutionList_->setItemText(2,
                                     QString::fromStdString(ResolutionChoiceTexts(true, norm_)[2]));
    }
    {
        const QSignalBlocker quiet(resolutionList_);
        resolutionList_->setCurrentIndex(2);
    }
    ApplyResolution();
}

void VideoSettingsDialog::accept() {
    if (!recording_) {
        ApplyResolution();
    }
    QDialog::accept();
}

void VideoSettingsDialog::ApplyResolution() {
    const int item = resolutionList_->currentIndex();
    if (recording_ || item < 0 || !engine_.hasGraph()) {
        return;
    }
    const bool library = LibraryDevice();
    // The norm in force now decides between 720x480 and 720x576.
    const int norm = library ? ListedNorm(engine_) : kNormNone;
    const FrameSize size = ResolutionChoiceSize(item, library, norm);
    engine_.SetResolution(size.width, size.height);
}

void VideoSettingsDialog::OnNormChosen(int item) {
    if (!LibraryDevice() || recording_) {
        return;
    }
    norm_ = item == 0 ? kNormNtscM : kNormPalB;
    engine_.SetNorm(norm_);
    // The largest size follows the norm.
    resolutionList_->setItemText(2, QString::fromStdString(ResolutionChoiceTexts(true, norm_)[2]));
}

void VideoSettingsDialog::OnDeviceChosen(int item) {
    if (item < 0 || recording_) {
        return;
    }
    const int slot = deviceList_->itemData(item).toInt();
    if (switchDevice_) {
        switchDevice_(slot);
    }
    Initialise();
}
