#include "app/profile_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/unique_fd.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::string_view Trim(std::string_view s) {
    return TrimRight(TrimLeft(s));
}

// Takes the next line off `text`, without its line end.
std::string_view NextLine(std::string_view& text) {
    std::size_t end = 0;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r') {
        ++end;
    }
    std::string_view line = text.substr(0, end);
    std::size_t next = end;
    if (next < text.size()) {
        next += (text[next] == '\r' && next + 1 < text.size() && text[next + 1] == '\n') ? 2 : 1;
    }
    text.remove_prefix(next);
    return line;
}

bool KeyMatches(std::string_view fileKey, std::string_view wanted) {
    if (EqualsIgnoringCase(fileKey, wanted)) {
        return true;
    }
    const bool wantedEndsInBlank = !wanted.empty() && IsBlank(wanted.back());
    return !wantedEndsInBlank && EqualsIgnoringCase(TrimRight(fileKey), wanted);
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

}  // namespace

std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key) {
    const std::string_view wantedSection = Trim(section);
    bool inSection = false;
    while (!text.empty()) {
        const std::string_view line = TrimLeft(NextLine(text));
        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            std::string_view name = line.substr(1);
            name = name.substr(0, name.find(']'));
            inSection = EqualsIgnoringCase(Trim(name), wantedSection);
            continue;
        }
        if (!inSection) {
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos || !KeyMatches(line.substr(0, equals), key)) {
            continue;
        }
        return std::string(Unquote(Trim(line.substr(equals + 1))));
    }
    return std::nullopt;
}

std::optional<std::string> ReadProfileFile(const std::string& path) {
    platform::UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat info = {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    std::string bytes;
    bytes.resize(static_cast<std::size_t>(
        std::min<off_t>(info.st_size, static_cast<off_t>(kMaxProfileFileBytes))));
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::read(file.get(), bytes.data() + filled, bytes.size() - filled);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            break;  // the file shrank while being read
        }
        filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
    return bytes;
}
