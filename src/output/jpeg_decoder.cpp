// JpegFileToDib: JPEG files to packed 24-bit DIBs in a buffer the caller owns.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "output/jpeg_codec.h"
#include "output/jpeg_error.h"
#include "platform/bitmap_records.h"

namespace {

// More scans than any sensible progressive file has; a file with more is refused rather
// than decoded for minutes.
constexpr int kMaxScans = 500;
// Rows handed to the library per call: whole iMCU rows decode without an extra copy.
constexpr JDIMENSION kRowsPerCall = 16;

void LimitScans(j_common_ptr cinfo) {
    if (cinfo->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
        FailJpegCall(cinfo, "Too many scans");
    }
}

// Everything the library call touches, kept outside the function that calls setjmp.
struct Decompression {
    jpeg_decompress_struct cinfo;
    JpegErrorManager errors;
    jpeg_progress_mgr progress;
    std::FILE* stream;
    std::span<std::uint8_t> dib;
    std::size_t* imageSizeBytes;
    bool started;  // the buffer has been written to
};

bool HasRgbOutput(J_COLOR_SPACE space) {
    return space == JCS_GRAYSCALE || space == JCS_YCbCr || space == JCS_RGB;
}

void WriteDecodedHeader(std::span<std::uint8_t> dib, JDIMENSION width, JDIMENSION height) {
    BitmapInfoHeader header;
    header.biSize = kBitmapInfoHeaderBytes;
    header.biWidth = static_cast<std::int32_t>(width);
    header.biHeight = static_cast<std::int32_t>(height);
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = kBiRgb;
    WriteBitmapInfoHeader(header, dib.first<kBitmapInfoHeaderBytes>());
}

// Reads every scanline straight into its place: the first JPEG row becomes the last row.
void ReadRows(j_decompress_ptr cinfo, std::uint8_t* rows, std::size_t strideBytes) {
    const JDIMENSION height = cinfo->output_height;
    while (cinfo->output_scanline < height) {
        JSAMPROW pointers[kRowsPerCall];
        const JDIMENSION count = std::min(kRowsPerCall, height - cinfo->output_scanline);
        for (JDIMENSION i = 0; i < count; ++i) {
            const std::size_t row = height - 1 - (cinfo->output_scanline + i);
            pointers[i] = rows + row * strideBytes;
        }
        if (jpeg_read_scanlines(cinfo, pointers, count) == 0) {
            FailJpegCall(reinterpret_cast<j_common_ptr>(cinfo), "No scanline was read");
        }
    }
}

// Decodes job->stream into job->dib. Returns 0 or an error code; the library object is
// destroyed either way.
int Decode(Decompression* job) {
    j_decompress_ptr cinfo = &job->cinfo;
    if (setjmp(job->errors.jump) != 0) {
        jpeg_destroy_decompress(cinfo);
        if (job->started) {
            std::memset(job->dib.data(), 0, kBitmapInfoHeaderBytes);
        }
        return job->errors.outOfMemory ? ENOMEM : EBADMSG;
    }
    jpeg_create_decompress(cinfo);
    job->progress.progress_monitor = LimitScans;
    cinfo->progress = &job->progress;
    jpeg_stdio_src(cinfo, job->stream);
    jpeg_read_header(cinfo, TRUE);
    if (!HasRgbOutput(cinfo->jpeg_color_space)) {
        jpeg_destroy_decompress(cinfo);
        return ENOTSUP;
    }
    // Grey pictures come out as three equal channels, so every picture is a 24-bit DIB.
    cinfo->out_color_space = JCS_EXT_BGR;
    jpeg_calc_output_dimensions(cinfo);

    const std::size_t strideBytes = (std::size_t{cinfo->output_width} * 3 + 3) & ~std::size_t{3};
    const std::size_t imageBytes = strideBytes * cinfo->output_height;
    if (job->imageSizeBytes != nullptr) {
        *job->imageSizeBytes = imageBytes;
    }
    if (job->dib.size() < kBitmapInfoHeaderBytes ||
        imageBytes > job->dib.size() - kBitmapInfoHeaderBytes) {
        jpeg_destroy_decompress(cinfo);
        return EFBIG;
    }
    jpeg_start_decompress(cinfo);
    job->started = true;
    WriteDecodedHeader(job->dib, cinfo->output_width, cinfo->output_height);
    ReadRows(cinfo, job->dib.data() + kDecodedRowsOffset, strideBytes);
    jpeg_finish_decompress(cinfo);
    jpeg_destroy_decompress(cinfo);
    return 0;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

IoResult JpegStreamToDib(std::FILE* stream, std::span<std::uint8_t> dib,
                         std::size_t* imageSizeBytes) {
    if (stream == nullptr) {
        return IoResult(EINVAL);
    }
    Decompression job{};
    job.cinfo.err = InstallJpegErrorManager(&job.errors, JpegDamage::kFatal);
    job.stream = stream;
    job.dib = dib;
    job.imageSizeBytes = imageSizeBytes;
    return IoResult(Decode(&job));
}

IoResult JpegFileToDib(const std::string& jpegPath, std::span<std::uint8_t> dib,
                       std::size_t* imageSizeBytes) {
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(jpegPath.c_str(), "rbe"));
    if (!file) {
        const int error = errno;
        std::fputs("Open file error!\n", stdout);
        return IoResult(error != 0 ? error : EIO);
    }
    return JpegStreamToDib(file.get(), dib, imageSizeBytes);
}

namespace {

struct FrameDecompression {
    jpeg_decompress_struct cinfo;
    JpegErrorManager errors;
    std::span<const std::uint8_t> jpeg;
    QSize shown;
    QSize* pictureSize;
    QImage image;  // the frame being decoded; outside DecodeFrame, which a jump leaves
};

// The denominator of the reduction to use for `side` to show it `wanted` large: the
// largest of 1, 2, 4 and 8 that keeps at least 15/16 of `wanted` (the view scales the rest
// up, unnoticed). The library has fast reduced transforms for these four only; any other
// reduction decodes slower than the whole picture.
unsigned int ReductionFor(JDIMENSION side, int wanted) {
    for (unsigned int denominator = 8; denominator > 1; denominator /= 2) {
        const std::uint64_t reduced = (std::uint64_t{side} + denominator - 1) / denominator;
        if (reduced * 16 >= static_cast<std::uint64_t>(wanted) * 15) {
            return denominator;
        }
    }
    return 1;
}

// Decodes job->jpeg into job->image. Returns 0 or an
// error code; the library object is destroyed either way.
int DecodeFrame(FrameDecompression* job) {
    j_decompress_ptr cinfo = &job->cinfo;
    if (setjmp(job->errors.jump) != 0) {
        jpeg_destroy_decompress(cinfo);
        return job->errors.outOfMemory ? ENOMEM : EBADMSG;
    }
    jpeg_create_decompress(cinfo);
    jpeg_mem_src(cinfo, job->jpeg.data(), static_cast<unsigned long>(job->jpeg.size()));
    jpeg_read_header(cinfo, TRUE);
    if (!HasRgbOutput(cinfo->jpeg_color_space)) {
        jpeg_destroy_decompress(cinfo);
        return ENOTSUP;
    }
    if (job->pictureSize != nullptr) {
        *job->pictureSize =
            QSize(static_cast<int>(cinfo->image_width), static_cast<int>(cinfo->image_height));
    }
    cinfo->scale_num = 1;
    cinfo->scale_denom = 1;
    if (!job->shown.isEmpty()) {
        cinfo->scale_denom = std::min(ReductionFor(cinfo->image_width, job->shown.width()),
                                      ReductionFor(cinfo->image_height, job->shown.height()));
    }
    // Blue, green, red and 255 in memory: a Format_RGB32 pixel.
    cinfo->out_color_space = JCS_EXT_BGRX;
    jpeg_calc_output_dimensions(cinfo);
    const std::int64_t pixels =
        std::int64_t{cinfo->output_width} * std::int64_t{cinfo->output_height};
    if (pixels > kMaxFramePixels) {
        jpeg_destroy_decompress(cinfo);
        return EFBIG;
    }
    job->image = QImage(static_cast<int>(cinfo->output_width),
                        static_cast<int>(cinfo->output_height), QImage::Format_RGB32);
    if (job->image.isNull()) {
        jpeg_destroy_decompress(cinfo);
        return ENOMEM;
    }
    jpeg_start_decompress(cinfo);
    std::uint8_t* const bits = job->image.bits();
    const auto stride = static_cast<std::size_t>(job->image.bytesPerLine());
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW pointers[kRowsPerCall];
        const JDIMENSION count =
            std::min(kRowsPerCall, cinfo->output_height - cinfo->output_scanline);
        for (JDIMENSION i = 0; i < count; ++i) {
            pointers[i] = bits + (cinfo->output_scanline + i) * stride;
        }
        if (jpeg_read_scanlines(cinfo, pointers, count) == 0) {
            FailJpegCall(reinterpret_cast<j_common_ptr>(cinfo), "No scanline was read");
        }
    }
    jpeg_finish_decompress(cinfo);
    jpeg_destroy_decompress(cinfo);
    return 0;
}

}  // namespace

IoResult JpegToFrame(std::span<const std::uint8_t> jpeg, QSize shown, QImage& frame,
                     QSize* pictureSize) {
    FrameDecompression job{};
    job.cinfo.err = InstallJpegErrorManager(&job.errors, JpegDamage::kCounted);
    job.jpeg = jpeg;
    job.shown = shown;
    job.pictureSize = pictureSize;
    const int error = DecodeFrame(&job);
    if (error == 0) {
        frame = std::move(job.image);
        return {};
    }
    if (error == EBADMSG) {
        return IoResult(error, job.errors.message);
    }
    return IoResult(error);
}
