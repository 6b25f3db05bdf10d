#include "browser/file_operations.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QImage>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/media_probe.h"
#include "support/stub_programs.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace {

namespace fs = std::filesystem;
using testsupport::DjpegSize;
using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

void WriteBitmap(const std::string& path, int width, int height) {
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    ASSERT_TRUE(picture.save(QString::fromStdString(path), "BMP")) << path;
}

// Storage folders "Picture" and "Video" and an outside folder "out", in a private folder
// that is also the home and the data folder (so the home trash is on the same file system).
class FileOperations : public ::testing::Test {
protected:
    std::string Picture(const std::string& name) const { return root_ / ("Picture/" + name); }
    std::string Out(const std::string& name) const { return root_ / ("out/" + name); }

    void SetUp() override {
        for (const char* folder : {"Picture", "Picture/sub", "Video", "out", "home", "data"}) {
            fs::create_directories(root_ / folder);
        }
    }

    TempDir root_;
    testsupport::VariableScope home_{"HOME", root_ / "home"};
    testsupport::VariableScope data_{"XDG_DATA_HOME", root_ / "data"};
};

TEST_F(FileOperations, SaveAsWritesTheTargetWholeAndMarksTheSourceOnlyThen) {
    const std::string bitmapBytes = [&] {
        WriteBitmap(root_ / "model.bmp", 8, 6);
        return ReadFile(root_ / "model.bmp");
    }();
    enum class Left { Jpeg, Png, Tiff, CopyOfSource, Older, Absent };
    struct Case {
        const char* source;  // in Picture; made from `bitmapBytes` unless prepared otherwise
        const char* target;  // in out
        std::function<void()> prepare;
        int error;
        const char* sourceAfter;  // the source's name afterwards
        Left left;                // what is at the target afterwards
    };
    const auto none = [] {};
    const std::vector<Case> cases = {
        {"StillCap3.bmp", "Cap.jpg", none, 0, "AStillCap3.bmp", Left::Jpeg},
        // Saved again, now as a bitmap: a plain copy, and the "A" name stays.
        {"AStillCap3.bmp", "Cap.bmp", none, 0, "AStillCap3.bmp", Left::CopyOfSource},
        {"aStill.bmp", "Cap.JPG", none, 0, "AaStill.bmp", Left::Jpeg},
        // Lossless conversions, one over an older file.
        {"StillCap8.bmp", "Cap.png", [&] { WriteFile(Out("Cap.png"), "older"); }, 0,
         "AStillCap8.bmp", Left::Png},
        {"StillCap9.BMP", "Cap.TIFF", none, 0, "AStillCap9.BMP", Left::Tiff},
        {"StillCap9.jpg", "Cap9.tif", none, 0, "AStillCap9.jpg", Left::CopyOfSource},
        {"VCap1.avi", "Cap.avi", [&] { WriteFile(Picture("VCap1.avi"), "RIFF video"); }, 0,
         "AVCap1.avi", Left::CopyOfSource},
        // An existing target is replaced.
        {"StillCap4.bmp", "older.bmp", [&] { WriteFile(Out("older.bmp"), "older"); }, 0,
         "AStillCap4.bmp", Left::CopyOfSource},
        // Failures leave the source unmarked and an older target as it was.
        {"StillCap5.bmp", "gone/Cap.jpg", none, ENOENT, "StillCap5.bmp", Left::Absent},
        {"StillCap5.bmp", "folder.bmp", [&] { fs::create_directory(Out("folder.bmp")); }, EISDIR,
         "StillCap5.bmp", Left::Absent},
        {"StillCap5.bmp", "file/Cap.bmp", [&] { WriteFile(Out("file"), "in the way"); }, ENOTDIR,
         "StillCap5.bmp", Left::Absent},
        {"Text.bmp", "older.jpg",
         [&] {
             WriteFile(Picture("Text.bmp"), "not a bitmap");
             WriteFile(Out("older.jpg"), "older");
         },
         EBADMSG, "Text.bmp", Left::Older},
        {"Text2.bmp", "older.tif",
         [&] {
             WriteFile(Picture("Text2.bmp"), "not a bitmap");
             WriteFile(Out("older.tif"), "older");
         },
         EBADMSG, "Text2.bmp", Left::Older},
        // The source itself, through a link: refused, not truncated.
        {"StillCap6.bmp", "self.bmp",
         [&] { fs::create_symlink(Picture("StillCap6.bmp"), Out("self.bmp")); }, EINVAL,
         "StillCap6.bmp", Left::Absent},
        // The copy is made, but an "A" file of that name is never replaced.
        {"StillCap7.bmp", "Cap7.bmp", [&] { WriteFile(Picture("AStillCap7.bmp"), "older"); },
         EEXIST, "StillCap7.bmp", Left::CopyOfSource},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " -> " + c.target);
        if (!Exists(Picture(c.source))) {
            WriteFile(Picture(c.source), bitmapBytes);
        }
        c.prepare();
        const std::string sourceBytes = ReadFile(Picture(c.source));

        const SaveAsResult result = SaveCapturedFileAs(Picture(c.source), Out(c.target));

        EXPECT_EQ(result.status.error(), c.error) << result.status.detail();
        EXPECT_EQ(result.written, c.error == 0 || c.error == EEXIST);
        EXPECT_EQ(result.status.ok(), result.status.detail().empty());
        if (c.left == Left::Older) {
            EXPECT_EQ(result.status.detail(),
                      Picture(c.source) + " cannot be read: not a bitmap file, or a damaged one");
        }
        EXPECT_EQ(result.sourcePath, Picture(c.sourceAfter));
        EXPECT_EQ(ReadFile(Picture(c.sourceAfter)), sourceBytes);
        if (c.sourceAfter != std::string(c.source)) {
            EXPECT_FALSE(Exists(Picture(c.source)));
        }
        switch (c.left) {
            case Left::Jpeg:
                EXPECT_EQ(DjpegSize(Out(c.target)), "8 x 6");
                break;
            case Left::Png:
                EXPECT_EQ(QImage(QString::fromStdString(Out(c.target))).size(), QSize(8, 6));
                break;
            case Left::Tiff:
                EXPECT_EQ(ReadFile(Out(c.target)).substr(0, 4), std::string("II*\0", 4));
                break;
            case Left::CopyOfSource:
                EXPECT_EQ(ReadFile(Out(c.target)), sourceBytes);
                break;
            case Left::Older:
                EXPECT_EQ(ReadFile(Out(c.target)), "older");
                break;
            case Left::Absent:
                EXPECT_TRUE(fs::is_directory(Out(c.target)) || fs::is_symlink(Out(c.target)) ||
                            !Exists(Out(c.target)));
                break;
        }
        for (const std::string& name : testsupport::EntryNames(root_ / "out")) {
            EXPECT_NE(name.front(), '.') << "a temporary file is left: " << name;
        }
    }
    EXPECT_EQ(ReadFile(Picture("AStillCap7.bmp")), "older");
}

TEST_F(FileOperations, OnlyTheStorageFolderItselfIsRefusedAsATarget) {
    fs::create_directory_symlink(root_ / "Picture", root_ / "link");
    const std::string storage = root_ / "Picture";
    const std::vector<std::pair<std::string, bool>> cases = {
        {storage + "/Cap.jpg", true},
        {root_.path() + "//Picture//Cap.jpg", true},
        {storage + "/./Cap.jpg", true},
        {storage + "/sub/../Cap.jpg", true},
        {root_ / "link/Cap.jpg", true},
        {storage + "/sub/Cap.jpg", false},
        {root_ / "Video/Cap.jpg", false},
        {root_ / "picture/Cap.jpg", false},  // names are case-sensitive
        {storage, false},                    // a file named like the folder, beside it
        {storage + "/new/../Cap.jpg", true},
    };
    for (const auto& [target, refused] : cases) {
        EXPECT_EQ(IsStorageFolderTarget(target, storage), refused) << target;
        EXPECT_EQ(IsStorageFolderTarget(target, storage + "/"), refused) << target;
    }
    // A folder that is not there (yet) is compared by its name.
    EXPECT_TRUE(IsStorageFolderTarget(root_ / "gone/x/../Cap.jpg", root_ / "gone"));
}

TEST_F(FileOperations, DeletedFilesGoToTheTrashOrAreDeletedWhereThereIsNone) {
    WriteFile(Picture("StillCap1.bmp"), "one");
    ASSERT_TRUE(RemoveCapturedFile(Picture("StillCap1.bmp")));
    EXPECT_FALSE(Exists(Picture("StillCap1.bmp")));
    EXPECT_EQ(ReadFile(root_ / "data/Trash/files/StillCap1.bmp"), "one");
    EXPECT_NE(ReadFile(root_ / "data/Trash/info/StillCap1.bmp.trashinfo").find("[Trash Info]"),
              std::string::npos);

    // No trash can be made: the file is deleted, and put nowhere else (such as the working
    // folder).
    WriteFile(root_ / "no-data", "a file where the data folder should be");
    fs::create_directory(root_ / "cwd");
    const fs::path cwd = fs::current_path();
    fs::current_path(root_ / "cwd");
    {
        testsupport::VariableScope noData("XDG_DATA_HOME", root_ / "no-data");
        WriteFile(Picture("StillCap2.bmp"), "two");
        EXPECT_TRUE(RemoveCapturedFile(Picture("StillCap2.bmp")));
        EXPECT_FALSE(Exists(Picture("StillCap2.bmp")));
    }
    fs::current_path(cwd);
    EXPECT_TRUE(testsupport::EntryNames(root_ / "cwd").empty());
    EXPECT_FALSE(Exists(root_ / "data/Trash/files/StillCap2.bmp"));

    // Failures come back with their errno, and a folder is left alone.
    EXPECT_EQ(RemoveCapturedFile(Picture("missing.bmp")).error(), ENOENT);
    EXPECT_EQ(RemoveCapturedFile(root_ / "Picture/sub").error(), EISDIR);
    EXPECT_TRUE(fs::is_directory(root_ / "Picture/sub"));
}

TEST_F(FileOperations, DeleteAllEmptiesTheFolderOfTheSelectedKindButLeavesSubfolders) {
    for (const char* name : {"StillCap1.bmp", "AStillCap2.jpg", "notes.txt", ".hidden"}) {
        WriteFile(Picture(name), name);
    }
    WriteFile(Picture("sub/kept.bmp"), "kept");
    RemoveFolderEntries(root_ / "Picture");
    EXPECT_EQ(testsupport::EntryNames(root_ / "Picture"), std::vector<std::string>{"sub"});
    EXPECT_TRUE(Exists(Picture("sub/kept.bmp")));

    struct Case {
        const char* selected;
        std::optional<MediaKind> folder;
    };
    for (const Case& c : std::vector<Case>{{"/p/StillCap1.bmp", MediaKind::Pictures},
                                           {"/p/StillCap1.BMP", MediaKind::Pictures},
                                           {"/p/A.jpg", MediaKind::Pictures},
                                           {"/p/A.JPG", MediaKind::Pictures},
                                           {"/v/VCap1.avi", MediaKind::Videos},
                                           {"/v/VCap1.AVI", MediaKind::Videos},
                                           {"/p/StillCap1.Bmp", std::nullopt},
                                           {"/p/StillCap1.jpeg", std::nullopt},
                                           {"/p.bmp/StillCap1", std::nullopt}}) {
        EXPECT_EQ(DeleteAllFolderFor(c.selected), c.folder) << c.selected;
    }
}

TEST_F(FileOperations, OpenExternallyHandsXdgOpenThePathAsItIs) {
    testsupport::StubPrograms stubs;
    stubs.Add("xdg-open", "note_arguments \"$@\"");
    const std::string noted = root_ / "arguments";
    testsupport::VariableScope argumentsFile("DM_STUB_ARGS", noted);
    const std::string cwd = fs::current_path().string();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {Picture("with space.bmp"), Picture("with space.bmp")},
        {Picture("quo\"te's $(touch x) `y`.bmp"), Picture("quo\"te's $(touch x) `y`.bmp")},
        {Picture("-dash.avi"), Picture("-dash.avi")},
        {Picture("Mikroskop \xC3\xBC \xE9\xA1\x95\xE5\xBE\xAE\xE9\x8F\xA1.jpg"),
         Picture("Mikroskop \xC3\xBC \xE9\xA1\x95\xE5\xBE\xAE\xE9\x8F\xA1.jpg")},
        {"-relative.bmp", cwd + "/-relative.bmp"},
    };
    for (const auto& [path, expected] : cases) {
        fs::remove(noted);
        ASSERT_TRUE(OpenExternally(path)) << path;
        std::optional<std::vector<std::string>> arguments;
        ASSERT_TRUE(testsupport::WaitUntil(
            [&] { return (arguments = testsupport::ReadNotedArguments(noted)).has_value(); }));
        EXPECT_EQ(*arguments, std::vector<std::string>{expected});
    }

    testsupport::VariableScope noPath("PATH", stubs.folder() + "/none");
    EXPECT_EQ(OpenExternally(Picture("x.bmp")).error(), ENOENT);
}

}  // namespace
