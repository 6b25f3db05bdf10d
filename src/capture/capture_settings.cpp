#include "capture/capture_settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QStandardPaths>
#include <cerrno>
#include <cmath>
#include <limits>
#include <vector>

#include "app/debug_trace.h"
#include "app/program_paths.h"
#include "capture/frame_buffer.h"
#include "platform/regular_files.h"
#include "platform/unique_fd.h"

namespace {

class ByteWriter {
public:
    explicit ByteWriter(CaptureSettingsBytes& bytes) : bytes_(bytes) {}
    template <typename T>
    void Put(T value) {
        auto raw = static_cast<std::make_unsigned_t<T>>(value);
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            bytes_[offset_++] = static_cast<std::uint8_t>(raw >> (8 * i));
        }
    }
    void Put(const CaptureRect& rect) {
        Put(rect.left);
        Put(rect.top);
        Put(rect.right);
        Put(rect.bottom);
    }
    std::size_t offset() const { return offset_; }

private:
    CaptureSettingsBytes& bytes_;
    std::size_t offset_ = 0;
};

class ByteReader {
public:
    explicit ByteReader(const CaptureSettingsBytes& bytes) : bytes_(bytes) {}
    template <typename T>
    void Get(T& value) {
        std::make_unsigned_t<T> raw = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            raw |= static_cast<std::make_unsigned_t<T>>(
                static_cast<std::make_unsigned_t<T>>(bytes_[offset_++]) << (8 * i));
        }
        value = static_cast<T>(raw);
    }
    void Get(CaptureRect& rect) {
        Get(rect.left);
        Get(rect.top);
        Get(rect.right);
        Get(rect.bottom);
    }
    std::size_t offset() const { return offset_; }

private:
    const CaptureSettingsBytes& bytes_;
    std::size_t offset_ = 0;
};

// Bytes after the record in an existing file; kept when the record is rewritten.
constexpr std::size_t kMaxKeptTailBytes = 1 << 20;

std::vector<std::uint8_t> ReadTail(const std::string& path) {
    std::vector<std::uint8_t> tail;
    platform::UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info = {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size <= static_cast<off_t>(kCaptureSettingsBytes)) {
        return tail;
    }
    tail.resize(std::min<std::size_t>(
        static_cast<std::size_t>(info.st_size) - kCaptureSettingsBytes, kMaxKeptTailBytes));
    const ssize_t got = ::pread(file.get(), tail.data(), tail.size(), kCaptureSettingsBytes);
    tail.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return tail;
}

// Writes the record and the tail into the new file and closes it: 0 or an errno.
int WriteRecordFile(platform::UniqueFd& file, const CaptureSettingsBytes& record,
                    const std::vector<std::uint8_t>& tail) {
    if (::fchmod(file.get(), 0644) != 0) {
        return errno;
    }
    if (const int error = platform::WriteAll(file.get(), record.data(), record.size())) {
        return error;
    }
    if (const int error = platform::WriteAll(file.get(), tail.data(), tail.size())) {
        return error;
    }
    if (::fsync(file.get()) != 0) {
        return errno;
    }
    return file.Close();
}

}  // namespace

CaptureSettingsBytes SerializeCaptureSettings(const CaptureSettings& s) {
    CaptureSettingsBytes bytes{};
    ByteWriter out(bytes);
    out.Put(s.rcSource);
    out.Put(s.rcTarget);
    out.Put(s.dwBitRate);
    out.Put(s.dwBitErrorRate);
    out.Put(s.AvgTimePerFrame);
    out.Put(s.biSize);
    out.Put(s.biWidth);
    out.Put(s.biHeight);
    out.Put(s.biPlanes);
    out.Put(s.biBitCount);
    out.Put(s.biCompression);
    out.Put(s.biSizeImage);
    out.Put(s.biXPelsPerMeter);
    out.Put(s.biYPelsPerMeter);
    out.Put(s.biClrUsed);
    out.Put(s.biClrImportant);
    return bytes;
}

CaptureSettings ParseCaptureSettings(const CaptureSettingsBytes& bytes) {
    CaptureSettings s;
    ByteReader in(bytes);
    in.Get(s.rcSource);
    in.Get(s.rcTarget);
    in.Get(s.dwBitRate);
    in.Get(s.dwBitErrorRate);
    in.Get(s.AvgTimePerFrame);
    in.Get(s.biSize);
    in.Get(s.biWidth);
    in.Get(s.biHeight);
    in.Get(s.biPlanes);
    in.Get(s.biBitCount);
    in.Get(s.biCompression);
    in.Get(s.biSizeImage);
    in.Get(s.biXPelsPerMeter);
    in.Get(s.biYPelsPerMeter);
    in.Get(s.biClrUsed);
    in.Get(s.biClrImportant);
    return s;
}

std::uint32_t RoundedFrameRate(std::int64_t avgTimePerFrame) {
    const std::int64_t duration = avgTimePerFrame > 0 ? avgTimePerFrame : kFallbackTimePerFrame;
    const double rate = 10000000.0 / static_cast<double>(duration) + 0.49999999;
    if (rate >= static_cast<double>(std::numeric_limits<std::uint32_t>::max())) {
        return std::numeric_limits<std::uint32_t>::max();
    }
    return std::max<std::uint32_t>(1, static_cast<std::uint32_t>(rate));
}

std::uint32_t BitRateFor(std::uint32_t sizeImageBytes, std::int64_t avgTimePerFrame) {
    const std::uint64_t bits =
        static_cast<std::uint64_t>(RoundedFrameRate(avgTimePerFrame)) * sizeImageBytes * 8u;
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(bits, std::numeric_limits<std::uint32_t>::max()));
}

std::uint32_t FrameBytesFor(std::int32_t width, std::int32_t height, std::uint16_t bitCount) {
    if (width <= 0 || height <= 0) {
        return 0;
    }
    std::uint64_t bytes = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    if (bitCount == 16) {
        bytes *= 2;
    } else if (bitCount == 24) {
        bytes *= 3;
    }
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(bytes, std::numeric_limits<std::uint32_t>::max()));
}

bool IsUsableFrameSize(std::int32_t width, std::int32_t height) {
    return BgrImageBytes(width, height) != 0;
}

std::string CapConfigPath(const std::string& programFolder,
                          const std::string& installedProgramFolder) {
    if (!programFolder.empty() && programFolder != installedProgramFolder &&
        ::access(programFolder.c_str(), W_OK) == 0) {
        return JoinPath(programFolder, kCapConfigFileName);
    }
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(folder);
    return JoinPath(folder.toStdString(), kCapConfigFileName);
}

IoResult LoadCapConfig(const std::string& path, CaptureSettings& settings) {
    platform::UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info = {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = file.get() < 0 ? errno : EINVAL;
        DebugTrace(0, "Open config file failed(0x%08X)\n", static_cast<unsigned>(error));
        return IoResult(error);
    }
    CaptureSettingsBytes bytes{};
    std::size_t filled = 0;
    errno = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::read(file.get(), bytes.data() + filled, bytes.size() - filled);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    if (filled != bytes.size()) {
        const int error = errno;  // 0 when the file ends early
        DebugTrace(0, "Read config file failed(0x%08X)\n", static_cast<unsigned>(error));
        return IoResult(error != 0 ? error : EBADMSG);
    }
    const CaptureSettings stored = ParseCaptureSettings(bytes);
    if (!IsUsableFrameSize(stored.biWidth, stored.biHeight)) {
        DebugTrace(0, "Read config file failed(0x%08X)\n", static_cast<unsigned>(EINVAL));
        return IoResult(EINVAL);
    }
    settings = stored;
    return {};
}

IoResult SaveCapConfig(const std::string& path, const CaptureSettings& settings) {
    // A link is written through: the file it leads to is replaced and the link stays. A
    // device or FIFO in the file's place is never replaced.
    const platform::WriteTarget target = platform::ResolveWriteTarget(path);
    if (target.error != 0) {
        return IoResult(target.error);
    }
    const CaptureSettingsBytes record = SerializeCaptureSettings(settings);
    const std::vector<std::uint8_t> tail = ReadTail(target.path);
    std::string temporary = target.path + ".XXXXXX";
    platform::UniqueFd file(::mkstemp(temporary.data()));
    if (file.get() < 0) {
        return IoResult(errno);
    }
    int error = WriteRecordFile(file, record, tail);
    if (error == 0 && ::rename(temporary.c_str(), target.path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temporary.c_str());
    }
    return IoResult(error);
}
