// LoadPictureFile and LoadThumbnailImage (LoadFirstVideoFrame is in video_first_frame.cpp).
#include "browser/picture_loader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "output/bmp_file.h"
#include "output/jpeg_codec.h"
#include "output/packed_dib.h"
#include "platform/bitmap_records.h"
#include "platform/regular_files.h"

namespace {

bool NamesJpeg(const std::string& path) {
    if (path.size() < 3) {
        return false;
    }
    const char* tail = path.data() + path.size() - 3;
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(tail[0]) == 'j' && lower(tail[1]) == 'p' && lower(tail[2]) == 'g';
}

// The bytes of a packed DIB of that size and depth: header, colour table and rows.
std::uint64_t PackedDibBytes(std::int32_t width, std::int32_t height, unsigned bitCount) {
    const std::uint64_t rowsOffset =
        kBitmapInfoHeaderBytes + ColourTableEntries(bitCount) * kRgbQuadBytes;
    // Both sides are below 2^31 and a row below 2^33 bytes: no overflow.
    return rowsOffset + DibRowStrideBytes(static_cast<std::uint32_t>(width), bitCount) *
                            static_cast<std::uint64_t>(height);
}

// The bitmap file at `path` when its packed DIB takes at most `room` bytes; a larger one is
// refused from its headers, before its rows are read.
IoResultOf<PackedDib> LoadBitmapWithin(const std::string& path, std::size_t room) {
    {
        BitmapRowReader reader;
        if (IoResult opened = reader.Open(path); !opened) {
            return opened;
        }
        if (PackedDibBytes(reader.width(), reader.height(), reader.bitCount()) > room) {
            return IoResult(EFBIG);
        }
    }
    IoResultOf<PackedDib> dib = LoadBitmapFile(path);
    if (dib && dib->bytes().size() > room) {
        return IoResult(EFBIG);  // replaced by a larger picture in between
    }
    return dib;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Decodes the JPEG file at `path` into `dib`, whose contents are undefined after a failure,
// with biSizeImage set as in every other DIB we load; `imageBytes` receives the rows' size.
// Opened as every file we read is, so that a FIFO of that name cannot hold the caller.
IoResult DecodeJpegFile(const std::string& path, std::span<std::uint8_t> dib,
                        std::size_t& imageBytes) {
    platform::OpenedFile file = platform::OpenRegularFileForReading(path);
    if (file.error != 0) {
        return IoResult(file.error);
    }
    const std::unique_ptr<std::FILE, FileCloser> stream(::fdopen(file.fd.get(), "rb"));
    if (!stream) {
        return IoResult(errno);
    }
    file.fd.Release();  // the stream closes it
    if (IoResult decoded = JpegStreamToDib(stream.get(), dib, &imageBytes); !decoded) {
        return decoded;
    }
    const auto header = dib.first<kBitmapInfoHeaderBytes>();
    BitmapInfoHeader fields = ReadBitmapInfoHeader(header);
    fields.biSizeImage = static_cast<std::uint32_t>(imageBytes);  // below the buffer's size
    WriteBitmapInfoHeader(fields, header);
    return {};
}

std::unique_ptr<std::uint8_t[]> NewScratch(std::size_t sizeBytes) {
    return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[sizeBytes]);
}

// Picture row `y` (0 is the top) of a packed DIB as 24-bit BGR pixels: the DIB's own bytes
// for 24 bits, else the row converted into `converted` (3 bytes a pixel). 16-bit pixels are
// 5-5-5, widened as everywhere in the program.
class BgrRows {
public:
    BgrRows(std::span<const std::uint8_t> dib, const DibLayout& layout)
        : dib_(dib), layout_(layout) {
        if (layout.header.biBitCount != 24) {
            converted_.resize(3 * static_cast<std::size_t>(layout.header.biWidth));
        }
    }

    const std::uint8_t* Row(int y) {
        const std::uint8_t* row =
            dib_.data() + layout_.rowsOffset +
            static_cast<std::size_t>(layout_.header.biHeight - 1 - y) * layout_.rowStrideBytes;
        const unsigned bits = layout_.header.biBitCount;
        if (bits == 24) {
            return row;
        }
        const std::uint8_t* table = dib_.data() + layout_.colourTableOffset;
        std::uint8_t* out = converted_.data();
        for (int x = 0; x < layout_.header.biWidth; ++x, out += 3) {
            const std::uint8_t* pixel = nullptr;
            if (bits == 32) {
                pixel = row + 4 * static_cast<std::size_t>(x);
            } else if (bits == 16) {
                const unsigned value = row[2 * x] | row[2 * x + 1] << 8;
                out[0] = FiveBitLevels[value & 31];
                out[1] = FiveBitLevels[(value >> 5) & 31];
                out[2] = FiveBitLevels[(value >> 10) & 31];
                continue;
            } else {
                const unsigned index = bits == 8   ? row[x]
                                       : bits == 4 ? (row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 15
                                                   : (row[x / 8] >> (7 - x % 8)) & 1;
                pixel = table + index * kRgbQuadBytes;  // the table has 2^bits entries
            }
            out[0] = pixel[0];
            out[1] = pixel[1];
            out[2] = pixel[2];
        }
        return converted_.data();
    }

private:
    std::span<const std::uint8_t> dib_;
    const DibLayout& layout_;
    std::vector<std::uint8_t> converted_;
};

// The picture shrunk to `size` (or copied, at its own size) as an RGB32 image: each thumbnail
// pixel is the mean of the box of picture pixels that falls on it, whole pixels split at
// x * width / size.width() and y * height / size.height(). Reads each row once, in order;
// about three times as fast as Qt's smooth scaling, which first converts the whole picture.
QImage BoxShrink(BgrRows& rows, QSize picture, QSize size) {
    const int columns = size.width();
    QImage shrunk(size, QImage::Format_RGB32);
    if (shrunk.isNull()) {
        return shrunk;
    }
    // Column c of the thumbnail takes picture columns firstX[c] to firstX[c + 1] - 1.
    std::vector<int> firstX(static_cast<std::size_t>(columns) + 1);
    for (int column = 0; column <= columns; ++column) {
        firstX[column] = static_cast<int>(std::int64_t{column} * picture.width() / columns);
    }
    std::vector<std::uint64_t> sums(3 * static_cast<std::size_t>(columns));
    for (int line = 0; line < size.height(); ++line) {
        const int top = static_cast<int>(std::int64_t{line} * picture.height() / size.height());
        const int bottom =
            static_cast<int>(std::int64_t{line + 1} * picture.height() / size.height());
        std::fill(sums.begin(), sums.end(), 0);
        for (int y = top; y < bottom; ++y) {
            const std::uint8_t* pixel = rows.Row(y);
            for (int column = 0; column < columns; ++column) {
                std::uint64_t blue = 0;
                std::uint64_t green = 0;
                std::uint64_t red = 0;
                for (int x = firstX[column]; x < firstX[column + 1]; ++x, pixel += 3) {
                    blue += pixel[0];
                    green += pixel[1];
                    red += pixel[2];
                }
                std::uint64_t* sum = &sums[3 * static_cast<std::size_t>(column)];
                sum[0] += blue;
                sum[1] += green;
                sum[2] += red;
            }
        }
        auto* out = reinterpret_cast<QRgb*>(shrunk.scanLine(line));
        for (int column = 0; column < columns; ++column) {
            const auto count = static_cast<std::uint64_t>(firstX[column + 1] - firstX[column]) *
                               static_cast<std::uint64_t>(bottom - top);
            const std::uint64_t* sum = &sums[3 * static_cast<std::size_t>(column)];
            const auto mean = [count](std::uint64_t total) {
                return static_cast<int>((total + count / 2) / count);
            };
            out[column] = qRgb(mean(sum[2]), mean(sum[1]), mean(sum[0]));
        }
    }
    return shrunk;
}

// The picture of the packed DIB in `dib` scaled to fit in maxSide x maxSide.
IoResultOf<QImage> Thumbnail(std::span<const std::uint8_t> dib, int maxSide) {
    const IoResultOf<DibLayout> layout = DescribePackedDib(dib);
    if (!layout) {
        return layout.status();
    }
    const QSize picture(layout->header.biWidth, layout->header.biHeight);
    QSize size = picture;
    if (size.width() > maxSide || size.height() > maxSide) {
        size = size.scaled(maxSide, maxSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    }
    BgrRows rows(dib, *layout);
    QImage thumbnail = BoxShrink(rows, picture, size);
    if (thumbnail.isNull()) {
        return IoResult(ENOMEM);
    }
    return thumbnail;
}

}  // namespace

IoResult LoadPictureFile(const std::string& path, std::span<std::uint8_t> dest) {
    if (NamesJpeg(path)) {
        // The decoder writes as it goes: into a buffer of our own, copied once it succeeded.
        const std::unique_ptr<std::uint8_t[]> scratch = NewScratch(dest.size());
        if (!scratch) {
            return IoResult(ENOMEM);
        }
        std::size_t imageBytes = 0;
        if (IoResult decoded = DecodeJpegFile(path, {scratch.get(), dest.size()}, imageBytes);
            !decoded) {
            return decoded;
        }
        std::memcpy(dest.data(), scratch.get(), kDecodedRowsOffset + imageBytes);
        return {};
    }
    const IoResultOf<PackedDib> dib = LoadBitmapWithin(path, dest.size());
    if (!dib) {
        return dib.status();
    }
    std::memcpy(dest.data(), dib->bytes().data(), dib->bytes().size());
    return {};
}

IoResultOf<QImage> LoadThumbnailImage(const std::string& path, MediaKind kind, int maxSide) {
    if (maxSide <= 0) {
        return IoResult(EINVAL);
    }
    if (kind == MediaKind::Pictures && !NamesJpeg(path)) {
        const IoResultOf<PackedDib> dib = LoadBitmapWithin(path, kViewerImageBytes);
        if (!dib) {
            return dib.status();
        }
        return Thumbnail(dib->bytes(), maxSide);
    }
    const std::unique_ptr<std::uint8_t[]> scratch = NewScratch(kViewerImageBytes);
    if (!scratch) {
        return IoResult(ENOMEM);
    }
    const std::span<std::uint8_t> image(scratch.get(), kViewerImageBytes);
    std::size_t imageBytes = 0;
    IoResult loaded = kind == MediaKind::Pictures ? DecodeJpegFile(path, image, imageBytes)
                                                  : LoadFirstVideoFrame(path, image);
    if (!loaded) {
        return loaded;
    }
    return Thumbnail(image, maxSide);
}
