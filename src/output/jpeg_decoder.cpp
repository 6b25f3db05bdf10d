// JpegFileToDib: JPEG files to packed 24-bit DIBs in a buffer the caller owns.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/bitmap_records.h"
#include "output/jpeg_codec.h"
#include "output/jpeg_error.h"

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
