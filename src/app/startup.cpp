#include "app/startup.h"

#include "app/language_file.h"
#include "app/simulate_option.h"
#include "app/version.h"

StartupEnvironment SystemStartupEnvironment() {
    StartupEnvironment environment;
    environment.executablePath = RunningExecutablePath();
    environment.documentsFolder = UserDocumentsFolder();
    environment.languageId = platform::SystemDefaultLangId();
    environment.dataFolder = kInstalledDataFolder;
    environment.simulatedFrameCode = FrameCodeFromEnvironment();
    return environment;
}

ProgramPaths FixProgramPaths(const StartupEnvironment& environment, FolderFailure* storageFailure) {
    ProgramPaths paths;
    paths.programFolder = ProgramFolderFromExecutable(environment.executablePath);
    paths.languageFilePath =
        ChooseLanguageFile(paths.programFolder, environment.languageId, environment.dataFolder);
    paths.helpFilePath = JoinPath(paths.programFolder, kHelpFileName);
    const StorageFolders storage = CreateStorageFolders(environment.documentsFolder);
    paths.storageRoot = storage.storageRoot;
    paths.videoFolder = storage.videoFolder;
    paths.pictureFolder = storage.pictureFolder;
    if (storageFailure != nullptr) {
        *storageFailure = storage.failure;
    }
    SetProgramPaths(paths);
    return paths;
}
