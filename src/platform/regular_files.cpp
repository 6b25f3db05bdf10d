#include "platform/regular_files.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace platform {

namespace {

constexpr int kMaxLinks = 40;  // as the kernel allows in one path
constexpr std::size_t kMaxNameBytes = NAME_MAX;

// 0 for a regular file, EISDIR for a folder, EINVAL for anything else.
int RegularFileError(mode_t mode) {
    if (S_ISREG(mode)) {
        return 0;
    }
    return S_ISDIR(mode) ? EISDIR : EINVAL;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return {};
    }
    return path.substr(0, slash + 1);  // keeps the slash: "" for the working folder
}

}  // namespace

OpenedFile OpenRegularFileForReading(const std::string& path) {
    OpenedFile file;
    struct stat info = {};
    if (::stat(path.c_str(), &info) != 0) {
        file.error = errno;
        return file;
    }
    if ((file.error = RegularFileError(info.st_mode)) != 0) {
        return file;
    }
    // Non-blocking, so that a FIFO put in the file's place meanwhile cannot hold us up.
    file.fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!file.fd.valid() || ::fstat(file.fd.get(), &info) != 0) {
        file.error = errno;
        file.fd = UniqueFd();
        return file;
    }
    if ((file.error = RegularFileError(info.st_mode)) != 0) {
        file.fd = UniqueFd();
        return file;
    }
    const int flags = ::fcntl(file.fd.get(), F_GETFL);
    if (flags >= 0) {
        ::fcntl(file.fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    }
    file.sizeBytes = info.st_size;
    file.identity = FileIdentity{info.st_dev, info.st_ino};
    return file;
}

WriteTarget ResolveWriteTarget(const std::string& path) {
    WriteTarget target;
    target.path = path;
    for (int links = 0;; ++links) {
        struct stat info = {};
        if (::lstat(target.path.c_str(), &info) != 0) {
            if (errno != ENOENT) {
                target.error = errno;
            }
            return target;  // a new file (or, with ENOENT in the folders, the error on create)
        }
        if (!S_ISLNK(info.st_mode)) {
            target.error = RegularFileError(info.st_mode);
            target.exists = target.error == 0;
            target.identity = FileIdentity{info.st_dev, info.st_ino};
            return target;
        }
        if (links == kMaxLinks) {
            target.error = ELOOP;
            return target;
        }
        std::string link(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : PATH_MAX),
                         '\0');
        const ssize_t length = ::readlink(target.path.c_str(), link.data(), link.size());
        if (length < 0) {
            target.error = errno;
            return target;
        }
        link.resize(static_cast<std::size_t>(length));
        target.path = link.starts_with('/') ? link : FolderOf(target.path) + link;
    }
}

std::string HiddenSiblingPath(std::string_view path, std::string_view tag) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    std::string_view name = path.substr(nameStart);
    const std::size_t fixedBytes = 2 + tag.size();  // the leading and the separating dot
    if (fixedBytes + name.size() > kMaxNameBytes) {
        name = name.substr(0, fixedBytes < kMaxNameBytes ? kMaxNameBytes - fixedBytes : 0);
    }
    std::string hidden(path.substr(0, nameStart));
    hidden += '.';
    hidden += name;
    hidden += '.';
    hidden += tag;
    return hidden;
}

int RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        return errno;
    }
    if (::link(from.c_str(), to.c_str()) != 0) {
        return errno;
    }
    if (::unlink(from.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        return error;
    }
    return 0;
}

int MakeFolderPath(const std::string& path) {
    if (path.empty()) {
        return ENOENT;
    }
    // Each prefix that ends before a '/', then the whole path.
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string folder = path.substr(0, end);
        if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
            return errno;
        }
        if (end == std::string::npos) {
            break;
        }
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return errno;
    }
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

std::string FileErrorText(int error) {
    if (error == EINVAL) {
        return "not a regular file";
    }
    char text[128] = {};
    return strerror_r(error, text, sizeof text);
}

}  // namespace platform
