#pragma once

#include <string>
#include <string_view>

// The folders the program works with, fixed once while the main window initialises and
// never changed after. Paths carry no trailing slash (the root folder is "/").
struct ProgramPaths {
    std::string programFolder;     // the executable's folder: language files, manual
    std::string languageFilePath;  // the chosen language file (it need not exist)
    std::string helpFilePath;      // the manual
    std::string storageRoot;       // <documents>/Microscope files
    std::string pictureFolder;     // <documents>/Microscope files/Picture
    std::string videoFolder;       // <documents>/Microscope files/Video
};

// The process-wide paths. Set on the UI thread during initialisation, before any other
// thread of the program starts; read from any thread afterwards.
const ProgramPaths& CurrentProgramPaths();
void SetProgramPaths(const ProgramPaths& paths);

// "<folder>/<name>" without doubling the slash of the root folder.
std::string JoinPath(std::string_view folder, std::string_view name);

// Program data: `besideProgram` when it is readable; else `installed` when that is given
// and readable; else still `besideProgram`, whose absence its users handle.
std::string PreferBesideProgram(std::string besideProgram, std::string_view installed);

// The folder of an executable: everything before the last '/', which is dropped too; an
// executable in the root folder gives "/".
std::string ProgramFolderFromExecutable(std::string_view executablePath);

// The running executable's full path ("/proc/self/exe"); empty when it cannot be read.
std::string RunningExecutablePath();

// The user's documents folder, created when missing: XDG_DOCUMENTS_DIR of user-dirs.dirs
// (a relative value is taken from the home folder), else ~/Documents. Always absolute;
// empty when Qt knows no documents folder.
std::string UserDocumentsFolder();

inline constexpr const char* kStorageRootName = "Microscope files";
inline constexpr const char* kPictureFolderName = "Picture";
inline constexpr const char* kVideoFolderName = "Video";
// The manual, relative to the executable's folder in a build tree.
inline constexpr const char* kHelpFileName = "manual/index.html";

// A storage folder that cannot be used. Either it could not be made (kMake: mkdir's error,
// EEXIST when something that is not a folder has its name), or it is there but files cannot
// be created in it (kWrite: the error of access()).
struct FolderFailure {
    enum Step { kMake, kWrite };
    std::string path;  // empty when every folder can be used
    int error = 0;     // errno
    Step step = kMake;

    explicit operator bool() const { return !path.empty(); }
    // Why, in words: the system's, except for something else that stands in a folder's place.
    std::string Reason() const;
};

struct StorageFolders {
    std::string storageRoot;
    std::string pictureFolder;
    std::string videoFolder;
    FolderFailure failure;  // the first folder that cannot be used, in creation order
};

// Names the storage tree under `documentsFolder` and creates the root, the video folder
// and the picture folder in that order. Folders that exist are left as they are. Every
// folder is tried even after one has failed; the first failure is reported: a folder that
// cannot be made, a non-folder in a folder's place, or a video or picture folder that is
// not writable. An empty `documentsFolder` gives empty names and creates nothing. Also
// used to make the tree again when part of it has been deleted while the program runs.
StorageFolders CreateStorageFolders(std::string_view documentsFolder);
