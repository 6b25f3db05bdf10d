#pragma once

#include <QString>
#include <string>
#include <string_view>

// Every text the program shows comes from the section "Zentra" of the language file,
// looked up by key with a default of its own. Each lookup site is one row of one table;
// a key may appear in several rows with other buffer sizes or defaults.
enum class TextId {
    // Main window messages and status texts.
    MsgTitle,
    ConnectMsg,
    EscRestore,
    BrowseToCamera,
    BrowseToTimer,
    SelectFileSave,   // Save / Save as and Open without a selected file
    SelectFileEMail,  // E-mail without a selected file
    CounterSecond,    // unit after the recording counter
    // Storage failures; %1 is the folder or file, %2 the system's reason.
    MakeFolderFail,   // a storage folder could not be made
    WriteFolderFail,  // a storage folder takes no files
    SaveStillFail,    // a still could not be written
    NotAvailable,     // a command whose feature this version does not have yet
    // A recording that could not be written on: %1 the file, %2 the system's reason; then
    // how much of it is kept (%1 seconds).
    RecordingStopped,
    RecordingKept,
    RecordingDeviceGone,  // a recording ended with its device; %1 the file
    // File operations on the selected file: %1 the file, %2 the system's reason.
    SaveFileFail,   // the copy or the conversion to %1 failed
    MarkSavedFail,  // the copy was made, but the file %1 could not be renamed as saved
    OpenFileFail,   // no program could be started for %1

    // Main window tooltips.
    TipPreview,
    TipCamera,
    TipVideo,
    TipTimer,
    TipSetting,
    TipSave,
    TipEMail,
    TipHelp,
    TipDecZoom,
    TipIncZoom,
    TipPlay,
    TipStop,
    TipPause,
    TipFirst,
    TipReward,
    TipForward,
    TipLast,

    // Menu bar, in menu order.
    MenuFile,
    MenuFileOpen,
    MenuFileSave,
    MenuFileDelete,
    MenuFileDeleteAll,
    MenuFileEMail,
    MenuSetting,
    MenuSettingDevice,
    MenuSettingCross,
    MenuSettingScale,
    MenuSettingCircle,
    MenuSettingTime,
    MenuCapture,
    MenuCaptureTakePicture,
    MenuCaptureTakeVideo,
    MenuCaptureTimeLapse,
    MenuHelp,
    MenuHelpManual,
    MenuHelpUpdate,
    MenuHelpAbout,

    // Pop-up menus.
    PopupFileOpen,
    PopupFileSave,
    PopupFileDelete,
    PopupFileDeleteAll,
    PopupFileEMail,
    PopupDisplayCross,
    PopupDisplayScale,
    PopupDisplayCircle,
    PopupDisplayTime,
    PopupSettingsCompress,
    PopupSettingsVideoColor,
    PopupSettingsVideoFormat,
    PopupHelpManual,
    PopupHelpUpdate,
    PopupHelpAbout,

    // About box.
    AboutCaption,
    AboutProduct,
    AboutDescription,
    AboutVersion,
    AboutCopyright,
    AboutOk,

    // Video settings dialog.
    VideoSetting,
    VideoDeviceName,
    VideoCaptionDevice,
    VideoDeviceSetting,
    VideoNorm,
    VideoResolution,
    VideoProperties,
    VideoDefault,
    VideoExit,
    VideoOk,
    PropertyBrightness,
    PropertyContrast,
    PropertySaturation,
    PropertySharpness,
    PropertyGamma,
    PropertyHue,

    // Recorder settings dialog and compressor choice.
    RecorderSetting,
    RecorderFrameRate,
    RecorderTimerLimit,
    RecorderSecond,
    RecorderCompress,
    RecorderOk,
    RecorderCancel,
    CompressTitle,
    RecorderIntegerRange,  // a field out of its range; %1 and %2 are the bounds
    // Compressor choice dialog.
    CompressCompressor,
    CompressQuality,
    CompressKeyFrameEvery,
    CompressKeyFrameFrames,
    CompressOk,
    CompressCancel,
    CompressSizeFail,  // %1 the compressor, %2 the frame size
    CompressFail,      // %1 the compressor, %2 the system's reason

    // Time-lapse dialog, at initialisation (the "Frame" row serves both frame labels).
    TimeLapseCaptureSetting,
    TimeLapseStartTime,
    TimeLapseInterval,
    TimeLapseCapture,
    TimeLapseFrame,
    TimeLapseCompleted,
    TimeLapseStart,
    TimeLapseCancel,
    TimeLapseFileSize,
    // Time-lapse dialog, while running.
    TimeLapseRunStart,
    TimeLapseRunStop,
    TimeLapseSetTimerFail,
    TimeLapseMissed,        // label of the count of pictures not saved
    TimeLapseMissedStills,  // at the end: %1 pictures were not saved, %2 the last reason
    TimeLapseDeviceGone,    // the run stopped with its device; %1 pictures taken
    TimeLapseResumed,       // the run stopped when the computer woke; %1 pictures taken
    TimeLapseNoPicture,     // why a picture was missed: the one before it never came

    // E-mail.
    MailStartOutlook,
    MailSendComplete,
    MailNotInstalled,  // no xdg-email on this computer
    MailNoProgram,     // xdg-email found no mail program
    MailFailed,        // the mail program did not take %1; %2 why
    PlayFileFail,      // the video %1 cannot be played; %2 why

    // Measuring: calibration, measurement, scale bar, the status line.
    MenuSettingCalibrate,
    MenuSettingScaleBar,
    MenuSettingBurnOverlays,
    PopupDisplayMeasure,
    PopupDisplayCalibrate,
    PopupDisplayCalibration,  // the sub-menu that chooses the current calibration
    PopupDisplayNoCalibration,
    PopupDisplayScaleBar,
    CalibrateTitle,
    CalibrateHint,
    CalibrateLine,  // %1 the line's length
    CalibrateLength,
    CalibrateName,
    CalibrateResult,  // %1 a length with its unit
    CalibrateNoLine,
    CalibrateBadLength,
    CalibrateNoName,
    CalibrateReplace,   // %1 the name
    CalibrateSaveFail,  // %1 the file, %2 why
    CalibrateReadFail,  // %1 the file, %2 why
    MeasureHint,
    StatusFramesPerSecond,  // %1 the rate
    StatusDropped,          // %1 frames lost since the start
    StatusNotCalibrated,
    StatusScaledFrom,  // %1 the resolution the calibration was made at

    Count
};

struct TextEntry {
    const char* key;
    int sizeBytes;  // the lookup's buffer in bytes: the text keeps at most one less
    const char* defaultText;
};

const TextEntry& TextEntryFor(TextId id);

// The section every key lives in.
inline constexpr const char* kTextSection = "Zentra";

// Fills `text` (UTF-8) with the value of `key` in the section "Zentra" of `languageFile`,
// or with `defaultText` when the file, the section or the key is missing. The value is cut
// to sizeBytes - 1 bytes of the file's code page (named in the file's name) without
// splitting a character. Returns the number of those bytes. Reads the file on every call.
// Any thread.
int GetLocalizedTextFrom(const std::string& languageFile, std::string_view key, std::string& text,
                         int sizeBytes, std::string_view defaultText);

// The same with the process-wide language file chosen at start-up.
int GetLocalizedText(std::string_view key, std::string& text, int sizeBytes,
                     std::string_view defaultText);

// One row of the table, looked up in the process-wide language file.
QString LocalizedText(TextId id);

// A row with the placeholders %1 and %2, filled in with `first` and `second` in one pass
// (so a "%2" in `first` stays as it is). A translation that lacks either placeholder is not
// used, so the message never loses the file or the reason: the default text is.
QString LocalizedText(TextId id, const QString& first, const QString& second);
