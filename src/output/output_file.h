#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/io_result.h"
#include "platform/regular_files.h"

// A file written in full or not at all. The bytes go to a new hidden file beside the target
// (".<name>.<pid>-<n>.part", claimed with O_EXCL, the name shortened when it would be too
// long); Commit() closes it, checking the close, and renames it over the target. An output
// that is destroyed uncommitted is removed, so a failed write leaves neither a partial file
// nor a damaged older file of the target's name. A target that is a symbolic link is written
// through: the file at the end of the links is replaced and the links stay. A target that
// exists and is not a regular file (a device, a FIFO, a socket, a folder) is never replaced.
// One thread at a time.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the temporary file for `targetPath`. Fails with the errno of the failure
    // (ENOENT for an empty path, EEXIST when no free temporary name was found, and those of
    // platform::ResolveWriteTarget: EISDIR, EINVAL for a target that is not a regular file,
    // ELOOP); no detail.
    IoResult Create(const std::string& targetPath);

    // The file Commit() replaces or creates, once Create() succeeded.
    const platform::WriteTarget& target() const { return target_; }

    // The open descriptor; -1 before Create() and after Commit().
    int fd() const { return fd_; }

    // Writes all `sizeBytes` bytes. Fails with the errno of the failed write (EBADF when the
    // file is not open); no detail.
    IoResult Write(const std::uint8_t* bytes, std::size_t sizeBytes);

    // Closes the file and renames it over the target. Fails with the errno of the failed
    // close or rename (no detail); the temporary file is removed either way when it fails.
    IoResult Commit();

    // Closes and removes the temporary file; nothing happens to the target.
    void Discard();

private:
    int fd_ = -1;
    platform::WriteTarget target_;
    std::string temporaryPath_;
};
