#include "browser/file_operations.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "output/bmp_file.h"
#include "output/jpeg_codec.h"
#include "output/output_file.h"
#include "output/picture_formats.h"
#include "platform/regular_files.h"
#include "platform/unique_fd.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kCopyChunkBytes = 1 << 20;

bool EndsInJpg(std::string_view path) {
    if (path.size() < 3) {
        return false;
    }
    const std::string_view tail = path.substr(path.size() - 3);
    return std::equal(tail.begin(), tail.end(), "jpg", [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

// `folder` as the file system sees it: absolute, links and dot entries resolved as far as
// the folders exist, no trailing separator.
fs::path ResolvedFolder(const fs::path& folder) {
    std::error_code error;
    fs::path resolved = fs::weakly_canonical(fs::absolute(folder, error), error);
    if (error) {
        resolved = fs::absolute(folder, error).lexically_normal();
    }
    if (resolved.has_relative_path() && !resolved.has_filename()) {
        resolved = resolved.parent_path();  // "/a/b/" -> "/a/b"
    }
    return resolved;
}

IoResult ReadFailure(const std::string& source, int error, const std::string& words) {
    return IoResult(error, source + " cannot be read: " + words);
}

IoResult WriteFailure(int error) {
    return IoResult(error, platform::FileErrorText(error));
}

// Reads from `in` until the end and writes everything to `out`; 0 or the errno.
int CopyBytes(int in, OutputFile& out, int& readError) {
    std::vector<std::uint8_t> buffer(kCopyChunkBytes);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            readError = errno;
            return readError;
        }
        if (got == 0) {
            return 0;
        }
        if (const IoResult written = out.Write(buffer.data(), static_cast<std::size_t>(got));
            !written) {
            return written.error();
        }
    }
}

IoResult CopyFile(const std::string& source, const std::string& target) {
    const platform::OpenedFile in = platform::OpenRegularFileForReading(source);
    if (in.error != 0) {
        return ReadFailure(source, in.error, platform::FileErrorText(in.error));
    }
    OutputFile out;
    if (const IoResult created = out.Create(target); !created) {
        return WriteFailure(created.error());
    }
    int readError = 0;
    if (const int error = CopyBytes(in.fd.get(), out, readError); error != 0) {
        return readError != 0 ? ReadFailure(source, readError, platform::FileErrorText(readError))
                              : WriteFailure(error);
    }
    if (::fsync(out.fd()) != 0) {
        return WriteFailure(errno);
    }
    if (const IoResult committed = out.Commit(); !committed) {
        return WriteFailure(committed.error());
    }
    return {};
}

// The file a conversion wrote, flushed to the disk: the writers do not flush; a fresh
// descriptor of the file does.
IoResult FlushWritten(const std::string& target) {
    const platform::OpenedFile written = platform::OpenRegularFileForReading(target);
    if (written.error != 0) {
        return WriteFailure(written.error);
    }
    return ::fsync(written.fd.get()) == 0 ? IoResult() : WriteFailure(errno);
}

IoResult ConvertToJpeg(const std::string& source, const std::string& target) {
    const IoResult converted = BitmapFileToJpeg(source, target);
    if (converted) {
        return FlushWritten(target);
    }
    const int error = converted.error();
    if (converted.detail().empty()) {  // the bitmap file was not read
        return ReadFailure(source, error, BitmapFileErrorText(error));
    }
    if (error == EFBIG) {
        return IoResult(error, "the picture is too large for a JPEG file");
    }
    if (converted.detail().starts_with(kCannotOpen)) {
        return WriteFailure(error);
    }
    return converted;
}

// PNG or TIFF for a bitmap source; nothing when the target asks for neither.
std::optional<PictureFormat> LosslessConversion(const std::string& source,
                                                const std::string& target) {
    const std::optional<PictureFormat> format = PictureFormatOfPath(target);
    if ((format != PictureFormat::kPng && format != PictureFormat::kTiff) ||
        PictureFormatOfPath(source) != PictureFormat::kBmp) {
        return std::nullopt;
    }
    return format;
}

IoResult ConvertToPicture(const std::string& source, const std::string& target,
                          PictureFormat format, const PictureMetadata& metadata) {
    const IoResult converted = ConvertBitmapFile(source, target, format, metadata);
    if (converted) {
        return FlushWritten(target);
    }
    // The converter names the file concerned; Save as says it as a copy's failure.
    const std::string& detail = converted.detail();
    const std::string unreadable = "cannot read " + source + ": ";
    const std::string unwritable = "cannot write " + target + ": ";
    if (detail.starts_with(unreadable)) {
        return ReadFailure(source, converted.error(), detail.substr(unreadable.size()));
    }
    if (detail.starts_with(unwritable)) {
        return IoResult(converted.error(), detail.substr(unwritable.size()));
    }
    return converted;
}

// The path `source` gets when it is marked saved: "A" before its name.
std::string MarkedPath(const std::string& source) {
    const std::size_t slash = source.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    return source.substr(0, nameStart) + "A" + source.substr(nameStart);
}

// Whether the home trash ($XDG_DATA_HOME/Trash) is there or can be made. Qt's trash falls
// back on it last, and when even that fails, Qt 6.4 takes the empty trash path for the
// working folder and moves the file into "files" there; so Qt is asked only when the home
// trash is sure.
bool HomeTrashUsable() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return !data.isEmpty() && QDir().mkpath(data + QStringLiteral("/Trash/files")) &&
           QDir().mkpath(data + QStringLiteral("/Trash/info"));
}

}  // namespace

bool IsStorageFolderTarget(const std::string& target, const std::string& storageFolder) {
    if (storageFolder.empty()) {
        return false;
    }
    fs::path targetFolder = fs::path(target).parent_path();
    if (targetFolder.empty()) {
        targetFolder = ".";
    }
    return ResolvedFolder(targetFolder) == ResolvedFolder(storageFolder);
}

IoResult SaveFileAs(const std::string& source, const std::string& target,
                    const PictureMetadata& metadata) {
    if (target.empty()) {
        return WriteFailure(ENOENT);
    }
    struct stat sourceInfo = {};
    if (::stat(source.c_str(), &sourceInfo) != 0) {
        const int error = errno;
        return ReadFailure(source, error, platform::FileErrorText(error));
    }
    const platform::WriteTarget written = platform::ResolveWriteTarget(target);
    if (written.exists &&
        written.identity == platform::FileIdentity{sourceInfo.st_dev, sourceInfo.st_ino}) {
        return IoResult(EINVAL, "it is the file being saved");
    }
    if (EndsInJpg(target) && !EndsInJpg(source)) {
        return ConvertToJpeg(source, target);
    }
    if (const std::optional<PictureFormat> format = LosslessConversion(source, target)) {
        return ConvertToPicture(source, target, *format, metadata);
    }
    return CopyFile(source, target);
}

IoResultOf<std::string> MarkSavedOnDisk(const std::string& source) {
    const std::string_view name = FileNameOf(source);
    if (name.empty()) {
        return IoResult(EISDIR, source + " names no file");
    }
    if (name.front() == 'A') {
        return source;
    }
    std::string marked = MarkedPath(source);
    if (const int error = platform::RenameNoReplace(source, marked); error != 0) {
        if (error == EEXIST) {
            return IoResult(error, marked + " already exists");
        }
        return IoResult(error,
                        "cannot rename it to " + marked + ": " + platform::FileErrorText(error));
    }
    return marked;
}

SaveAsResult SaveCapturedFileAs(const std::string& source, const std::string& target,
                                const PictureMetadata& metadata) {
    SaveAsResult result;
    result.sourcePath = source;
    result.status = SaveFileAs(source, target, metadata);
    if (!result.status) {
        return result;
    }
    result.written = true;
    IoResultOf<std::string> marked = MarkSavedOnDisk(source);
    if (!marked) {
        result.status = marked.status();
        return result;
    }
    result.sourcePath = std::move(marked).value();
    return result;
}

IoResult RemoveCapturedFile(const std::string& path) {
    struct stat info = {};
    if (::lstat(path.c_str(), &info) != 0) {
        return IoResult(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return IoResult(EISDIR);
    }
    // Qt's trash follows the freedesktop.org layout; it fails when no trash on the file's own
    // file system (nor the home trash, when that is the same one) can take the file.
    if (HomeTrashUsable() && QFile::moveToTrash(QFile::decodeName(path.c_str()))) {
        return {};
    }
    return IoResult(::unlink(path.c_str()) == 0 ? 0 : errno);
}

void RemoveFolderEntries(const std::string& folder) {
    std::error_code error;
    std::vector<std::string> entries;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        entries.push_back(it->path().string());
    }
    for (const std::string& entry : entries) {
        (void)RemoveCapturedFile(entry);
    }
}

std::optional<MediaKind> DeleteAllFolderFor(const std::string& selectedPath) {
    const std::size_t dot = selectedPath.rfind('.');
    if (dot == std::string::npos) {
        return std::nullopt;
    }
    const std::string_view ext = std::string_view(selectedPath).substr(dot + 1);
    if (ext == "bmp" || ext == "BMP" || ext == "jpg" || ext == "JPG") {
        return MediaKind::Pictures;
    }
    if (ext == "avi" || ext == "AVI") {
        return MediaKind::Videos;
    }
    return std::nullopt;
}

IoResult OpenExternally(const std::string& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    const std::string argument = error ? path : absolute.string();
    if (!QProcess::startDetached(QStringLiteral("xdg-open"),
                                 {QFile::decodeName(argument.c_str())})) {
        return IoResult(ENOENT);
    }
    return {};
}
