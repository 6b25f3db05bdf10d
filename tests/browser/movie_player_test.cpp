// The player on real GStreamer, with files of our recorder and of ffmpeg itself.
#include "browser/movie_player.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "browser/avi_video_codec.h"
#include "support/coded_video.h"
#include "support/media_probe.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace {

using testsupport::FrameNumberOf;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WaitUntil;
using testsupport::WriteFile;

constexpr int kFps = 10;
constexpr int kFrames = 25;  // 2.5 seconds

// The player with a view and a notify object that note what reaches them.
class PlayerRig : public QObject {
public:
    PlayerRig() {
        player.SetWindows(this, [this](const QImage& frame, QSize) {
            shown = frame;
            ++framesShown;
        });
    }
    // The events posted for the open file; those of files closed since are counted apart.
    int events = 0;
    int staleEvents = 0;
    QImage shown;
    int framesShown = 0;
    CMoviePlayer player;

    std::optional<int> ShownNumber() const { return FrameNumberOf(shown); }
    double Position() const {
        double seconds = -1.0;
        player.GetPosition(seconds);
        return seconds;
    }
    double Duration() const {
        double seconds = -1.0;
        player.GetDuration(seconds);
        return seconds;
    }
    // Waits for the frame at `number` to be shown.
    bool Shows(int number) {
        return WaitUntil([&] { return ShownNumber() == number; }, 5000);
    }
    // Plays to the end; true when the end was reported.
    bool PlaysToTheEnd() {
        player.Run();
        long code = 0;
        WaitUntil(
            [&] {
                code = code != 0 ? code : (events > 0 ? player.GetEvent() : 0);
                return code != 0;
            },
            20000);
        return code == playerevent::kComplete;
    }

protected:
    void customEvent(QEvent* event) override {
        if (event->type() == PlayerEvent::Type()) {
            const bool current =
                static_cast<PlayerEvent*>(event)->generation() == player.generation();
            (current ? events : staleEvents) += 1;
        }
    }
};

// Every file is made once for all tests.
class MoviePlayerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = new TempDir;
        const std::map<std::string, RecorderCodec> recorded = {
            {"msvc.avi", RecorderCodec::MicrosoftVideo1},
            {"mjpg.avi", RecorderCodec::MotionJpeg},
            {"dib.avi", RecorderCodec::UncompressedDib}};
        for (const auto& [name, codec] : recorded) {
            const std::string failure =
                testsupport::RecordCodedVideo(*folder / name, codec, kFps, kFrames);
            ASSERT_EQ(failure, "") << name;
        }
        // Twice the size, to be shown at half of it.
        ASSERT_EQ(testsupport::RecordCodedVideo(*folder / "mjpg 640.avi", RecorderCodec::MotionJpeg,
                                                kFps, kFrames, 640, 480),
                  "");
        ASSERT_EQ(
            testsupport::RecordCodedVideo(*folder / "msvc 640.avi", RecorderCodec::MicrosoftVideo1,
                                          kFps, kFrames, 640, 480),
            "");
        ASSERT_EQ(testsupport::EncodeCodedVideoWithFfmpeg(*folder / "ffmpeg mjpeg 640.avi",
                                                          "-c:v mjpeg -q:v 3 -pix_fmt yuvj420p",
                                                          kFps, kFrames, 640, 480),
                  "");
        // ffmpeg's own, among them one of predicted frames between key frames.
        const std::map<std::string, std::string> encoded = {
            {"ffmpeg mpeg4.avi", "-c:v mpeg4 -q:v 3 -g 12"},
            {"ffmpeg mjpeg.avi", "-c:v mjpeg -q:v 3 -pix_fmt yuvj420p"}};
        for (const auto& [name, arguments] : encoded) {
            const std::string failure =
                testsupport::EncodeCodedVideoWithFfmpeg(*folder / name, arguments, kFps, kFrames);
            ASSERT_EQ(failure, "") << name;
        }
    }
    static void TearDownTestSuite() {
        delete folder;
        folder = nullptr;
    }
    static std::vector<std::string> EveryFile() {
        return {"msvc.avi", "mjpg.avi", "dib.avi", "ffmpeg mpeg4.avi", "ffmpeg mjpeg.avi"};
    }

    static TempDir* folder;
};
TempDir* MoviePlayerTest::folder = nullptr;

TEST_F(MoviePlayerTest, EveryKindOfFileOpensAtItsFirstFrameAndPlaysToTheEnd) {
    for (const std::string& name : EveryFile()) {
        SCOPED_TRACE(name);
        PlayerRig rig;
        const IoResult opened = rig.player.Open(*folder / name);
        ASSERT_TRUE(opened.ok()) << opened.error() << " " << opened.detail();
        EXPECT_TRUE(rig.Shows(0));
        EXPECT_NEAR(rig.Duration(), 2.5, 0.11);
        EXPECT_NEAR(rig.Position(), 0.0, 1e-6);
        EXPECT_EQ(rig.player.GetEvent(), 0);  // nothing happened before Run
        ASSERT_TRUE(rig.PlaysToTheEnd());
        EXPECT_EQ(rig.ShownNumber(), kFrames - 1);
        // In time with the clock, the frames between were shown too.
        EXPECT_GE(rig.framesShown, kFrames / 2);
        EXPECT_EQ(rig.staleEvents, 0);
    }
}

// Positions are the frames' times: a seek shows the frame at the position, also between key
// frames and past B-frames; the steps stop at both ends.
TEST_F(MoviePlayerTest, SeeksAndStepsShowTheFrameAtThePosition) {
    for (const std::string& name : EveryFile()) {
        SCOPED_TRACE(name);
        PlayerRig rig;
        ASSERT_TRUE(rig.player.Open(*folder / name).ok());
        struct Step {
            const char* what;
            std::function<void(CMoviePlayer&)> act;
            double position;  // where it lands, in seconds
        };
        const std::vector<Step> steps = {
            {"seek to 1.7 s", [](CMoviePlayer& p) { p.SetPosition(1.7); }, 1.7},
            {"back from 1.7 s", [](CMoviePlayer& p) { p.Back(); }, 0.0},
            {"forward from 0", [](CMoviePlayer& p) { p.Forward(); }, 2.0},
            {"seek to 1.5 s", [](CMoviePlayer& p) { p.SetPosition(1.5); }, 1.5},
            {"forward 1 s before the end", [](CMoviePlayer& p) { p.Forward(); }, 2.5},
            {"rewind", [](CMoviePlayer& p) { p.Rewind(); }, 0.0},
            {"seek to 0.4 s", [](CMoviePlayer& p) { p.SetPosition(0.4); }, 0.4},
            {"to the end", [](CMoviePlayer& p) { p.ToEnd(); }, 2.5},
            {"seek to 0.9 s", [](CMoviePlayer& p) { p.SetPosition(0.9); }, 0.9},
        };
        for (const Step& step : steps) {
            SCOPED_TRACE(step.what);
            step.act(rig.player);
            EXPECT_NEAR(rig.Position(), step.position, 1e-3);
            if (step.position < 2.5) {
                EXPECT_TRUE(rig.Shows(static_cast<int>(std::lround(step.position * kFps))))
                    << "shows " << rig.ShownNumber().value_or(-1);
            }
        }
        // Played from a position, it goes on from there; paused, it stays.
        rig.player.Run();
        EXPECT_TRUE(rig.Shows(12));
        rig.player.Pause();
        const double paused = rig.Position();
        WaitUntil([] { return false; }, 200);  // the frame paused at arrives
        const std::optional<int> frame = rig.ShownNumber();
        EXPECT_GT(paused, 1.1);
        WaitUntil([] { return false; }, 300);
        EXPECT_NEAR(rig.Position(), paused, 1e-6);
        EXPECT_EQ(rig.ShownNumber(), frame);
        // The frame shown is the one at the position, within a frame.
        ASSERT_TRUE(frame.has_value());
        EXPECT_NEAR(*frame, paused * kFps, 1.0);
    }
}

TEST_F(MoviePlayerTest, AtTheEndPausedItWaitsAndRunReportsTheEndAtOnce) {
    PlayerRig rig;
    ASSERT_TRUE(rig.player.Open(*folder / "mjpg.avi").ok());
    rig.player.ToEnd();
    WaitUntil([] { return false; }, 200);
    EXPECT_EQ(rig.player.GetEvent(), 0);
    EXPECT_EQ(rig.events, 0);
    ASSERT_TRUE(rig.PlaysToTheEnd());
    // Rewound after the end, it plays again from the first frame.
    rig.player.Pause();
    rig.player.Rewind();
    EXPECT_TRUE(rig.Shows(0));
    rig.events = 0;
    EXPECT_TRUE(rig.PlaysToTheEnd());
}

TEST_F(MoviePlayerTest, ClosingDropsTheEventsAndFramesOfTheClosedFile) {
    PlayerRig rig;
    ASSERT_TRUE(rig.player.Open(*folder / "msvc.avi").ok());
    const std::uint64_t first = rig.player.generation();
    rig.player.Run();
    rig.player.SetPosition(2.4);  // the end comes at once
    rig.player.Close();
    EXPECT_FALSE(rig.player.isOpen());
    EXPECT_NE(rig.player.generation(), first);
    const int shown = rig.framesShown;
    WaitUntil([] { return false; }, 500);
    EXPECT_EQ(rig.events, 0);
    EXPECT_EQ(rig.framesShown, shown);
    EXPECT_EQ(rig.player.GetEvent(), 0);
    // A closed player does nothing and reads nothing.
    double seconds = 7.0;
    rig.player.GetDuration(seconds);
    rig.player.GetPosition(seconds);
    EXPECT_EQ(seconds, 7.0);
    for (const auto& call : {&CMoviePlayer::Run, &CMoviePlayer::Pause, &CMoviePlayer::Rewind,
                             &CMoviePlayer::ToEnd, &CMoviePlayer::Forward, &CMoviePlayer::Back}) {
        (rig.player.*call)();
    }
    rig.player.SetPosition(1.0);
    EXPECT_FALSE(rig.player.isOpen());
    // Open again, the new file's frames come through.
    ASSERT_TRUE(rig.player.Open(*folder / "dib.avi").ok());
    EXPECT_TRUE(rig.Shows(0));
}

TEST_F(MoviePlayerTest, AnyFileNameWorks) {
    for (const std::string name : {"with space.avi", "Grüße #3 ?&%20.avi", "x.AVI"}) {
        SCOPED_TRACE(name);
        std::filesystem::copy_file(*folder / "mjpg.avi", *folder / name);
        PlayerRig rig;
        const IoResult opened = rig.player.Open(*folder / name);
        ASSERT_TRUE(opened.ok()) << opened.detail();
        EXPECT_EQ(rig.player.path(), *folder / name);
        rig.player.SetPosition(1.0);
        EXPECT_TRUE(rig.Shows(10));
    }
}

// The frames of a video shown smaller than its own size come at about the size shown: a
// Motion-JPEG file's decoded at a half (its pictures reduced as they are decoded), the
// others' scaled to it. Still the frame at the position, and made again when paused.
TEST_F(MoviePlayerTest, FramesComeAtAboutTheSizeTheyAreShownAt) {
    for (const std::string name : {"mjpg 640.avi", "ffmpeg mjpeg 640.avi", "msvc 640.avi"}) {
        SCOPED_TRACE(name);
        PlayerRig rig;
        ASSERT_TRUE(rig.player.Open(*folder / name).ok());
        EXPECT_EQ(rig.player.videoSize(), QSize(640, 480));
        const bool jpeg = name.find("mjpeg") != std::string::npos || name.starts_with("mjpg");
        const struct {
            QSize shown;
            QSize frame;
        } sizes[] = {
            {{320, 240}, {320, 240}},
            {{310, 235}, jpeg ? QSize(320, 240) : QSize(310, 235)},
            {{500, 375}, jpeg ? QSize(640, 480) : QSize(500, 375)},
            {{}, {640, 480}},
            {{900, 700}, {640, 480}},
        };
        double position = 0.0;
        for (const auto& each : sizes) {
            const QSize shown = each.shown;
            const QSize frame = each.frame;
            SCOPED_TRACE(testing::Message() << shown.width() << "x" << shown.height());
            rig.player.SetFrameSize(shown);
            position += 0.4;
            rig.player.SetPosition(position);
            const int number = static_cast<int>(std::lround(position * kFps));
            EXPECT_TRUE(WaitUntil(
                [&] {
                    return rig.shown.size() == frame &&
                           FrameNumberOf(rig.shown.scaled(640, 480)) == number;
                },
                5000))
                << rig.shown.width() << "x" << rig.shown.height() << " shows "
                << FrameNumberOf(rig.shown.scaled(640, 480)).value_or(-1);
        }
        // Paused, a new size makes the frame again.
        rig.player.SetFrameSize({320, 240});
        EXPECT_TRUE(WaitUntil([&] { return rig.shown.size() == QSize(320, 240); }, 5000));
        ASSERT_TRUE(rig.PlaysToTheEnd());
        EXPECT_EQ(rig.shown.size(), QSize(320, 240));
        EXPECT_EQ(FrameNumberOf(rig.shown.scaled(640, 480)), kFrames - 1);
    }
}

// The codes of the video streams as the header tells them; whatever else a file holds, no
// code, and a header that lies about its sizes is read as far as it goes.
TEST_F(MoviePlayerTest, TheVideoCodecIsReadFromTheHeader) {
    std::string lyingSize = ReadFile(*folder / "mjpg.avi");
    lyingSize.replace(16, 4, "\xF0\xFF\xFF\xFF");  // the header list's size
    WriteFile(*folder / "lying size.avi", lyingSize);
    std::string shortFormat = ReadFile(*folder / "mjpg.avi");
    shortFormat.replace(shortFormat.find("strf") + 4, 4, std::string("\x08\0\0\0", 4));
    WriteFile(*folder / "short format.avi", shortFormat);
    WriteFile(*folder / "not an avi.avi", "RIFF\x04\0\0\0WAVEdata");
    testsupport::RunCommand(
        "ffmpeg -nostdin -v error -f lavfi -i sine=duration=1 -c:a pcm_s16le '" +
        *folder / "sound.avi" + "'");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"mjpg.avi", "MJPG"},         {"msvc.avi", "MSVC"},         {"dib.avi", "DIB "},
        {"ffmpeg mjpeg.avi", "MJPG"}, {"ffmpeg mpeg4.avi", "FMP4"}, {"lying size.avi", "MJPG"},
        {"short format.avi", ""},     {"not an avi.avi", ""},       {"sound.avi", ""},
        {"missing.avi", ""},
    };
    for (const auto& [name, code] : cases) {
        EXPECT_EQ(AviVideoCodec(*folder / name), code) << name;
    }
    EXPECT_TRUE(IsMotionJpegCodec("mjpg"));
    EXPECT_FALSE(IsMotionJpegCodec("MJPG2"));
}

// Whatever is wrong with a file, Open says so and the player stays closed; nothing hangs.
TEST_F(MoviePlayerTest, FilesThatCannotBePlayedLeaveThePlayerClosed) {
    const std::string good = ReadFile(*folder / "msvc.avi");
    std::string unknownCodec = good;
    for (std::size_t at = unknownCodec.find("MSVC"); at != std::string::npos;
         at = unknownCodec.find("MSVC", at)) {
        unknownCodec.replace(at, 4, "QQQQ");
    }
    std::string unknownCodecLower = unknownCodec;
    for (std::size_t at = unknownCodecLower.find("msvc"); at != std::string::npos;
         at = unknownCodecLower.find("msvc", at)) {
        unknownCodecLower.replace(at, 4, "qqqq");
    }
    WriteFile(*folder / "unknown codec.avi", unknownCodecLower);
    WriteFile(*folder / "empty.avi", "");
    WriteFile(*folder / "text.avi", "This is not a video.\n");
    WriteFile(*folder / "header only.avi", good.substr(0, 200));
    testsupport::RunCommand(
        "ffmpeg -nostdin -v error -f lavfi -i sine=duration=1 -c:a pcm_s16le '" +
        *folder / "sound only.avi" + "'");
    ASSERT_EQ(::mkfifo((*folder / "fifo.avi").c_str(), 0600), 0);
    std::filesystem::create_directory(*folder / "folder.avi");
    const std::vector<std::pair<std::string, int>> cases = {
        {"missing.avi", ENOENT},    {"fifo.avi", EINVAL},    {"folder.avi", EINVAL},
        {"empty.avi", EIO},         {"text.avi", EIO},       {"header only.avi", EIO},
        {"unknown codec.avi", EIO}, {"sound only.avi", EIO},
    };
    for (const auto& [name, error] : cases) {
        SCOPED_TRACE(name);
        PlayerRig rig;
        const IoResult opened = rig.player.Open(*folder / name);
        // A file that ends before its first frame may also leave GStreamer waiting for one.
        if (name == "header only.avi" && opened.error() == ETIMEDOUT) {
            continue;
        }
        EXPECT_EQ(opened.error(), error) << opened.detail();
        if (error == EIO) {
            EXPECT_FALSE(opened.detail().empty());
        }
        EXPECT_FALSE(rig.player.isOpen());
        EXPECT_EQ(rig.player.path(), "");
    }
}

// A recording cut short (the disk filled, the power went) or with damaged pictures: what is
// there plays, and the end comes, with or without an error, but it comes.
TEST_F(MoviePlayerTest, ADamagedFilePlaysWhatItHoldsAndEnds) {
    const std::string good = ReadFile(*folder / "mjpg.avi");
    std::map<std::string, std::string> damaged;
    for (const double kept : {0.9, 0.5, 0.2}) {
        damaged["cut to " + std::to_string(kept)] =
            good.substr(0, static_cast<std::size_t>(good.size() * kept));
    }
    // Pictures whose data turns to noise after their start: the first, and one further on.
    for (const int picture : {0, 7}) {
        std::string bytes = good;
        std::size_t at = bytes.find("00dc", bytes.find("movi"));
        for (int i = 0; i < picture; ++i) {
            at = bytes.find("00dc", at + 8);
        }
        at = bytes.find("\xFF\xD8", at);
        ASSERT_NE(at, std::string::npos);
        for (std::size_t i = at + 2; i < at + 600; ++i) {
            bytes[i] = static_cast<char>(i * 7);
        }
        damaged["picture " + std::to_string(picture) + " damaged"] = bytes;
    }
    for (const auto& [what, bytes] : damaged) {
        SCOPED_TRACE(what);
        const std::string path = *folder / (what + ".avi");
        WriteFile(path, bytes);
        PlayerRig rig;
        const IoResult opened = rig.player.Open(path);
        if (!opened.ok()) {
            EXPECT_EQ(opened.error(), EIO);
            continue;
        }
        rig.player.Run();
        long code = 0;
        EXPECT_TRUE(WaitUntil(
            [&] {
                code = code != 0 ? code : rig.player.GetEvent();
                return code != 0;
            },
            20000));
        EXPECT_GT(rig.framesShown, 0);
    }
}

}  // namespace
