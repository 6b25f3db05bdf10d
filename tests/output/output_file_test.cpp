#include "output/output_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "support/temp_dir.h"

namespace {

std::size_t EntriesIn(const std::string& folder) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder),
                                                  std::filesystem::directory_iterator()));
}

// The code Write() fails with; 0 when it succeeded.
int WriteText(OutputFile& file, std::string_view text) {
    return file.Write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()).error();
}

TEST(OutputFile, AppearsUnderItsNameOnlyWhenCommitted) {
    const testsupport::TempDir dir;
    const std::string path = dir / "picture.jpg";
    OutputFile file;
    ASSERT_EQ(file.Create(path).error(), 0);
    EXPECT_GE(file.fd(), 0);
    EXPECT_EQ(WriteText(file, "hello "), 0);
    EXPECT_EQ(WriteText(file, "world"), 0);
    EXPECT_FALSE(testsupport::Exists(path));
    EXPECT_EQ(file.Commit().error(), 0);
    EXPECT_EQ(file.fd(), -1);
    EXPECT_EQ(testsupport::ReadFile(path), "hello world");
    EXPECT_EQ(EntriesIn(dir.path()), 1u) << "no temporary file is left";
    EXPECT_EQ(WriteText(file, "more"), EBADF);
    EXPECT_EQ(file.Commit().error(), EBADF);
}

TEST(OutputFile, AnUncommittedFileVanishesAndKeepsTheOlderOne) {
    const testsupport::TempDir dir;
    const std::string path = dir / "picture.jpg";
    testsupport::WriteFile(path, "older");
    {
        OutputFile file;
        ASSERT_EQ(file.Create(path).error(), 0);
        EXPECT_EQ(WriteText(file, "partial"), 0);
    }
    EXPECT_EQ(testsupport::ReadFile(path), "older");
    EXPECT_EQ(EntriesIn(dir.path()), 1u);

    OutputFile file;
    ASSERT_EQ(file.Create(path).error(), 0);
    file.Discard();
    EXPECT_EQ(WriteText(file, "x"), EBADF);
    EXPECT_EQ(EntriesIn(dir.path()), 1u);

    ASSERT_EQ(file.Create(path).error(), 0) << "an output can be used again";
    EXPECT_EQ(WriteText(file, "newer"), 0);
    EXPECT_EQ(file.Commit().error(), 0);
    EXPECT_EQ(testsupport::ReadFile(path), "newer");
}

TEST(OutputFile, ReportsWhyItCannotBeMadeOrCommitted) {
    const testsupport::TempDir dir;
    OutputFile file;
    EXPECT_EQ(file.Create("").error(), ENOENT);
    EXPECT_EQ(file.Create(dir / "missing/picture.jpg").error(), ENOENT);
    EXPECT_EQ(file.fd(), -1);

    // A folder is refused at once; one that appears meanwhile makes the commit fail, and the
    // temporary file goes.
    std::filesystem::create_directory(dir / "taken");
    EXPECT_EQ(file.Create(dir / "taken").error(), EISDIR);
    ASSERT_EQ(file.Create(dir / "later").error(), 0);
    std::filesystem::create_directory(dir / "later");
    testsupport::WriteFile(dir / "later/inside", "x");
    EXPECT_EQ(file.Commit().error(), EISDIR);
    EXPECT_EQ(EntriesIn(dir.path()), 2u);
}

TEST(OutputFile, TwoOutputsForOneTargetDoNotShareATemporaryFile) {
    const testsupport::TempDir dir;
    const std::string path = dir / "a.bmp";
    OutputFile first;
    OutputFile second;
    ASSERT_EQ(first.Create(path).error(), 0);
    ASSERT_EQ(second.Create(path).error(), 0);
    EXPECT_EQ(WriteText(first, "first"), 0);
    EXPECT_EQ(WriteText(second, "second"), 0);
    EXPECT_EQ(first.Commit().error(), 0);
    EXPECT_EQ(testsupport::ReadFile(path), "first");
    EXPECT_EQ(second.Commit().error(), 0);
    EXPECT_EQ(testsupport::ReadFile(path), "second");
}

}  // namespace
