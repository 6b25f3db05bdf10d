// Measures the AVI recorder against the bare FFmpeg encoder of the same frames, per frame size
// and codec, in one run:
//   - recorder: AviRecorder fed in real time at 15 frames a second (steady_clock pacing) from
//     the benchmark's main thread, as the streaming thread feeds it, into a file; frames
//     written and dropped, and the CPU time per frame of the recorder's own threads (the whole
//     process's CPU time less the feeding thread's, close included), and apart from that the
//     feeding thread's copy of each frame into the recorder's queue;
//   - bare: the same frames, in the same order, through swscale, the encoder with the
//     recorder's settings and the AVI muxer into a file, on one thread with no queue, paced at
//     15 frames a second like the recorder (the baseline of the ratio: a paced encoder finds
//     its caches cold at each frame, as the recorder does), and again as fast as it goes
//     ("burst": its CPU time per frame, and frames per second of wall time).
// The frames are the simulated microscope's (camera kind), rendered and converted to 24-bit BGR
// rows (top-down, padded to 4 bytes) before any run, so that rendering costs nothing; a set of
// frames is played forwards and backwards so that the picture keeps moving smoothly.
// When a recording drops frames, a second recording offered 30 frames a second for the same
// time tells the most frames a second the recorder writes on this machine ("max fps").
//   record_bench [--seconds=20] [--sizes=1280x1024,640x480] [--codecs=MSVC,MJPG,DIB,...]
//                [--frames=60] [--null]
// --frames is the size of the rendered set; --null sends every file to /dev/null.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "bench_support.h"
#include "output/avi_encoder_settings.h"
#include "output/avi_recorder.h"
#include "scratch_folder.h"
#include "sim/simulated_microscope.h"

namespace {

using Clock = std::chrono::steady_clock;
using avisettings::CodecDeleter;
using avisettings::FormatDeleter;
using avisettings::FrameDeleter;
using avisettings::PacketDeleter;

constexpr int kFramesPerSecond = 15;
constexpr int kSaturationFramesPerSecond = 30;

std::uint64_t ThreadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(now.tv_nsec);
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The frames of one size: 24-bit BGR rows as the streaming thread hands them to the recorder.
struct FrameSet {
    FrameSize size{};
    std::size_t frameBytes = 0;
    std::vector<std::vector<std::uint8_t>> frames;

    // Frame `i` of a stream that runs through the set forwards, then backwards, and again.
    const std::vector<std::uint8_t>& At(std::size_t i) const {
        const std::size_t n = frames.size();
        if (n < 2) {
            return frames.front();
        }
        const std::size_t p = i % (2 * n - 2);
        return frames[p < n ? p : 2 * n - 2 - p];
    }
};

FrameSet RenderFrames(const sim::SimulatedMicroscope& microscope, FrameSize size, int count) {
    FrameSet set;
    set.size = size;
    const int stride = static_cast<int>(avisettings::BgrRowBytes(size.width));
    set.frameBytes = static_cast<std::size_t>(stride) * size.height;
    std::unique_ptr<SwsContext, avisettings::ConversionDeleter> toBgr(
        sws_getContext(size.width, size.height, AV_PIX_FMT_YUYV422, size.width, size.height,
                       AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr));
    std::vector<std::uint8_t> yuy2(2 * static_cast<std::size_t>(size.width) * size.height);
    for (int i = 0; i < count && toBgr; ++i) {
        microscope.RenderFrame(static_cast<std::uint64_t>(i), size, yuy2.data());
        std::vector<std::uint8_t> bgr(set.frameBytes);
        const std::uint8_t* const source[1] = {yuy2.data()};
        const int sourceStride[1] = {2 * size.width};
        std::uint8_t* const target[1] = {bgr.data()};
        const int targetStride[1] = {stride};
        sws_scale(toBgr.get(), source, sourceStride, 0, size.height, target, targetStride);
        set.frames.push_back(std::move(bgr));
    }
    return set;
}

struct RecorderRun {
    RecordingOutcome outcome;
    std::int64_t fed = 0;
    double recorderMsPerFrame = 0;  // the process less the feeding thread, per frame written
    double copyMsPerFrame = 0;      // the feeding thread, per frame fed
    double writtenPerSecond = 0;    // frames written per second of wall time, close included
    double latestFeedMs = 0;        // how late the feeder was at worst
    std::uintmax_t fileBytes = 0;
};

// Feeds `seconds` of frames at `rate` frames a second, each at its time, into a recording.
RecorderRun RunRecorder(const FrameSet& set, RecorderCodec codec, const std::string& path,
                        int seconds, int rate) {
    RecorderRun run;
    AviRecorder recorder;
    const IoResult opened =
        recorder.OpenRecording(path, set.size.width, set.size.height, rate, {codec});
    if (!opened.ok()) {
        std::fprintf(stderr, "record_bench: open failed: %s (%d)\n", opened.detail().c_str(),
                     opened.error());
        run.outcome.status = opened;
        return run;
    }
    run.fed = static_cast<std::int64_t>(seconds) * rate;
    const std::uint64_t process0 = bench::ProcessCpuNanoseconds();
    const std::uint64_t feeder0 = ThreadCpuNanoseconds();
    const Clock::time_point start = Clock::now();
    for (std::int64_t i = 0; i < run.fed; ++i) {
        const Clock::time_point due =
            start + std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(static_cast<double>(i) / rate));
        std::this_thread::sleep_until(due);
        run.latestFeedMs =
            std::max(run.latestFeedMs,
                     std::chrono::duration<double, std::milli>(Clock::now() - due).count());
        const std::vector<std::uint8_t>& frame = set.At(static_cast<std::size_t>(i));
        recorder.WriteRecordingFrame(static_cast<double>(i) / rate, frame.data(), frame.size());
    }
    const std::uint64_t feederNs = ThreadCpuNanoseconds() - feeder0;
    run.outcome = recorder.CloseRecording();
    const std::uint64_t processNs = bench::ProcessCpuNanoseconds() - process0;
    run.writtenPerSecond = static_cast<double>(run.outcome.framesWritten) / SecondsSince(start);
    const double written =
        static_cast<double>(std::max<std::int64_t>(1, run.outcome.framesWritten));
    run.recorderMsPerFrame =
        static_cast<double>(processNs - std::min(processNs, feederNs)) / written / 1e6;
    run.copyMsPerFrame = static_cast<double>(feederNs) / static_cast<double>(run.fed) / 1e6;
    std::error_code ignored;
    run.fileBytes = std::filesystem::file_size(path, ignored);
    return run;
}

struct BareRun {
    bool ok = false;
    double msPerFrame = 0;
    double framesPerSecond = 0;
};

// Sends `frame` (null: flush) and writes every packet the encoder gives back.
bool EncodeAndWrite(AVCodecContext* c, AVFormatContext* format, AVStream* stream, AVFrame* frame,
                    AVPacket* packet) {
    if (avcodec_send_frame(c, frame) < 0) {
        return false;
    }
    for (;;) {
        const int ret = avcodec_receive_packet(c, packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) {
            return true;
        }
        if (ret < 0) {
            return false;
        }
        av_packet_rescale_ts(packet, c->time_base, stream->time_base);
        packet->stream_index = stream->index;
        const int written = av_write_frame(format, packet);
        av_packet_unref(packet);
        if (written < 0) {
            return false;
        }
    }
}

// The same frames through swscale, the encoder and the AVI muxer, one after the other: at
// `rate` frames a second, as the recorder gets them, or with a rate of 0 as fast as they go.
BareRun RunBare(const FrameSet& set, RecorderCodec codec, const std::string& path,
                std::int64_t count, int rate) {
    BareRun run;
    const AVCodec* encoder = avisettings::FindEncoder(codec);
    if (encoder == nullptr) {
        return run;
    }
    const int width = set.size.width;
    const int height = set.size.height;
    std::unique_ptr<AVCodecContext, CodecDeleter> c(avcodec_alloc_context3(encoder));
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    AVFormatContext* rawFormat = nullptr;
    if (!c || !frame || !packet ||
        avformat_alloc_output_context2(&rawFormat, nullptr, "avi", path.c_str()) < 0) {
        return run;
    }
    std::unique_ptr<AVFormatContext, FormatDeleter> format(rawFormat);
    avisettings::Configure(c.get(), encoder, {codec}, width, height, kFramesPerSecond,
                           avisettings::EncoderThreads(codec));
    if (avcodec_open2(c.get(), encoder, nullptr) < 0) {
        return run;
    }
    frame->format = c->pix_fmt;
    frame->width = width;
    frame->height = height;
    const avisettings::ConversionPtr conversion = avisettings::NewConversion(c.get());
    AVStream* stream = avformat_new_stream(format.get(), nullptr);
    if (av_frame_get_buffer(frame.get(), 0) < 0 || !conversion || stream == nullptr) {
        return run;
    }
    stream->time_base = c->time_base;
    stream->avg_frame_rate = c->framerate;
    avcodec_parameters_from_context(stream->codecpar, c.get());
    stream->codecpar->codec_tag = avisettings::CodecTag(codec);
    if (avio_open(&format->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE) < 0 ||
        avformat_write_header(format.get(), nullptr) < 0) {
        return run;
    }
    const int stride[1] = {static_cast<int>(avisettings::BgrRowBytes(width))};
    const std::uint64_t process0 = bench::ProcessCpuNanoseconds();
    const Clock::time_point start = Clock::now();
    for (std::int64_t i = 0; i < count; ++i) {
        if (rate > 0) {
            std::this_thread::sleep_until(
                start + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(static_cast<double>(i) / rate)));
        }
        if (av_frame_make_writable(frame.get()) < 0) {
            return run;
        }
        const std::uint8_t* const source[1] = {set.At(static_cast<std::size_t>(i)).data()};
        sws_scale(conversion.get(), source, stride, 0, height, frame->data, frame->linesize);
        frame->pts = i;
        if (!EncodeAndWrite(c.get(), format.get(), stream, frame.get(), packet.get())) {
            return run;
        }
    }
    if (!EncodeAndWrite(c.get(), format.get(), stream, nullptr, packet.get()) ||
        av_write_trailer(format.get()) < 0 || avio_closep(&format->pb) < 0) {
        return run;
    }
    const double seconds = SecondsSince(start);
    run.msPerFrame = static_cast<double>(bench::ProcessCpuNanoseconds() - process0) /
                     static_cast<double>(count) / 1e6;
    run.framesPerSecond = static_cast<double>(count) / seconds;
    run.ok = true;
    return run;
}

struct Options {
    int seconds = 20;
    int frames = 60;
    bool null = false;
    std::vector<FrameSize> sizes{{1280, 1024}, {640, 480}};
    std::vector<RecorderCodec> codecs{std::begin(kRecorderCodecs), std::end(kRecorderCodecs)};
};

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        const std::size_t end = std::min(text.find(',', begin), text.size());
        if (end > begin) {
            parts.push_back(text.substr(begin, end - begin));
        }
        begin = end + 1;
    }
    return parts;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : arg.substr(equals + 1);
        if (name == "--seconds") {
            options.seconds = std::max(1, std::atoi(value.c_str()));
        } else if (name == "--frames") {
            options.frames = std::max(1, std::atoi(value.c_str()));
        } else if (name == "--null") {
            options.null = true;
        } else if (name == "--sizes") {
            options.sizes.clear();
            for (const std::string& size : Split(value)) {
                FrameSize parsed{};
                if (std::sscanf(size.c_str(), "%dx%d", &parsed.width, &parsed.height) != 2) {
                    return false;
                }
                options.sizes.push_back(parsed);
            }
        } else if (name == "--codecs") {
            options.codecs.clear();
            for (std::string fourcc : Split(value)) {
                fourcc.resize(4, ' ');  // "DIB" is "DIB "
                const RecorderCodec* found =
                    std::find_if(std::begin(kRecorderCodecs), std::end(kRecorderCodecs),
                                 [&](RecorderCodec c) { return fourcc == RecorderCodecFourcc(c); });
                if (found == std::end(kRecorderCodecs)) {
                    return false;
                }
                options.codecs.push_back(*found);
            }
        } else {
            return false;
        }
    }
    return !options.sizes.empty() && !options.codecs.empty();
}

double LoadAverage() {
    double load = 0;
    if (FILE* file = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(file, "%lf", &load) != 1) {
            load = 0;
        }
        std::fclose(file);
    }
    return load;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: record_bench [--seconds=20] [--sizes=1280x1024,640x480] "
                     "[--codecs=MSVC,MJPG,DIB,FFV1,HFYU,FMP4,H264] [--frames=60] [--null]\n");
        return 2;
    }
    bench::ScratchFolder folder("record_bench");
    if (!folder.ok()) {
        std::fprintf(stderr, "record_bench: no scratch folder\n");
        return 1;
    }
    const std::string recordPath = options.null ? "/dev/null" : folder / "recorder.avi";
    const std::string barePath = options.null ? "/dev/null" : folder / "bare.avi";
    sim::SimulatedMicroscope microscope(sim::Options{sim::Kind::Camera, false});

    std::printf(
        "record_bench: %d fps, %d s (%d frames) a recording, %d rendered frames, "
        "files to %s, %u cores, load average %.2f\n",
        kFramesPerSecond, options.seconds, options.seconds * kFramesPerSecond, options.frames,
        options.null ? "/dev/null" : "a scratch folder", std::thread::hardware_concurrency(),
        LoadAverage());
    std::printf(
        "CPU time per frame in ms (user + system); recorder: its own threads, close "
        "included; copy: the feeding thread's copy into the queue\n");
    std::printf("%-10s %-5s %7s %7s %9s %7s %9s %6s %6s %9s %8s %8s %9s\n", "size", "codec",
                "written", "dropped", "recorder", "copy", "bare", "ratio", "+copy", "burst",
                "bare fps", "max fps", "file MB");
    bool failed = false;
    for (const FrameSize size : options.sizes) {
        const FrameSet set = RenderFrames(microscope, size, options.frames);
        if (set.frames.empty()) {
            std::fprintf(stderr, "record_bench: no frames at %dx%d\n", size.width, size.height);
            return 1;
        }
        for (const RecorderCodec codec : options.codecs) {
            if (!RecorderCodecAvailable(codec)) {
                std::printf("%4dx%-5d %-5s  (no encoder)\n", size.width, size.height,
                            RecorderCodecFourcc(codec));
                continue;
            }
            const auto removeFiles = [&] {
                if (!options.null) {
                    std::filesystem::remove(recordPath);
                    std::filesystem::remove(barePath);
                }
            };
            const RecorderRun recorded =
                RunRecorder(set, codec, recordPath, options.seconds, kFramesPerSecond);
            // Each file goes before the next run, so that no run writes beside another's
            // gigabyte of data the kernel has yet to write back.
            removeFiles();
            const BareRun bare = RunBare(set, codec, barePath, recorded.fed, kFramesPerSecond);
            removeFiles();
            const BareRun burst = RunBare(set, codec, barePath, recorded.fed, 0);
            removeFiles();
            // How many frames a second the recorder writes when offered more than it takes.
            double maxRate = 0;
            if (recorded.outcome.framesDropped > 0) {
                const RecorderRun saturated = RunRecorder(set, codec, recordPath, options.seconds,
                                                          kSaturationFramesPerSecond);
                removeFiles();
                maxRate = saturated.writtenPerSecond;
            }
            if (!recorded.outcome.status.ok() || !bare.ok || !burst.ok ||
                recorded.outcome.framesWritten + recorded.outcome.framesDropped != recorded.fed) {
                std::fprintf(stderr, "record_bench: %s at %dx%d failed\n",
                             RecorderCodecFourcc(codec), size.width, size.height);
                failed = true;
                continue;
            }
            char max[16] = "-";
            if (maxRate > 0) {
                std::snprintf(max, sizeof max, "%.1f", maxRate);
            }
            std::printf(
                "%4dx%-5d %-5s %7lld %7lld %9.2f %7.2f %9.2f %6.2f %6.2f %9.2f %8.1f %8s %9.1f\n",
                size.width, size.height, RecorderCodecFourcc(codec),
                static_cast<long long>(recorded.outcome.framesWritten),
                static_cast<long long>(recorded.outcome.framesDropped), recorded.recorderMsPerFrame,
                recorded.copyMsPerFrame, bare.msPerFrame,
                recorded.recorderMsPerFrame / bare.msPerFrame,
                (recorded.recorderMsPerFrame + recorded.copyMsPerFrame) / bare.msPerFrame,
                burst.msPerFrame, burst.framesPerSecond, max,
                static_cast<double>(recorded.fileBytes) / 1e6);
            if (recorded.latestFeedMs > 1000.0 / kFramesPerSecond) {
                std::printf("    (the feeder ran up to %.0f ms late)\n", recorded.latestFeedMs);
            }
            std::fflush(stdout);
        }
    }
    std::printf("load average at the end %.2f\n", LoadAverage());
    return failed ? 1 : 0;
}
