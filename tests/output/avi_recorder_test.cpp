#include "output/avi_recorder.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/media_probe.h"
#include "support/temp_dir.h"

namespace {

using testsupport::DecodedFrames;
using testsupport::DecodeErrors;
using testsupport::ProbeVideo;
using testsupport::RunCommand;

constexpr int kWidth = 640;
constexpr int kHeight = 480;

std::size_t RowBytes(int width) {
    return (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
}

// A frame that differs from its neighbours and is not symmetric top to bottom.
std::vector<std::uint8_t> Frame(int index, int width = kWidth, int height = kHeight) {
    std::vector<std::uint8_t> bytes(RowBytes(width) * height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = bytes.data() + RowBytes(width) * y;
        for (int x = 0; x < width; ++x) {
            const bool block = x / 32 == index % (width / 32) && y < height / 2;
            row[3 * x + 0] = static_cast<std::uint8_t>(x / 3);
            row[3 * x + 1] = static_cast<std::uint8_t>(y / 2);
            row[3 * x + 2] = block ? 250 : 20;
        }
    }
    return bytes;
}

// How many of the video packets are marked as key frames.
std::string KeyFrames(const std::string& path) {
    std::string count =
        RunCommand("ffprobe -v error -select_streams v:0 -show_entries packet=flags -of csv=p=0 '" +
                   path + "' | grep -c K");
    while (!count.empty() && count.back() == '\n') {
        count.pop_back();
    }
    return count;
}

std::string FirstFrameBgr(const std::string& path) {
    return RunCommand("ffmpeg -nostdin -v error -i '" + path +
                      "' -frames:v 1 -f rawvideo -pix_fmt bgr24 - 2>/dev/null");
}

struct Traces {
    std::mutex mutex;
    std::vector<std::string> lines;
    std::function<void(const char*)> Sink() {
        return [this](const char* line) {
            std::lock_guard lock(mutex);
            lines.emplace_back(line);
        };
    }
    int Count(const std::string& part) {
        std::lock_guard lock(mutex);
        int n = 0;
        for (const std::string& line : lines) {
            n += line.find(part) != std::string::npos ? 1 : 0;
        }
        return n;
    }
};

// The frame's rows without their padding, as ffmpeg writes raw bgr24.
std::string Unpadded(const std::vector<std::uint8_t>& frame, int width, int height) {
    std::string rows;
    for (int y = 0; y < height; ++y) {
        const auto row = frame.begin() + static_cast<std::ptrdiff_t>(RowBytes(width) * y);
        rows.append(row, row + 3 * width);
    }
    return rows;
}

// Records `times.size()` frames at `fps`, each at its capture time.
RecordingOutcome Record(AviRecorder& recorder, const std::string& path,
                        const RecorderCompressOptions& options, int fps,
                        const std::vector<double>& times, int width = kWidth,
                        int height = kHeight) {
    const IoResult opened = recorder.OpenRecording(path, width, height, fps, options);
    EXPECT_TRUE(opened.ok()) << opened.error() << " " << opened.detail();
    for (std::size_t i = 0; i < times.size(); ++i) {
        const std::vector<std::uint8_t> frame = Frame(static_cast<int>(i), width, height);
        recorder.WriteRecordingFrame(times[i], frame.data(), frame.size());
    }
    return recorder.CloseRecording();
}

std::vector<double> Steady(int count, int fps, double start = 0.0) {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        times.push_back(start + static_cast<double>(i) / fps);
    }
    return times;
}

}  // namespace

// Every codec this FFmpeg has writes an AVI that reads back with its codec, its four-character
// code, the declared rate and every frame; the lossless ones give the first frame back as it
// went in, rows the right way up (and DIB's rows padded to 4 bytes where 3 a pixel are not).
TEST(AviRecorderTest, EachCodecWritesAPlayableFileAtTheDeclaredRate) {
    struct Case {
        RecorderCodec codec;
        const char* codecName;
        const char* tag;  // ffprobe's codec_tag_string
        bool lossless;
        int keyFrameEvery;
        const char* keyFrames;  // of the 30
        int width = kWidth;
    };
    const Case cases[] = {
        {RecorderCodec::MicrosoftVideo1, "msvideo1", "MSVC", false, 0, "30"},
        {RecorderCodec::MotionJpeg, "mjpeg", "MJPG", false, 0, "30"},
        {RecorderCodec::UncompressedDib, "rawvideo", "[0][0][0][0]", true, 0, "30"},
        {RecorderCodec::UncompressedDib, "rawvideo", "[0][0][0][0]", true, 0, "30", 642},
        {RecorderCodec::Ffv1, "ffv1", "FFV1", true, 10, "3"},
        {RecorderCodec::HuffYuv, "huffyuv", "HFYU", true, 0, "30"},
        {RecorderCodec::Mpeg4, "mpeg4", "FMP4", false, 15, "2"},
        {RecorderCodec::H264, "h264", "H264", false, 10, "3"},
    };
    testsupport::TempDir dir;
    const int fps = 13;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.codecName) + " " + std::to_string(c.width));
        if (!RecorderCodecAvailable(c.codec)) {
            EXPECT_EQ(c.codec, RecorderCodec::H264) << "missing encoder";
            continue;
        }
        AviRecorder recorder({}, 32);  // room for every frame: none is dropped
        const std::string path =
            dir / (std::string(c.codecName) + std::to_string(c.width) + ".avi");
        const RecordingOutcome outcome = Record(recorder, path, {c.codec, 75, c.keyFrameEvery}, fps,
                                                Steady(30, fps), c.width, kHeight);
        EXPECT_TRUE(outcome.status.ok()) << outcome.status.detail();
        EXPECT_EQ(outcome.framesWritten, 30);
        EXPECT_EQ(outcome.framesDropped, 0);

        std::map<std::string, std::string> probe = ProbeVideo(path);
        EXPECT_EQ(probe["codec_name"], c.codecName);
        EXPECT_EQ(probe["codec_tag_string"], c.tag);
        EXPECT_EQ(probe["r_frame_rate"], "13/1");
        EXPECT_EQ(probe["nb_frames"], "30");
        EXPECT_EQ(DecodeErrors(path), "");
        EXPECT_EQ(KeyFrames(path), c.keyFrames);
        if (c.lossless) {
            EXPECT_TRUE(FirstFrameBgr(path) == Unpadded(Frame(0, c.width), c.width, kHeight));
        }
    }
}

// Open refuses what it cannot record, says why, and leaves nothing behind.
TEST(AviRecorderTest, OpenRefusesWhatItCannotRecordAndLeavesNoFile) {
    struct Case {
        const char* what;
        RecorderCodec codec;
        int width, height, fps;
        const char* folder;  // under the temporary folder
        int error;
    };
    const Case cases[] = {
        {"MSVC width not a multiple of 4", RecorderCodec::MicrosoftVideo1, 642, 480, 13, "",
         EINVAL},
        {"MSVC height not a multiple of 4", RecorderCodec::MicrosoftVideo1, 640, 482, 13, "",
         EINVAL},
        {"no width", RecorderCodec::MotionJpeg, 0, 480, 13, "", EINVAL},
        {"no rate", RecorderCodec::MotionJpeg, 640, 480, 0, "", EINVAL},
        {"missing folder", RecorderCodec::MotionJpeg, 640, 480, 13, "gone/", ENOENT},
    };
    testsupport::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AviRecorder recorder;
        const std::string path = dir / (std::string(c.folder) + "VCap0000.avi");
        const IoResult result = recorder.OpenRecording(path, c.width, c.height, c.fps, {c.codec});
        EXPECT_EQ(result.error(), c.error);
        EXPECT_FALSE(result.detail().empty());
        EXPECT_FALSE(testsupport::Exists(path));
        // A refused recording takes no frames and closes as nothing.
        const std::vector<std::uint8_t> frame = Frame(0);
        recorder.WriteRecordingFrame(0.0, frame.data(), frame.size());
        const RecordingOutcome outcome = recorder.CloseRecording();
        EXPECT_EQ(outcome.framesWritten, 0);
        EXPECT_EQ(outcome.framesDropped, 0);
    }
}

// Each frame sits at its capture time: a pause in capture keeps its length in the file, and
// frames closer together than a frame period take the next free slot instead of colliding.
TEST(AviRecorderTest, CaptureTimesSetTheFramesPlaceInTheFile) {
    testsupport::TempDir dir;
    const int fps = 10;
    std::vector<double> times = Steady(10, fps, 5.0);  // 5.0 .. 5.9
    for (double t : Steady(10, fps, 7.0)) {            // a 1.1 s pause, then 7.0 .. 7.9
        times.push_back(t);
    }
    times.push_back(7.91);  // same slot as 7.9: goes to 8.0
    AviRecorder recorder({}, 32);
    const std::string path = dir / "gap.avi";
    const RecordingOutcome outcome =
        Record(recorder, path, {RecorderCodec::MotionJpeg}, fps, times);
    EXPECT_TRUE(outcome.status.ok());
    EXPECT_EQ(outcome.framesWritten, 21);
    std::map<std::string, std::string> probe = ProbeVideo(path);
    EXPECT_EQ(probe["r_frame_rate"], "10/1");
    EXPECT_NEAR(std::stod(probe["duration"].empty() ? "0" : probe["duration"]), 3.1, 1e-6);
    EXPECT_EQ(DecodeErrors(path), "");

    // The capture's clock starting again from 0 (the graph restarted) goes on after the last
    // frame, and a pause after that keeps its length.
    std::vector<double> restarted = Steady(10, fps, 5.0);
    for (double start : {0.05, 1.05}) {
        for (double t : Steady(5, fps, start)) {
            restarted.push_back(t);
        }
    }
    const std::string again = dir / "restarted.avi";
    EXPECT_EQ(Record(recorder, again, {RecorderCodec::MotionJpeg}, fps, restarted).framesWritten,
              20);
    probe = ProbeVideo(again);
    EXPECT_NEAR(std::stod(probe["duration"].empty() ? "0" : probe["duration"]), 2.5, 1e-6);
}

// A full queue drops the newest frame and counts it; a disk full from the start fails the
// open.
TEST(AviRecorderTest, DropsAreCountedAndADiskFullFromTheStartFailsTheOpen) {
    testsupport::TempDir dir;
    const std::vector<std::uint8_t> frame = Frame(1);
    {
        Traces traces;
        AviRecorder recorder(traces.Sink(), 4);
        const std::string path = dir / "held.avi";
        ASSERT_TRUE(recorder.OpenRecording(path, kWidth, kHeight, 13, {}).ok());
        recorder.HoldWriter(true);
        for (int i = 0; i < 10; ++i) {
            recorder.WriteRecordingFrame(i / 13.0, frame.data(), frame.size());
        }
        recorder.WriteRecordingFrame(1.0, frame.data(), frame.size() - 1);  // too short
        EXPECT_EQ(recorder.framesDropped(), 7);
        EXPECT_EQ(traces.Count("queue full"), 6);
        EXPECT_EQ(traces.Count("too short"), 1);
        const RecordingOutcome outcome = recorder.CloseRecording();
        EXPECT_TRUE(outcome.status.ok());
        EXPECT_EQ(outcome.framesWritten, 4);
        EXPECT_EQ(outcome.framesDropped, 7);
        EXPECT_EQ(ProbeVideo(path)["nb_frames"], "4");
    }
    {
        // A disk already full takes not even the header: the open fails, and no frame is
        // taken.
        AviRecorder recorder;
        const IoResult opened = recorder.OpenRecording("/dev/full", kWidth, kHeight, 13,
                                                       {RecorderCodec::UncompressedDib});
        EXPECT_EQ(opened.error(), ENOSPC);
        EXPECT_EQ(recorder.openFailedAt(), RecordingOpenStep::File);
    }
}

// Names run VCap0000.avi, VCap0001.avi, ... skipping taken names (files or not), keep at least
// four digits, and the counter stays on the free number.
TEST(AviRecorderTest, RecordingNamesTakeTheFirstFreeNumber) {
    testsupport::TempDir dir;
    int counter = 0;
    EXPECT_EQ(NextRecordingPath(dir.path(), counter), dir / "VCap0000.avi");
    EXPECT_EQ(counter, 0);
    testsupport::WriteFile(dir / "VCap0000.avi", "x");
    ASSERT_EQ(::mkdir((dir / "VCap0001.avi").c_str(), 0700), 0);
    EXPECT_EQ(NextRecordingPath(dir.path(), counter), dir / "VCap0002.avi");
    EXPECT_EQ(counter, 2);
    counter = 12;
    EXPECT_EQ(NextRecordingPath(dir.path(), counter), dir / "VCap0012.avi");
    counter = 12345;
    EXPECT_EQ(NextRecordingPath(dir.path(), counter), dir / "VCap12345.avi");
    // A folder that is not there still gives a name; opening it says what is wrong.
    counter = 0;
    EXPECT_EQ(NextRecordingPath(dir / "gone", counter), dir / "gone/VCap0000.avi");
}

// Each failed step has its own words, with the errno, the number and the system's reason.
TEST(AviRecorderTest, OpenFailureMessagesNameTheStep) {
    struct Case {
        RecordingOpenStep step;
        IoResult failure;
        const char* expected;
    };
    const Case cases[] = {
        {RecordingOpenStep::File, IoResult(ENOSPC, "/v/VCap0003.avi"),
         "Open avi file failed(0x0000001C:3)\n/v/VCap0003.avi: No space left on device"},
        {RecordingOpenStep::Encoder, IoResult(ENOSYS, "no encoder for H264"),
         "Make compress stream failed(0x00000026:3)\nno encoder for H264: Function not "
         "implemented"},
        {RecordingOpenStep::FrameFormat, IoResult(EINVAL, ""),
         "Unsupport compressed format\nInvalid argument"},
        {RecordingOpenStep::Container, IoResult(EIO, ""),
         "Set stream format failed(0x00000005:3)\nInput/output error"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RecordingOpenMessage(c.step, c.failure, 3), c.expected);
    }
    // The recorder tells which step failed.
    testsupport::TempDir dir;
    AviRecorder recorder;
    EXPECT_FALSE(recorder.OpenRecording(dir / "gone/x.avi", 640, 480, 15, {}).ok());
    EXPECT_EQ(recorder.openFailedAt(), RecordingOpenStep::File);
    EXPECT_FALSE(recorder.OpenRecording(dir / "x.avi", 642, 480, 15, {}).ok());
    EXPECT_EQ(recorder.openFailedAt(), RecordingOpenStep::FrameFormat);
    EXPECT_TRUE(recorder.OpenRecording(dir / "x.avi", 640, 480, 15, {}).ok());
    EXPECT_EQ(recorder.openFailedAt(), RecordingOpenStep::None);
}

// A disk that fills up mid-recording (here: the file size limit, which fails writes the same
// way for root too) stops the recording at the first failed write, and the file is cut back
// to the last whole frame: every tool reads it to there without a complaint.
TEST(AviRecorderTest, AFileCutShortByAFullDiskPlaysToItsLastWholeFrame) {
    struct Case {
        RecorderCodec codec;
        rlim_t limitBytes;
    };
    const Case cases[] = {
        {RecorderCodec::UncompressedDib, 4 * 1000 * 1000},
        {RecorderCodec::MotionJpeg, 150 * 1000},
        {RecorderCodec::MicrosoftVideo1, 2 * 1000 * 1000},
    };
    testsupport::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(RecorderCodecFourcc(c.codec));
        const std::string path =
            dir / (std::string("full") + RecorderCodecFourcc(c.codec) + ".avi");
        AviRecorder recorder({}, 64);
        ASSERT_TRUE(recorder.OpenRecording(path, kWidth, kHeight, 10, {c.codec}).ok());
        struct rlimit saved = {};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const sighandler_t savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = saved;
        limit.rlim_cur = c.limitBytes;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        for (int i = 0; i < 60; ++i) {
            const std::vector<std::uint8_t> frame = Frame(i * 7);
            recorder.WriteRecordingFrame(i / 10.0, frame.data(), frame.size());
        }
        const RecordingOutcome outcome = recorder.CloseRecording();
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, savedHandler);

        EXPECT_EQ(outcome.status.error(), EFBIG);
        EXPECT_EQ(outcome.framesWritten + outcome.framesDropped, 60);
        ASSERT_GT(outcome.framesWritten, 0);
        EXPECT_LT(outcome.framesWritten, 60);
        EXPECT_EQ(DecodeErrors(path), "");
        EXPECT_EQ(DecodedFrames(path), outcome.framesWritten);
        EXPECT_EQ(ProbeVideo(path)["r_frame_rate"], "10/1");
    }
}

// Past 1 GB the file goes on in further RIFF parts with their own indexes (OpenDML): every
// frame reads back, the header counts them all, and a seek finds the last one, which lies
// past the first gigabyte, as it went in.
TEST(AviRecorderTest, RecordingsPastOneGigabyteReadBackWhole) {
    constexpr int kBigWidth = 1280;
    constexpr int kBigHeight = 1024;
    constexpr int kFrames = 300;  // 3,932,160 bytes each: 1.18 GB
    constexpr int kFps = 15;
    testsupport::TempDir dir;
    const std::string path = dir / "big.avi";
    std::vector<std::uint8_t> frame = Frame(0, kBigWidth, kBigHeight);
    const auto stamp = [&frame](int index) {
        std::memcpy(frame.data(), &index, sizeof index);  // the first pixels tell the frame
    };
    AviRecorder recorder;
    ASSERT_TRUE(
        recorder.OpenRecording(path, kBigWidth, kBigHeight, kFps, {RecorderCodec::UncompressedDib})
            .ok());
    // A frame the full queue turns away is offered again, at the same time, until taken.
    for (int taken = 0; taken < kFrames;) {
        stamp(taken);
        const std::int64_t dropped = recorder.framesDropped();
        recorder.WriteRecordingFrame(static_cast<double>(taken) / kFps, frame.data(), frame.size());
        if (recorder.framesDropped() == dropped) {
            ++taken;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    const RecordingOutcome outcome = recorder.CloseRecording();
    ASSERT_TRUE(outcome.status.ok()) << outcome.status.detail();
    ASSERT_EQ(outcome.framesWritten, kFrames);
    struct stat file {};
    ASSERT_EQ(::stat(path.c_str(), &file), 0);
    EXPECT_GT(file.st_size, std::int64_t{1} << 30);

    const std::string counts = RunCommand(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=nb_frames,nb_read_frames -of default=noprint_wrappers=1 '" +
        path + "' 2>&1");
    EXPECT_EQ(counts, "nb_frames=300\nnb_read_frames=300\n");
    // ffmpeg's progress report ends with the frames it decoded; no error comes before it.
    const std::string decoded =
        RunCommand("ffmpeg -nostdin -v error -progress pipe:1 -i '" + path + "' -f null - 2>&1");
    const std::size_t last = decoded.rfind("frame=");
    EXPECT_EQ(decoded.find("frame="), 0u) << decoded.substr(0, 500);
    EXPECT_EQ(decoded.substr(last, decoded.find('\n', last) - last), "frame=300");
    // Frame 299 sits at 19.93 s.
    stamp(kFrames - 1);
    EXPECT_TRUE(RunCommand("ffmpeg -nostdin -v error -ss 19.92 -i '" + path +
                           "' -frames:v 1 -f rawvideo -pix_fmt bgr24 - 2>&1") ==
                std::string(frame.begin(), frame.end()));
}
