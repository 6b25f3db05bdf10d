#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace platform {

// Owns one file descriptor and closes it when destroyed.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            UniqueFd(std::move(*this));  // closes ours
            fd_ = other.Release();
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

    // Gives the descriptor up without closing it.
    int Release() { return std::exchange(fd_, -1); }

    // Closes now and says whether that worked: 0, or the errno value. A write that did not
    // reach the disk (a full disk, a network file system) may only show here.
    int Close() {
        if (fd_ < 0) {
            return EBADF;
        }
        return ::close(Release()) == 0 ? 0 : errno;
    }

private:
    int fd_ = -1;
};

// Writes all `sizeBytes` bytes to `fd`, going on after interruptions and short writes.
// Returns 0, or the errno value of the failure. Any thread.
int WriteAll(int fd, const std::uint8_t* bytes, std::size_t sizeBytes);

}  // namespace platform
