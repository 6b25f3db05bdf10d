#include "output/avi_salvage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "platform/unique_fd.h"

namespace {

constexpr std::uint32_t kOpenSize = 0xFFFFFFFFu;  // the size of a list not yet closed

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void PutLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

bool ReadAt(int fd, std::uint64_t offset, std::uint8_t* bytes, std::size_t count) {
    return ::pread(fd, bytes, count, static_cast<off_t>(offset)) == static_cast<ssize_t>(count);
}

bool WriteAt(int fd, std::uint64_t offset, const std::uint8_t* bytes, std::size_t count) {
    return ::pwrite(fd, bytes, count, static_cast<off_t>(offset)) == static_cast<ssize_t>(count);
}

IoResult Errno(const std::string& path) {
    return IoResult(errno != 0 ? errno : EIO, path);
}

// A chunk header: its four-character code, its size, and for lists their type.
struct Chunk {
    std::uint64_t offset = 0;
    std::array<char, 4> id{};
    std::uint32_t size = 0;
    std::array<char, 4> listType{};
    bool Is(const char* fourcc) const { return std::memcmp(id.data(), fourcc, 4) == 0; }
    bool IsList(const char* type) const {
        return (Is("LIST") || Is("RIFF")) && std::memcmp(listType.data(), type, 4) == 0;
    }
    std::uint64_t End() const { return offset + 8 + size + (size & 1u); }
};

bool ReadChunk(int fd, std::uint64_t offset, Chunk& chunk) {
    std::uint8_t header[12] = {};
    if (!ReadAt(fd, offset, header, sizeof header)) {
        return false;
    }
    chunk.offset = offset;
    std::memcpy(chunk.id.data(), header, 4);
    chunk.size = Le32(header + 4);
    std::memcpy(chunk.listType.data(), header + 8, 4);
    return true;
}

// Sets the frame count of the main header ('avih' dwTotalFrames) and of the first stream's
// header ('strh' dwLength), which are filled in only when a file is ended normally.
void SetFrameCounts(int fd, const Chunk& riff, std::uint32_t frames) {
    Chunk hdrl;
    if (!ReadChunk(fd, riff.offset + 12, hdrl) || !hdrl.IsList("hdrl")) {
        return;
    }
    std::uint8_t count[4];
    PutLe32(count, frames);
    for (std::uint64_t offset = hdrl.offset + 12; offset + 8 <= hdrl.End();) {
        Chunk chunk;
        if (!ReadChunk(fd, offset, chunk)) {
            return;
        }
        if (chunk.Is("avih") && chunk.size >= 20) {
            (void)WriteAt(fd, chunk.offset + 8 + 16, count, 4);
        } else if (chunk.IsList("strl")) {
            Chunk strh;
            if (ReadChunk(fd, chunk.offset + 12, strh) && strh.Is("strh") && strh.size >= 36) {
                (void)WriteAt(fd, strh.offset + 8 + 32, count, 4);
            }
            return;  // the first stream is the video
        }
        offset = chunk.End();
    }
}

}  // namespace

IoResult FinishCutShortAvi(const std::string& path, std::uint64_t goodEndBytes,
                           const std::vector<bool>& keyFrames) {
    platform::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.valid()) {
        return Errno(path);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        return Errno(path);
    }
    if (!S_ISREG(info.st_mode)) {
        return IoResult(EINVAL, path);
    }
    const auto fileBytes = static_cast<std::uint64_t>(info.st_size);
    if (goodEndBytes > fileBytes) {
        goodEndBytes = fileBytes;
    }
    // The open RIFF is the last one: every earlier one was closed with its size.
    Chunk riff;
    std::uint64_t offset = 0;
    for (;;) {
        if (!ReadChunk(fd.get(), offset, riff) || !riff.Is("RIFF") || riff.offset >= goodEndBytes) {
            return IoResult(EINVAL, path);
        }
        if (riff.size == kOpenSize || riff.End() >= goodEndBytes) {
            break;
        }
        offset = riff.End();
    }
    const bool firstRiff = riff.offset == 0;
    // Its 'movi' list holds the frames.
    Chunk movi;
    offset = riff.offset + 12;
    for (;;) {
        if (offset + 12 > goodEndBytes || !ReadChunk(fd.get(), offset, movi)) {
            return IoResult(EINVAL, path);
        }
        if (movi.IsList("movi")) {
            break;
        }
        if (movi.size == kOpenSize) {
            return IoResult(EINVAL, path);
        }
        offset = movi.End();
    }
    if (::ftruncate(fd.get(), static_cast<off_t>(goodEndBytes)) != 0) {
        return Errno(path);
    }
    std::uint8_t size[4];
    PutLe32(size, static_cast<std::uint32_t>(goodEndBytes - (movi.offset + 8)));
    if (!WriteAt(fd.get(), movi.offset + 4, size, 4)) {
        return Errno(path);
    }
    std::uint64_t riffEnd = goodEndBytes;

    // The index of the first RIFF: one entry per frame chunk, at its offset from 'movi'.
    if (firstRiff) {
        std::vector<std::uint8_t> index(8);
        std::memcpy(index.data(), "idx1", 4);
        std::size_t frame = 0;
        for (offset = movi.offset + 12; offset + 8 <= goodEndBytes;) {
            Chunk chunk;
            if (!ReadChunk(fd.get(), offset, chunk) || chunk.End() > goodEndBytes) {
                break;
            }
            if (chunk.id[2] == 'd' && (chunk.id[3] == 'c' || chunk.id[3] == 'b')) {
                const bool key = frame >= keyFrames.size() || keyFrames[frame];
                ++frame;
                std::uint8_t entry[16];
                std::memcpy(entry, chunk.id.data(), 4);
                PutLe32(entry + 4, key ? 0x10u : 0u);
                PutLe32(entry + 8, static_cast<std::uint32_t>(chunk.offset - (movi.offset + 8)));
                PutLe32(entry + 12, chunk.size);
                index.insert(index.end(), entry, entry + sizeof entry);
            }
            offset = chunk.End();
        }
        PutLe32(index.data() + 4, static_cast<std::uint32_t>(index.size() - 8));
        SetFrameCounts(fd.get(), riff, static_cast<std::uint32_t>(frame));
        if (WriteAt(fd.get(), goodEndBytes, index.data(), index.size())) {
            riffEnd = goodEndBytes + index.size();
        } else if (::ftruncate(fd.get(), static_cast<off_t>(goodEndBytes)) != 0) {
            return Errno(path);  // no room for the index: the frames play without it
        }
    }
    PutLe32(size, static_cast<std::uint32_t>(riffEnd - (riff.offset + 8)));
    if (!WriteAt(fd.get(), riff.offset + 4, size, 4) || ::fsync(fd.get()) != 0) {
        return Errno(path);
    }
    return IoResult();
}
