#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "capture/picture_controls.h"

class CaptureEngine;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;
class QSlider;

// Control ids of the video settings dialog; each widget's object name is "control<id>".
namespace videosetting {
inline constexpr int kDeviceGroup = 1100;
inline constexpr int kDeviceNameLabel = 1101;
inline constexpr int kDeviceList = 1102;
inline constexpr int kDeviceSettingGroup = 1095;
inline constexpr int kNormLabel = 1098;
inline constexpr int kNormList = 1099;
inline constexpr int kResolutionLabel = 1097;
inline constexpr int kResolutionList = 1096;
inline constexpr int kPropertiesGroup = 1092;
inline constexpr int kDefault = 1079;
inline constexpr int kOk = 1;
inline constexpr int kExit = 2;

// The controls of one picture property row.
struct RowIds {
    int slider;
    int caption;
    int value;
    int stepper;
};
inline constexpr std::array<RowIds, kPicturePropertyRows> kRowIds = {{
    {1055, 1062, 1063, 1086},  // brightness
    {1064, 1065, 1066, 1087},  // contrast
    {1067, 1068, 1069, 1088},  // saturation
    {1070, 1071, 1072, 1089},  // sharpness
    {1073, 1074, 1075, 1090},  // gamma
    {1076, 1077, 1078, 1091},  // hue
}};
inline constexpr int kGammaRow = 4;
inline constexpr int kHueRow = 5;
}  // namespace videosetting

// The video settings: the capture device, the norm (library devices), the resolution and the
// six picture properties of the device in use. Changes take effect at once and stay when the
// dialog closes: a property goes to the device while its slider moves, the resolution when it
// is chosen (and again with OK), the device when it is chosen. Default puts every property at
// the device's default and the resolution (and the norm of a library device) at the kind's
// default. Exit closes without undoing anything.
//
// Property values travel on a PictureControlChannel: the UI thread never waits for a control
// transfer, and each value box shows what the device holds once it has answered (a refused
// value leaves the device's own). Device, norm and resolution changes rebuild or restart the
// graph on the UI thread, as everywhere in the window.
//
// Initialise fills it from the engine: on opening, after a device switch, and whenever the
// device set may have changed. Without a bound device the lists stay empty and the properties
// disabled. While a recording runs the device, the norm and the resolution stay as they are.
// UI thread.
class VideoSettingsDialog : public QDialog {
    Q_OBJECT
public:
    // `switchDevice` moves the capture to the device in the given slot of the engine's list
    // (the window keeps its mode in step); the dialog then initialises itself again.
    VideoSettingsDialog(CaptureEngine& engine, std::function<void(int slot)> switchDevice,
                        bool recording, QWidget* parent = nullptr);
    // Values still on their way are sent first.
    ~VideoSettingsDialog() override;

    void Initialise();
    // Initialise once the events already queued have run.
    void InitialiseLater();

    // Default, as the button does.
    void OnDefault();
    // OK: the resolution list's choice is applied, then the dialog closes.
    void accept() override;

    QComboBox* deviceList() const { return deviceList_; }
    QComboBox* normList() const { return normList_; }
    QLabel* normLabel() const { return normLabel_; }
    QComboBox* resolutionList() const { return resolutionList_; }
    QSlider* slider(int row) const { return rows_[Index(row)].slider; }
    QLineEdit* valueBox(int row) const { return rows_[Index(row)].value; }
    QScrollBar* stepper(int row) const { return rows_[Index(row)].stepper; }
    QLabel* caption(int row) const { return rows_[Index(row)].caption; }
    QPushButton* defaultButton() const { return default_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* exitButton() const { return exit_; }
    // The table as the last initialisation read it, with the values the device reported since.
    const PicturePropertyTable& table() const { return table_; }
    // True while a value of the row is on its way or waits to be sent.
    bool Sending(int row) const { return rows_[Index(row)].awaiting; }

    // The up (+1) or down (-1) arrow of a row's small scroll bar.
    void StepRow(int row, int delta);

private:
    struct Row {
        QLabel* caption = nullptr;
        QSlider* slider = nullptr;
        QLineEdit* value = nullptr;
        QScrollBar* stepper = nullptr;
        int requested = 0;      // the last value asked for
        bool awaiting = false;  // until the answer to `requested` is in
    };
    static std::size_t Index(int row) { return static_cast<std::size_t>(row); }

    void BuildControls();
    void SetTexts();
    void MakeRoomForTexts();
    void ClearDevice();
    void ShowRow(int row, bool shown);
    void ShowValue(int row, int value);
    void OnSliderMoved(int row, int value);
    void OnSliderReleased(int row);
    void TakeAnswers();
    void OnSent(const SentPictureProperty& sent);
    void OnDeviceChosen(int item);
    void OnNormChosen(int item);
    void ApplyResolution();
    // The slider's position without sending it.
    void PlaceSlider(int row, int value);
    bool LibraryDevice() const;

    CaptureEngine& engine_;
    std::function<void(int slot)> switchDevice_;
    bool recording_;
    PicturePropertyTable table_ = MakePicturePropertyTable();
    int norm_ = 0;  // the norm the lists were filled for
    std::array<Row, kPicturePropertyRows> rows_;
    std::unique_ptr<PictureControlChannel> channel_;
    bool initialiseQueued_ = false;

    QGroupBox* deviceGroup_ = nullptr;
    QLabel* deviceLabel_ = nullptr;
    QComboBox* deviceList_ = nullptr;
    QGroupBox* settingGroup_ = nullptr;
    QLabel* normLabel_ = nullptr;
    QComboBox* normList_ = nullptr;
    QLabel* resolutionLabel_ = nullptr;
    QComboBox* resolutionList_ = nullptr;
    QGroupBox* propertiesGroup_ = nullptr;
    QPushButton* default_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* exit_ = nullptr;
};
