#include "app/text_table.h"

#include <iterator>

#include "app/code_page.h"
#include "app/profile_reader.h"
#include "app/program_paths.h"
#include "app/version.h"

namespace {

constexpr int kMainMenuBytes = 64;
constexpr int kTipBytes = 64;

constexpr TextEntry kTextTable[] = {
    // Main window messages and status texts.
    {"MsgTitle", 64, "USB 2.0 Digital Microscope"},
    {"ConnectMsg", 64, "Please connect USB 2.0 Digital Microscope"},
    {"EscRestore", 64, "ESC Restore"},
    {"BrowseToCamera", 256, "Please leave browse status first, And then try it agian"},
    {"BrowseToTimer", 256, "Please leave browse status first, And then try it agian"},
    {"SelectFile", 128, "Please select a picture or video first, And then try it agian"},
    {"SelectFile", 256, "Please select a picture or video first, And then try it agian"},
    {"Second", 16, "Seconds"},
    {"MakeFolderFail", 256, "The folder %1 could not be made: %2"},
    {"WriteFolderFail", 256, "Nothing can be saved in the folder %1: %2"},
    {"SaveStillFail", 256, "The picture could not be saved to %1: %2"},
    {"NotAvailable", 256, "This function is not available in this version."},
    {"RecordStopped", 256, "The recording stopped because %1 could not be written: %2"},
    {"RecordKept", 256, "The first %1 seconds of it are kept."},
    {"RecordDeviceGone", 256,
     "The recording ended because the connection to the microscope was lost. What was recorded is "
     "kept in %1."},
    {"SaveFileFail", 256, "The file could not be saved as %1: %2"},
    {"MarkSavedFail", 256, "The copy was saved, but %1 could not be marked as saved: %2"},
    {"OpenFileFail", 256, "No program could be started to open %1."},

    // Main window tooltips.
    {"TipPreview", kTipBytes, "Preview"},
    {"TipCamera", kTipBytes, "Camera"},
    {"TipVideo", kTipBytes, "Recording Video"},
    {"TipTimer", kTipBytes, "Timer"},
    {"TipSetting", kTipBytes, "Setting"},
    {"TipSave", kTipBytes, "Save"},
    {"TipEMail", kTipBytes, "E-Mail"},
    {"TipHelp", kTipBytes, "Help"},
    {"TipDecZoom", kTipBytes, "Zoom Out"},
    {"TipIncZoom", kTipBytes, "Zoom In"},
    {"TipPlay", kTipBytes, "Play"},
    {"TipStop", kTipBytes, "Stop"},
    {"TipPause", kTipBytes, "Open"},
    {"TipFirst", kTipBytes, "First"},
    {"TipReward", kTipBytes, "Reward"},
    {"TipForward", kTipBytes, "Forward"},
    {"TipLast", kTipBytes, "Last"},

    // Menu bar, in menu order.
    {"File", kMainMenuBytes, "File"},
    {"Open", kMainMenuBytes, "Open"},
    {"Save", kMainMenuBytes, "Save"},
    {"Delete ", kMainMenuBytes, "Delete"},
    {"DeleteAll", kMainMenuBytes, "Delete All"},
    {"EMail", kMainMenuBytes, "EMail"},
    {"Setting", kMainMenuBytes, "Setting"},
    {"Device...", kMainMenuBytes, "Device..."},
    {"Cross", kMainMenuBytes, "Cross Line"},
    {"Scale", kMainMenuBytes, "Coordinates"},
    {"Circle", kMainMenuBytes, "Circle"},
    {"Time", kMainMenuBytes, "Timer"},
    {"Capture", kMainMenuBytes, "Capture"},
    {"Take Picture", kMainMenuBytes, "Take Picture"},
    {"Take Video", kMainMenuBytes, "Take Video"},
    {"Take time lapsed Pictures", kMainMenuBytes, "Take time lapsed Pictures"},
    {"Help", kMainMenuBytes, "Help"},
    {"ViewZentraManual", kMainMenuBytes, "Digital Microscope Manual"},
    {"ViewZentraUpdate", kMainMenuBytes, "Digital Microscope Update"},
    {"ViewZentraAbout", kMainMenuBytes, "About Digital Microscope "},

    // Pop-up menus.
    {"Open", 64, "Open"},
    {"Save", 64, "Save"},
    {"Delete", 64, "Delete"},
    {"DeleteAll", 64, "Delete All"},
    {"EMail", 64, "E-Mail"},
    {"Cross", 64, "Cross Line"},
    {"Scale", 64, "Coordinates"},
    {"Circle", 64, "Circles"},
    {"Time", 64, "Timer"},
    {"Compress", 64, "Compress"},
    {"VideoColor", 64, "Video Color"},
    {"VideoFormat", 64, "Video Format"},
    {"ViewZentraManual", 64, "Digital Microscope User Manual"},
    {"ViewZentraUpdate", 64, "Digital Microscope Update"},
    {"ViewZentraAbout", 64, "About Digital Microscope"},

    // About box.
    {"AboutViewZentra", 64, "About USB 2.0 Digital Microscope"},
    {"AboutViewZentra", 64, "USB 2.0 Digital Microscope"},
    {"AboutDescription", 64, "Dedicated for Halvik USB 2.0 Digital Microscope"},
    {"AboutVersion", 64, kVersionText},
    {"AboutCopyright", 64, kCopyrightText},
    {"Ok", 64, "OK"},

    // Video settings dialog.
    {"VideoSetting", 64, "Video Setting"},
    {"DeviceName", 64, "Device Name"},
    {"VideoCaptionDevice", 64, "Video Capture Device"},
    {"DeviceSetting", 64, "Device Setting"},
    {"VideoNorm", 64, "Video Norm"},
    {"VideoResolution", 64, "Video Resolution"},
    {"VideoProperies", 64, "Video Properies"},
    {"Default", 16, "Default"},
    {"Exit", 64, "Exit"},
    {"Ok", 64, "OK"},
    {"Brightness", 32, "Brightness"},
    {"Contrast", 32, "Contrast"},
    {"Saturation", 32, "Saturation"},
    {"Sharpness", 32, "Sharpness"},
    {"Gamma", 32, "Gamma"},
    {"Hue", 32, "Hue"},

    // Recorder settings dialog and compressor choice.
    {"RecorderSetting", 64, "Recorder Setting"},
    {"FrameRate", 64, "Frame rate"},
    {"TimerLimit", 64, "Timer limit"},
    {"Second", 64, "Second"},
    {"Compress", 64, "Compress"},
    {"OK", 64, "OK"},
    {"Cancel", 64, "Cancel"},
    {"CompressTilte", 64, "Compress Format Selection"},
    {"IntegerRange", 256, "Please enter an integer between %1 and %2."},
    // Compressor choice dialog.
    {"Compressor", 64, "Compressor:"},
    {"CompressQuality", 64, "Compression quality:"},
    {"KeyFrameEvery", 64, "Key frame every"},
    {"KeyFrameFrames", 64, "frames"},
    {"OK", 64, "OK"},
    {"Cancel", 64, "Cancel"},
    {"CompressSizeFail", 256, "%1 cannot record frames of %2 pixels."},
    {"CompressFail", 256, "%1 cannot be used: %2"},

    // Time-lapse dialog, at initialisation.
    {"CaptureSetting", 64, "Capture Setting"},
    {"StartTime", 64, "Start Time"},
    {"Interval", 64, "Interval"},
    {"Capture", 64, "Capture"},
    {"Frame", 64, "Frame"},
    {"Completed", 64, "Completed"},
    {"Start", 64, "Start"},
    {"Cancel", 64, "Cancel"},
    {"FileSize", 64, "File Size About"},
    // Time-lapse dialog, while running.
    {"Start", 260, "Start"},
    {"Stop", 260, "Stop"},
    {"SET_TIMER_FAIL", 260, "The time of your setting must be should be a future time!"},
    {"TimeLapseMissed", 64, "Missed"},
    {"TimeLapseMissedStills", 256, "%1 of the pictures could not be saved: %2"},
    {"TimeLapseDeviceGone", 256,
     "The microscope was disconnected. The time-lapse series stopped after %1 pictures."},
    {"TimeLapseResumed", 256,
     "The computer was asleep. The time-lapse series stopped after %1 pictures."},
    {"TimeLapseNoPicture", 256, "the microscope delivered no picture in time"},

    // E-mail.
    {"StartOutlook", 256, "Start outlook, Please waiting...."},
    {"SEND_CAMPLETE", 256, "Send Camplete"},
    {"MailNotInstalled", 256,
     "Mail cannot be started on this computer: the program xdg-email (package xdg-utils) is not "
     "installed."},
    {"MailNoProgram", 256, "No mail program is set up on this computer."},
    {"MailFailed", 256, "The mail program could not take the file %1: %2"},
    {"PlayFileFail", 256, "The video %1 cannot be played: %2"},

    // Measuring.
    {"Calibrate", 64, "Calibrate..."},
    {"ScaleBar", 64, "Scale Bar"},
    {"BurnOverlays", 64, "Burn Overlays into Stills"},
    {"Measure", 64, "Measure"},
    {"Calibrate", 64, "Calibrate..."},
    {"Calibration", 64, "Calibration"},
    {"NoCalibration", 64, "None (pixels)"},
    {"ScaleBar", 64, "Scale Bar"},
    {"CalibrateTitle", 64, "Calibrate"},
    {"CalibrateHint", 256,
     "Drag a line across an object of known length, such as a division of a calibration slide. "
     "Press Esc to stop."},
    {"CalibrateLine", 64, "Line drawn: %1 pixels"},
    {"CalibrateLength", 64, "Known length:"},
    {"CalibrateName", 64, "Name (objective or zoom):"},
    {"CalibrateResult", 64, "Scale: %1 per pixel"},
    {"CalibrateNoLine", 256, "The line has no length. Drag a line across the object first."},
    {"CalibrateBadLength", 256, "Please enter a length greater than zero."},
    {"CalibrateNoName", 256, "Please enter a name for this calibration."},
    {"CalibrateReplace", 256,
     "A calibration named %1 already exists for this resolution. Replace it?"},
    {"CalibrateSaveFail", 256, "The calibration could not be saved to %1: %2"},
    {"CalibrateReadFail", 256, "The calibrations in %1 could not be read: %2"},
    {"MeasureHint", 256, "Drag across the picture to measure. Press Esc to stop."},
    {"StatusFps", 64, "%1 frames/s"},
    {"StatusDropped", 64, "%1 dropped"},
    {"StatusNotCalibrated", 64, "not calibrated"},
    {"StatusScaledFrom", 64, "scaled from %1"},
};
static_assert(std::size(kTextTable) == static_cast<std::size_t>(TextId::Count),
              "one row for every TextId");

// A UTF-8 BOM marks a file saved as UTF-8 rather than in its code page.
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

}  // namespace

const TextEntry& TextEntryFor(TextId id) {
    return kTextTable[static_cast<std::size_t>(id)];
}

int GetLocalizedTextFrom(const std::string& languageFile, std::string_view key, std::string& text,
                         int sizeBytes, std::string_view defaultText) {
    text.clear();
    if (sizeBytes <= 0) {
        return 0;
    }
    const auto limit = static_cast<std::size_t>(sizeBytes - 1);
    const int fileCodePage = CodePageFromFileName(languageFile);

    std::optional<std::string> value;
    int valueCodePage = fileCodePage;
    if (std::optional<std::string> bytes = ReadProfileFile(languageFile)) {
        std::string_view content(*bytes);
        if (content.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
            content.remove_prefix(kUtf8Bom.size());
            valueCodePage = kUtf8;
        }
        value = FindProfileValue(content, kTextSection, key);
    }
    // The defaults are written in the program's own text, which is UTF-8.
    const ConvertedText converted = value
                                        ? ConvertToUtf8(*value, valueCodePage, limit, fileCodePage)
                                        : ConvertToUtf8(defaultText, kUtf8, limit, fileCodePage);
    text = converted.utf8;
    return static_cast<int>(converted.sourceBytes);
}

int GetLocalizedText(std::string_view key, std::string& text, int sizeBytes,
                     std::string_view defaultText) {
    return GetLocalizedTextFrom(CurrentProgramPaths().languageFilePath, key, text, sizeBytes,
                                defaultText);
}

QString LocalizedText(TextId id) {
    const TextEntry& entry = TextEntryFor(id);
    std::string text;
    GetLocalizedText(entry.key, text, entry.sizeBytes, entry.defaultText);
    return QString::fromStdString(text);
}

QString LocalizedText(TextId id, const QString& first, const QString& second) {
    QString text = LocalizedText(id);
    if (!text.contains(QLatin1String("%1")) || !text.contains(QLatin1String("%2"))) {
        text = QString::fromUtf8(TextEntryFor(id).defaultText);
    }
    return text.arg(first, second);
}
