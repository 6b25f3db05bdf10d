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
    environment.installedManual = kInstalledManual;
    environment.homepage = kHomepage;
    environment.simulatedFrameCode = FrameCodeFromEnvironment();
    return environment;
}

std::string ChooseHelpFile(std::string_view programFolder, std::string_view installedManual) {
    return PreferBesideProgram(JoinPath(programFolder, kHelpFileName), installedManual);
}

ProgramPaths FixProgramPaths(const StartupEnvironment& environment, FolderFailure* storageFailure) {
    ProgramPaths paths;
    paths.programFolder = ProgramFolderFromExecutable(environment.executablePath);
    paths.languageFilePath =
        ChooseLanguageFile(paths.programFolder, environment.languageId, environment.dataFolder);
    paths.helpFilePath = ChooseHelpFile(paths.programFolder, environment.installedManual);
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
