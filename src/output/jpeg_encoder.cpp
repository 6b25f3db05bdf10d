// DibToJpeg and BitmapFileToJpeg: packed DIBs and bitmap files to baseline JFIF files.
#include <cstring>

#include "output/bmp_file.h"
#include "output/jpeg_codec.h"
#include "output/jpeg_error.h"
#include "output/output_file.h"
#include "output/packed_dib.h"

namespace {

constexpr std::size_t kDestinationBufferBytes = 64 * 1024;

// The library's destination: a buffer from the image pool, emptied into an OutputFile.
struct FileDestination {
    jpeg_destination_mgr pub;  // first member: the library sees only this part
    OutputFile* file;
    JOCTET* buffer;
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
        char text[128] = {};
        FailJpegCall(reinterpret_cast<j_common_ptr>(cinfo), strerror_r(error, text, sizeof text));
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

// Everything the library call touches, kept outside the function that calls setjmp.
struct Compression {
    jpeg_compress_struct cinfo;
    JpegErrorManager errors;
    FileDestination destination;
    std::span<const std::uint8_t> dib;
    const DibLayout* layout;
    int quality;
    std::string* errorText;
};

// Compresses the whole picture into the destination. Returns false when the library failed
// (errors.message says why) or the rows could not be converted (*errorText says why); the
// library object is destroyed either way.
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

    const DibLayout& layout = *job->layout;
    const auto width = static_cast<JDIMENSION>(layout.header.biWidth);
    const auto height = static_cast<JDIMENSION>(layout.header.biHeight);
    // 24-bit rows already hold blue, green, red: the library reads them where they are.
    const bool direct = layout.header.biBitCount == 24;
    cinfo->image_width = width;
    cinfo->image_height = height;
    cinfo->input_components = 3;
    cinfo->in_color_space = direct ? JCS_EXT_BGR : JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, job->quality, TRUE);
    jpeg_start_compress(cinfo, TRUE);

    JSAMPARRAY rows = nullptr;
    if (direct) {
        rows = static_cast<JSAMPARRAY>((*cinfo->mem->alloc_small)(
            reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, sizeof(JSAMPROW) * height));
        // The library only reads its input rows.
        auto* bottom = const_cast<JSAMPLE*>(job->dib.data() + layout.rowsOffset);
        for (JDIMENSION i = 0; i < height; ++i) {
            rows[i] = bottom + (height - 1 - i) * layout.rowStrideBytes;
        }
    } else {
        const JDIMENSION rowBytes = 3 * width;
        rows = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                           rowBytes, height);
        if (!DibRowsToRgb(job->dib, static_cast<int>(rowBytes), rows, job->errorText)) {
            // Finishing an image without rows is a fatal error: abandon it instead.
            jpeg_destroy_compress(cinfo);
            return false;
        }
    }
    jpeg_write_scanlines(cinfo, rows, height);
    jpeg_finish_compress(cinfo);
    jpeg_destroy_compress(cinfo);
    return true;
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
    if (!layout || layout->header.biWidth > JPEG_MAX_DIMENSION ||
        layout->header.biHeight > JPEG_MAX_DIMENSION) {
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
    Compression job{};
    job.cinfo.err = InstallJpegErrorManager(&job.errors, JpegDamage::kCounted);
    job.destination.file = &file;
    job.dib = dib;
    job.layout = &*layout;
    job.quality = quality;
    job.errorText = errorText;
    if (!Compress(&job)) {
        // The uncommitted file is removed when `file` goes.
        return errorText->empty() ? Fail(errorText, job.errors.message) : false;
    }
    if (const int error = file.Commit()) {
        char text[128] = {};
        return Fail(errorText, strerror_r(error, text, sizeof text));
    }
    return errorText->empty();
}

std::int32_t BitmapFileToJpeg(const std::string& bmpPath, const std::string& jpegPath,
                              std::string* conversionError) {
    BitmapLoad load = LoadBitmapFile(bmpPath);
    if (load.error != 0) {
        return load.error;
    }
    std::string errorText;
    if (const std::optional<PackedDib> dib = BitmapToPackedDib(std::move(load.bitmap), kBiRgb)) {
        DibToJpeg(dib->bytes(), 100, jpegPath, &errorText);
    } else {
        errorText = kInvalidInputData;
    }
    if (conversionError != nullptr) {
        *conversionError = std::move(errorText);
    }
    return 0;
}
