#include "app/program_paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <cstdlib>
#include <optional>

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

// Sets an environment variable for one test and puts the old value back.
class VariableScope {
public:
    VariableScope(const char* name, const std::string& value)
        : name_(name), saved_(qEnvironmentVariableIsSet(name)
                                  ? std::optional<QByteArray>(qgetenv(name))
                                  : std::nullopt) {
        qputenv(name, QByteArray::fromStdString(value));
    }
    ~VariableScope() {
        if (saved_) {
            qputenv(name_, *saved_);
        } else {
            qunsetenv(name_);
        }
    }
    VariableScope(const VariableScope&) = delete;
    VariableScope& operator=(const VariableScope&) = delete;

private:
    const char* name_;
    std::optional<QByteArray> saved_;
};

// Runs the test in a folder of its own, so a path taken from the working folder shows.
class WorkingFolderScope {
public:
    explicit WorkingFolderScope(const std::string& folder) : saved_(getcwd(nullptr, 0)) {
        EXPECT_EQ(::chdir(folder.c_str()), 0);
    }
    ~WorkingFolderScope() {
        static_cast<void>(::chdir(saved_));
        std::free(saved_);
    }
    WorkingFolderScope(const WorkingFolderScope&) = delete;
    WorkingFolderScope& operator=(const WorkingFolderScope&) = delete;

private:
    char* saved_;
};

TEST(ProgramPaths, DocumentsFolderIsAbsoluteForEveryFormOfUserDirs) {
    TempDir home;
    TempDir working;
    TempDir elsewhere;
    ASSERT_EQ(::mkdir((home / ".config").c_str(), 0755), 0);
    VariableScope homeVariable("HOME", home.path());
    VariableScope configVariable("XDG_CONFIG_HOME", home / ".config");
    WorkingFolderScope cwd(working.path());
    const struct {
        std::string line;  // in user-dirs.dirs; empty: no such file
        std::string expected;
    } cases[] = {
        {"", home / "Documents"},
        {"XDG_DOCUMENTS_DIR=\"Docs\"", home / "Docs"},
        {"XDG_DOCUMENTS_DIR=Docs/Notes/", home / "Docs/Notes"},
        {"XDG_DOCUMENTS_DIR=\"./Docs\"", home / "Docs"},
        {"XDG_DOCUMENTS_DIR=\"$HOME/Papers\"", home / "Papers"},
        {"XDG_DOCUMENTS_DIR=\"${HOME}/Papers\"", home / "Papers"},
        {"XDG_DOCUMENTS_DIR=\"" + elsewhere / "Absolute" + "\"", elsewhere / "Absolute"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ::unlink((home / ".config/user-dirs.dirs").c_str());
        if (!c.line.empty()) {
            WriteFile(home / ".config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n" +
                                                           c.line + "\n");
        }
        EXPECT_EQ(UserDocumentsFolder(), c.expected);
        EXPECT_TRUE(IsDirectory(c.expected));
    }
    EXPECT_FALSE(Exists(working / "Docs"));
    EXPECT_FALSE(Exists(working / "${HOME}"));
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
