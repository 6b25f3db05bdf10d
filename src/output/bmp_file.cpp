#include "output/bmp_file.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "platform/unique_fd.h"

namespace {

constexpr std::uint32_t kOs2CoreHeaderBytes = 12;
constexpr std::size_t kOs2ColourEntryBytes = 3;

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
            return EBADMSG;
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
    FileSource(platform::UniqueFd fd, std::uint64_t length) : fd_(std::move(fd)), length_(length) {}
    std::uint64_t length() const override { return length_; }
    int ReadAt(std::uint64_t offset, std::uint8_t* dest, std::size_t sizeBytes) const override {
        while (sizeBytes > 0) {
            const ssize_t got = ::pread(fd_.get(), dest, sizeBytes, static_cast<off_t>(offset));
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
    platform::UniqueFd fd_;
    std::uint64_t length_;
};

std::uint16_t Read16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::uint32_t Read32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (bytes[1] << 8) | (bytes[2] << 16) |
           (std::uint32_t{bytes[3]} << 24);
}

// Where the parts of a bitmap file lie, checked against its length.
struct FilePlan {
    BitmapInfoHeader header;  // biHeight as in the file: negative for top-down rows
    std::uint64_t colourTableOffset = 0;
    std::size_t colourTableEntries = 0;  // entries stored in the file
    std::size_t colourEntryBytes = kRgbQuadBytes;
    std::uint64_t rowsOffset = 0;
    std::uint64_t rowStrideBytes = 0;
    std::uint64_t rowsBytes = 0;
    std::int32_t height = 0;  // rows, whatever their order
    bool topDown = false;
};

int CheckInfoHeader(const BitmapInfoHeader& header) {
    if (header.biCompression != kBiRgb) {
        return ENOTSUP;
    }
    if (header.biPlanes != 1 || !IsSupportedBitCount(header.biBitCount) || header.biWidth <= 0 ||
        header.biHeight == 0 || header.biHeight == INT32_MIN) {
        return EBADMSG;
    }
    if (header.biBitCount <= 8 && header.biClrUsed > ColourTableEntries(header.biBitCount)) {
        return EBADMSG;
    }
    return 0;
}

// The 12-byte OS/2 header: 16-bit width, height, planes and bit count; rows bottom-up, a
// colour table of 3-byte entries filling the space up to the rows, at most 2^depth of them.
int PlanOs2Header(const std::uint8_t* core, const BitmapFileHeader& fileHeader, FilePlan* plan) {
    BitmapInfoHeader& header = plan->header;
    header.biSize = kBitmapInfoHeaderBytes;
    header.biWidth = Read16(core + 4);
    header.biHeight = Read16(core + 6);
    header.biPlanes = Read16(core + 8);
    header.biBitCount = Read16(core + 10);
    header.biCompression = kBiRgb;
    if (header.biBitCount == 16 || header.biBitCount == 32) {
        return EBADMSG;  // the OS/2 header has no such depths
    }
    if (const int error = CheckInfoHeader(header)) {
        return error;
    }
    plan->colourEntryBytes = kOs2ColourEntryBytes;
    plan->colourTableOffset = kBitmapFileHeaderBytes + kOs2CoreHeaderBytes;
    if (header.biBitCount <= 8 && fileHeader.bfOffBits > plan->colourTableOffset) {
        plan->colourTableEntries = std::min<std::uint64_t>(
            ColourTableEntries(header.biBitCount),
            (fileHeader.bfOffBits - plan->colourTableOffset) / kOs2ColourEntryBytes);
    }
    return 0;
}

int PlanInfoHeader(const ByteSource& source, std::uint32_t headerBytes, FilePlan* plan) {
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
    return 0;
}

// Reads and checks the headers; fills `plan` when the file can be loaded.
int PlanLoad(const ByteSource& source, FilePlan* plan) {
    const std::uint64_t length = source.length();
    std::uint8_t start[kBitmapFileHeaderBytes + kOs2CoreHeaderBytes] = {};
    if (length < sizeof start) {
        return EBADMSG;
    }
    if (const int error = source.ReadAt(0, start, sizeof start)) {
        return error;
    }
    const BitmapFileHeader fileHeader =
        ReadBitmapFileHeader(std::span<const std::uint8_t, kBitmapFileHeaderBytes>(start, 14));
    const std::uint32_t headerBytes = Read32(start + kBitmapFileHeaderBytes);
    if (fileHeader.bfType != kBitmapFileType) {
        return EBADMSG;
    }
    int error = 0;
    if (headerBytes == kOs2CoreHeaderBytes) {
        error = PlanOs2Header(start + kBitmapFileHeaderBytes, fileHeader, plan);
    } else if (headerBytes < kBitmapInfoHeaderBytes ||
               headerBytes > length - kBitmapFileHeaderBytes) {
        error = EBADMSG;
    } else {
        error = PlanInfoHeader(source, headerBytes, plan);
    }
    if (error != 0) {
        return error;
    }

    const BitmapInfoHeader& header = plan->header;
    const std::uint64_t tableEnd =
        plan->colourTableOffset + plan->colourTableEntries * plan->colourEntryBytes;
    plan->topDown = header.biHeight < 0;
    plan->height = plan->topDown ? -header.biHeight : header.biHeight;
    plan->rowsOffset = fileHeader.bfOffBits;
    plan->rowStrideBytes =
        DibRowStrideBytes(static_cast<std::uint32_t>(header.biWidth), header.biBitCount);
    std::uint64_t rowsEnd = 0;
    if (__builtin_mul_overflow(plan->rowStrideBytes, static_cast<std::uint64_t>(plan->height),
                               &plan->rowsBytes) ||
        __builtin_add_overflow(plan->rowsOffset, plan->rowsBytes, &rowsEnd)) {
        return EBADMSG;
    }
    if (plan->rowsOffset < tableEnd || rowsEnd > length) {
        return EBADMSG;
    }
    return 0;
}

void FlipRows(std::uint8_t* rows, std::size_t count, std::size_t strideBytes) {
    if (count < 2) {
        return;
    }
    for (std::size_t top = 0, bottom = count - 1; top < bottom; ++top, --bottom) {
        std::uint8_t* a = rows + top * strideBytes;
        std::uint8_t* b = rows + bottom * strideBytes;
        std::swap_ranges(a, a + strideBytes, b);
    }
}

}  // namespace

struct BitmapRowReader::State {
    std::unique_ptr<ByteSource> source;
    FilePlan plan;
    std::array<std::uint8_t, 256 * kRgbQuadBytes> colourTable{};
    std::size_t colourTableBytes = 0;
    platform::FileIdentity identity;

    int Start(std::unique_ptr<ByteSource> bytes) {
        source = std::move(bytes);
        if (const int error = PlanLoad(*source, &plan)) {
            return error;
        }
        colourTableBytes = ColourTableEntries(plan.header.biBitCount) * kRgbQuadBytes;
        std::uint8_t stored[256 * kRgbQuadBytes] = {};
        const std::size_t entryBytes = plan.colourEntryBytes;
        if (const int error = source->ReadAt(plan.colourTableOffset, stored,
                                             plan.colourTableEntries * entryBytes)) {
            return error;
        }
        for (std::size_t i = 0; i < plan.colourTableEntries; ++i) {
            std::memcpy(&colourTable[i * kRgbQuadBytes], &stored[i * entryBytes], 3);
        }
        return 0;
    }

    // `count` rows in the order of the file, from stored row `first`.
    int ReadStoredRows(std::uint64_t first, std::uint64_t count, std::uint8_t* dest) const {
        return source->ReadAt(plan.rowsOffset + first * plan.rowStrideBytes, dest,
                              static_cast<std::size_t>(count * plan.rowStrideBytes));
    }
};

BitmapRowReader::BitmapRowReader() = default;
BitmapRowReader::~BitmapRowReader() = default;
BitmapRowReader::BitmapRowReader(BitmapRowReader&&) noexcept = default;
BitmapRowReader& BitmapRowReader::operator=(BitmapRowReader&&) noexcept = default;

IoResult BitmapRowReader::Open(const std::string& path) {
    platform::OpenedFile file = platform::OpenRegularFileForReading(path);
    if (file.error != 0) {
        state_.reset();
        return IoResult(file.error);
    }
    state_ = std::make_unique<State>();
    state_->identity = file.identity;
    const int error = state_->Start(std::make_unique<FileSource>(
        std::move(file.fd), static_cast<std::uint64_t>(file.sizeBytes)));
    if (error != 0) {
        state_.reset();
    }
    return IoResult(error);
}

IoResult BitmapRowReader::Parse(std::span<const std::uint8_t> fileBytes) {
    state_ = std::make_unique<State>();
    const int error = state_->Start(std::make_unique<MemorySource>(fileBytes));
    if (error != 0) {
        state_.reset();
    }
    return IoResult(error);
}

std::int32_t BitmapRowReader::width() const {
    return state_ ? state_->plan.header.biWidth : 0;
}

std::int32_t BitmapRowReader::height() const {
    return state_ ? state_->plan.height : 0;
}

unsigned BitmapRowReader::bitCount() const {
    return state_ ? state_->plan.header.biBitCount : 0;
}

std::size_t BitmapRowReader::rowStrideBytes() const {
    return state_ ? static_cast<std::size_t>(state_->plan.rowStrideBytes) : 0;
}

std::span<const std::uint8_t> BitmapRowReader::colourTable() const {
    if (!state_) {
        return {};
    }
    return {state_->colourTable.data(), state_->colourTableBytes};
}

const platform::FileIdentity& BitmapRowReader::identity() const {
    static const platform::FileIdentity kNone;
    return state_ ? state_->identity : kNone;
}

std::int32_t BitmapRowReader::xPixelsPerMetre() const {
    return state_ ? state_->plan.header.biXPelsPerMeter : 0;
}

std::int32_t BitmapRowReader::yPixelsPerMetre() const {
    return state_ ? state_->plan.header.biYPelsPerMeter : 0;
}

IoResult BitmapRowReader::ReadRows(std::uint32_t top, std::uint32_t count,
                                   std::uint8_t* dest) const {
    if (!state_ || std::uint64_t{top} + count > static_cast<std::uint64_t>(height())) {
        return IoResult(EINVAL);
    }
    const FilePlan& plan = state_->plan;
    if (plan.topDown) {
        return IoResult(state_->ReadStoredRows(top, count, dest));
    }
    // Bottom-up: the band lies in the file bottom row first.
    const std::uint64_t first = static_cast<std::uint64_t>(plan.height) - top - count;
    if (const int error = state_->ReadStoredRows(first, count, dest)) {
        return IoResult(error);
    }
    FlipRows(dest, count, static_cast<std::size_t>(plan.rowStrideBytes));
    return {};
}

// Loads a whole picture through a reader's state, in the file's own row order where that is
// already bottom-up.
struct BitmapLoader {
    static IoResultOf<PackedDib> Load(const BitmapRowReader& reader, IoResult opened) {
        if (!opened) {
            return opened;
        }
        const BitmapRowReader::State& state = *reader.state_;
        const FilePlan& plan = state.plan;
        // biSizeImage of the loaded picture is 32 bits wide.
        if (plan.rowsBytes > UINT32_MAX) {
            return IoResult(EFBIG);
        }
        // The plan allows only sizes and depths a packed DIB can have: this fails only for
        // want of memory.
        IoResultOf<PackedDib> dib =
            PackedDib::Create(plan.header.biWidth, plan.height, plan.header.biBitCount,
                              RowFill::kUninitialised);  // every row is read from the file
        if (!dib) {
            return IoResult(ENOMEM);
        }
        const std::span<const std::uint8_t> table = reader.colourTable();
        std::copy(table.begin(), table.end(), dib->ColourTable().begin());
        if (const int error = state.ReadStoredRows(0, static_cast<std::uint64_t>(plan.height),
                                                   dib->Rows().data())) {
            return IoResult(error);
        }
        if (plan.topDown) {
            FlipRows(dib->Rows().data(), static_cast<std::size_t>(plan.height),
                     static_cast<std::size_t>(plan.rowStrideBytes));
        }
        BitmapInfoHeader header = dib->layout().header;
        header.biXPelsPerMeter = plan.header.biXPelsPerMeter;
        header.biYPelsPerMeter = plan.header.biYPelsPerMeter;
        dib->SetHeader(header);
        return dib;
    }
};

std::string BitmapFileErrorText(int error) {
    switch (error) {
        case EBADMSG:
            return "not a bitmap file, or a damaged one";
        case ENOTSUP:
            return "a compressed or bit-field bitmap, which cannot be converted";
        default:
            return platform::FileErrorText(error);
    }
}

IoResultOf<PackedDib> LoadBitmapFile(const std::string& path) {
    BitmapRowReader reader;
    IoResult opened = reader.Open(path);
    return BitmapLoader::Load(reader, std::move(opened));
}

IoResultOf<PackedDib> ParseBitmapFile(std::span<const std::uint8_t> fileBytes) {
    BitmapRowReader reader;
    IoResult opened = reader.Parse(fileBytes);
    return BitmapLoader::Load(reader, std::move(opened));
}

IoResultOf<PackedDib> BitmapToPackedDib(PackedDib bitmap, std::uint32_t compression) {
    if (compression != kBiRgb) {
        return IoResult(ENOTSUP);
    }
    if (bitmap.empty()) {
        return IoResult(EINVAL);
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
