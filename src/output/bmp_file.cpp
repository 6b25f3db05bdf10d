#include "output/bmp_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/unique_fd.h"

namespace {

constexpr std::uint32_t kOs2CoreHeaderBytes = 12;

// Bytes of a whole file, read at offsets. ReadAt returns 0 or an errno.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t length() const = 0;
    virtual int ReadAt(std::uint64_t offset, std::uint8_t* dest, std::size_t sizeBytes) const = 0;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t length() const override { return bytes_.size(); }
    int ReadAt(std::uint64_t offset, std::uint8_t* dest, std::size_t sizeBytes) const override {
        if (offset > bytes_.size() || sizeBytes > bytes_.size() - offset) {
            return EINVAL;
        }
        if (sizeBytes > 0) {
            std::memcpy(dest, bytes_.data() + offset, sizeBytes);
        }
        return 0;
    }

private:
    std::span<const std::uint8_t> bytes_;
};

class FileSource final : public ByteSource {
public:
    FileSource(int fd, std::uint64_t length) : fd_(fd), length_(length) {}
    std::uint64_t length() const override { return length_; }
    int ReadAt(std::uint64_t offset, std::uint8_t* dest, std::size_t sizeBytes) const override {
        while (sizeBytes > 0) {
            const ssize_t got = ::pread(fd_, dest, sizeBytes, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                return got < 0 ? errno : EIO;  // the file shrank while we read it
            }
            dest += got;
            offset += static_cast<std::uint64_t>(got);
            sizeBytes -= static_cast<std::size_t>(got);
        }
        return 0;
    }

private:
    int fd_;
    std::uint64_t length_;
};

// Where the parts of a bitmap file lie, checked against its length.
struct FilePlan {
    BitmapInfoHeader header;
    std::uint64_t colourTableOffset = 0;
    std::size_t colourTableEntries = 0;  // entries stored in the file
    std::uint64_t rowsOffset = 0;
    std::int32_t height = 0;  // rows, whatever their order
    bool topDown = false;
};

int CheckInfoHeader(const BitmapInfoHeader& header) {
    if (header.biCompression != kBiRgb) {
        return ENOTSUP;
    }
    if (header.biPlanes != 1 || !IsSupportedBitCount(header.biBitCount) || header.biWidth <= 0 ||
        header.biHeight == 0 || header.biHeight == INT32_MIN) {
        return EINVAL;
    }
    if (header.biBitCount <= 8 && header.biClrUsed > ColourTableEntries(header.biBitCount)) {
        return EINVAL;
    }
    return 0;
}

// Reads and checks the headers; fills `plan` when the file can be loaded.
int PlanLoad(const ByteSource& source, FilePlan* plan) {
    const std::uint64_t length = source.length();
    std::uint8_t start[kBitmapFileHeaderBytes + 4] = {};
    if (length < sizeof start) {
        return EINVAL;
    }
    if (const int error = source.ReadAt(0, start, sizeof start)) {
        return error;
    }
    const BitmapFileHeader fileHeader =
        ReadBitmapFileHeader(std::span<const std::uint8_t, kBitmapFileHeaderBytes>(start, 14));
    const std::uint32_t headerBytes = static_cast<std::uint32_t>(start[14]) | (start[15] << 8) |
                                      (start[16] << 16) | (std::uint32_t{start[17]} << 24);
    if (fileHeader.bfType != kBitmapFileType) {
        return EINVAL;
    }
    if (headerBytes == kOs2CoreHeaderBytes) {
        return ENOTSUP;
    }
    if (headerBytes < kBitmapInfoHeaderBytes || headerBytes > length - kBitmapFileHeaderBytes) {
        return EINVAL;
    }
    std::uint8_t info[kBitmapInfoHeaderBytes] = {};
    if (const int error = source.ReadAt(kBitmapFileHeaderBytes, info, sizeof info)) {
        return error;
    }
    plan->header = ReadBitmapInfoHeader(info);
    const BitmapInfoHeader& header = plan->header;
    if (const int error = CheckInfoHeader(header)) {
        return error;
    }

    plan->colourTableOffset = kBitmapFileHeaderBytes + std::uint64_t{headerBytes};
    if (header.biBitCount <= 8) {
        plan->colourTableEntries =
            header.biClrUsed != 0 ? header.biClrUsed : ColourTableEntries(header.biBitCount);
    }
    const std::uint64_t tableEnd = plan->colourTableOffset + plan->colourTableEntries * 4;
    plan->topDown = header.biHeight < 0;
    plan->height = plan->topDown ? -header.biHeight : header.biHeight;
    plan->rowsOffset = fileHeader.bfOffBits;

    const std::uint64_t stride =
        DibRowStrideBytes(static_cast<std::uint32_t>(header.biWidth), header.biBitCount);
    std::uint64_t rowsBytes = 0;
    std::uint64_t rowsEnd = 0;
    if (__builtin_mul_overflow(stride, static_cast<std::uint64_t>(plan->height), &rowsBytes) ||
        __builtin_add_overflow(plan->rowsOffset, rowsBytes, &rowsEnd)) {
        return EINVAL;
    }
    if (plan->rowsOffset < tableEnd || rowsEnd > length) {
        return EINVAL;
    }
    // biSizeImage of the loaded picture is 32 bits wide.
    return rowsBytes > UINT32_MAX ? EFBIG : 0;
}

void FlipRows(std::span<std::uint8_t> rows, std::size_t strideBytes) {
    const std::size_t count = rows.size() / strideBytes;
    for (std::size_t top = 0, bottom = count - 1; top < bottom; ++top, --bottom) {
        std::uint8_t* a = rows.data() + top * strideBytes;
        std::uint8_t* b = rows.data() + bottom * strideBytes;
        std::swap_ranges(a, a + strideBytes, b);
    }
}

BitmapLoad Load(const ByteSource& source) {
    BitmapLoad result;
    FilePlan plan;
    result.error = PlanLoad(source, &plan);
    if (result.error != 0) {
        return result;
    }
    std::optional<PackedDib> dib =
        PackedDib::Create(plan.header.biWidth, plan.height, plan.header.biBitCount,
                          RowFill::kUninitialised);  // every row is read from the file
    if (!dib) {
        result.error = ENOMEM;
        return result;
    }
    std::span<std::uint8_t> table = dib->ColourTable();
    result.error = source.ReadAt(plan.colourTableOffset, table.data(), plan.colourTableEntries * 4);
    if (result.error == 0) {
        result.error = source.ReadAt(plan.rowsOffset, dib->Rows().data(), dib->Rows().size());
    }
    if (result.error != 0) {
        return result;
    }
    if (plan.topDown) {
        FlipRows(dib->Rows(), dib->layout().rowStrideBytes);
    }
    BitmapInfoHeader header = dib->layout().header;
    header.biXPelsPerMeter = plan.header.biXPelsPerMeter;
    header.biYPelsPerMeter = plan.header.biYPelsPerMeter;
    dib->SetHeader(header);
    result.bitmap = std::move(*dib);
    return result;
}

}  // namespace

BitmapLoad LoadBitmapFile(const std::string& path) {
    BitmapLoad result;
    const platform::UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info = {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0) {
        result.error = errno;
        return result;
    }
    if (!S_ISREG(info.st_mode)) {
        result.error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return result;
    }
    return Load(FileSource(file.get(), static_cast<std::uint64_t>(info.st_size)));
}

BitmapLoad ParseBitmapFile(std::span<const std::uint8_t> fileBytes) {
    return Load(MemorySource(fileBytes));
}

std::optional<PackedDib> BitmapToPackedDib(PackedDib bitmap, std::uint32_t compression) {
    if (compression != kBiRgb || bitmap.empty()) {
        return std::nullopt;
    }
    BitmapInfoHeader header;
    header.biSize = kBitmapInfoHeaderBytes;
    header.biWidth = bitmap.layout().header.biWidth;
    header.biHeight = bitmap.layout().header.biHeight;
    header.biPlanes = 1;
    header.biBitCount = bitmap.layout().header.biBitCount;
    header.biCompression = compression;
    header.biSizeImage = static_cast<std::uint32_t>(bitmap.layout().imageBytes);
    bitmap.SetHeader(header);
    return bitmap;
}
