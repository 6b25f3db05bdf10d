#include "platform/unique_fd.h"

namespace platform {

int WriteAll(int fd, const std::uint8_t* bytes, std::size_t sizeBytes) {
    while (sizeBytes > 0) {
        const ssize_t written = ::write(fd, bytes, sizeBytes);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (written == 0) {
            return EIO;
        }
        bytes += written;
        sizeBytes -= static_cast<std::size_t>(written);
    }
    return 0;
}

}  // namespace platform
