// WriteStillPicture, WriteStillPictureToFile and ConvertBitmapFile: stills and bitmap files as
// PNG (libpng) and TIFF (libtiff) files with their scale and origin, a row at a time.
#include "output/picture_formats.h"

#include <png.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "output/bmp_file.h"
#include "output/dib_row_convert.h"
#include "output/jpeg_codec.h"
#include "output/output_file.h"
#include "output/still_file.h"
#include "platform/regular_files.h"
#include "platform/unique_fd.h"

namespace {

// Rows of a bitmap file are read in bands of about this size (at least one row).
constexpr std::size_t kBandBytes = 256 * 1024;
// Pictures whose rows pass this size go into a BigTIFF file: LZW may make them larger still,
// beyond the 4 GiB a classic TIFF file can address.
constexpr std::uint64_t kBigTiffRowsBytes = std::uint64_t{1} << 31;
constexpr std::uint32_t kPngMaxSide = 0x7fffffff;
// zlib's level for PNG files: a 1280 x 1024 still takes about a third of the time of the
// default level (6), for files about 5 % larger.
constexpr int kPngCompressionLevel = 3;

bool SameWord(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// ---------------------------------------------------------------------------------------
// Rows

// A picture's rows as red, green, blue, top row first.
class RgbRows {
public:
    virtual ~RgbRows() = default;
    virtual std::uint32_t width() const = 0;
    virtual std::uint32_t height() const = 0;
    // Fills `out` (3 * width() bytes) with row `y`, 0 the top; 0 or an errno.
    virtual int Row(std::uint32_t y, std::uint8_t* out) = 0;
};

// The rows of a consistent still frame.
class FrameRows final : public RgbRows {
public:
    explicit FrameRows(const StillFrame& frame)
        : frame_(frame), strideBytes_(DibRowStrideBytes(width(), 24)) {}
    std::uint32_t width() const override { return static_cast<std::uint32_t>(frame_.width); }
    std::uint32_t height() const override { return static_cast<std::uint32_t>(frame_.height); }
    int Row(std::uint32_t y, std::uint8_t* out) override {
        static const RgbPalette kNoPalette{};
        DibRowToRgb(frame_.pixels + (height() - 1 - y) * strideBytes_, out, width(), 24,
                    kNoPalette);
        return 0;
    }

private:
    const StillFrame& frame_;
    std::size_t strideBytes_;
};

// The rows of an opened bitmap file of any depth, read a band at a time.
class FileRows final : public RgbRows {
public:
    explicit FileRows(const BitmapRowReader& reader)
        : reader_(reader),
          strideBytes_(reader.rowStrideBytes()),
          palette_(ReadRgbPalette(reader.colourTable())) {
        bandRows_ = static_cast<std::uint32_t>(
            std::clamp<std::size_t>(kBandBytes / strideBytes_, 1, height()));
        band_.reset(new (std::nothrow) std::uint8_t[bandRows_ * strideBytes_]);
    }
    std::uint32_t width() const override { return static_cast<std::uint32_t>(reader_.width()); }
    std::uint32_t height() const override { return static_cast<std::uint32_t>(reader_.height()); }
    int Row(std::uint32_t y, std::uint8_t* out) override {
        if (!band_) {
            return ENOMEM;
        }
        if (y < bandTop_ || y >= bandTop_ + bandCount_) {
            bandTop_ = y;
            bandCount_ = std::min(bandRows_, height() - y);
            if (const int error = reader_.ReadRows(bandTop_, bandCount_, band_.get()).error()) {
                bandCount_ = 0;
                return error;
            }
        }
        DibRowToRgb(band_.get() + (y - bandTop_) * strideBytes_, out, width(), reader_.bitCount(),
                    palette_);
        return 0;
    }

private:
    const BitmapRowReader& reader_;
    std::size_t strideBytes_;
    RgbPalette palette_;
    std::uint32_t bandRows_ = 1;
    std::uint32_t bandTop_ = 0;
    std::uint32_t bandCount_ = 0;
    std::unique_ptr<std::uint8_t[]> band_;
};

// ---------------------------------------------------------------------------------------
// What goes into the files

// A value as the files carry it: valid UTF-8 (what is not becomes U+FFFD), no NUL.
QString CleanText(const std::string& utf8) {
    QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    text.remove(QChar(0));
    return text;
}

// The application's name and version, as Qt has them.
QString SoftwareName() {
    QString name = QCoreApplication::applicationName();
    const QString version = QCoreApplication::applicationVersion();
    if (!name.isEmpty() && !version.isEmpty()) {
        name += QLatin1Char(' ') + version;
    }
    return name;
}

bool TimeFitsFormats(const QDateTime& time) {
    return time.isValid() && time.date().year() >= 0 && time.date().year() <= 9999;
}

// "2026-02-14T10:30:00+01:00"
QString Rfc3339(const QDateTime& time) {
    const int offsetMinutes = time.offsetFromUtc() / 60;
    const int size = std::abs(offsetMinutes);
    return time.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")) +
           QString::asprintf("%c%02d:%02d", offsetMinutes < 0 ? '-' : '+', size / 60, size % 60);
}

// The scale in pixels per metre, when both directions are known.
struct Scale {
    double x = 0;
    double y = 0;
};

std::optional<Scale> KnownScale(double x, double y) {
    if (!std::isfinite(x) || !std::isfinite(y) || x <= 0 || y <= 0) {
        return std::nullopt;
    }
    return Scale{x, y};
}

// Everything a file records besides its pixels, worked out once.
struct FileFields {
    std::optional<Scale> scale;
    QDateTime captured;  // valid only when it fits the formats
    QString source;
    QString software;
    QString calibration;
};

FileFields FieldsOf(const PictureMetadata& metadata) {
    FileFields fields;
    fields.scale = KnownScale(metadata.xPixelsPerMetre, metadata.yPixelsPerMetre);
    if (TimeFitsFormats(metadata.captured)) {
        fields.captured = metadata.captured;
    }
    fields.source = CleanText(metadata.deviceName);
    fields.software = SoftwareName();
    fields.calibration = CleanText(metadata.calibrationName);
    return fields;
}

// ---------------------------------------------------------------------------------------
// Encoding

// What became of writing a picture into a file.
struct Encoded {
    enum class Fault { kNone, kRows, kWrite, kMemory, kLibrary };
    Fault fault = Fault::kNone;
    int error = 0;     // an errno
    std::string text;  // the library's words for kLibrary
};

Encoded Failed(Encoded::Fault fault, int error, std::string text = {}) {
    return Encoded{fault, error, std::move(text)};
}

// ----- PNG

// A text chunk; tEXt unless `international`.
struct PngTextField {
    const char* keyword;
    QByteArray value;
    bool international;
};

// Latin-1 without control characters other than the line feed, as tEXt allows.
bool FitsText(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        const char16_t u = c.unicode();
        return u == u'\n' || (u >= 0x20 && u <= 0x7e) || (u >= 0xa1 && u <= 0xff);
    });
}

std::vector<PngTextField> PngTextFields(const FileFields& fields) {
    const std::pair<const char*, QString> values[] = {
        {"Creation Time", fields.captured.isValid() ? Rfc3339(fields.captured) : QString()},
        {"Source", fields.source},
        {"Software", fields.software},
        {"Calibration", fields.calibration},
    };
    std::vector<PngTextField> texts;
    for (const auto& [keyword, value] : values) {
        if (value.isEmpty()) {
            continue;
        }
        const bool latin1 = FitsText(value);
        texts.push_back({keyword, latin1 ? value.toLatin1() : value.toUtf8(), !latin1});
    }
    return texts;
}

// Everything the library call touches, kept outside the function that calls setjmp.
struct PngJob {
    png_structp png = nullptr;
    png_infop info = nullptr;
    int fd = -1;
    RgbRows* rows = nullptr;
    std::uint8_t* row = nullptr;
    png_text* texts = nullptr;
    int textCount = 0;
    std::optional<Scale> scale;
    int writeError = 0;
    int rowError = 0;
    bool outOfMemory = false;
    char message[160] = {};
};

PngJob* PngJobOf(png_structp png) {
    return static_cast<PngJob*>(png_get_error_ptr(png));
}

[[noreturn]] void PngFail(png_structp png, png_const_charp message) {
    std::snprintf(PngJobOf(png)->message, sizeof PngJobOf(png)->message, "%s", message);
    png_longjmp(png, 1);
}

void PngWarn(png_structp, png_const_charp) {}

void PngWrite(png_structp png, png_bytep data, std::size_t sizeBytes) {
    PngJob* job = static_cast<PngJob*>(png_get_io_ptr(png));
    if (const int error = platform::WriteAll(job->fd, data, sizeBytes); error != 0) {
        job->writeError = error;
        png_error(png, "write failed");
    }
}

void PngFlush(png_structp) {}

png_voidp PngAllocate(png_structp png, png_alloc_size_t sizeBytes) {
    void* memory = std::malloc(sizeBytes);
    if (memory == nullptr) {
        static_cast<PngJob*>(png_get_mem_ptr(png))->outOfMemory = true;
    }
    return memory;
}

void PngRelease(png_structp, png_voidp memory) {
    std::free(memory);
}

png_uint_32 PngPixelsPerMetre(double pixelsPerMetre) {
    return static_cast<png_uint_32>(std::min(std::round(pixelsPerMetre), double{kPngMaxSide}));
}

// Writes the whole file. False when the library failed or a row could not be had.
bool RunPng(PngJob* job) {
    if (setjmp(png_jmpbuf(job->png)) != 0) {
        return false;
    }
    png_set_write_fn(job->png, job, PngWrite, PngFlush);
    png_set_user_limits(job->png, kPngMaxSide, kPngMaxSide);
    png_set_compression_level(job->png, kPngCompressionLevel);
    png_set_IHDR(job->png, job->info, job->rows->width(), job->rows->height(), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (job->scale) {
        png_set_pHYs(job->png, job->info, PngPixelsPerMetre(job->scale->x),
                     PngPixelsPerMetre(job->scale->y), PNG_RESOLUTION_METER);
    }
    if (job->textCount > 0) {
        png_set_text(job->png, job->info, job->texts, job->textCount);
    }
    png_write_info(job->png, job->info);
    for (std::uint32_t y = 0; y < job->rows->height(); ++y) {
        if ((job->rowError = job->rows->Row(y, job->row)) != 0) {
            return false;
        }
        png_write_row(job->png, job->row);
    }
    png_write_end(job->png, job->info);
    return true;
}

Encoded EncodePng(int fd, RgbRows& rows, const FileFields& fields) {
    std::unique_ptr<std::uint8_t[]> row(new (std::nothrow)
                                            std::uint8_t[3 * std::size_t{rows.width()}]);
    if (!row) {
        return Failed(Encoded::Fault::kMemory, ENOMEM);
    }
    std::vector<PngTextField> textFields = PngTextFields(fields);
    std::vector<png_text> texts(textFields.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        png_text& text = texts[i];
        text.compression =
            textFields[i].international ? PNG_ITXT_COMPRESSION_NONE : PNG_TEXT_COMPRESSION_NONE;
        // The library only reads them.
        text.key = const_cast<char*>(textFields[i].keyword);
        text.text = textFields[i].value.data();
    }

    auto job = std::make_unique<PngJob>();
    job->fd = fd;
    job->rows = &rows;
    job->row = row.get();
    job->texts = texts.data();
    job->textCount = static_cast<int>(texts.size());
    job->scale = fields.scale;
    job->png = png_create_write_struct_2(PNG_LIBPNG_VER_STRING, job.get(), PngFail, PngWarn,
                                         job.get(), PngAllocate, PngRelease);
    if (job->png != nullptr) {
        job->info = png_create_info_struct(job->png);
    }
    if (job->png == nullptr || job->info == nullptr) {
        png_destroy_write_struct(&job->png, nullptr);
        return Failed(Encoded::Fault::kMemory, ENOMEM);
    }
    const bool written = RunPng(job.get());
    png_destroy_write_struct(&job->png, &job->info);
    if (written) {
        return {};
    }
    if (job->writeError != 0) {
        return Failed(Encoded::Fault::kWrite, job->writeError);
    }
    if (job->rowError != 0) {
        return Failed(job->rowError == ENOMEM ? Encoded::Fault::kMemory : Encoded::Fault::kRows,
                      job->rowError);
    }
    if (job->outOfMemory) {
        return Failed(Encoded::Fault::kMemory, ENOMEM);
    }
    return Failed(Encoded::Fault::kLibrary, EIO, job->message);
}

// ----- TIFF

// The file behind the library's client procedures.
struct TiffFile {
    int fd = -1;
    int writeError = 0;
    std::string message;
};

TiffFile& TiffFileOf(thandle_t handle) {
    return *static_cast<TiffFile*>(handle);
}

tmsize_t TiffRead(thandle_t handle, void* buffer, tmsize_t sizeBytes) {
    for (;;) {
        const ssize_t got =
            ::read(TiffFileOf(handle).fd, buffer, static_cast<std::size_t>(sizeBytes));
        if (got >= 0 || errno != EINTR) {
            return got;
        }
    }
}

tmsize_t TiffWrite(thandle_t handle, void* buffer, tmsize_t sizeBytes) {
    TiffFile& file = TiffFileOf(handle);
    const int error = platform::WriteAll(file.fd, static_cast<const std::uint8_t*>(buffer),
                                         static_cast<std::size_t>(sizeBytes));
    if (error != 0) {
        file.writeError = error;
        return -1;
    }
    return sizeBytes;
}

toff_t TiffSeek(thandle_t handle, toff_t offset, int whence) {
    const off_t at = ::lseek(TiffFileOf(handle).fd, static_cast<off_t>(offset), whence);
    return at < 0 ? static_cast<toff_t>(-1) : static_cast<toff_t>(at);
}

int TiffClose(thandle_t) {
    return 0;  // the caller owns the descriptor
}

toff_t TiffSize(thandle_t handle) {
    struct stat info = {};
    return ::fstat(TiffFileOf(handle).fd, &info) == 0 ? static_cast<toff_t>(info.st_size) : 0;
}

int TiffMap(thandle_t, void**, toff_t*) {
    return 0;
}

void TiffUnmap(thandle_t, void*, toff_t) {}

__attribute__((format(printf, 4, 0))) int TiffError(TIFF*, void* user, const char* module,
                                                    const char* format, va_list arguments) {
    TiffFile& file = *static_cast<TiffFile*>(user);
    if (file.message.empty()) {
        char text[200] = {};
        std::vsnprintf(text, sizeof text, format, arguments);
        file.message = std::string(module != nullptr ? module : "TIFF") + ": " + text;
    }
    return 1;  // handled: nothing reaches the standard error stream
}

int TiffWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct TiffCleanup {
    void operator()(TIFF* tiff) const { TIFFCleanup(tiff); }
};
struct TiffOptionsFree {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

bool SetTiffText(TIFF* tiff, ttag_t tag, const QString& value) {
    return value.isEmpty() || TIFFSetField(tiff, tag, value.toUtf8().constData()) == 1;
}

bool SetTiffFields(TIFF* tiff, const RgbRows& rows, const FileFields& fields) {
    bool set = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, rows.width()) == 1 &&
               TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, rows.height()) == 1 &&
               TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8) == 1 &&
               TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3) == 1 &&
               TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) == 1 &&
               TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
               TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) == 1 &&
               TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW) == 1 &&
               TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) == 1 &&
               TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0)) == 1;
    if (set && fields.scale) {
        // Pixels per centimetre: the unit TIFF has that is closest to a microscope's scale.
        set = TIFFSetField(tiff, TIFFTAG_XRESOLUTION, fields.scale->x / 100.0) == 1 &&
              TIFFSetField(tiff, TIFFTAG_YRESOLUTION, fields.scale->y / 100.0) == 1 &&
              TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER) == 1;
    }
    const QString dateTime = fields.captured.isValid()
                                 ? fields.captured.toString(QStringLiteral("yyyy:MM:dd HH:mm:ss"))
                                 : QString();
    const QString description = fields.calibration.isEmpty()
                                    ? QString()
                                    : QStringLiteral("Calibration: ") + fields.calibration;
    return set && SetTiffText(tiff, TIFFTAG_DATETIME, dateTime) &&
           SetTiffText(tiff, TIFFTAG_SOFTWARE, fields.software) &&
           SetTiffText(tiff, TIFFTAG_MODEL, fields.source) &&
           SetTiffText(tiff, TIFFTAG_IMAGEDESCRIPTION, description);
}

Encoded EncodeTiff(int fd, RgbRows& rows, const FileFields& fields) {
    std::unique_ptr<std::uint8_t[]> row(new (std::nothrow)
                                            std::uint8_t[3 * std::size_t{rows.width()}]);
    const std::unique_ptr<TIFFOpenOptions, TiffOptionsFree> options(TIFFOpenOptionsAlloc());
    if (!row || !options) {
        return Failed(Encoded::Fault::kMemory, ENOMEM);
    }
    TiffFile file;
    file.fd = fd;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), TiffError, &file);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), TiffWarning, nullptr);
    const std::uint64_t rowsBytes = 3 * std::uint64_t{rows.width()} * rows.height();
    const std::unique_ptr<TIFF, TiffCleanup> tiff(TIFFClientOpenExt(
        "picture", rowsBytes > kBigTiffRowsBytes ? "w8" : "w", &file, TiffRead, TiffWrite, TiffSeek,
        TiffClose, TiffSize, TiffMap, TiffUnmap, options.get()));
    bool written = tiff != nullptr && SetTiffFields(tiff.get(), rows, fields);
    for (std::uint32_t y = 0; written && y < rows.height(); ++y) {
        if (const int error = rows.Row(y, row.get()); error != 0) {
            return Failed(error == ENOMEM ? Encoded::Fault::kMemory : Encoded::Fault::kRows, error);
        }
        written = TIFFWriteScanline(tiff.get(), row.get(), y, 0) == 1;
    }
    // Writes the last strip and the directory.
    written = written && TIFFFlush(tiff.get()) == 1;
    if (written) {
        return {};
    }
    if (file.writeError != 0) {
        return Failed(Encoded::Fault::kWrite, file.writeError);
    }
    return Failed(Encoded::Fault::kLibrary, EIO,
                  file.message.empty() ? "the TIFF library failed" : file.message);
}

// ----- any format

Encoded EncodeBitmap(int fd, const StillFrame& frame, const FileFields& fields) {
    std::uint8_t headers[kBmpHeaderBytes];
    PictureMetadata scale;
    if (fields.scale) {
        scale.xPixelsPerMetre = fields.scale->x;
        scale.yPixelsPerMetre = fields.scale->y;
    }
    WriteStillBitmapHeaders(headers, frame, BitmapResolutionOf(scale));
    int error = platform::WriteAll(fd, headers, sizeof headers);
    if (error == 0) {
        error = platform::WriteAll(fd, frame.pixels, frame.sizeBytes);
    }
    return error == 0 ? Encoded{} : Failed(Encoded::Fault::kWrite, error);
}

Encoded Encode(int fd, RgbRows& rows, PictureFormat format, const FileFields& fields) {
    return format == PictureFormat::kPng ? EncodePng(fd, rows, fields)
                                         : EncodeTiff(fd, rows, fields);
}

// The words for a failure of writing.
std::string EncodedText(const Encoded& encoded) {
    switch (encoded.fault) {
        case Encoded::Fault::kNone:
            return {};
        case Encoded::Fault::kMemory:
            return "out of memory";
        case Encoded::Fault::kLibrary:
            return encoded.text;
        case Encoded::Fault::kRows:
        case Encoded::Fault::kWrite:
            break;
    }
    return platform::FileErrorText(encoded.error);
}

std::string Sentence(const char* verb, const std::string& path, const std::string& why) {
    return std::string(verb) + " " + path + ": " + why;
}

// The modification time of the file at `path`, in local time; invalid when it cannot be had.
QDateTime ModificationTime(const std::string& path) {
    struct stat info = {};
    if (::stat(path.c_str(), &info) != 0) {
        return {};
    }
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(info.st_mtime));
}

}  // namespace

std::optional<PictureFormat> PictureFormatNamed(std::string_view name) {
    static constexpr std::pair<std::string_view, PictureFormat> kNames[] = {
        {"bmp", PictureFormat::kBmp}, {"jpg", PictureFormat::kJpeg}, {"jpeg", PictureFormat::kJpeg},
        {"png", PictureFormat::kPng}, {"tif", PictureFormat::kTiff}, {"tiff", PictureFormat::kTiff},
    };
    for (const auto& [known, format] : kNames) {
        if (SameWord(name, known)) {
            return format;
        }
    }
    return std::nullopt;
}

std::optional<PictureFormat> PictureFormatOfPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string_view name =
        std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        return std::nullopt;
    }
    return PictureFormatNamed(name.substr(dot + 1));
}

const char* PictureFormatExtension(PictureFormat format) {
    switch (format) {
        case PictureFormat::kBmp:
            return "bmp";
        case PictureFormat::kJpeg:
            return "jpg";
        case PictureFormat::kPng:
            return "png";
        case PictureFormat::kTiff:
            break;
    }
    return "tif";
}

IoResult WriteStillPictureToFile(int fd, const StillFrame& frame, PictureFormat format,
                                 const PictureMetadata& metadata) {
    if (!StillFrameIsConsistent(frame)) {
        return IoResult(EINVAL);
    }
    if (format == PictureFormat::kJpeg) {
        return IoResult(ENOTSUP);
    }
    const FileFields fields = FieldsOf(metadata);
    Encoded encoded;
    if (format == PictureFormat::kBmp) {
        encoded = EncodeBitmap(fd, frame, fields);
    } else {
        FrameRows rows(frame);
        encoded = Encode(fd, rows, format, fields);
    }
    return IoResult(encoded.error, EncodedText(encoded));
}

IoResult WriteStillPicture(const std::string& path, const StillFrame& frame, PictureFormat format,
                           const PictureMetadata& metadata) {
    if (!StillFrameIsConsistent(frame) || path.empty()) {
        return IoResult(EINVAL);
    }
    if (format == PictureFormat::kJpeg) {
        return IoResult(ENOTSUP);
    }
    OutputFile file;
    IoResult result = file.Create(path);
    if (result) {
        result = WriteStillPictureToFile(file.fd(), frame, format, metadata);
    }
    if (result) {
        result = file.Commit();
    }
    if (!result) {
        const std::string why =
            result.detail().empty() ? platform::FileErrorText(result.error()) : result.detail();
        return IoResult(result.error(), Sentence("cannot write", path, why));
    }
    return {};
}

IoResult ConvertBitmapFile(const std::string& source, const std::string& target,
                           PictureFormat format, const PictureMetadata& metadata) {
    if (format == PictureFormat::kJpeg) {
        return ConvertBitmapFileToJpeg(source, target, 100);
    }
    BitmapRowReader reader;
    if (const IoResult opened = reader.Open(source); !opened) {
        return IoResult(opened.error(),
                        Sentence("cannot read", source, BitmapFileErrorText(opened.error())));
    }
    if (target.empty()) {
        return IoResult(EINVAL, Sentence("cannot write", target, kInvalidInputData));
    }
    if (format == PictureFormat::kBmp) {
        return IoResult(ENOTSUP,
                        Sentence("cannot write", target, "a bitmap file is copied, not converted"));
    }
    OutputFile file;
    if (const IoResult created = file.Create(target); !created) {
        return IoResult(created.error(),
                        Sentence("cannot write", target, platform::FileErrorText(created.error())));
    }
    if (file.target().exists && file.target().identity == reader.identity()) {
        return IoResult(
            EINVAL, Sentence("cannot write", target, "it names the bitmap file being converted"));
    }
    FileFields fields = FieldsOf(metadata);
    if (!fields.scale) {
        fields.scale = KnownScale(reader.xPixelsPerMetre(), reader.yPixelsPerMetre());
    }
    if (!metadata.captured.isValid()) {
        const QDateTime modified = ModificationTime(source);
        fields.captured = TimeFitsFormats(modified) ? modified : QDateTime();
    }
    FileRows rows(reader);
    const Encoded encoded = Encode(file.fd(), rows, format, fields);
    switch (encoded.fault) {
        case Encoded::Fault::kNone:
            break;
        case Encoded::Fault::kRows:
            return IoResult(encoded.error, Sentence("cannot read", source,
                                                    platform::FileErrorText(encoded.error)));
        case Encoded::Fault::kMemory:
            return IoResult(ENOMEM, Sentence("cannot convert", source, "out of memory"));
        case Encoded::Fault::kWrite:
        case Encoded::Fault::kLibrary:
            return IoResult(encoded.error, Sentence("cannot write", target, EncodedText(encoded)));
    }
    if (const IoResult committed = file.Commit(); !committed) {
        return IoResult(committed.error(), Sentence("cannot write", target,
                                                    platform::FileErrorText(committed.error())));
    }
    return {};
}
