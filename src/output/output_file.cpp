#include "output/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform/unique_fd.h"

namespace {

constexpr int kNameAttempts = 100;
std::atomic<unsigned> temporaryCounter{0};

// ".<name>.<pid>-<n>.part" in the folder of `targetPath`.
std::string TemporaryPathFor(const std::string& targetPath) {
    return platform::HiddenSiblingPath(
        targetPath,
        std::to_string(::getpid()) + "-" + std::to_string(temporaryCounter++) + ".part");
}

}  // namespace

OutputFile::~OutputFile() {
    Discard();
}

IoResult OutputFile::Create(const std::string& targetPath) {
    Discard();
    if (targetPath.empty()) {
        return IoResult(ENOENT);
    }
    platform::WriteTarget target = platform::ResolveWriteTarget(targetPath);
    if (target.error != 0) {
        return IoResult(target.error);
    }
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string candidate = TemporaryPathFor(target.path);
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            fd_ = fd;
            target_ = std::move(target);
            temporaryPath_ = std::move(candidate);
            return {};
        }
        if (errno != EEXIST) {
            return IoResult(errno);
        }
    }
    return IoResult(EEXIST);
}

IoResult OutputFile::Write(const std::uint8_t* bytes, std::size_t sizeBytes) {
    return IoResult(fd_ < 0 ? EBADF : platform::WriteAll(fd_, bytes, sizeBytes));
}

IoResult OutputFile::Commit() {
    if (fd_ < 0) {
        return IoResult(EBADF);
    }
    const int fd = fd_;
    fd_ = -1;
    int error = ::close(fd) == 0 ? 0 : errno;
    if (error == 0) {
        // Something other than a regular file may have taken the target's place meanwhile;
        // it is not replaced.
        error = platform::ResolveWriteTarget(target_.path).error;
    }
    if (error == 0 && std::rename(temporaryPath_.c_str(), target_.path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temporaryPath_.c_str());
    }
    temporaryPath_.clear();
    return IoResult(error);
}

void OutputFile::Discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporaryPath_.empty()) {
        ::unlink(temporaryPath_.c_str());
        temporaryPath_.clear();
    }
}
