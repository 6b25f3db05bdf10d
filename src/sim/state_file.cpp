#include "sim/state_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <string_view>

namespace sim {
namespace {

// Names by property number (see kPropertyCount).
constexpr std::array<std::string_view, kPropertyCount> kPropertyNames = {
    "brightness", "contrast", "hue", "saturation", "sharpness", "gamma"};
constexpr std::string_view kNormName = "norm";

// Far more than the device writes (about a hundred bytes); a larger file is not its own.
constexpr std::size_t kMaxFileBytes = 4096;

// The whole of `text` as an int; nothing for anything else, including a number beyond int.
std::optional<int> WholeInt(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

void TakeLine(std::string_view line, const std::vector<int>& norms, RememberedState& state) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) {
        return;
    }
    const std::string_view name = line.substr(0, space);
    const std::optional<int> value = WholeInt(line.substr(space + 1));
    if (!value) {
        return;
    }
    if (name == kNormName) {
        if (std::find(norms.begin(), norms.end(), *value) != norms.end()) {
            state.norm = *value;
        }
        return;
    }
    const auto known = std::find(kPropertyNames.begin(), kPropertyNames.end(), name);
    if (known == kPropertyNames.end()) {
        return;
    }
    const int property = static_cast<int>(known - kPropertyNames.begin());
    const PropertyRange range = PropertyRangeOf(property);
    if (*value >= range.minimum && *value <= range.maximum) {
        state.values[static_cast<std::size_t>(property)] = *value;
    }
}

// Up to kMaxFileBytes + 1 bytes of the regular file at `path`; nothing when it cannot be
// read or is not a regular file. Opened without waiting, so a FIFO put there holds nothing
// up; it is then refused as not a regular file.
std::optional<std::string> ReadSmallFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<std::string> text;
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        text.emplace();
        char buffer[kMaxFileBytes + 1];
        while (text->size() <= kMaxFileBytes) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer - text->size());
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                text.reset();
                break;
            }
            if (got == 0) {
                break;
            }
            text->append(buffer, static_cast<std::size_t>(got));
        }
    }
    ::close(fd);
    return text;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

void LoadRememberedState(const std::string& path, const std::vector<int>& norms,
                         RememberedState& state) {
    if (path.empty()) {
        return;
    }
    const std::optional<std::string> text = ReadSmallFile(path);
    if (!text || text->size() > kMaxFileBytes) {
        return;
    }
    std::string_view rest = *text;
    // A last line without its newline is cut short: its value may be missing digits.
    for (std::size_t end = rest.find('\n'); end != std::string_view::npos; end = rest.find('\n')) {
        TakeLine(rest.substr(0, end), norms, state);
        rest.remove_prefix(end + 1);
    }
}

bool SaveRememberedState(const std::string& path, const RememberedState& state) {
    const std::size_t slash = path.rfind('/');
    if (path.empty() || slash == std::string::npos || slash + 1 == path.size()) {
        return false;
    }
    if (slash > 0 && ::mkdir(path.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    std::string text;
    for (int property = 0; property < kPropertyCount; ++property) {
        text += std::string(kPropertyNames[static_cast<std::size_t>(property)]) + " " +
                std::to_string(state.values[static_cast<std::size_t>(property)]) + "\n";
    }
    if (state.norm) {
        text += std::string(kNormName) + " " + std::to_string(*state.norm) + "\n";
    }
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool written = WriteAll(fd, text);
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

void ForgetRememberedState(const std::string& path) {
    if (!path.empty()) {
        ::unlink(path.c_str());
    }
}

}  // namespace sim
