#include "app/program_paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/startup.h"
#include "support/temp_dir.h"

namespace {

using testsupport::Exists;
using testsupport::IsDirectory;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(ProgramPaths, ProgramFolderIsTheExecutablesFolder) {
    EXPECT_EQ(ProgramFolderFromExecutable("/usr/bin/digital-microscope"), "/usr/bin");
    EXPECT_EQ(ProgramFolderFromExecutable("/home/a b/build/bin/x"), "/home/a b/build/bin");
    EXPECT_EQ(ProgramFolderFromExecutable("/digital-microscope"), "/");
    EXPECT_EQ(ProgramFolderFromExecutable("digital-microscope"), ".");
    EXPECT_EQ(JoinPath("/", "English1252.ini"), "/English1252.ini");
    EXPECT_EQ(JoinPath("/usr/bin", "English1252.ini"), "/usr/bin/English1252.ini");
}

TEST(ProgramPaths, RunningExecutableIsThisTest) {
    const std::string self = RunningExecutablePath();
    ASSERT_FALSE(self.empty());
    EXPECT_NE(self.find("app_tests"), std::string::npos);
}

TEST(StorageFolders, CreatedUnderTheDocumentsFolder) {
    TempDir documents;
    const StorageFolders folders = CreateStorageFolders(documents.path());
    EXPECT_EQ(folders.storageRoot, documents / "Microscope files");
    EXPECT_EQ(folders.pictureFolder, documents / "Microscope files/Picture");
    EXPECT_EQ(folders.videoFolder, documents / "Microscope files/Video");
    EXPECT_TRUE(IsDirectory(folders.storageRoot));
    EXPECT_TRUE(IsDirectory(folders.pictureFolder));
    EXPECT_TRUE(IsDirectory(folders.videoFolder));
}

TEST(StorageFolders, SecondStartLeavesTheTreeAndItsFilesUntouched) {
    TempDir documents;
    const StorageFolders first = CreateStorageFolders(documents.path());
    WriteFile(first.pictureFolder + "/StillCap0.bmp", "BM picture");
    WriteFile(first.videoFolder + "/VCap0000.avi", "RIFF video");
    WriteFile(first.storageRoot + "/notes.txt", "mine");
    struct stat before = {};
    ASSERT_EQ(::stat((first.pictureFolder + "/StillCap0.bmp").c_str(), &before), 0);

    const StorageFolders second = CreateStorageFolders(documents.path());
    EXPECT_EQ(second.pictureFolder, first.pictureFolder);
    EXPECT_EQ(ReadFile(first.pictureFolder + "/StillCap0.bmp"), "BM picture");
    EXPECT_EQ(ReadFile(first.videoFolder + "/VCap0000.avi"), "RIFF video");
    EXPECT_EQ(ReadFile(first.storageRoot + "/notes.txt"), "mine");
    struct stat after = {};
    ASSERT_EQ(::stat((first.pictureFolder + "/StillCap0.bmp").c_str(), &after), 0);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST(StorageFolders, FailuresAreNotReportedAndCrashNothing) {
    TempDir documents;
    // A file where the root folder should be: nothing can be created below it.
    WriteFile(documents / "Microscope files", "in the way");
    const StorageFolders blocked = CreateStorageFolders(documents.path());
    EXPECT_FALSE(IsDirectory(blocked.videoFolder));
    EXPECT_EQ(ReadFile(documents / "Microscope files"), "in the way");

    const StorageFolders missing = CreateStorageFolders(documents / "does/not/exist");
    EXPECT_FALSE(Exists(missing.storageRoot));

    const StorageFolders none = CreateStorageFolders("");
    EXPECT_EQ(none.storageRoot, "");
    EXPECT_EQ(none.pictureFolder, "");
}

TEST(Startup, FixesEveryPathInOrder) {
    TempDir documents;
    TempDir program;
    WriteFile(program / "Chinese936.ini", "[Zentra]\n");
    StartupEnvironment environment;
    environment.executablePath = program / "digital-microscope";
    environment.documentsFolder = documents.path();
    environment.languageId = 0x0804;

    const ProgramPaths paths = FixProgramPaths(environment);
    EXPECT_EQ(paths.programFolder, program.path());
    EXPECT_EQ(paths.languageFilePath, program / "Chinese936.ini");
    EXPECT_EQ(paths.helpFilePath, program / "DigitalMicroscope.html");
    EXPECT_EQ(paths.storageRoot, documents / "Microscope files");
    EXPECT_EQ(paths.pictureFolder, documents / "Microscope files/Picture");
    EXPECT_EQ(paths.videoFolder, documents / "Microscope files/Video");
    EXPECT_EQ(CurrentProgramPaths().languageFilePath, paths.languageFilePath);
    EXPECT_TRUE(IsDirectory(paths.pictureFolder));
    SetProgramPaths({});
}

}  // namespace
