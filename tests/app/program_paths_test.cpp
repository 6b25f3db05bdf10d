#include "app/program_paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

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

TEST(StorageFolders, TheFirstFolderThatCannotBeUsedIsReported) {
    const bool root = ::geteuid() == 0;  // root writes into read-only folders
    const struct {
        const char* name;
        std::function<void(const TempDir&)> prepare;
        const char* failedFolder;  // under the documents folder; nullptr: no failure
        int error;
        FolderFailure::Step step;
        std::vector<const char*> madeFolders;
    } cases[] = {
        {"a fresh tree", [](const TempDir&) {}, nullptr, 0, FolderFailure::kMake,
         {"Microscope files", "Microscope files/Video", "Microscope files/Picture"}},
        {"a file in the root's place",
         [](const TempDir& d) { WriteFile(d / "Microscope files", "in the way"); },
         "Microscope files", EEXIST, FolderFailure::kMake, {}},
        {"a file in the video folder's place, the picture folder is still made",
         [](const TempDir& d) {
             ASSERT_EQ(::mkdir((d / "Microscope files").c_str(), 0755), 0);
             WriteFile(d / "Microscope files/Video", "in the way");
         },
         "Microscope files/Video", EEXIST, FolderFailure::kMake, {"Microscope files/Picture"}},
        {"a dangling link in the picture folder's place",
         [](const TempDir& d) {
             ASSERT_EQ(::mkdir((d / "Microscope files").c_str(), 0755), 0);
             ASSERT_EQ(::symlink("nowhere", (d / "Microscope files/Picture").c_str()), 0);
         },
         "Microscope files/Picture", EEXIST, FolderFailure::kMake, {"Microscope files/Video"}},
        {"a link to a folder is a folder",
         [](const TempDir& d) {
             ASSERT_EQ(::mkdir((d / "Microscope files").c_str(), 0755), 0);
             ASSERT_EQ(::mkdir((d / "elsewhere").c_str(), 0755), 0);
             ASSERT_EQ(::symlink("../elsewhere", (d / "Microscope files/Picture").c_str()), 0);
         },
         nullptr, 0, FolderFailure::kMake, {"Microscope files/Video", "Microscope files/Picture"}},
        {"a read-only picture folder",
         [](const TempDir& d) {
             ASSERT_EQ(::mkdir((d / "Microscope files").c_str(), 0755), 0);
             ASSERT_EQ(::mkdir((d / "Microscope files/Picture").c_str(), 0555), 0);
         },
         root ? nullptr : "Microscope files/Picture", root ? 0 : EACCES, FolderFailure::kWrite,
         {"Microscope files/Video"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir documents;
        c.prepare(documents);
        const StorageFolders folders = CreateStorageFolders(documents.path());
        EXPECT_EQ(folders.pictureFolder, documents / "Microscope files/Picture");
        if (c.failedFolder == nullptr) {
            EXPECT_FALSE(folders.failure) << folders.failure.path;
        } else {
            EXPECT_EQ(folders.failure.path, documents / c.failedFolder);
            EXPECT_EQ(folders.failure.error, c.error) << std::strerror(folders.failure.error);
            EXPECT_EQ(folders.failure.step, c.step);
        }
        for (const char* folder : c.madeFolders) {
            EXPECT_TRUE(IsDirectory(documents / folder)) << folder;
        }
    }
}

TEST(StorageFolders, WithoutADocumentsFolderNothingIsMade) {
    TempDir home;
    const StorageFolders missing = CreateStorageFolders(home / "does/not/exist");
    EXPECT_EQ(missing.failure.path, home / "does/not/exist/Microscope files");
    EXPECT_EQ(missing.failure.error, ENOENT);
    EXPECT_FALSE(Exists(home / "does"));

    const StorageFolders none = CreateStorageFolders("");
    EXPECT_EQ(none.pictureFolder, "");
    EXPECT_FALSE(none.failure);
}

TEST(Startup, TheManualBesideTheProgramFirstThenTheInstalledOne) {
    TempDir program;
    TempDir installed;
    const std::string installedManual = installed / "index.html";
    // Neither is there: the path beside the program, for the viewer to say so.
    EXPECT_EQ(ChooseHelpFile(program.path(), installedManual), program / "manual/index.html");
    WriteFile(installedManual, "<html></html>");
    EXPECT_EQ(ChooseHelpFile(program.path(), installedManual), installedManual);
    EXPECT_EQ(ChooseHelpFile(program.path(), ""), program / "manual/index.html");
    std::filesystem::create_directory(program / "manual");
    WriteFile(program / "manual/index.html", "<html></html>");
    EXPECT_EQ(ChooseHelpFile(program.path(), installedManual), program / "manual/index.html");
}

TEST(Startup, FixesEveryPathInOrder) {
    TempDir documents;
    TempDir program;
    WriteFile(program / "Chinese936.ini", "[Zentra]\n");
    StartupEnvironment environment;
    environment.executablePath = program / "digital-microscope";
    environment.documentsFolder = documents.path();
    environment.languageId = 0x0804;

    FolderFailure failure;
    const ProgramPaths paths = FixProgramPaths(environment, &failure);
    EXPECT_FALSE(failure) << failure.path;
    EXPECT_EQ(paths.programFolder, program.path());
    EXPECT_EQ(paths.languageFilePath, program / "Chinese936.ini");
    EXPECT_EQ(paths.helpFilePath, program / "manual/index.html");
    EXPECT_EQ(paths.storageRoot, documents / "Microscope files");
    EXPECT_EQ(paths.pictureFolder, documents / "Microscope files/Picture");
    EXPECT_EQ(paths.videoFolder, documents / "Microscope files/Video");
    EXPECT_EQ(CurrentProgramPaths().languageFilePath, paths.languageFilePath);
    EXPECT_TRUE(IsDirectory(paths.pictureFolder));

    environment.documentsFolder = program / "Chinese936.ini";  // a file
    FixProgramPaths(environment, &failure);
    EXPECT_EQ(failure.path, program / "Chinese936.ini/Microscope files");
    SetProgramPaths({});
}

}  // namespace
