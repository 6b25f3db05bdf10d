#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/unique_fd.h"

// Opening the files the program reads and choosing where the files it writes go, so that
// neither hangs on nor replaces something that is not a regular file: a FIFO, a device node,
// a socket. Error codes are errno values; EINVAL stands for "exists, but is not a regular
// file nor a folder". Any thread; they block on file-system calls only.
namespace platform {

// Which file a path names: device and inode.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

struct OpenedFile {
    int error = 0;  // 0, the errno of the failed stat or open, EISDIR, or EINVAL
    UniqueFd fd;    // read-only, close-on-exec, when error is 0
    off_t sizeBytes = 0;
    FileIdentity identity;
};

// Opens the regular file at `path` (symbolic links followed) for reading. Anything else is
// refused before it is opened (opening a FIFO would wait for a writer, opening a device may
// do something to it), and once more after, in case the path changed in between.
OpenedFile OpenRegularFileForReading(const std::string& path);

// Where a file written at `path` belongs: the path itself, or the end of the chain of
// symbolic links it starts (a relative link counts from the link's folder), so that
// replacing the file there keeps the links.
struct WriteTarget {
    int error = 0;          // 0, ELOOP after 40 links, EISDIR, EINVAL, or the errno of lstat
    std::string path;       // the file to replace or create
    bool exists = false;    // a regular file is there now
    FileIdentity identity;  // that file's, when it exists
};
WriteTarget ResolveWriteTarget(const std::string& path);

// "<folder>/.<name>.<tag>" for the file `path`: a hidden name beside it for a file that
// becomes `path` later. The name part is shortened, when it must be, so that the hidden
// name stays within the file system's limit of 255 bytes.
std::string HiddenSiblingPath(std::string_view path, std::string_view tag);

// Makes the folder `path` and every missing folder above it (mode 0777 before the umask).
// 0 when the folder is there afterwards, else the errno of the step that failed (ENOTDIR
// when something on the way is not a folder).
int MakeFolderPath(const std::string& path);

// Renames `from` to `to` unless something is at `to`: 0, or the errno value (EEXIST when
// the name is taken). On a file system without RENAME_NOREPLACE a second link claims the name
// (or fails with EEXIST), then the old name goes.
int RenameNoReplace(const std::string& from, const std::string& to);

// The words for a file error: strerror, except EINVAL, which these functions use for
// "not a regular file".
std::string FileErrorText(int error);

}  // namespace platform
