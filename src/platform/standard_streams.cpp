#include "platform/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace platform {

void GuardStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) {
            continue;
        }
        // open() takes the lowest free number, which is this one.
        const int opened = ::open("/dev/null", O_RDONLY);
        if (opened >= 0 && opened != fd) {
            ::close(opened);
        }
    }
}

int FinishStandardOutput() {
    errno = 0;
    const bool failedBefore = std::ferror(stdout) != 0;
    const int flushed = std::fflush(stdout);
    int error = failedBefore || flushed != 0 ? (errno != 0 ? errno : EIO) : 0;
    errno = 0;
    if (std::fclose(stdout) != 0 && error == 0) {
        error = errno != 0 ? errno : EIO;
    }
    return error;
}

}  // namespace platform
