#pragma once

#include <QPointF>
#include <QSize>
#include <QString>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Measuring in micrometres: a calibration says how many micrometres one pixel of the frame
// covers at one magnification; the arithmetic below turns it into scales, lengths and texts.
// The functions are pure and may be called from any thread.

enum class LengthUnit { kMicrometre, kMillimetre };

// The scales a calibration may have. Outside them a line or a length was surely mistyped.
inline constexpr double kMinMicrometresPerPixel = 1e-4;
inline constexpr double kMaxMicrometresPerPixel = 1e5;

// Micrometres per pixel from a line `pixels` long drawn over an object `length` long (in
// `unit`). Nothing when pixels or length is not a finite number above 0, or when the result
// lies outside [kMinMicrometresPerPixel, kMaxMicrometresPerPixel]. 500 px over 1000 µm gives 2.
std::optional<double> MicrometresPerPixel(double pixels, double length, LengthUnit unit);

// One calibration: made on a device, at a resolution, under a name the user gave ("×200").
struct Calibration {
    std::string device;  // CalibrationDeviceKey
    QString name;        // any Unicode, trimmed, not empty
    QSize resolution;    // the frame size it was made at
    double micrometresPerPixel = 0;
    bool operator==(const Calibration&) const = default;
};

// The scale of frames of some size: micrometres per pixel along x and y. Invalid (both 0)
// means "not calibrated". `scaledFrom` is the resolution the calibration was made at when that
// differs from the frames' size (the scale was then converted), else empty.
struct PictureScale {
    double xMicrometresPerPixel = 0;
    double yMicrometresPerPixel = 0;
    QString name;
    QSize scaledFrom;
    bool valid() const;
};

// The calibration's scale for frames of `frameSize`: its own value at its own resolution; at
// another resolution scaled by the ratio of the widths (x) and of the heights (y), so a
// 2 µm/px calibration made at 1280x960 gives 4 µm/px at 640x480. Invalid for an empty size or
// an unusable calibration.
PictureScale ScaleFor(const Calibration& calibration, QSize frameSize);

// Length in micrometres of the line from `from` to `to` (frame pixel coordinates); 0 when the
// scale is invalid.
double LineMicrometres(QPointF from, QPointF to, const PictureScale& scale);

// A length for people: below 1000 µm in micrometres with 3 significant digits and at most 2
// decimals ("12.3 µm", "0.25 µm", "200 µm"), from 1 mm in millimetres the same way ("1.25 mm",
// "12 mm"). Trailing zeros are left out; the decimal mark is a point. Empty for a negative or
// non-finite length.
QString LengthText(double micrometres);
// Whole pixels: "350 px". Empty for a negative or non-finite length.
QString PixelLengthText(double pixels);

// The scale bar's length: the largest round length of the 1-2-5 series (..., 1, 2, 5, 10, 20,
// 50, 100, 200, 500 µm, 1, 2, 5, 10 mm ...) not longer than `maxMicrometres`; when even the
// smallest one shown (kMinScaleBarMicrometres) is longer, or the input is not a finite number
// above 0, that one. 256 µm gives 200 µm.
inline constexpr double kMinScaleBarMicrometres = 0.1;
double RoundScaleBarMicrometres(double maxMicrometres);

// The device part of a calibration's key, the same for the same model on any USB port and
// after plugging it in again: for a USB devicePath with vendor and product id
// ("usb#vid_eb1a&pid_1860&mi_00#/devices/pci0000:00/.../video4linux/video0") the part before
// the second '#', lower-case ("usb#vid_eb1a&pid_1860&mi_00"). Any other path ("platform#...",
// "pci#...", a USB node whose ids could not be read, "usb#/devices/...") gives
// "name:" + friendlyName.
std::string CalibrationDeviceKey(const std::string& devicePath, const std::string& friendlyName);

// The calibrations of every device, and the one chosen as current per device, kept in an INI
// file. Lookups read memory; Save and SetCurrent write the whole file anew under a hidden name
// beside it and rename that over it, so the file is always either the old or the new one.
// UI thread.
//
// The file:
//   [General]
//   calibrationCount=1
//   currentCount=1
//   [calibrations]
//   1\device=usb#vid_eb1a&pid_1860&mi_00
//   1\name=×200
//   1\width=1280
//   1\height=960
//   1\micrometresPerPixel=2
//   size=1
//   [current]
//   1\device=usb#vid_eb1a&pid_1860&mi_00
//   1\name=×200
//   size=1
// Device keys and names are values, never keys, so any text goes. Numbers are written and
// read in the C locale ("0.25" everywhere). The counts at the top and the "size" after each
// list tell a file cut short from a whole one.
class CalibrationStore {
public:
    explicit CalibrationStore(QString filePath = DefaultCalibrationPath());

    // "<configuration folder>/calibration.ini": the per-user folder the program keeps
    // CapConfig.dat in when it cannot keep it beside itself (QStandardPaths::AppConfigLocation,
    // ~/.config/digital-microscope for the program; for a test program its own name). The
    // folder is made when the file is first written.
    static QString DefaultCalibrationPath();
    const QString& filePath() const { return filePath_; }

    // Reads the file. A missing file is an empty store and no error. From a file that cannot
    // be read or is damaged (not INI, not ours, entries with a missing, non-numeric, impossible
    // or out-of-range scale, empty names or devices, bad sizes, missing entries) the sound
    // entries are kept, Load returns false and error() says why in plain lower-case words,
    // to follow "The calibrations in <file> could not be read: ". Never crashes, whatever the
    // bytes; a FIFO or device in the file's place is not opened, a folder is reported.
    bool Load();
    // Why the last Load, Save or SetCurrent failed or found damage; "" when it had nothing to
    // say.
    const QString& error() const { return error_; }

    // Every calibration of `device`, any resolution, ordered by name (ignoring case first),
    // then by width and height.
    std::vector<Calibration> ForDevice(const std::string& device) const;
    // Whether one of that device, name and resolution exists.
    bool Contains(const std::string& device, const QString& name, QSize resolution) const;

    // Adds the calibration, or replaces the one of the same device, name and resolution, and
    // writes the file. The name is trimmed. Before writing, the file is read again when it was
    // never read or changed since this store last read or wrote it (another copy of the
    // program saved), so what is there is kept. A file found damaged is moved aside to
    // "calibration.ini.damaged" (".damaged.2", ... when that exists; none is ever replaced)
    // once the new file is ready, and damagedCopyPath() names it. False, with error() saying
    // why (to follow "The calibration could not be saved: "), when the calibration is
    // unusable (empty name or device, empty resolution, scale out of range) or the file cannot
    // be written (read-only folder, full disk); the store in memory is then as before.
    bool Save(const Calibration& calibration);

    // The name chosen as current for `device`; "" when none (measure in pixels).
    QString Current(const std::string& device) const;
    // Chooses `name` (trimmed; "" for none) as current for `device` and writes the file as
    // Save does.
    bool SetCurrent(const std::string& device, const QString& name);

    // The scale for frames of `frameSize` under `name` on `device`: the calibration of that
    // name at exactly that size when there is one; else the one of that name whose width is
    // nearest (then height; then the larger), converted by ScaleFor (scaledFrom says so).
    // Invalid when the name has no calibration on that device or the size is empty.
    PictureScale ScaleOf(const std::string& device, const QString& name, QSize frameSize) const;

    // Where the last successful Save or SetCurrent kept the damaged file; "" when it kept none.
    const QString& damagedCopyPath() const { return damagedCopyPath_; }

private:
    // What a file held, as far as it could be read.
    struct Contents {
        std::vector<Calibration> calibrations;  // sorted, one per device, name and resolution
        std::map<std::string, QString> current;
        QString damage;  // why it could not be read wholly; "" when it could
    };
    // Enough to tell whether the file changed since it was last read or written.
    struct FileStamp {
        bool exists = false;
        std::int64_t sizeBytes = 0;
        std::int64_t modifiedNs = 0;
        std::uint64_t inode = 0;
        bool operator==(const FileStamp&) const = default;
    };

    static Contents Read(const QString& path);
    static FileStamp StampOf(const QString& path);
    // Writes `contents` to the file, first moving a damaged one aside; commits them to the
    // store when that worked, else leaves store and file as they were and sets error_.
    bool Write(Contents contents);
    // The contents to change: the store's, or the file's when it changed meanwhile.
    Contents Latest() const;
    // Renames the damaged file at `path` to the first free "<path>.damaged" name; false with
    // error_ set when it cannot.
    bool MoveDamagedFileAside(const QString& path);

    QString filePath_;
    std::vector<Calibration> calibrations_;
    std::map<std::string, QString> current_;
    QString error_;
    QString damagedCopyPath_;
    bool damaged_ = false;  // the file holds more than the store could read
    bool loaded_ = false;
    FileStamp stamp_;  // of the file as last read or written
};
