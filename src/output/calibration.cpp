#include "output/calibration.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QVariant>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <tuple>
#include <utility>

#include "platform/regular_files.h"

namespace {

constexpr double kMicrometresPerMillimetre = 1000.0;
// A calibration file holds a few hundred bytes per calibration; anything far larger is not
// one, and is not read into memory.
constexpr qint64 kMaxFileBytes = 4 * 1024 * 1024;
constexpr int kMaxFrameSide = 65536;

bool IsPositive(double value) {
    return std::isfinite(value) && value > 0;
}

bool IsUsableScale(double micrometresPerPixel) {
    return std::isfinite(micrometresPerPixel) && micrometresPerPixel >= kMinMicrometresPerPixel &&
           micrometresPerPixel <= kMaxMicrometresPerPixel;
}

bool IsUsableResolution(QSize size) {
    return size.width() >= 1 && size.height() >= 1 && size.width() <= kMaxFrameSide &&
           size.height() <= kMaxFrameSide;
}

// Decimals that give `value` 3 significant digits, but no more than 2.
int DecimalsFor(double value) {
    if (value <= 0) {
        return 2;
    }
    const int magnitude = static_cast<int>(std::floor(std::log10(value)));
    return std::clamp(2 - magnitude, 0, 2);
}

QString WithoutTrailingZeros(QString text) {
    if (!text.contains(QLatin1Char('.'))) {
        return text;
    }
    while (text.endsWith(QLatin1Char('0'))) {
        text.chop(1);
    }
    if (text.endsWith(QLatin1Char('.'))) {
        text.chop(1);
    }
    return text;
}

// QString::number is independent of the locale: a point, no group separators.
QString RoundedNumber(double value) {
    return WithoutTrailingZeros(QString::number(value, 'f', DecimalsFor(value)));
}

// By device, then by name ignoring case (then with case), then by width and height.
bool Before(const Calibration& a, const Calibration& b) {
    const QString aFolded = a.name.toCaseFolded();
    const QString bFolded = b.name.toCaseFolded();
    return std::forward_as_tuple(a.device, aFolded, a.name, a.resolution.width(),
                                 a.resolution.height()) <
           std::forward_as_tuple(b.device, bFolded, b.name, b.resolution.width(),
                                 b.resolution.height());
}

bool SameEntry(const Calibration& a, const std::string& device, const QString& name,
               QSize resolution) {
    return a.device == device && a.name == name && a.resolution == resolution;
}

// Adds `calibration` in order, or replaces the one of the same device, name and size.
void Put(std::vector<Calibration>& calibrations, Calibration calibration) {
    const auto same = std::find_if(calibrations.begin(), calibrations.end(), [&](const auto& c) {
        return SameEntry(c, calibration.device, calibration.name, calibration.resolution);
    });
    if (same != calibrations.end()) {
        *same = std::move(calibration);
        return;
    }
    const auto place =
        std::upper_bound(calibrations.begin(), calibrations.end(), calibration, Before);
    calibrations.insert(place, std::move(calibration));
}

// --- Reading the INI file -------------------------------------------------------------------

const QString kCalibrationsGroup = QStringLiteral("calibrations");
const QString kCurrentGroup = QStringLiteral("current");
const QString kDeviceKey = QStringLiteral("device");
const QString kNameKey = QStringLiteral("name");
const QString kWidthKey = QStringLiteral("width");
const QString kHeightKey = QStringLiteral("height");
const QString kScaleKey = QStringLiteral("micrometresPerPixel");
const QString kSizeKey = QStringLiteral("size");
const QString kCalibrationCountKey = QStringLiteral("calibrationCount");
const QString kCurrentCountKey = QStringLiteral("currentCount");

// A value the file holds as text; nothing for a missing key or a value that QSettings reads
// as something else (a list, a serialised variant): this program writes only text.
std::optional<QString> TextValue(const QSettings& settings, const QString& key) {
    const QVariant value = settings.value(key);
    if (value.typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    return value.toString();
}

std::optional<int> IntValue(const QSettings& settings, const QString& key) {
    const std::optional<QString> text = TextValue(settings, key);
    bool ok = false;
    const int value = text ? text->trimmed().toInt(&ok) : 0;
    return ok ? std::optional<int>(value) : std::nullopt;
}

std::optional<double> DoubleValue(const QSettings& settings, const QString& key) {
    const std::optional<QString> text = TextValue(settings, key);
    bool ok = false;
    const double value = text ? text->trimmed().toDouble(&ok) : 0.0;
    return ok ? std::optional<double>(value) : std::nullopt;
}

std::string DeviceValue(const QSettings& settings) {
    const std::optional<QString> device = TextValue(settings, kDeviceKey);
    return device ? device->toStdString() : std::string();
}

QString NameValue(const QSettings& settings) {
    return TextValue(settings, kNameKey).value_or(QString()).trimmed();
}

// One calibration from the current array entry; nothing when any value is missing or unsound.
std::optional<Calibration> ReadCalibration(const QSettings& settings) {
    Calibration calibration;
    calibration.device = DeviceValue(settings);
    calibration.name = NameValue(settings);
    const std::optional<int> width = IntValue(settings, kWidthKey);
    const std::optional<int> height = IntValue(settings, kHeightKey);
    const std::optional<double> scale = DoubleValue(settings, kScaleKey);
    if (calibration.device.empty() || calibration.name.isEmpty() || !width || !height || !scale ||
        !IsUsableResolution(QSize(*width, *height)) || !IsUsableScale(*scale)) {
        return std::nullopt;
    }
    calibration.resolution = QSize(*width, *height);
    calibration.micrometresPerPixel = *scale;
    return calibration;
}

// One list of the file (a QSettings array) as far as it could be read. Two counts say how
// long it should be: "<list>Count" in [General], which QSettings writes first, and the
// array's "size", which it writes after the entries; a file cut short anywhere lacks or
// contradicts one of them.
struct ListReading {
    int found = 0;    // entries in the file
    int damaged = 0;  // of them left out
    std::optional<int> declaredCount;
    std::optional<int> size;

    int declared() const { return declaredCount.value_or(-1); }
    bool cutShort() const {
        return declared() >= 0 &&
               (found < declared() || (found == declared() && declared() > 0 && size != found));
    }
};

// Reads the list `group` entry by entry, in the order of their numbers, with `readEntry`
// (called inside the entry's group; true when the entry was sound).
template <typename ReadEntry>
ListReading ReadList(QSettings& settings, const QString& group, const QString& countKey,
                     ReadEntry readEntry) {
    ListReading list;
    list.declaredCount = IntValue(settings, countKey);
    settings.beginGroup(group);
    std::vector<std::pair<int, QString>> numbered;
    const QStringList entries = settings.childGroups();
    for (const QString& entry : entries) {
        bool ok = false;
        const int index = entry.toInt(&ok);
        if (ok && index > 0) {
            numbered.emplace_back(index, entry);
        } else {
            ++list.damaged;
        }
    }
    std::sort(numbered.begin(), numbered.end());
    for (const auto& [index, entry] : numbered) {
        settings.beginGroup(entry);
        if (!readEntry(settings)) {
            ++list.damaged;
        }
        settings.endGroup();
    }
    list.found = static_cast<int>(entries.size());
    list.size = IntValue(settings, kSizeKey);
    settings.endGroup();
    return list;
}

ListReading ReadCalibrations(QSettings& settings, std::vector<Calibration>& calibrations) {
    return ReadList(settings, kCalibrationsGroup, kCalibrationCountKey,
                    [&](const QSettings& entry) {
                        std::optional<Calibration> calibration = ReadCalibration(entry);
                        if (calibration) {
                            Put(calibrations, std::move(*calibration));
                        }
                        return calibration.has_value();
                    });
}

ListReading ReadCurrentNames(QSettings& settings, std::map<std::string, QString>& current) {
    return ReadList(settings, kCurrentGroup, kCurrentCountKey, [&](const QSettings& entry) {
        std::string device = DeviceValue(entry);
        QString name = NameValue(entry);
        if (device.empty() || name.isEmpty()) {
            return false;
        }
        current[std::move(device)] = std::move(name);
        return true;
    });
}

// What was wrong with the lists, in words; "" when nothing was. `lastLineCut` says that the
// file did not end with a whole line.
QString ListDamage(const ListReading& calibrations, const ListReading& current, bool lastLineCut) {
    QStringList why;
    if (lastLineCut || calibrations.cutShort() || current.cutShort()) {
        const int missing = calibrations.declared() - calibrations.found;
        why << (missing > 0 ? QStringLiteral("the file ends early (%1 of %2 calibrations are "
                                             "missing)")
                                  .arg(missing)
                                  .arg(calibrations.declared())
                            : QStringLiteral("the file ends early"));
    }
    for (const auto& [list, what] :
         {std::make_pair(&calibrations, QStringLiteral("calibrations")),
          std::make_pair(&current, QStringLiteral("choices of the current calibration"))}) {
        if (list->damaged > 0) {
            why << QStringLiteral(
                       "%1 of %2 %3 hold a missing or impossible value and were "
                       "left out")
                       .arg(list->damaged)
                       .arg(list->found)
                       .arg(what);
        }
        if (list->declared() < 0) {
            why << QStringLiteral("the number of %1 is missing").arg(what);
        } else if (list->found > list->declared()) {
            why << QStringLiteral("it holds more %1 than it says").arg(what);
        }
    }
    return why.join(QStringLiteral("; "));
}

QString FileErrorWords(int error) {
    return QString::fromStdString(platform::FileErrorText(error));
}

// The file's bytes, when it is a regular file of a sensible size. `problem` says why not, and
// stays empty for a missing file (no fault: nothing was saved yet).
struct FileBytes {
    bool exists = false;
    QByteArray bytes;
    QString problem;
};

FileBytes ReadFileBytes(const QString& path) {
    FileBytes file;
    const platform::OpenedFile opened =
        platform::OpenRegularFileForReading(QFile::encodeName(path).toStdString());
    file.exists = opened.error != ENOENT;
    if (opened.error == ENOENT) {
        return file;
    }
    if (opened.error == EISDIR) {
        file.problem = QStringLiteral("a folder is in its place");
    } else if (opened.error != 0) {
        file.problem = QStringLiteral("it cannot be opened (%1)").arg(FileErrorWords(opened.error));
    } else if (opened.sizeBytes > kMaxFileBytes) {
        file.problem = QStringLiteral("it is far too large to hold calibrations (%1 bytes)")
                           .arg(static_cast<qint64>(opened.sizeBytes));
    }
    if (!file.problem.isEmpty()) {
        return file;
    }
    file.bytes.resize(kMaxFileBytes + 1);
    qsizetype filled = 0;
    while (filled < file.bytes.size()) {
        const ssize_t got = ::read(opened.fd.get(), file.bytes.data() + filled,
                                   static_cast<std::size_t>(file.bytes.size() - filled));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            file.problem = QStringLiteral("it cannot be read (%1)").arg(FileErrorWords(errno));
            return file;
        }
        if (got == 0) {
            break;
        }
        filled += got;
    }
    if (filled > kMaxFileBytes) {
        file.problem = QStringLiteral("it is far too large to hold calibrations");
    }
    file.bytes.truncate(filled);
    return file;
}

// --- Writing ----------------------------------------------------------------------------------

void WriteCalibrations(QSettings& settings, const std::vector<Calibration>& calibrations) {
    settings.beginWriteArray(kCalibrationsGroup, static_cast<int>(calibrations.size()));
    int index = 0;
    for (const Calibration& calibration : calibrations) {
        settings.setArrayIndex(index++);
        settings.setValue(kDeviceKey, QString::fromStdString(calibration.device));
        settings.setValue(kNameKey, calibration.name);
        settings.setValue(kWidthKey, QString::number(calibration.resolution.width()));
        settings.setValue(kHeightKey, QString::number(calibration.resolution.height()));
        settings.setValue(kScaleKey, QString::number(calibration.micrometresPerPixel, 'g',
                                                     QLocale::FloatingPointShortest));
    }
    settings.endArray();
}

void WriteCurrentNames(QSettings& settings, const std::map<std::string, QString>& current) {
    settings.beginWriteArray(kCurrentGroup, static_cast<int>(current.size()));
    int index = 0;
    for (const auto& [device, name] : current) {
        settings.setArrayIndex(index++);
        settings.setValue(kDeviceKey, QString::fromStdString(device));
        settings.setValue(kNameKey, name);
    }
    settings.endArray();
}

// Why QSettings could not write into `folder`, as far as can be told afterwards.
QString WriteProblem(const QString& folder) {
    struct statvfs space = {};
    if (::statvfs(QFile::encodeName(folder).constData(), &space) == 0 && space.f_bavail == 0) {
        return QStringLiteral("the disk is full");
    }
    return QStringLiteral("the file could not be written in %1").arg(folder);
}

// The INI text of the calibrations, written with QSettings into a new hidden file in
// `folder`. Each write takes a fresh name: QSettings keeps what it read and what it failed to
// write of every file in a cache by name, which must never leak into a later write or read.
// The file is removed again with `temporary` unless the caller keeps it.
QString WriteNewIniFile(const QString& folder, const QString& fileName,
                        const std::vector<Calibration>& calibrations,
                        const std::map<std::string, QString>& current, QTemporaryFile& temporary) {
    temporary.setFileTemplate(folder + QStringLiteral("/.") + fileName + QStringLiteral(".XXXXXX"));
    if (!temporary.open()) {
        return QStringLiteral("no file can be made in %1 (%2)")
            .arg(folder, temporary.errorString());
    }
    temporary.close();
    QSettings settings(temporary.fileName(), QSettings::IniFormat);
    settings.clear();
    settings.setValue(kCalibrationCountKey, QString::number(calibrations.size()));
    settings.setValue(kCurrentCountKey, QString::number(current.size()));
    WriteCalibrations(settings, calibrations);
    WriteCurrentNames(settings, current);
    settings.sync();
    return settings.status() == QSettings::NoError ? QString() : WriteProblem(folder);
}

QString UnusableCalibration(const Calibration& calibration) {
    if (calibration.device.empty()) {
        return QStringLiteral("the device is not known");
    }
    if (calibration.name.trimmed().isEmpty()) {
        return QStringLiteral("the calibration has no name");
    }
    if (!IsUsableResolution(calibration.resolution)) {
        return QStringLiteral("the resolution %1x%2 is not a picture size")
            .arg(calibration.resolution.width())
            .arg(calibration.resolution.height());
    }
    if (!IsUsableScale(calibration.micrometresPerPixel)) {
        return QStringLiteral("the scale is not between %1 and %2 micrometres per pixel")
            .arg(kMinMicrometresPerPixel)
            .arg(kMaxMicrometresPerPixel);
    }
    return {};
}

}  // namespace

// --- The arithmetic ---------------------------------------------------------------------------

std::optional<double> MicrometresPerPixel(double pixels, double length, LengthUnit unit) {
    if (!IsPositive(pixels) || !IsPositive(length)) {
        return std::nullopt;
    }
    const double micrometres =
        unit == LengthUnit::kMillimetre ? length * kMicrometresPerMillimetre : length;
    const double scale = micrometres / pixels;
    if (!IsUsableScale(scale)) {
        return std::nullopt;
    }
    return scale;
}

bool PictureScale::valid() const {
    return IsPositive(xMicrometresPerPixel) && IsPositive(yMicrometresPerPixel);
}

PictureScale ScaleFor(const Calibration& calibration, QSize frameSize) {
    PictureScale scale;
    if (frameSize.width() <= 0 || frameSize.height() <= 0 ||
        !IsUsableResolution(calibration.resolution) ||
        !IsPositive(calibration.micrometresPerPixel)) {
        return scale;
    }
    const double micrometresPerPixel = calibration.micrometresPerPixel;
    scale.xMicrometresPerPixel =
        micrometresPerPixel * calibration.resolution.width() / frameSize.width();
    scale.yMicrometresPerPixel =
        micrometresPerPixel * calibration.resolution.height() / frameSize.height();
    scale.name = calibration.name;
    if (calibration.resolution != frameSize) {
        scale.scaledFrom = calibration.resolution;
    }
    return scale;
}

double LineMicrometres(QPointF from, QPointF to, const PictureScale& scale) {
    if (!scale.valid()) {
        return 0;
    }
    const double dx = (to.x() - from.x()) * scale.xMicrometresPerPixel;
    const double dy = (to.y() - from.y()) * scale.yMicrometresPerPixel;
    return std::hypot(dx, dy);
}

QString LengthText(double micrometres) {
    if (!std::isfinite(micrometres) || micrometres < 0) {
        return {};
    }
    // Whether it is shown in micrometres follows the rounded value: 999.7 µm reads "1 mm".
    const QString inMicrometres = QString::number(micrometres, 'f', DecimalsFor(micrometres));
    if (inMicrometres.toDouble() < kMicrometresPerMillimetre) {
        return WithoutTrailingZeros(inMicrometres) + QStringLiteral(u" \u00B5m");
    }
    return RoundedNumber(micrometres / kMicrometresPerMillimetre) + QStringLiteral(" mm");
}

QString PixelLengthText(double pixels) {
    if (!std::isfinite(pixels) || pixels < 0) {
        return {};
    }
    return QString::number(std::round(pixels), 'f', 0) + QStringLiteral(" px");
}

double RoundScaleBarMicrometres(double maxMicrometres) {
    if (!std::isfinite(maxMicrometres) || maxMicrometres <= kMinScaleBarMicrometres) {
        return kMinScaleBarMicrometres;
    }
    // A hair of tolerance, so that 0.3 (not exactly 3 * 0.1) still allows 0.2 and 200 allows
    // 200 whichever way the power of ten rounds.
    const double limit = maxMicrometres * (1 + 1e-12);
    for (int exponent = static_cast<int>(std::floor(std::log10(maxMicrometres))) + 1;; --exponent) {
        const double power = std::pow(10.0, exponent);
        for (const double mantissa : {5.0, 2.0, 1.0}) {
            const double length = mantissa * power;
            if (length <= limit) {
                return std::max(length, kMinScaleBarMicrometres);
            }
        }
    }
}

std::string CalibrationDeviceKey(const std::string& devicePath, const std::string& friendlyName) {
    std::string lower = devicePath;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    const std::string usbPrefix = "usb#vid_";
    if (lower.compare(0, usbPrefix.size(), usbPrefix) == 0) {
        return lower.substr(0, lower.find('#', usbPrefix.size()));
    }
    return "name:" + friendlyName;
}

// --- The store --------------------------------------------------------------------------------

CalibrationStore::CalibrationStore(QString filePath) : filePath_(std::move(filePath)) {}

QString CalibrationStore::DefaultCalibrationPath() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    if (folder.isEmpty()) {
        return {};
    }
    return folder + QStringLiteral("/calibration.ini");
}

CalibrationStore::FileStamp CalibrationStore::StampOf(const QString& path) {
    FileStamp stamp;
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return stamp;
    }
    stamp.exists = true;
    stamp.sizeBytes = static_cast<std::int64_t>(info.st_size);
    stamp.modifiedNs = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 +
                       static_cast<std::int64_t>(info.st_mtim.tv_nsec);
    stamp.inode = static_cast<std::uint64_t>(info.st_ino);
    return stamp;
}

CalibrationStore::Contents CalibrationStore::Read(const QString& path) {
    Contents contents;
    FileBytes file = ReadFileBytes(path);
    contents.damage = file.problem;
    if (!file.exists || !file.problem.isEmpty() || file.bytes.trimmed().isEmpty()) {
        return contents;
    }
    const bool lastLineCut = !file.bytes.endsWith('\n');
    if (lastLineCut) {
        // Every line is written whole: a last line without its end was cut, and its value
        // may be cut too ("0.25" to "0.2"), so it is not read at all.
        file.bytes.truncate(file.bytes.lastIndexOf('\n') + 1);
    }
    // QSettings reads a private copy under a fresh name, so that its cache by file name cannot
    // answer with an earlier content of the same size and time.
    const QTemporaryDir folder;
    const QString copy = folder.filePath(QStringLiteral("calibration.ini"));
    QFile out(copy);
    if (!folder.isValid() || !out.open(QIODevice::WriteOnly) ||
        out.write(file.bytes) != file.bytes.size() || !out.flush()) {
        contents.damage = QStringLiteral("no temporary copy could be made to read it");
        return contents;
    }
    out.close();
    QSettings settings(copy, QSettings::IniFormat);
    if (!settings.contains(kCalibrationCountKey) &&
        !settings.childGroups().contains(kCalibrationsGroup)) {
        contents.damage = QStringLiteral("it is not a calibration file");
        return contents;
    }
    const ListReading calibrations = ReadCalibrations(settings, contents.calibrations);
    const ListReading current = ReadCurrentNames(settings, contents.current);
    contents.damage = ListDamage(calibrations, current, lastLineCut);
    if (settings.status() != QSettings::NoError) {
        contents.damage += (contents.damage.isEmpty() ? QString() : QStringLiteral("; ")) +
                           QStringLiteral("it holds lines that are not INI");
    }
    return contents;
}

bool CalibrationStore::Load() {
    const FileStamp stamp = StampOf(filePath_);
    Contents contents = Read(filePath_);
    calibrations_ = std::move(contents.calibrations);
    current_ = std::move(contents.current);
    error_ = std::move(contents.damage);
    damaged_ = !error_.isEmpty();
    loaded_ = true;
    stamp_ = stamp;
    return !damaged_;
}

std::vector<Calibration> CalibrationStore::ForDevice(const std::string& device) const {
    std::vector<Calibration> found;
    std::copy_if(calibrations_.begin(), calibrations_.end(), std::back_inserter(found),
                 [&](const Calibration& c) { return c.device == device; });
    return found;
}

bool CalibrationStore::Contains(const std::string& device, const QString& name,
                                QSize resolution) const {
    const QString trimmed = name.trimmed();
    return std::any_of(calibrations_.begin(), calibrations_.end(), [&](const Calibration& c) {
        return SameEntry(c, device, trimmed, resolution);
    });
}

QString CalibrationStore::Current(const std::string& device) const {
    const auto found = current_.find(device);
    return found != current_.end() ? found->second : QString();
}

PictureScale CalibrationStore::ScaleOf(const std::string& device, const QString& name,
                                       QSize frameSize) const {
    const QString trimmed = name.trimmed();
    const Calibration* best = nullptr;
    const auto distance = [&](const Calibration& c) {
        // Nearest width, then nearest height, then the larger.
        return std::make_tuple(std::abs(c.resolution.width() - frameSize.width()),
                               std::abs(c.resolution.height() - frameSize.height()),
                               -c.resolution.width(), -c.resolution.height());
    };
    for (const Calibration& calibration : calibrations_) {
        if (calibration.device == device && calibration.name == trimmed &&
            (best == nullptr || distance(calibration) < distance(*best))) {
            best = &calibration;
        }
    }
    return best != nullptr ? ScaleFor(*best, frameSize) : PictureScale();
}

CalibrationStore::Contents CalibrationStore::Latest() const {
    if (loaded_ && StampOf(filePath_) == stamp_) {
        return {calibrations_, current_, damaged_ ? error_ : QString()};
    }
    return Read(filePath_);
}

bool CalibrationStore::Save(const Calibration& calibration) {
    Calibration trimmed = calibration;
    trimmed.name = calibration.name.trimmed();
    const QString unusable = UnusableCalibration(trimmed);
    if (!unusable.isEmpty()) {
        error_ = unusable;
        return false;
    }
    Contents contents = Latest();
    Put(contents.calibrations, std::move(trimmed));
    return Write(std::move(contents));
}

bool CalibrationStore::SetCurrent(const std::string& device, const QString& name) {
    if (device.empty()) {
        error_ = QStringLiteral("the device is not known");
        return false;
    }
    Contents contents = Latest();
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty()) {
        contents.current.erase(device);
    } else {
        contents.current[device] = trimmed;
    }
    return Write(std::move(contents));
}

bool CalibrationStore::MoveDamagedFileAside(const QString& path) {
    for (int number = 1; number <= 100; ++number) {
        const QString aside = path + QStringLiteral(".damaged") +
                              (number > 1 ? QStringLiteral(".%1").arg(number) : QString());
        const int error = platform::RenameNoReplace(QFile::encodeName(path).toStdString(),
                                                    QFile::encodeName(aside).toStdString());
        if (error == 0) {
            damagedCopyPath_ = aside;
            return true;
        }
        if (error != EEXIST) {
            error_ = QStringLiteral("the damaged file could not be kept as %1 (%2)")
                         .arg(aside, FileErrorWords(error));
            return false;
        }
    }
    error_ = QStringLiteral(
        "the damaged file could not be kept: there are too many damaged "
        "copies beside it");
    return false;
}

bool CalibrationStore::Write(Contents contents) {
    damagedCopyPath_.clear();
    if (filePath_.isEmpty()) {
        error_ = QStringLiteral("there is no configuration folder to keep them in");
        return false;
    }
    // Through symbolic links: the file they lead to is replaced and the links stay.
    const platform::WriteTarget target =
        platform::ResolveWriteTarget(QFile::encodeName(filePath_).toStdString());
    if (target.error != 0) {
        error_ =
            target.error == EISDIR
                ? QStringLiteral("a folder is in the file's place")
                : QStringLiteral("it cannot be replaced (%1)").arg(FileErrorWords(target.error));
        return false;
    }
    const QString path = QFile::decodeName(QByteArray::fromStdString(target.path));
    const QFileInfo pathInfo(path);
    const QString folder = pathInfo.absolutePath();
    if (const int error = platform::MakeFolderPath(QFile::encodeName(folder).toStdString());
        error != 0) {
        error_ =
            QStringLiteral("the folder %1 cannot be made (%2)").arg(folder, FileErrorWords(error));
        return false;
    }
    QTemporaryFile written;
    const QString failure = WriteNewIniFile(folder, pathInfo.fileName(), contents.calibrations,
                                            contents.current, written);
    if (!failure.isEmpty()) {
        error_ = failure;
        return false;
    }
    struct stat old = {};
    if (target.exists && ::stat(QFile::encodeName(path).constData(), &old) == 0) {
        // The new file is made private; one that replaces another keeps its permissions.
        ::chmod(QFile::encodeName(written.fileName()).constData(), old.st_mode & 07777);
    }
    // A damaged file is moved aside, never replaced: what could not be read is still there.
    if (!contents.damage.isEmpty() && target.exists && !MoveDamagedFileAside(path)) {
        return false;
    }
    if (::rename(QFile::encodeName(written.fileName()).constData(),
                 QFile::encodeName(path).constData()) != 0) {
        error_ = QStringLiteral("the file could not be replaced (%1)").arg(FileErrorWords(errno));
        if (!damagedCopyPath_.isEmpty() &&
            platform::RenameNoReplace(QFile::encodeName(damagedCopyPath_).toStdString(),
                                      QFile::encodeName(path).toStdString()) == 0) {
            damagedCopyPath_.clear();
        }
        return false;
    }
    written.setAutoRemove(false);
    calibrations_ = std::move(contents.calibrations);
    current_ = std::move(contents.current);
    error_.clear();
    damaged_ = false;
    loaded_ = true;
    stamp_ = StampOf(filePath_);
    return true;
}
