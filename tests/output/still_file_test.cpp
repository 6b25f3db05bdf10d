#include "output/still_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <vector>

#include "support/temp_dir.h"

namespace {

using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

std::uint32_t Read32(const std::string& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value =
            (value << 8) | static_cast<std::uint8_t>(bytes[offset + static_cast<std::size_t>(i)]);
    }
    return value;
}

// A frame whose every byte tells its position, so a file shows whether it holds it exactly.
struct Frame {
    Frame(int frameWidth, int frameHeight) : width(frameWidth), height(frameHeight) {
        const std::size_t row = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
        bytes.resize(row * static_cast<std::size_t>(height));
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
        }
    }
    StillFrame View() const {
        return StillFrame{bytes.data(), bytes.size(), bytes.size(), width, height};
    }
    int width;
    int height;
    std::vector<std::uint8_t> bytes;
};

class StillFileTest : public ::testing::Test {
protected:
    // What the main window does with each still it takes.
    int Save(const Frame& frame) {
        const int written = writer.SaveStillBitmap(frame.View()).ok() ? 1 : 0;
        if (written == 1) {
            writer.AdvanceCounter();
        }
        return written;
    }

    TempDir folder;
    StillWriter writer{folder.path()};
};

TEST_F(StillFileTest, A640By480StillIsAComplete24BitBitmap) {
    const Frame frame(640, 480);
    ASSERT_EQ(Save(frame), 1);
    EXPECT_EQ(writer.stillFileName(), folder / "StillCap0.bmp");
    const std::string file = ReadFile(folder / "StillCap0.bmp");
    ASSERT_EQ(file.size(), 921654u);
    EXPECT_EQ(file.substr(0, 2), "BM");
    EXPECT_EQ(Read32(file, 2), 921654u);  // bfSize
    EXPECT_EQ(Read32(file, 6), 0u);       // reserved
    EXPECT_EQ(Read32(file, 10), 54u);     // bfOffBits
    EXPECT_EQ(Read32(file, 14), 40u);     // biSize
    EXPECT_EQ(Read32(file, 18), 640u);
    EXPECT_EQ(Read32(file, 22), 480u);  // positive: bottom-up
    EXPECT_EQ(Read32(file, 26), 1u | (24u << 16));
    EXPECT_EQ(Read32(file, 30), 0u);       // BI_RGB
    EXPECT_EQ(Read32(file, 34), 921600u);  // biSizeImage
    EXPECT_EQ(file.substr(38, 16), std::string(16, '\0'));
    EXPECT_EQ(std::memcmp(file.data() + 54, frame.bytes.data(), frame.bytes.size()), 0);
    // Files are readable by the user's other programs.
    struct stat info = {};
    ASSERT_EQ(::stat((folder / "StillCap0.bmp").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0644, 0644u);
}

// Each format claims its own names with the same counter; a bitmap records the scale.
TEST_F(StillFileTest, EachFormatTakesTheFirstFreeNameOfItsExtension) {
    WriteFile(folder / "StillCap1.png", "keep");
    const Frame frame(5, 3);
    const PictureMetadata scale{1234.5, 500000, {}, "", ""};
    const struct {
        PictureFormat format;
        int error;
        const char* name;
    } cases[] = {
        {PictureFormat::kBmp, 0, "StillCap0.bmp"},
        {PictureFormat::kPng, 0, "StillCap2.png"},
        {PictureFormat::kTiff, 0, "StillCap3.tif"},
        {PictureFormat::kJpeg, ENOTSUP, "StillCap4.jpg"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const IoResult saved = writer.SaveStill(frame.View(), c.format, scale);
        EXPECT_EQ(saved.error(), c.error);
        EXPECT_EQ(Exists(folder / c.name), c.error == 0);
        if (saved) {
            EXPECT_EQ(writer.stillFileName(), folder / c.name);
            writer.AdvanceCounter();
        }
    }
    EXPECT_EQ(ReadFile(folder / "StillCap1.png"), "keep");
    const std::string bitmap = ReadFile(folder / "StillCap0.bmp");
    ASSERT_EQ(bitmap.size(), 54u + 48u);
    EXPECT_EQ(Read32(bitmap, 38), 1235u);  // biXPelsPerMeter, rounded
    EXPECT_EQ(Read32(bitmap, 42), 500000u);
    EXPECT_EQ(std::memcmp(bitmap.data() + 54, frame.bytes.data(), frame.bytes.size()), 0);
    EXPECT_EQ(ReadFile(folder / "StillCap2.png").substr(1, 3), "PNG");
    EXPECT_EQ(ReadFile(folder / "StillCap3.tif").substr(0, 4), std::string("II*\0", 4));
}

TEST_F(StillFileTest, NumbersCountUpAndSkipExistingFiles) {
    for (int n : {0, 1, 3, 4}) {
        WriteFile(folder / ("StillCap" + std::to_string(n) + ".bmp"), "keep");
    }
    const Frame frame(8, 2);
    ASSERT_EQ(Save(frame), 1);
    EXPECT_EQ(writer.stillFileName(), folder / "StillCap2.bmp");
    ASSERT_EQ(Save(frame), 1);
    EXPECT_EQ(writer.stillFileName(), folder / "StillCap5.bmp");
    EXPECT_EQ(ReadFile(folder / "StillCap3.bmp"), "keep");
    EXPECT_EQ(writer.stillCounter(), 6);
}

TEST_F(StillFileTest, OddWidthsKeepTheirPaddedRows) {
    const Frame frame(3, 2);  // rows of 9 bytes padded to 12
    ASSERT_EQ(Save(frame), 1);
    const std::string file = ReadFile(writer.stillFileName());
    ASSERT_EQ(file.size(), 54u + 24u);
    EXPECT_EQ(Read32(file, 34), 24u);
    EXPECT_EQ(Read32(file, 2), 78u);
}

TEST_F(StillFileTest, AFrameThatDoesNotAddUpIsRefused) {
    Frame frame(8, 2);
    StillFrame view = frame.View();
    for (StillFrame bad :
         {StillFrame{nullptr, 48, 48, 8, 2}, StillFrame{view.pixels, 48, 40, 8, 2},
          StillFrame{view.pixels, 40, 48, 8, 2}, StillFrame{view.pixels, 48, 48, 0, 2},
          StillFrame{view.pixels, 48, 48, 8, -2}}) {
        EXPECT_EQ(writer.SaveStillBitmap(bad).error(), EINVAL);
    }
    EXPECT_FALSE(Exists(folder / "StillCap0.bmp"));
}

// A picture folder taken away while the program runs is made again; one that cannot be
// made (a file stands in its way) fails cleanly.
TEST_F(StillFileTest, AMissingFolderIsMadeAgainAndAnImpossibleOneFailsCleanly) {
    { std::ofstream(folder / "plain") << "not a folder"; }
    const struct {
        std::string folder;
        int error;
    } cases[] = {{folder / "gone/Picture", 0}, {folder / "plain/Picture", ENOTDIR}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        StillWriter elsewhere(c.folder);
        EXPECT_EQ(elsewhere.SaveStillBitmap(Frame(8, 2).View()).error(), c.error);
        EXPECT_EQ(Exists(c.folder + "/StillCap0.bmp"), c.error == 0);
        EXPECT_EQ(elsewhere.stillCounter(), 0);
    }
}

TEST_F(StillFileTest, AWriteThatRunsOutOfRoomLeavesNoFile) {
    // A file size limit makes the write fail part-way, as a full disk would.
    struct rlimit old = {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 1000;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const IoResult written = writer.SaveStillBitmap(Frame(64, 64).View());
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(written.error(), EFBIG);
    EXPECT_FALSE(Exists(folder / "StillCap0.bmp"));
    EXPECT_EQ(writer.stillCounter(), 0);
}

}  // namespace
