#include "output/calibration.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFont>
#include <QImage>
#include <QLocale>
#include <QPainter>
#include <QPen>
#include <cmath>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "output/scale_overlays.h"
#include "support/temp_dir.h"

void PrintTo(const Calibration& c, std::ostream* out) {
    *out << c.device << " / " << c.name.toStdString() << " / " << c.resolution.width() << "x"
         << c.resolution.height() << " / " << c.micrometresPerPixel;
}

namespace {

using testsupport::TempDir;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(CalibrationArithmetic, ScaleFromALineOverAKnownLength) {
    struct Row {
        double pixels;
        double length;
        LengthUnit unit;
        std::optional<double> micrometresPerPixel;
    };
    const LengthUnit um = LengthUnit::kMicrometre;
    const LengthUnit mm = LengthUnit::kMillimetre;
    const Row rows[] = {
        {500, 1000, um, 2.0}, {500, 1, mm, 2.0},    {1, 1e5, um, 1e5}, {1, 100.001, mm, {}},
        {1e4, 1, um, 1e-4},   {1e4, 0.99, um, {}},  {0, 1000, um, {}}, {-500, 1000, um, {}},
        {kNaN, 1000, um, {}}, {kInf, 1000, um, {}}, {500, 0, um, {}},  {500, -1000, mm, {}},
        {500, kNaN, mm, {}},  {500, kInf, um, {}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(MicrometresPerPixel(row.pixels, row.length, row.unit), row.micrometresPerPixel)
            << row.pixels << " px over " << row.length;
    }
}

TEST(CalibrationArithmetic, ScaleAtOtherResolutionsAndLineLengths) {
    const Calibration calibration{"usb#vid_eb1a&pid_1860", QStringLiteral("×200"), QSize(1280, 960),
                                  *MicrometresPerPixel(500, 1000, LengthUnit::kMicrometre)};
    struct Row {
        QSize frame;
        double x;
        double y;
        QSize scaledFrom;
    };
    const Row rows[] = {
        {{1280, 960}, 2, 2, {}},
        {{640, 480}, 4, 4, {1280, 960}},
        {{2560, 1920}, 1, 1, {1280, 960}},
        {{640, 512}, 4, 3.75, {1280, 960}},
        {{0, 0}, 0, 0, {}},
    };
    for (const Row& row : rows) {
        const PictureScale scale = ScaleFor(calibration, row.frame);
        EXPECT_DOUBLE_EQ(scale.xMicrometresPerPixel, row.x) << row.frame.width();
        EXPECT_DOUBLE_EQ(scale.yMicrometresPerPixel, row.y) << row.frame.width();
        EXPECT_EQ(scale.scaledFrom, row.scaledFrom) << row.frame.width();
        EXPECT_EQ(scale.valid(), row.x > 0);
    }
    const PictureScale uneven = ScaleFor(calibration, QSize(640, 512));
    EXPECT_DOUBLE_EQ(LineMicrometres({10, 10}, {13, 14}, ScaleFor(calibration, {1280, 960})), 10);
    EXPECT_DOUBLE_EQ(LineMicrometres({0, 0}, {0, 8}, uneven), 30);
    EXPECT_DOUBLE_EQ(LineMicrometres({0, 0}, {8, 0}, uneven), 32);
    EXPECT_EQ(LineMicrometres({0, 0}, {8, 0}, PictureScale()), 0);
}

TEST(CalibrationArithmetic, TextsAndScaleBarLengths) {
    // "u" stands for the micro sign.
    const std::pair<double, const char*> lengths[] = {
        {12.34, "12.3 um"}, {0.25, "0.25 um"}, {0.123, "0.12 um"}, {200, "200 um"},
        {999.4, "999 um"},  {0, "0 um"},       {999.6, "1 mm"},    {1250, "1.25 mm"},
        {12345, "12.3 mm"}, {2000, "2 mm"},    {-1, ""},           {kNaN, ""},
    };
    QLocale::setDefault(QLocale(QLocale::German));  // a decimal comma must not leak in
    for (const auto& [micrometres, text] : lengths) {
        EXPECT_EQ(LengthText(micrometres),
                  QString::fromLatin1(text).replace(QLatin1Char('u'), QChar(0x00B5)))
            << micrometres;
    }
    EXPECT_EQ(PixelLengthText(350.4), QStringLiteral("350 px"));
    QLocale::setDefault(QLocale::c());

    const std::pair<double, double> bars[] = {
        {256, 200}, {200, 200},  {199.9, 100}, {4.99, 2},   {1, 1},       {0.3, 0.2},
        {0.1, 0.1}, {0.05, 0.1}, {0, 0.1},     {kNaN, 0.1}, {7000, 5000}, {10000, 10000},
    };
    for (const auto& [maximum, bar] : bars) {
        EXPECT_DOUBLE_EQ(RoundScaleBarMicrometres(maximum), bar) << maximum;
    }
}

TEST(CalibrationArithmetic, DeviceKeyIsTheUsbModelElseTheName) {
    const std::string key = "usb#vid_eb1a&pid_1860&mi_00";
    const std::pair<std::string, std::string> paths[] = {
        {"usb#vid_eb1a&pid_1860&mi_00#/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0", key},
        {"USB#VID_EB1A&PID_1860&MI_00#/devices/pci0000:00/0000:00:14.0/usb3/3-1/3-1:1.0", key},
        {"usb#vid_eb1a&pid_1860&mi_00", key},
        {"usb#/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0", "name:Cam"},
        {"platform#/devices/platform/vivid.0/video4linux/video0", "name:Cam"},
        {"pci#/devices/pci0000:00/0000:00:1f.0/video4linux/video0", "name:Cam"},
        {"", "name:Cam"},
    };
    for (const auto& [path, expected] : paths) {
        EXPECT_EQ(CalibrationDeviceKey(path, "Cam"), expected) << path;
    }
}

// --- The store ------------------------------------------------------------------------------

class CalibrationStoreTest : public ::testing::Test {
protected:
    QString Path() const { return QString::fromStdString(dir / "config/calibration.ini"); }
    std::string File() const { return dir / "config/calibration.ini"; }

    // A store with the sample calibrations saved, and what they are per device.
    void SaveSamples(CalibrationStore& store) {
        for (const Calibration& c : samples) {
            ASSERT_TRUE(store.Save(c)) << store.error().toStdString();
        }
        ASSERT_TRUE(store.SetCurrent(kMicroscope, QStringLiteral("Объектив 10×")));
        ASSERT_TRUE(store.SetCurrent(kNamed, QStringLiteral("物镜")));
    }
    std::vector<Calibration> All(const CalibrationStore& store) const {
        std::vector<Calibration> all;
        for (const std::string& device : {kMicroscope, kNamed}) {
            const std::vector<Calibration> some = store.ForDevice(device);
            all.insert(all.end(), some.begin(), some.end());
        }
        return all;
    }

    const std::string kMicroscope = "usb#vid_eb1a&pid_1860&mi_00";
    const std::string kNamed = "name:Cam \\ / # & = ; \"HD\", [1] @x";
    // In the order ForDevice gives them.
    const std::vector<Calibration> samples = {
        {kMicroscope, QStringLiteral("@at, \"q\"; =x"), {640, 480}, 1e5},
        {kMicroscope, QStringLiteral("×200"), {640, 480}, 4.1},
        {kMicroscope, QStringLiteral("×200"), {1280, 960}, 2},
        {kMicroscope, QStringLiteral("Объектив 10×"), {1600, 1200}, 1.0 / 3.0},
        {kNamed, QStringLiteral("物镜"), {320, 240}, 0.1},
        {kNamed, QStringLiteral("物镜"), {640, 480}, 1e-4},
    };
    TempDir dir;
};

TEST_F(CalibrationStoreTest, EveryDeviceAndNameRoundTrips) {
    CalibrationStore first(Path());
    EXPECT_TRUE(first.Load());  // no file yet: empty, no error
    EXPECT_EQ(first.error(), QString());
    QLocale::setDefault(QLocale(QLocale::German));
    SaveSamples(first);
    // Replacing one of the same device, name and size; the name is trimmed.
    ASSERT_TRUE(first.Save({kMicroscope, QStringLiteral(" ×200 "), {1280, 960}, 2.5}));
    QLocale::setDefault(QLocale::c());
    std::vector<Calibration> expected = samples;
    expected[2].micrometresPerPixel = 2.5;
    EXPECT_EQ(All(first), expected);
    EXPECT_NE(testsupport::ReadFile(File()).find("=0.1\n"), std::string::npos);

    CalibrationStore second(Path());
    EXPECT_TRUE(second.Load()) << second.error().toStdString();
    EXPECT_EQ(second.error(), QString());
    EXPECT_EQ(All(second), expected);
    EXPECT_EQ(second.Current(kMicroscope), QStringLiteral("Объектив 10×"));
    EXPECT_EQ(second.Current(kNamed), QStringLiteral("物镜"));
    EXPECT_EQ(second.Current("usb#vid_0000&pid_0000"), QString());
    EXPECT_TRUE(second.Contains(kMicroscope, QStringLiteral("×200"), {640, 480}));
    EXPECT_FALSE(second.Contains(kMicroscope, QStringLiteral("×200"), {800, 600}));
    EXPECT_FALSE(second.Contains(kNamed, QStringLiteral("×200"), {640, 480}));

    // Another copy of the program saves meanwhile: both calibrations are kept.
    ASSERT_TRUE(second.SetCurrent(kNamed, QString()));
    ASSERT_TRUE(first.Save({kNamed, QStringLiteral("new"), {640, 480}, 3}));
    CalibrationStore third(Path());
    third.Load();
    EXPECT_EQ(third.ForDevice(kNamed).size(), 3u);
    EXPECT_EQ(third.Current(kNamed), QString());
}

TEST_F(CalibrationStoreTest, ScaleOfTakesTheExactSizeElseTheNearestWidth) {
    CalibrationStore store(Path());
    SaveSamples(store);
    struct Row {
        QString name;
        QSize frame;
        double x;
        QSize scaledFrom;
    };
    const QString x200 = QStringLiteral("×200");
    const Row rows[] = {
        {x200, {640, 480}, 4.1, {}},
        {x200, {1280, 960}, 2, {}},
        {x200, {800, 600}, 4.1 * 640 / 800, {640, 480}},
        {x200, {1600, 1200}, 2 * 1280.0 / 1600, {1280, 960}},
        {QStringLiteral("物镜"), {640, 480}, 0, {}},  // another device's name
        {QStringLiteral("×2000"), {640, 480}, 0, {}},
        {x200, {0, 0}, 0, {}},
    };
    for (const Row& row : rows) {
        const PictureScale scale = store.ScaleOf(kMicroscope, row.name, row.frame);
        EXPECT_DOUBLE_EQ(scale.xMicrometresPerPixel, row.x) << row.frame.width();
        EXPECT_EQ(scale.scaledFrom, row.scaledFrom) << row.frame.width();
        EXPECT_EQ(scale.name, row.x > 0 ? row.name : QString());
    }
}

// The text of a calibration file with `entries` ("device|name|width|height|scale", a field
// "-" left out) and "usb#a|good" as current.
std::string CalibrationFile(const std::vector<std::string>& entries) {
    const char* keys[] = {"device", "name", "width", "height", "micrometresPerPixel"};
    std::string text = "[General]\ncalibrationCount=" + std::to_string(entries.size()) +
                       "\ncurrentCount=1\n\n[calibrations]\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::size_t start = 0;
        for (const char* key : keys) {
            const std::size_t end = std::min(entries[i].find('|', start), entries[i].size());
            const std::string value = entries[i].substr(start, end - start);
            if (value != "-") {
                text += std::to_string(i + 1) + "\\" + key + "=" + value + "\n";
            }
            start = end + 1;
        }
    }
    return text + "size=" + std::to_string(entries.size()) +
           "\n\n[current]\n1\\device=usb#a\n1\\name=good\nsize=1\n";
}

TEST_F(CalibrationStoreTest, DamagedFilesGiveTheirSoundEntriesAndSayWhy) {
    std::mt19937 random(7);
    std::string garbage(64 * 1024, '\0');
    for (char& byte : garbage) {
        byte = static_cast<char>(random());
    }
    struct Row {
        const char* what;
        std::string bytes;
        std::vector<QString> names;  // of device "usb#a"
    };
    const Row rows[] = {
        {"nonsense values",
         CalibrationFile({"usb#a|good|640|480|2", "usb#a|b1|640|480|abc", "usb#a|b2|640|480|-2",
                          "usb#a|b3|640|480|nan", "usb#a| |640|480|2", "usb#a|b5|0|480|2",
                          "usb#a|b6|640|-|2", "usb#a|b7|640|480|1e9", "-|b8|640|480|2",
                          "usb#a|b9, b10|640|480|2", "usb#a|b11|640|480|@Variant(\\0\\0\\0\\x2)"}),
         {QStringLiteral("good")}},
        {"binary garbage", garbage, {}},
        {"garbage after a sound file",
         CalibrationFile({"usb#a|good|640|480|2"}) + garbage,
         {QStringLiteral("good")}},
        {"another program's file", "[Desktop Entry]\nName=x\nExec=y\n", {}},
        {"a count that says more",
         QString::fromStdString(CalibrationFile({"usb#a|good|640|480|2"}))
             .replace(QStringLiteral("calibrationCount=1"), QStringLiteral("calibrationCount=2"))
             .toStdString(),
         {QStringLiteral("good")}},
    };
    for (const Row& row : rows) {
        testsupport::WriteFile(dir / "calibration.ini", row.bytes);
        CalibrationStore store(QString::fromStdString(dir / "calibration.ini"));
        EXPECT_FALSE(store.Load()) << row.what;
        EXPECT_NE(store.error(), QString()) << row.what;
        std::vector<QString> names;
        for (const Calibration& c : store.ForDevice("usb#a")) {
            names.push_back(c.name);
        }
        EXPECT_EQ(names, row.names) << row.what << ": " << store.error().toStdString();
    }

    // A folder in the file's place is said, and left alone.
    ASSERT_EQ(::mkdir((dir / "folder.ini").c_str(), 0700), 0);
    CalibrationStore folder(QString::fromStdString(dir / "folder.ini"));
    EXPECT_FALSE(folder.Load());
    EXPECT_NE(folder.error(), QString());
    EXPECT_FALSE(folder.Save(samples[0]));
    EXPECT_TRUE(testsupport::IsDirectory(dir / "folder.ini"));
}

// Cut anywhere, a file never yields a calibration it did not hold, and never loses one
// without saying so.
TEST_F(CalibrationStoreTest, AFileCutShortAnywhereIsNoticed) {
    CalibrationStore writer(Path());
    SaveSamples(writer);
    const std::string whole = testsupport::ReadFile(File());
    for (std::size_t length = 1; length < whole.size(); ++length) {
        testsupport::WriteFile(File(), whole.substr(0, length));
        CalibrationStore store(Path());
        store.Load();
        const std::vector<Calibration> read = All(store);
        for (const Calibration& c : read) {
            EXPECT_NE(std::find(samples.begin(), samples.end(), c), samples.end()) << length;
        }
        if (store.error().isEmpty()) {
            EXPECT_EQ(read, samples) << "cut at " << length;
            EXPECT_EQ(store.Current(kNamed), QStringLiteral("物镜")) << "cut at " << length;
        }
    }
}

TEST_F(CalibrationStoreTest, SavingOverADamagedFileKeepsItAside) {
    CalibrationStore writer(Path());
    SaveSamples(writer);
    const std::string whole = testsupport::ReadFile(File());
    for (const std::string aside : {"calibration.ini.damaged", "calibration.ini.damaged.2"}) {
        const std::string damaged = whole.substr(0, whole.size() / 2);
        testsupport::WriteFile(File(), damaged);
        CalibrationStore store(Path());
        EXPECT_FALSE(store.Load());
        const std::size_t sound = All(store).size();
        ASSERT_TRUE(store.Save({kNamed, QStringLiteral("new"), {640, 480}, 3}));
        EXPECT_EQ(store.error(), QString());
        EXPECT_EQ(store.damagedCopyPath().toStdString(), dir / ("config/" + aside));
        EXPECT_EQ(testsupport::ReadFile(dir / ("config/" + aside)), damaged);
        CalibrationStore reread(Path());
        EXPECT_TRUE(reread.Load()) << reread.error().toStdString();
        EXPECT_EQ(All(reread).size(), sound + 1);
    }
}

TEST_F(CalibrationStoreTest, AFailedSaveLeavesStoreAndFileAsTheyWere) {
    CalibrationStore store(Path());
    SaveSamples(store);
    const std::string before = testsupport::ReadFile(File());
    const Calibration unusable[] = {
        {kMicroscope, QStringLiteral("  "), {640, 480}, 2},
        {kMicroscope, QStringLiteral("x"), {0, 480}, 2},
        {kMicroscope, QStringLiteral("x"), {640, 480}, 0},
        {kMicroscope, QStringLiteral("x"), {640, 480}, kNaN},
        {"", QStringLiteral("x"), {640, 480}, 2},
    };
    for (const Calibration& c : unusable) {
        EXPECT_FALSE(store.Save(c)) << c.name.toStdString();
        EXPECT_NE(store.error(), QString());
    }
    EXPECT_EQ(All(store), samples);

    // A folder on the way that is a file: fails even for root.
    testsupport::WriteFile(dir / "plain", "x");
    CalibrationStore blocked(QString::fromStdString(dir / "plain/calibration.ini"));
    EXPECT_FALSE(blocked.Save(samples[0]));
    EXPECT_NE(blocked.error(), QString());
    EXPECT_TRUE(blocked.ForDevice(kMicroscope).empty());

    if (::geteuid() == 0) {
        GTEST_SKIP() << "a read-only folder does not stop root";
    }
    ASSERT_EQ(::chmod((dir / "config").c_str(), 0500), 0);
    EXPECT_FALSE(store.Save({kMicroscope, QStringLiteral("x"), {640, 480}, 2}));
    EXPECT_NE(store.error(), QString());
    EXPECT_FALSE(store.SetCurrent(kMicroscope, QStringLiteral("×200")));
    EXPECT_EQ(All(store), samples);
    EXPECT_EQ(store.Current(kMicroscope), QStringLiteral("Объектив 10×"));
    EXPECT_EQ(testsupport::ReadFile(File()), before);
    CalibrationStore reread(Path());
    EXPECT_TRUE(reread.Load());
    EXPECT_EQ(All(reread), samples);
}

// --- The painters -----------------------------------------------------------------------------

constexpr QRgb kGrey = 0xFF808080u;
constexpr QRgb kWhite = 0xFFFFFFFFu;
constexpr QRgb kBlack = 0xFF000000u;

PictureScale Scale(double micrometresPerPixel) {
    return {micrometresPerPixel, micrometresPerPixel, QStringLiteral("×200"), {}};
}

// The longest run of `colour` on any row, and where it ends.
struct WhiteRun {
    int length = 0;
    int lastX = -1;
    int y = -1;
};
WhiteRun LongestRun(const QImage& image, QRgb colour) {
    WhiteRun longest;
    for (int y = 0; y < image.height(); ++y) {
        int length = 0;
        for (int x = 0; x < image.width(); ++x) {
            length = image.pixel(x, y) == colour ? length + 1 : 0;
            if (length > longest.length) {
                longest = {length, x, y};
            }
        }
    }
    return longest;
}

TEST(ScaleOverlays, TheScaleBarFollowsScaleAndZoom) {
    struct Row {
        QSize client;
        QRectF target;
        QSize frame;
        double micrometresPerPixel;
        double barMicrometres;
        double barFramePixels;
        int barClientPixels;
    };
    const Row rows[] = {
        {{640, 480}, {0, 0, 640, 480}, {640, 480}, 2, 200, 100, 100},
        // Zoomed twice: the same client holds half the micrometres.
        {{640, 480}, {-320, -240, 1280, 960}, {640, 480}, 2, 100, 50, 100},
        {{1280, 1024}, {0, 0, 1280, 1024}, {1280, 1024}, 0.5, 100, 200, 200},
        // A 1280x960 frame stretched over a 620x480 window.
        {{620, 480}, {0, 0, 620, 480}, {1280, 960}, 2, 500, 250, 121},
        {{640, 480}, {0, 0, 640, 480}, {640, 480}, 0, 0, 0, 0},
    };
    for (const Row& row : rows) {
        const PictureScale scale = Scale(row.micrometresPerPixel);
        const ScaleBarChoice choice =
            ChooseScaleBar(QRect(QPoint(), row.client), row.target, row.frame, scale);
        EXPECT_DOUBLE_EQ(choice.micrometres, row.barMicrometres) << row.client.width();
        EXPECT_DOUBLE_EQ(choice.framePixels, row.barFramePixels) << row.client.width();

        QImage image(row.client, QImage::Format_RGB32);
        image.fill(kGrey);
        QPainter painter(&image);
        DrawScaleBar(painter, QRect(QPoint(), row.client), row.target, row.frame, scale);
        painter.end();
        const WhiteRun bar = LongestRun(image, kWhite);
        if (row.barClientPixels == 0) {
            EXPECT_EQ(LongestRun(image, kGrey).length, row.client.width());
            EXPECT_EQ(bar.length, 0);
            continue;
        }
        EXPECT_EQ(bar.length, row.barClientPixels) << row.client.width();
        EXPECT_GT(bar.lastX, row.client.width() * 9 / 10);
        EXPECT_GT(bar.y, row.client.height() * 9 / 10);
        EXPECT_EQ(image.pixel(bar.lastX + 1, bar.y), kBlack);  // the outline
    }
}

// The x of the middle of each yellow stretch on row y.
std::vector<double> YellowMiddles(const QImage& image, int y) {
    std::vector<double> middles;
    int start = -1;
    for (int x = 0; x <= image.width(); ++x) {
        const QRgb p = x < image.width() ? image.pixel(x, y) : kBlack;
        const bool yellow = qRed(p) > 150 && qGreen(p) > 120 && qBlue(p) < 90;
        if (yellow && start < 0) {
            start = x;
        } else if (!yellow && start >= 0) {
            middles.push_back((start + x) / 2.0);
            start = -1;
        }
    }
    return middles;
}

// Label text pixels (white) above and below row y, within [x0, x1).
std::pair<int, int> WhiteAboveAndBelow(const QImage& image, int y, int x0, int x1) {
    std::pair<int, int> count;
    for (int row = 0; row < image.height(); ++row) {
        for (int x = x0; x < x1; ++x) {
            const QRgb p = image.pixel(x, row);
            if (qRed(p) > 200 && qGreen(p) > 200 && qBlue(p) > 200) {
                (row < y ? count.first : count.second) += 1;
            }
        }
    }
    return count;
}

TEST(ScaleOverlays, TheMeasurementLandsOnTheShownFramePoints) {
    // The client is the left 640x480 of the image; nothing may reach the rest.
    const QRect client(0, 0, 640, 480);
    const QSize frame(640, 480);
    const QRectF zoomed(-160, -120, 1280, 960);  // twice, centred
    const QString label = QStringLiteral("123 µm");
    struct Row {
        QPointF from;
        QPointF to;
        std::vector<double> tickXs;
        int lineY;
        int middleX;  // of the part inside the client
        bool labelAbove;
    };
    const Row rows[] = {
        {{200, 200}, {360, 200}, {240, 560}, 280, 400, true},
        {{200, 200}, {700, 200}, {240}, 280, 440, true},     // runs out of the client
        {{300, 66}, {380, 66}, {440, 600}, 12, 520, false},  // no room above
    };
    for (const Row& row : rows) {
        QImage image(800, 600, QImage::Format_RGB32);
        image.fill(kBlack);
        QPainter painter(&image);
        DrawMeasurement(painter, client, zoomed, frame, row.from, row.to, label);
        painter.end();
        // A row the ticks cross, a few pixels off the line on the side without the label.
        const std::vector<double> ticks =
            YellowMiddles(image, row.labelAbove ? row.lineY + 5 : row.lineY - 5);
        ASSERT_EQ(ticks.size(), row.tickXs.size()) << row.to.x();
        for (std::size_t i = 0; i < ticks.size(); ++i) {
            EXPECT_NEAR(ticks[i], row.tickXs[i], 1.0) << row.to.x();
        }
        // The line's middle is not covered by the label, which is on the side with room.
        EXPECT_EQ(YellowMiddles(image, row.lineY).size(), 1u) << row.to.x();
        const QRgb onLine = image.pixel(row.middleX, row.lineY);
        EXPECT_TRUE(qRed(onLine) > 150 && qBlue(onLine) < 90) << row.to.x();
        const auto [above, below] =
            WhiteAboveAndBelow(image, row.lineY, row.middleX - 60, row.middleX + 60);
        EXPECT_GT(row.labelAbove ? above : below, 20) << row.to.x();
        EXPECT_EQ(row.labelAbove ? below : above, 0) << row.to.x();
        for (int y = 0; y < image.height(); ++y) {
            for (int x = y < 480 ? 640 : 0; x < image.width(); ++x) {
                ASSERT_EQ(image.pixel(x, y), kBlack) << "outside the client at " << x << "," << y;
            }
        }
    }
}

TEST(ScaleOverlays, PaintersLeaveThePainterAsFound) {
    QImage image(640, 480, QImage::Format_RGB32);
    image.fill(kGrey);
    QPainter painter(&image);
    const QPen pen(Qt::red, 3);
    const QFont font(QStringLiteral("Sans"), 11);
    painter.setPen(pen);
    painter.setBrush(Qt::blue);
    painter.setFont(font);
    painter.setClipRect(QRect(10, 10, 600, 400));
    const QRect client(0, 0, 640, 480);
    const QRectF target(client);
    DrawScaleBar(painter, client, target, client.size(), Scale(2));
    DrawMeasurement(painter, client, target, client.size(), {10, 10}, {300, 200},
                    QStringLiteral("1 mm"));
    EXPECT_EQ(painter.pen(), pen);
    EXPECT_EQ(painter.brush(), QBrush(Qt::blue));
    EXPECT_EQ(painter.font(), font);
    EXPECT_EQ(painter.clipBoundingRect(), QRectF(10, 10, 600, 400));
    EXPECT_FALSE(painter.testRenderHint(QPainter::Antialiasing));
}

}  // namespace
