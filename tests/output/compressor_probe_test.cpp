#include "output/compressor_probe.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "support/temp_dir.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

// Points $TMPDIR at `folder` for one test.
class TmpDirScope {
public:
    explicit TmpDirScope(const std::string& folder) {
        if (const char* old = std::getenv("TMPDIR")) {
            saved_ = old;
        }
        ::setenv("TMPDIR", folder.c_str(), 1);
    }
    ~TmpDirScope() {
        if (saved_) {
            ::setenv("TMPDIR", saved_->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }

private:
    std::optional<std::string> saved_;
};

std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

}  // namespace

// A pick replaces the options exactly when a recording with it can be made at the frame size
// (640 x 480 before the first frame); the probe works in a private folder under $TMPDIR and
// leaves nothing there, whatever the outcome, and leaves a file of the user's named like
// the probe's alone.
TEST(CompressorProbeTest, APickIsTakenOnlyWhenItCanRecordAndTheProbeLeavesNothing) {
    const RecorderCompressOptions before{RecorderCodec::MotionJpeg, 40, 0};
    const RecorderCompressOptions msvc{RecorderCodec::MicrosoftVideo1, 0, 0};
    struct Case {
        const char* what;
        bool useDefault;  // SetDefaultCompressor rather than ApplyChosenCompressor
        RecorderCompressOptions candidate;
        int width;
        int height;
        int error;
    };
    const Case cases[] = {
        {"default at 640x480", true, msvc, 640, 480, 0},
        {"default before the first frame", true, msvc, 0, 0, 0},
        {"default at a width MSVC cannot take", true, msvc, 642, 480, EINVAL},
        {"MSVC every 15 frames", false, {RecorderCodec::MicrosoftVideo1, 0, 15}, 1280, 1024, 0},
        {"MSVC at a height it cannot take", false, msvc, 640, 482, EINVAL},
        {"DIB at any size", false, {RecorderCodec::UncompressedDib, 0, 0}, 642, 481, 0},
        {"FMP4 with quality", false, {RecorderCodec::Mpeg4, 30, 25}, 320, 240, 0},
    };
    TempDir tmp;
    TmpDirScope scope(tmp.path());
    WriteFile(tmp / "test.avi", "the user's own");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecorderCompressOptions options = before;
        const IoResult result =
            c.useDefault ? SetDefaultCompressor(options, c.width, c.height)
                         : ApplyChosenCompressor(options, c.candidate, c.width, c.height);
        EXPECT_EQ(result.error(), c.error) << result.detail();
        EXPECT_EQ(options == c.candidate, c.error == 0);
        EXPECT_EQ(options == before, c.error != 0);
        EXPECT_EQ(Names(tmp.path()), std::set<std::string>{"test.avi"});
    }
    EXPECT_EQ(ReadFile(tmp / "test.avi"), "the user's own");

    // Where no private folder can be made the probe fails and changes nothing.
    TmpDirScope notAFolder(tmp / "test.avi");
    RecorderCompressOptions options = before;
    EXPECT_EQ(SetDefaultCompressor(options, 640, 480).error(), ENOTDIR);
    EXPECT_EQ(options, before);
    EXPECT_EQ(ReadFile(tmp / "test.avi"), "the user's own");
}
