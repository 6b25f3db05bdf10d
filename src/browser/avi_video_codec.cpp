#include "browser/avi_video_codec.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "platform/regular_files.h"

namespace {

// AVI writers put the header lists first; 64 KiB holds them, padding included.
constexpr std::size_t kHeaderBytes = 64 << 10;

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool IsCode(std::span<const std::uint8_t> bytes, const char* fourcc) {
    return bytes.size() >= 4 && std::memcmp(bytes.data(), fourcc, 4) == 0;
}

// Calls `visit(id, body)` for each chunk in `bytes`, in order, while it returns false; a
// chunk that runs past the end is cut to what is there. True when a visit returned true.
template <typename Visit>
bool ForEachChunk(std::span<const std::uint8_t> bytes, Visit visit) {
    while (bytes.size() >= 8) {
        const std::span<const std::uint8_t> id = bytes.first(4);
        const std::uint64_t size = Le32(bytes.data() + 4);
        const std::span<const std::uint8_t> body = bytes.subspan(
            8, static_cast<std::size_t>(std::min<std::uint64_t>(size, bytes.size() - 8)));
        if (visit(id, body)) {
            return true;
        }
        const std::uint64_t next = 8 + size + (size & 1u);
        if (next >= bytes.size()) {
            break;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(next));
    }
    return false;
}

std::string CodeText(std::uint32_t code) {
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) {
        text[i] = static_cast<char>((code >> (8 * i)) & 0xFFu);
    }
    return text;
}

// The code of the stream list `strl`, when it describes video.
bool VideoStreamCode(std::span<const std::uint8_t> strl, std::string& code) {
    std::uint32_t handler = 0;
    std::uint32_t compression = 0;
    bool video = false;
    bool format = false;
    ForEachChunk(strl, [&](std::span<const std::uint8_t> id, std::span<const std::uint8_t> body) {
        if (IsCode(id, "strh") && body.size() >= 8) {
            video = IsCode(body, "vids");
            handler = Le32(body.data() + 4);
        } else if (IsCode(id, "strf") && body.size() >= 20) {
            compression = Le32(body.data() + 16);  // a bitmap header's biCompression
            format = true;
        }
        return false;
    });
    if (!video || !format) {
        return false;
    }
    const std::uint32_t tag = compression != 0 ? compression : handler;
    code = tag != 0 ? CodeText(tag) : "DIB ";  // uncompressed rows, no handler named
    return true;
}

}  // namespace

std::string AviVideoCodec(const std::string& path) {
    const platform::OpenedFile file = platform::OpenRegularFileForReading(path);
    if (file.error != 0) {
        return {};
    }
    std::vector<std::uint8_t> bytes(kHeaderBytes);
    const ssize_t read = ::pread(file.fd.get(), bytes.data(), bytes.size(), 0);
    if (read < 12) {
        return {};
    }
    const std::span<const std::uint8_t> header(bytes.data(), static_cast<std::size_t>(read));
    if (!IsCode(header, "RIFF") || !IsCode(header.subspan(8), "AVI ")) {
        return {};
    }
    std::string code;
    ForEachChunk(header.subspan(12),
                 [&](std::span<const std::uint8_t> id, std::span<const std::uint8_t> hdrl) {
                     if (!IsCode(id, "LIST") || !IsCode(hdrl, "hdrl")) {
                         return false;
                     }
                     ForEachChunk(hdrl.subspan(4), [&](std::span<const std::uint8_t> listId,
                                                       std::span<const std::uint8_t> strl) {
                         return IsCode(listId, "LIST") && IsCode(strl, "strl") &&
                                VideoStreamCode(strl.subspan(4), code);
                     });
                     return true;  // one header list
                 });
    return code;
}

bool IsMotionJpegCodec(const std::string& fourcc) {
    std::string upper = fourcc;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper == "MJPG";
}
