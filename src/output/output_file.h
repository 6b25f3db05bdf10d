#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A file written in full or not at all. The bytes go to a new hidden file beside the target
// (".<name>.<pid>-<n>.part", claimed with O_EXCL); Commit() closes it, checking the close,
// and renames it over the target. An output that is destroyed uncommitted is removed, so a
// failed write leaves neither a partial file nor a damaged older file of the target's name.
// One thread at a time.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the temporary file for `targetPath`. Returns 0, or the errno of the failure
    // (ENOENT for an empty path, EEXIST when no free temporary name was found).
    int Create(const std::string& targetPath);

    // The open descriptor; -1 before Create() and after Commit().
    int fd() const { return fd_; }

    // Writes all `sizeBytes` bytes. Returns 0, or the errno of the failed write (EBADF when
    // the file is not open).
    int Write(const std::uint8_t* bytes, std::size_t sizeBytes);

    // Closes the file and renames it over the target. Returns 0, or the errno of the failed
    // close or rename; the temporary file is removed either way when it fails.
    int Commit();

    // Closes and removes the temporary file; nothing happens to the target.
    void Discard();

private:
    int fd_ = -1;
    std::string targetPath_;
    std::string temporaryPath_;
};

