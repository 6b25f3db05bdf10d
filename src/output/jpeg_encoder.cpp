// DibToJpeg, ConvertBitmapFileToJpeg and BitmapFileToJpeg: packed DIBs and bitmap files to
// baseline JFIF files, a row at a time.
#include <cerrno>
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

using Outcome = BitmapFileConversion::Outcome;

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
    const int error = destination->file->Write(destination->buffer, sizeBytes);
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
            if ((*error = reader_.ReadRows(bandTop_, bandCount_, band_.get())) != 0) {
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

BitmapFileConversion Failure(Outcome outcome, int error, std::string text) {
    BitmapFileConversion result;
    result.outcome = outcome;
    result.error = error;
    result.text = std::move(text);
    return result;
}

// Writes the rows to `file`, which Create() opened, and commits it.
BitmapFileConversion WriteJpeg(OutputFile& file, RowSupplier& rows, JDIMENSION width,
                               JDIMENSION height, int quality, const StopRequested* stop) {
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
            return Failure(Outcome::kStopped, 0, "Stopped");
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
        return Failure(Outcome::kFailed, 0, job->errors.message);
    }
    if (const int error = file.Commit()) {
        return Failure(Outcome::kUnwritable, error, ErrorText(error));
    }
    return {};
}

bool Fail(std::string* errorText, std::string text) {
    if (errorText != nullptr) {
        *errorText = std::move(text);
    }
    return false;
}

// The layout of a DIB the encoder takes, or why not.
std::optional<DibLayout> CheckDib(std::span<const std::uint8_t> dib, std::string* errorText) {
    if (dib.size() >= kBitmapInfoHeaderBytes &&
        !IsSupportedBitCount(
            ReadBitmapInfoHeader(dib.first<kBitmapInfoHeaderBytes>()).biBitCount)) {
        Fail(errorText, kInvalidBitCount);
        return std::nullopt;
    }
    std::optional<DibLayout> layout = DescribePackedDib(dib);
    if (!layout || layout->header.biWidth > kJpegMaxSide ||
        layout->header.biHeight > kJpegMaxSide) {
        Fail(errorText, kInvalidInputData);
        return std::nullopt;
    }
    return layout;
}

}  // namespace

bool DibToJpeg(std::span<const std::uint8_t> dib, int quality, const std::string& jpegPath,
               std::string* errorText) {
    if (quality < 0 || quality > 100 || dib.data() == nullptr || dib.empty()) {
        return Fail(errorText, kInvalidInputData);
    }
    if (errorText == nullptr) {
        return false;
    }
    if (jpegPath.empty()) {
        return Fail(errorText, kInvalidInputData);
    }
    const std::optional<DibLayout> layout = CheckDib(dib, errorText);
    if (!layout) {
        return false;
    }
    errorText->clear();

    OutputFile file;
    if (file.Create(jpegPath) != 0) {
        return Fail(errorText, kCannotOpen + jpegPath);
    }
    DibRows rows(dib, *layout);
    BitmapFileConversion result =
        WriteJpeg(file, rows, static_cast<JDIMENSION>(layout->header.biWidth),
                  static_cast<JDIMENSION>(layout->header.biHeight), quality, nullptr);
    *errorText = std::move(result.text);
    return errorText->empty();
}

BitmapFileConversion ConvertBitmapFileToJpeg(const std::string& bmpPath,
                                             const std::string& jpegPath, int quality,
                                             const StopRequested& stopRequested) {
    BitmapRowReader reader;
    if (const int error = reader.Open(bmpPath)) {
        return Failure(Outcome::kUnreadable, error, ErrorText(error));
    }
    if (quality < 0 || quality > 100 || jpegPath.empty()) {
        return Failure(Outcome::kFailed, 0, kInvalidInputData);
    }
    if (reader.width() > kJpegMaxSide || reader.height() > kJpegMaxSide) {
        BitmapFileConversion result = Failure(Outcome::kTooLarge, 0, kInvalidInputData);
        result.width = reader.width();
        result.height = reader.height();
        return result;
    }
    OutputFile file;
    if (const int error = file.Create(jpegPath)) {
        return Failure(Outcome::kUnwritable, error, kCannotOpen + jpegPath);
    }
    if (file.target().exists && file.target().identity == reader.identity()) {
        return Failure(Outcome::kSameFile, 0, kCannotOpen + jpegPath);
    }
    FileRows rows(reader);
    return WriteJpeg(file, rows, static_cast<JDIMENSION>(reader.width()),
                     static_cast<JDIMENSION>(reader.height()), quality, &stopRequested);
}

std::int32_t BitmapFileToJpeg(const std::string& bmpPath, const std::string& jpegPath,
                              std::string* conversionError) {
    BitmapFileConversion result = ConvertBitmapFileToJpeg(bmpPath, jpegPath, 100);
    if (result.outcome == Outcome::kUnreadable) {
        return result.error;
    }
    if (conversionError != nullptr) {
        *conversionError = std::move(result.text);
    }
    return 0;
}
