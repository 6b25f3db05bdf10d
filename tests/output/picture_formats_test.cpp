#include "output/picture_formats.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QImage>
#include <algorithm>
#include <array>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "output/bitmap_builder.h"
#include "output/still_file.h"
#include "support/media_probe.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::TempDir;
using testsupport::WriteFile;

constexpr double kTwoMicrometres = 500000;  // pixels per metre at 2 µm a pixel

// A still frame of noise, padding included, so that nothing compresses it away and a wrong
// byte shows.
struct Frame {
    Frame(int frameWidth, int frameHeight) : width(frameWidth), height(frameHeight) {
        const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
        bytes.resize(stride * static_cast<std::size_t>(height));
        std::uint32_t state = 12345;
        for (std::uint8_t& byte : bytes) {
            state = state * 1103515245 + 12345;
            byte = static_cast<std::uint8_t>(state >> 16);
        }
    }
    StillFrame View() const {
        return StillFrame{bytes.data(), bytes.size(), bytes.size(), width, height};
    }
    // Red, green, blue, top row first, as `convert FILE rgb:-` gives them.
    std::string Rgb() const {
        const std::size_t stride = bytes.size() / static_cast<std::size_t>(height);
        std::string rgb;
        for (int y = height - 1; y >= 0; --y) {
            const std::uint8_t* row = bytes.data() + static_cast<std::size_t>(y) * stride;
            for (int x = 0; x < width; ++x) {
                rgb += {static_cast<char>(row[3 * x + 2]), static_cast<char>(row[3 * x + 1]),
                        static_cast<char>(row[3 * x])};
            }
        }
        return rgb;
    }
    int width;
    int height;
    std::vector<std::uint8_t> bytes;
};

bool HaveTool(const char* tool) {
    return !RunCommand(std::string("command -v ") + tool).empty();
}

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

std::string DecodedRgb(const std::string& path) {
    return RunCommand("convert " + Quoted(path) + " -depth 8 rgb:- 2>&1");
}

std::string Identify(const std::string& path) {
    return RunCommand("identify -verbose " + Quoted(path) + " 2>&1");
}

std::string TiffInfo(const std::string& path) {
    return RunCommand("tiffinfo " + Quoted(path) + " 2>&1");
}

std::uint32_t Big32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
    }
    return value;
}

// The chunks of a PNG file that carry metadata, as stored.
struct PngChunks {
    std::string phys;                          // "x y unit", empty without pHYs
    std::map<std::string, std::string> texts;  // keyword -> "tEXt value" / "iTXt value"
};

PngChunks ReadPngChunks(const std::string& file) {
    PngChunks chunks;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::uint32_t length = Big32(file, at);
        const std::string type = file.substr(at + 4, 4);
        const std::string data = file.substr(at + 8, length);
        at += 12 + length;
        if (type == "pHYs") {
            chunks.phys = std::to_string(Big32(data, 0)) + " " + std::to_string(Big32(data, 4)) +
                          " " + std::to_string(static_cast<int>(data[8]));
        } else if (type == "tEXt") {
            const std::size_t nul = data.find('\0');
            chunks.texts[data.substr(0, nul)] = "tEXt " + data.substr(nul + 1);
        } else if (type == "iTXt") {
            // keyword NUL, compression flag and method, language NUL, translated keyword NUL
            const std::size_t keyEnd = data.find('\0');
            const std::size_t languageEnd = data.find('\0', keyEnd + 3);
            const std::size_t translatedEnd = data.find('\0', languageEnd + 1);
            chunks.texts[data.substr(0, keyEnd)] = "iTXt " + data.substr(translatedEnd + 1);
        }
    }
    return chunks;
}

// The application's name and version for one test, as "Software" records them.
class ApplicationName {
public:
    ApplicationName(const char* name, const char* version)
        : name_(QCoreApplication::applicationName()),
          version_(QCoreApplication::applicationVersion()) {
        QCoreApplication::setApplicationName(QString::fromUtf8(name));
        QCoreApplication::setApplicationVersion(QString::fromUtf8(version));
    }
    ~ApplicationName() {
        QCoreApplication::setApplicationName(name_);
        QCoreApplication::setApplicationVersion(version_);
    }

private:
    QString name_;
    QString version_;
};

// A file size limit makes every write past it fail, as a full disk would.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) : handler_(std::signal(SIGXFSZ, SIG_IGN)) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        struct rlimit small = old_;
        small.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, handler_);
    }

private:
    struct rlimit old_ = {};
    void (*handler_)(int);
};

const QDateTime kCaptured(QDate(2026, 2, 14), QTime(10, 30, 0), Qt::OffsetFromUTC, 3600);

TEST(PictureFormats, AreNamedByWordsAndExtensionsInAnyCase) {
    using F = PictureFormat;
    const struct {
        const char* path;
        std::optional<PictureFormat> format;
    } cases[] = {
        {"/p/StillCap1.png", F::kPng}, {"Cap.TIFF", F::kTiff},   {"a.b.Tif", F::kTiff},
        {"x.JPEG", F::kJpeg},          {"x.jpg", F::kJpeg},      {"x.Bmp", F::kBmp},
        {"x.gif", std::nullopt},       {"png", std::nullopt},    {"/a.png/b", std::nullopt},
        {"x.png.", std::nullopt},      {"x.pngx", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PictureFormatOfPath(c.path), c.format) << c.path;
    }
    EXPECT_EQ(PictureFormatNamed("TiFf"), F::kTiff);
    EXPECT_EQ(PictureFormatNamed("tiff "), std::nullopt);
}

TEST(StillPictures, KeepEveryPixelAtOddSizes) {
    if (!HaveTool("convert")) {
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    }
    TempDir folder;
    const std::pair<int, int> sizes[] = {{1, 1}, {1, 4}, {3, 2}, {5, 1}, {6, 5}, {65, 3}};
    for (const PictureFormat format : {PictureFormat::kPng, PictureFormat::kTiff}) {
        for (const auto& [width, height] : sizes) {
            const Frame frame(width, height);
            const std::string path =
                folder / ("still." + std::string(PictureFormatExtension(format)));
            SCOPED_TRACE(path + " " + std::to_string(width) + "x" + std::to_string(height));
            ASSERT_TRUE(WriteStillPicture(path, frame.View(), format, {}).ok());
            EXPECT_EQ(DecodedRgb(path), frame.Rgb());
        }
    }
}

// Everything a file shows of itself: the metadata chunks of a PNG file as stored, then what
// identify (and, for TIFF, tiffinfo) reads from it.
std::string Report(const std::string& path) {
    std::string report;
    if (PictureFormatOfPath(path) == PictureFormat::kPng) {
        const PngChunks chunks = ReadPngChunks(ReadFile(path));
        if (!chunks.phys.empty()) {
            report += "pHYs " + chunks.phys + "\n";
        }
        for (const auto& [keyword, value] : chunks.texts) {
            report += value.substr(0, 5) + keyword + ": " + value.substr(5) + "\n";
        }
    } else {
        report += TiffInfo(path);
    }
    return report + Identify(path);
}

bool HaveTools() {
    return HaveTool("identify") && HaveTool("tiffinfo") && HaveTool("convert");
}

#define SKIP_WITHOUT_TOOLS()                                                            \
    if (!HaveTools()) {                                                                 \
        GTEST_SKIP() << "ImageMagick (identify, convert) or tiffinfo is not installed"; \
    }

const char kTimes200[] =
    "\xC3\x97"
    "200";                                                        // "×200"
const char kObjective[] = "\xE7\x89\xA9\xE9\x95\x9C 10\xC3\x97";  // "物镜 10×"

TEST(StillPictures, CarryTheirScaleTimeAndNames) {
    SKIP_WITHOUT_TOOLS();
    const ApplicationName application("picture-test", "1.2");
    const PictureMetadata everything{kTwoMicrometres, kTwoMicrometres, kCaptured, kTimes200,
                                     kObjective};
    // 1.3 µm across, 2.5 µm down, a time in UTC.
    const PictureMetadata uneven{1e6 / 1.3, 400000,
                                 QDateTime(QDate(2026, 2, 14), QTime(9, 30, 0), Qt::UTC),
                                 "Simulated Microscope", ""};
    const struct {
        const char* name;
        PictureMetadata metadata;
        std::vector<std::string> present;
        std::vector<std::string> absent;
    } cases[] = {
        {"all.png",
         everything,
         {"pHYs 500000 500000 1", "tEXt Creation Time: 2026-02-14T10:30:00+01:00",
          // Latin-1 in tEXt, and identify shows the byte as it stands.
          "tEXt Source: \xD7"
          "200",
          "tEXt Software: picture-test 1.2", std::string("iTXt Calibration: ") + kObjective,
          "  Resolution: 5000x5000\n  Print size: 0.0128x0.0096\n  Units: PixelsPerCentimeter",
          "    Creation Time: 2026-02-14T10:30:00+01:00\n",
          "    png:pHYs: x_res=500000, y_res=500000, units=1\n",
          "    Source: \xD7"
          "200\n"},
         {}},
        {"none.png", {}, {"tEXt Software: picture-test 1.2"}, {"pHYs", "Time", "Source", "Calib"}},
        {"uneven.png",
         uneven,
         {"pHYs 769231 400000 1", "tEXt Creation Time: 2026-02-14T09:30:00+00:00",
          "tEXt Source: Simulated Microscope", "  Resolution: 7692.31x4000\n"},
         {"Calibration"}},
        {"all.tif",
         everything,
         {"  Resolution: 5000, 5000 pixels/cm\n", "  DateTime: 2026:02:14 10:30:00\n",
          std::string("  Model: ") + kTimes200 + "\n", "  Software: picture-test 1.2\n",
          std::string("  ImageDescription: Calibration: ") + kObjective + "\n",
          "  Compression Scheme: LZW\n", "  Resolution: 5000x5000\n",
          "  Units: PixelsPerCentimeter\n", "    tiff:timestamp: 2026:02:14 10:30:00\n",
          std::string("    tiff:model: ") + kTimes200 + "\n"},
         {}},
        {"none.tif",
         {},
         {"  Software: picture-test 1.2\n"},
         {"pixels/cm", "DateTime", "Model", "ImageDescription"}},
        {"uneven.tif",
         uneven,
         {"  Resolution: 7692.31, 4000 pixels/cm\n", "  DateTime: 2026:02:14 09:30:00\n",
          "  Model: Simulated Microscope\n"},
         {"ImageDescription"}},
    };
    TempDir folder;
    const Frame frame(64, 48);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder / c.name;
        const IoResult written =
            WriteStillPicture(path, frame.View(), *PictureFormatOfPath(path), c.metadata);
        ASSERT_TRUE(written.ok()) << written.detail();
        const std::string report = Report(path);
        for (const std::string& line : c.present) {
            EXPECT_NE(report.find(line), std::string::npos) << line << "\n" << report;
        }
        for (const std::string& word : c.absent) {
            EXPECT_EQ(report.find(word), std::string::npos) << word << "\n" << report;
        }
        EXPECT_EQ(DecodedRgb(path), frame.Rgb());
    }
    // Qt reads both kinds of text chunk back as the names they were.
    const QImage read(QString::fromStdString(folder / "all.png"));
    EXPECT_EQ(read.text(QStringLiteral("Source")).toStdString(), kTimes200);
    EXPECT_EQ(read.text(QStringLiteral("Calibration")).toStdString(), kObjective);
}

// The local time zone for one test.
class TimeZone {
public:
    explicit TimeZone(const char* rule) {
        if (const char* saved = std::getenv("TZ")) {
            saved_ = saved;
        }
        ::setenv("TZ", rule, 1);
        ::tzset();
    }
    ~TimeZone() {
        if (saved_) {
            ::setenv("TZ", saved_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

private:
    std::optional<std::string> saved_;
};

TEST(ConvertBitmapFile, KeepsThePixelsAndTheBitmapsScaleUnlessGivenOne) {
    SKIP_WITHOUT_TOOLS();
    const TimeZone utc("UTC0");
    TempDir folder;
    const auto byMagick = [&](const char* name, const char* density) {
        const std::string path = folder / name;
        RunCommand("convert -size 64x48 xc:red " + std::string(density) + " " + Quoted(path));
        return path;
    };
    const std::string red = std::string("\xFF\0\0", 3);
    std::string allRed;
    for (int i = 0; i < 64 * 48; ++i) {
        allRed += red;
    }
    // 3 x 2 pixels of 8 bits: blue and red through a two-colour table, no resolution.
    outputtest::BitmapLayout indexed;
    indexed.width = 3;
    indexed.height = 2;
    indexed.bitCount = 8;
    indexed.clrUsed = 2;
    indexed.colourTable = {0xFF, 0, 0, 0, 0, 0, 0xFF, 0};
    indexed.rows = {0, 1, 1, 0, /* top: */ 1, 0, 0, 0};
    WriteFile(folder / "indexed.bmp", outputtest::AsString(outputtest::MakeBitmapFile(indexed)));
    const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (folder / "indexed.bmp").c_str(), times, 0), 0);
    const std::string blue = std::string("\0\0\xFF", 3);

    const struct {
        std::string source;
        const char* target;
        PictureMetadata metadata;
        std::string pixels;
        std::vector<std::string> present;
    } cases[] = {
        {byMagick("cm.bmp", "-density 5000 -units PixelsPerCentimeter"),
         "cm.png",
         {},
         allRed,
         {"pHYs 500000 500000 1", "  Resolution: 5000x5000\n"}},
        {byMagick("inch.bmp", "-density 127 -units PixelsPerInch"),
         "inch.tif",
         {},
         allRed,
         {"  Resolution: 50, 50 pixels/cm\n"}},
        // A scale given is the one recorded, whatever the file states.
        {folder / "cm.bmp",
         "given.png",
         {1e6, 1e6, {}, "", ""},
         allRed,
         {"pHYs 1000000 1000000 1"}},
        // Without a capture time, the file's own time counts.
        {folder / "indexed.bmp",
         "indexed.png",
         {},
         red + blue + blue + blue + red + red,
         {"tEXt Creation Time: 2001-09-09T01:46:40+00:00"}},
        {folder / "indexed.bmp",
         "indexed.tif",
         {0, 0, kCaptured, "", ""},
         red + blue + blue + blue + red + red,
         {"  DateTime: 2026:02:14 10:30:00\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        const std::string target = folder / c.target;
        const IoResult converted =
            ConvertBitmapFile(c.source, target, *PictureFormatOfPath(target), c.metadata);
        ASSERT_TRUE(converted.ok()) << converted.detail();
        EXPECT_EQ(DecodedRgb(target), c.pixels);
        const std::string report = Report(target);
        for (const std::string& line : c.present) {
            EXPECT_NE(report.find(line), std::string::npos) << line << "\n" << report;
        }
    }
    EXPECT_EQ(ReadPngChunks(ReadFile(folder / "indexed.png")).phys, "");
}

TEST(ConvertBitmapFile, RefusesBadBitmapsAndLeavesNothingBehind) {
    TempDir folder;
    const std::string whole = outputtest::AsString(outputtest::MakeBitmapFile(
        {.width = 64, .height = 48, .rows = std::vector<std::uint8_t>(64 * 48 * 3, 7)}));
    const auto bitmap = [&](const char* name, std::string bytes) {
        WriteFile(folder / name, bytes);
        return folder / name;
    };
    std::string lying = whole;
    lying[18] = '\x7f';  // biWidth 127 x 48: rows past the end of the file
    const struct {
        std::string source;
        int error;
    } cases[] = {
        {bitmap("text.bmp", "not a bitmap"), EBADMSG},
        {bitmap("empty.bmp", ""), EBADMSG},
        {bitmap("truncated.bmp", whole.substr(0, whole.size() / 2)), EBADMSG},
        {bitmap("lying.bmp", lying), EBADMSG},
        {bitmap("fields.bmp",
                outputtest::AsString(outputtest::MakeBitmapFile({.width = 1,
                                                                 .height = 1,
                                                                 .bitCount = 32,
                                                                 .compression = kBiBitfields,
                                                                 .rows = {0, 0, 0, 0}}))),
         ENOTSUP},
        {folder / "missing.bmp", ENOENT},
    };
    WriteFile(folder / "older.png", "older");
    WriteFile(folder / "older.tif", "older");
    const std::vector<std::string> before = testsupport::EntryNames(folder.path());
    for (const auto& c : cases) {
        for (const char* target : {"older.png", "older.tif"}) {
            SCOPED_TRACE(c.source + " -> " + target);
            const IoResult converted =
                ConvertBitmapFile(c.source, folder / target, *PictureFormatOfPath(target), {});
            EXPECT_EQ(converted.error(), c.error);
            EXPECT_EQ(converted.detail().rfind("cannot read " + c.source + ": ", 0), 0u)
                << converted.detail();
            EXPECT_EQ(ReadFile(folder / target), "older");
        }
    }
    // Nor is a bitmap converted over itself.
    const std::string self = bitmap("self.bmp", whole);
    EXPECT_EQ(ConvertBitmapFile(self, self, PictureFormat::kPng, {}).detail(),
              "cannot write " + self + ": it names the bitmap file being converted");
    EXPECT_EQ(ReadFile(self), whole);
    std::vector<std::string> after = testsupport::EntryNames(folder.path());
    std::erase(after, "self.bmp");
    EXPECT_EQ(after, before);
}

TEST(PictureFiles, AFullDiskFailsCleanlyAndLeavesNothingBehind) {
    TempDir folder;
    const Frame frame(64, 64);  // 12 KiB of noise, which no compression makes smaller
    WriteFile(folder / "source.bmp", outputtest::AsString(outputtest::MakeBitmapFile(
                                         {.width = 64, .height = 64, .rows = frame.bytes})));
    StillWriter writer(folder.path());
    const struct {
        const char* name;
        std::function<IoResult(PictureFormat)> write;
        bool sentence;  // the detail names the file
    } cases[] = {
        {"written",
         [&](PictureFormat format) {
             return WriteStillPicture(folder / "still", frame.View(), format, {});
         },
         true},
        {"converted",
         [&](PictureFormat format) {
             return ConvertBitmapFile(folder / "source.bmp", folder / "still", format, {});
         },
         true},
        {"still", [&](PictureFormat format) { return writer.SaveStill(frame.View(), format, {}); },
         false},
    };
    // Room for the first bytes only, and room for all but the last byte (the end of a PNG
    // file, the directory of a TIFF file).
    const auto limits = [&](PictureFormat format) {
        const std::string whole = folder / "whole";
        EXPECT_TRUE(WriteStillPicture(whole, frame.View(), format, {}).ok());
        const auto size = static_cast<rlim_t>(fs::file_size(whole));
        fs::remove(whole);
        return std::array<rlim_t, 2>{4000, size - 1};
    };
    const std::vector<std::string> before = testsupport::EntryNames(folder.path());
    for (const PictureFormat format : {PictureFormat::kPng, PictureFormat::kTiff}) {
        for (const rlim_t limit : limits(format)) {
            for (const auto& c : cases) {
                SCOPED_TRACE(std::string(c.name) + " as " + PictureFormatExtension(format) +
                             " in " + std::to_string(limit) + " bytes");
                IoResult result;
                {
                    const FileSizeLimit sizeLimit(limit);
                    result = c.write(format);
                }
                EXPECT_EQ(result.error(), EFBIG);
                EXPECT_EQ(
                    result.detail(),
                    c.sentence ? "cannot write " + (folder / "still") + ": File too large" : "");
                EXPECT_EQ(testsupport::EntryNames(folder.path()), before);
            }
        }
    }
    EXPECT_EQ(writer.stillCounter(), 0);
}

}  // namespace
