// DibToJpeg, ConvertBitmapFileToJpeg and BitmapFileToJpeg: packed DIBs and bitmap files to
// baseline JFIF files, a row at a time.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "output/bmp_file.h"
#include "output/dib_row_convert.h"
#include "output/jpeg_codec.h"
#include "output/jpeg_error.h"
#include "output/output_file.h"
#include "output/packed_dib.h"

static_assert(kJpegMaxSide == JPEG_MAX_DIMENSION, "the library's limit");

namespace {

constexpr std::size_t kDestinationBufferBytes = 64 * 1024;
// Rows of a bitmap file are read in bands of about this size (at least one row).
constexpr std::size_t kBandBytes = 256 * 1024;

// What became of a conversion, in enough detail for each public function to say it its way.
struct Conversion {
    enum class Outcome {
        kWritten,      // the JPEG file is there, whole
        kUnreadable,   // the bitmap file cannot be opened or read: the reader's `error`
        kReadFailed,   // reading its rows failed on the way: `error` (an errno)
        kTooLarge,     // `width` or `height` is over kJpegMaxSide
        kSameFile,     // the JPEG path names the bitmap file itself, or another name of it
        kUnwritable,   // the JPEG file could not be created or written: `error` (an errno)
        kOutOfMemory,  // the library or the row buffers found no memory
        kStopped,      // StopRequested said so
        kFailed,       // the input was refused, or the JPEG library failed: `text` says how
    };
    Outcome outcome = Outcome::kWritten;
    int error = 0;  // the code the public functions return
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::string text;  // DibToJpeg's error text; empty when written or unreadable
};

using Outcome = Conversion::Outcome;

std::string ErrorText(int error) {
    char text[128] = {};
    return strerror_r(error, text, sizeof text);
}

// The library's destination: a buffer from the image pool, emptied into an OutputFile.
struct FileDestination {
    jpeg_destination_mgr pub;  // first member: the library sees only this part
    OutputFile* file;
    JOCTET* buffer;
    int writeError;  // the errno of a failed write
};

FileDestination* DestinationOf(j_compress_ptr cinfo) {
    return reinterpret_cast<FileDestination*>(cinfo->dest);
}

void InitDestination(j_compress_ptr cinfo) {
    FileDestination* destination = DestinationOf(cinfo);
    destination->buffer = static_cast<JOCTET*>((*cinfo->mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, kDestinationBufferBytes));
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = kDestinationBufferBytes;
}

// Writes the first `sizeBytes` bytes of the buffer; a failed write ends the library call.
void WriteBuffer(j_compress_ptr cinfo, std::size_t sizeBytes) {
    FileDestination* destination = DestinationOf(cinfo);
    // Only the code is kept: the jump below skips destructors.
    const int error = destination->file->Write(destination->buffer, sizeBytes).error();
    if (error != 0) {
        destination->writeError = error;
        FailJpegCall(reinterpret_cast<j_common_ptr>(cinfo), "write failed");
    }
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = kDestinationBufferBytes;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    WriteBuffer(cinfo, kDestinationBufferBytes);
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    WriteBuffer(cinfo, kDestinationBufferBytes - DestinationOf(cinfo)->pub.free_in_buffer);
}

// Gives the encoder the picture's rows, top row first.
class RowSupplier {
public:
    virtual ~RowSupplier() = default;
    // Blue-green-red (true) or red-green-blue (false) rows.
    virtual bool bgr() const = 0;
    // Row `y` (0 is the top), or nullptr with `*error` set (an errno) when it cannot be had.
    virtual const JSAMPLE* Row(JDIMENSION y, int* error) = 0;
};

// Rows of a packed DIB in memory: 24-bit rows are read where they lie, the others are
// converted into one row.
class DibRows final : public RowSupplier {
public:
    DibRows(std::span<const std::uint8_t> dib, const DibLayout& layout)
        : dib_(dib), layout_(layout), direct_(layout.header.biBitCount == 24) {
        if (!direct_) {
            palette_ = ReadRgbPalette(
                dib.subspan(layout.colourTableOffset, layout.colourTableEntries * kRgbQuadBytes));
            row_.reset(new (std::nothrow)
                           JSAMPLE[3 * static_cast<std::size_t>(layout.header.biWidth)]);
        }
    }
    bool bgr() const override { return direct_; }
    const JSAMPLE* Row(JDIMENSION y, int* error) override {
        const auto height = static_cast<std::size_t>(layout_.header.biHeight);
        const std::uint8_t* in =
            dib_.data() + layout_.rowsOffset + (height - 1 - y) * layout_.rowStrideBytes;
        if (direct_) {
            return in;
        }
        if (!row_) {
            *error = ENOMEM;
            return nullptr;
        }
        DibRowToRgb(in, row_.get(), static_cast<std::size_t>(layout_.header.biWidth),
                    layout_.header.biBitCount, palette_);
        return row_.get();
    }

private:
    std::span<const std::uint8_t> dib_;
    const DibLayout& layout_;
    bool direct_;
    RgbPalette palette_{};
    std::unique_ptr<JSAMPLE[]> row_;
};

// Rows of a bitmap file, read a band at a time.
class FileRows final : public RowSupplier {
public:
    explicit FileRows(const BitmapRowReader& reader)
        : reader_(reader),
          stride_(reader.rowStrideBytes()),
          direct_(reader.bitCount() == 24),
          palette_(ReadRgbPalette(reader.colourTable())) {
        bandRows_ = static_cast<std::uint32_t>(std::clamp<std::size_t>(
            kBandBytes / stride_, 1, static_cast<std::size_t>(reader.height())));
        band_.reset(new (std::nothrow) std::uint8_t[bandRows_ * stride_]);
        if (!direct_) {
            row_.reset(new (std::nothrow) JSAMPLE[3 * static_cast<std::size_t>(reader.width())]);
        }
    }
    bool bgr() const override { return direct_; }
    const JSAMPLE* Row(JDIMENSION y, int* error) override {
        if (!band_ || (!direct_ && !row_)) {
            *error = ENOMEM;
            return nullptr;
        }
        if (y < bandTop_ || y >= bandTop_ + bandCount_) {
            bandTop_ = y;
            bandCount_ = std::min(bandRows_, static_cast<std::uint32_t>(reader_.height()) - y);
            if ((*error = reader_.ReadRows(bandTop_, bandCount_, band_.get()).error()) != 0) {
                bandCount_ = 0;
                return nullptr;
            }
        }
        const std::uint8_t* in = band_.get() + (y - bandTop_) * stride_;
        if (direct_) {
            return in;
        }
        DibRowToRgb(in, row_.get(), static_cast<std::size_t>(reader_.width()), reader_.bitCount(),
                    palette_);
        return row_.get();
    }

private:
    const BitmapRowReader& reader_;
    std::size_t stride_;
    bool direct_;
    RgbPalette palette_;
    std::uint32_t bandRows_ = 1;
    std::uint32_t bandTop_ = 0;
    std::uint32_t bandCount_ = 0;
    std::unique_ptr<std::uint8_t[]> band_;
    std::unique_ptr<JSAMPLE[]> row_;
};

// Everything the library call touches, kept outside the function that calls setjmp.
struct Compression {
    jpeg_compress_struct cinfo;
    JpegErrorManager errors;
    FileDestination destination;
    RowSupplier* rows;
    JDIMENSION width;
    JDIMENSION height;
    int quality;
    const StopRequested* stop;
    int rowError;  // the errno of a row that could not be had
    bool stopped;
};

// Compresses the whole picture into the destination. Returns false when the library failed
// (errors and destination say why), a row could not be had (rowError) or the stop was
// asked for (stopped); the library object is destroyed either way.
bool Compress(Compression* job) {
    j_compress_ptr cinfo = &job->cinfo;
    if (setjmp(job->errors.jump) != 0) {
        jpeg_destroy_compress(cinfo);
        return false;
    }
    jpeg_create_compress(cinfo);
    job->destination.pub.init_destination = InitDestination;
    job->destination.pub.empty_output_buffer = EmptyOutputBuffer;
    job->destination.pub.term_destination = TermDestination;
    cinfo->dest = &job->destination.pub;

    cinfo->image_width = job->width;
    cinfo->image_height = job->height;
    cinfo->input_components = 3;
    cinfo->in_color_space = job->rows->bgr() ? JCS_EXT_BGR : JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, job->quality, TRUE);
    jpeg_start_compress(cinfo, TRUE);
    for (JDIMENSION y = 0; y < job->height; ++y) {
        if (job->stop != nullptr && *job->stop && (*job->stop)()) {
            job->stopped = true;
            break;
        }
        // The library only reads its input rows.
        JSAMPROW row = const_cast<JSAMPLE*>(job->rows->Row(y, &job->rowError));
        if (row == nullptr) {
            break;
        }
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    if (job->stopped || job->rowError != 0) {
        // Finishing an image without all its rows is a fatal error: abandon it instead.
        jpeg_destroy_compress(cinfo);
        return false;
    }
    jpeg_finish_compress(cinfo);
    jpeg_destroy_compress(cinfo);
    return true;
}

Conversion Failure(Outcome outcome, int error, std::string text) {
    Conversion result;
    result.outcome = outcome;
    result.error = error;
    result.text = std::move(text);
    return result;
}

// Writes the rows to `file`, which Create() opened, and commits it.
Conversion WriteJpeg(OutputFile& file, RowSupplier& rows, JDIMENSION width, JDIMENSION height,
                     int quality, const StopRequested* stop) {
    // Large: the library's state lives here, outside the function that calls setjmp.
    auto job = std::make_unique<Compression>();
    job->cinfo.err = InstallJpegErrorManager(&job->errors, JpegDamage::kCounted);
    job->destination.file = &file;
    job->rows = &rows;
    job->width = width;
    job->height = height;
    job->quality = quality;
    job->stop = stop;
    if (!Compress(job.get())) {
        // The uncommitted file is removed when `file` goes.
        if (job->stopped) {
            return Failure(Outcome::kStopped, ECANCELED, {});
        }
        if (job->destination.writeError != 0) {
            return Failure(Outcome::kUnwritable, job->destination.writeError,
                           ErrorText(job->destination.writeError));
        }
        if (job->errors.outOfMemory || job->rowError == ENOMEM) {
            return Failure(Outcome::kOutOfMemory, ENOMEM, ErrorText(ENOMEM));
        }
        if (job->rowError != 0) {
            return Failure(Outcome::kReadFailed, job->rowError, ErrorText(job->rowError));
        }
        return Failure(Outcome::kFailed, EIO, job->errors.message);
    }
    if (const IoResult committed = file.Commit(); !committed) {
        return Failure(Outcome::kUnwritable, committed.error(), ErrorText(committed.error()));
    }
    return {};
}

// The layout of a DIB the encoder takes, or why not (EINVAL and DibToJpeg's text).
IoResultOf<DibLayout> CheckDib(std::span<const std::uint8_t> dib) {
    if (dib.size() >= kBitmapInfoHeaderBytes &&
        !IsSupportedBitCount(
            ReadBitmapInfoHeader(dib.first<kBitmapInfoHeaderBytes>()).biBitCount)) {
        return IoResult(EINVAL, kInvalidBitCount);
    }
    IoResultOf<DibLayout> layout = DescribePackedDib(dib);
    if (!layout || layout->header.biWidth > kJpegMaxSide ||
        layout->header.biHeight > kJpegMaxSide) {
        return IoResult(EINVAL, kInvalidInputData);
    }
    return layout;
}

// Converts the bitmap file; see ConvertBitmapFileToJpeg.
Conversion ConvertFile(const std::string& bmpPath, const std::string& jpegPath, int quality,
                       const StopRequested* stopRequested) {
    BitmapRowReader reader;
    if (const IoResult opened = reader.Open(bmpPath); !opened) {
        return Failure(Outcome::kUnreadable, opened.error(), {});
    }
    if (quality < 0 || quality > 100 || jpegPath.empty()) {
        return Failure(Outcome::kFailed, EINVAL, kInvalidInputData);
    }
    if (reader.width() > kJpegMaxSide || reader.height() > kJpegMaxSide) {
        Conversion result = Failure(Outcome::kTooLarge, EFBIG, kInvalidInputData);
        result.width = reader.width();
        result.height = reader.height();
        return result;
    }
    OutputFile file;
    if (const IoResult created = file.Create(jpegPath); !created) {
        return Failure(Outcome::kUnwritable, created.error(), kCannotOpen + jpegPath);
    }
    if (file.target().exists && file.target().identity == reader.identity()) {
        return Failure(Outcome::kSameFile, EINVAL, kCannotOpen + jpegPath);
    }
    FileRows rows(reader);
    return WriteJpeg(file, rows, static_cast<JDIMENSION>(reader.width()),
                     static_cast<JDIMENSION>(reader.height()), quality, stopRequested);
}

// "<verb> <path>: <why>", as ConvertBitmapFileToJpeg tells a user.
std::string Sentence(const char* verb, const std::string& path, const std::string& why) {
    return std::string(verb) + " " + path + ": " + why;
}

std::string TooLargeText(const Conversion& result) {
    char text[160] = {};
    std::snprintf(text, sizeof text,
                  "the picture is %d x %d pixels, and a JPEG file holds at most %d on a side",
                  result.width, result.height, kJpegMaxSide);
    return text;
}

// What ConvertBitmapFileToJpeg says about `result`.
std::string UserText(const Conversion& result, const std::string& bmpPath,
                     const std::string& jpegPath) {
    switch (result.outcome) {
        case Outcome::kWritten:
        case Outcome::kStopped:
            return {};
        case Outcome::kUnreadable:
            return Sentence("cannot read", bmpPath, BitmapFileErrorText(result.error));
        case Outcome::kReadFailed:
            return Sentence("cannot read", bmpPath, platform::FileErrorText(result.error));
        case Outcome::kTooLarge:
            return Sentence("cannot convert", bmpPath, TooLargeText(result));
        case Outcome::kSameFile:
            return Sentence("cannot write", jpegPath, "it names the bitmap file being converted");
        case Outcome::kUnwritable:
            return Sentence("cannot write", jpegPath, platform::FileErrorText(result.error));
        case Outcome::kOutOfMemory:
            return Sentence("cannot convert", bmpPath, "out of memory");
        case Outcome::kFailed:
            break;
    }
    return Sentence("cannot write", jpegPath, result.text);
}

}  // namespace

IoResult DibToJpeg(std::span<const std::uint8_t> dib, int quality, const std::string& jpegPath) {
    if (quality < 0 || quality > 100 || dib.data() == nullptr || dib.empty() || jpegPath.empty()) {
        return IoResult(EINVAL, kInvalidInputData);
    }
    const IoResultOf<DibLayout> layout = CheckDib(dib);
    if (!layout) {
        return layout.status();
    }
    OutputFile file;
    if (const IoResult created = file.Create(jpegPath); !created) {
        return IoResult(created.error(), kCannotOpen + jpegPath);
    }
    DibRows rows(dib, *layout);
    Conversion result =
        WriteJpeg(file, rows, static_cast<JDIMENSION>(layout->header.biWidth),
                  static_cast<JDIMENSION>(layout->header.biHeight), quality, nullptr);
    return IoResult(result.error, std::move(result.text));
}

IoResult ConvertBitmapFileToJpeg(const std::string& bmpPath, const std::string& jpegPath,
                                 int quality, const StopRequested& stopRequested) {
    const Conversion result = ConvertFile(bmpPath, jpegPath, quality, &stopRequested);
    return IoResult(result.error, UserText(result, bmpPath, jpegPath));
}

IoResult BitmapFileToJpeg(const std::string& bmpPath, const std::string& jpegPath) {
    Conversion result = ConvertFile(bmpPath, jpegPath, 100, nullptr);
    if (result.outcome == Outcome::kUnreadable) {
        return IoResult(result.error);
    }
    return IoResult(result.error, std::move(result.text));
}
