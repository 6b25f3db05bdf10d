#include "app/program_paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QStandardPaths>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

namespace {
ProgramPaths currentPaths;

// Makes `path` unless it is a folder already (or a link to one); `forFiles`: files must
// also be creatable in it.
FolderFailure MakeFolder(const std::string& path, bool forFiles) {
    if (::mkdir(path.c_str(), 0777) == 0) {
        return {};
    }
    const int error = errno;
    struct stat info = {};
    if (error != EEXIST || ::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return {path, error, FolderFailure::kMake};
    }
    if (forFiles && ::access(path.c_str(), W_OK | X_OK) != 0) {
        return {path, errno, FolderFailure::kWrite};
    }
    return {};
}
}  // namespace

std::string FolderFailure::Reason() const {
    if (step == kMake && error == EEXIST) {
        return "a file of that name is in the way";
    }
    return std::strerror(error);
}

const ProgramPaths& CurrentProgramPaths() {
    return currentPaths;
}

void SetProgramPaths(const ProgramPaths& paths) {
    currentPaths = paths;
}

std::string PreferBesideProgram(std::string besideProgram, std::string_view installed) {
    if (::access(besideProgram.c_str(), R_OK) == 0 || installed.empty()) {
        return besideProgram;
    }
    std::string installedPath(installed);
    return ::access(installedPath.c_str(), R_OK) == 0 ? installedPath : besideProgram;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    path += name;
    return path;
}

std::string ProgramFolderFromExecutable(std::string_view executablePath) {
    const std::size_t slash = executablePath.find_last_of('/');
    if (slash == std::string_view::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return std::string(executablePath.substr(0, slash));
}

std::string RunningExecutablePath() {
    char buffer[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) {
        return {};
    }
    return std::string(buffer, static_cast<std::size_t>(length));
}

std::string UserDocumentsFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty()) {
        return {};
    }
    // Qt 6.4 expands a leading "$HOME" of the user-dirs.dirs value but hands back any other
    // value as written: "${HOME}/Docs" and a relative "Docs" would land in the working
    // folder. xdg-user-dirs takes both as relative to the home folder.
    const QString braced = QStringLiteral("${HOME}");
    if (folder.startsWith(braced)) {
        folder = QDir::homePath() + folder.mid(braced.size());
    } else if (QDir::isRelativePath(folder)) {
        folder = QDir::homePath() + u'/' + folder;
    }
    folder = QDir::cleanPath(folder);
    QDir().mkpath(folder);
    return folder.toStdString();
}

StorageFolders CreateStorageFolders(std::string_view documentsFolder) {
    StorageFolders folders;
    if (documentsFolder.empty()) {
        return folders;  // no documents folder: nothing to name or create
    }
    folders.storageRoot = JoinPath(documentsFolder, kStorageRootName);
    folders.videoFolder = JoinPath(folders.storageRoot, kVideoFolderName);
    folders.pictureFolder = JoinPath(folders.storageRoot, kPictureFolderName);
    for (const auto& [path, forFiles] :
         {std::pair{&folders.storageRoot, false}, std::pair{&folders.videoFolder, true},
          std::pair{&folders.pictureFolder, true}}) {
        FolderFailure failure = MakeFolder(*path, forFiles);
        if (failure && !folders.failure) {
            folders.failure = std::move(failure);
        }
    }
    return folders;
}
