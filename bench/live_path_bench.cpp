// Measures the CPU time the program's live path spends per frame against the bare GStreamer
// work of the same frames, side by side in one run:
//   - live: the simulated microscope (camera kind, 1280 x 1024 YUY2, 30 frames a second)
//     streamed through the capture engine and the real GStreamer graph, every frame going
//     through the frame callback into the real display window (622 x 487, offscreen, all
//     four overlays on), whose repaints the UI thread's event loop carries out;
//   - bare: the same simulated microscope's stream pushed, as the program's capture source
//     pushes it, into appsrc → videoconvert → BGR → fakesink.
// Both sides have the same source: the simulator's stream thread renders each frame, copies
// it into a GStreamer buffer and pushes it into a live appsrc with the same settings. Each
// side is measured as the whole process's CPU time (user + system) per frame delivered
// (reaching the frame callback, or the fakesink), and again without the stream thread's own
// CPU time (the simulator's rendering and the push, the same work on both sides), which
// leaves the graph and the program's own work against the conversion alone.
// The sides take turns, in rounds, so that both see the same machine load; the figures are
// the medians over the rounds.
//   live_path_bench [seconds per round] [rounds]   (at least 5 and 1; 8 and 5 by default)
#include <dirent.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "capture/capture_engine.h"
#include "capture/display/video_display_window.h"
#include "capture/gst/gst_handles.h"
#include "capture/gst/gst_media_backend.h"
#include "capture/gst/simulated_device_registry.h"
#include "scratch_folder.h"
#include "sim/simulated_microscope.h"

namespace {

using bench::FindThread;
using bench::TaskCpuNanoseconds;

using gstcapture::CapsPtr;
using gstcapture::ElementPtr;
using gstcapture::MakeElement;
using gstcapture::PadPtr;

constexpr FrameSize kSize{1280, 1024};
constexpr int kFramesPerSecond = 30;
constexpr int kDisplayWidth = 622;
constexpr int kDisplayHeight = 487;
constexpr int kWarmUpMs = 1500;

std::uint64_t ThreadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(now.tv_nsec);
}

// Runs the UI thread's event loop for `ms` milliseconds.
void RunEventLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Round {
    std::uint64_t frames = 0;
    std::uint64_t processNs = 0;
    std::uint64_t sourceNs = 0;  // the simulator's stream thread
    std::uint64_t uiNs = 0;      // the UI thread (repaints)
    std::uint64_t callbackNs = 0;
    double seconds = 0;
};

// One measured stretch of a running side: `frames()` counts frames delivered.
Round Measure(int ms, const std::function<std::uint64_t()>& frames,
              const std::function<std::uint64_t()>& callbackNs) {
    RunEventLoop(kWarmUpMs);
    const std::optional<std::string> source = FindThread(sim::kStreamThreadName);
    if (!source) {
        std::fprintf(stderr, "live_path_bench: no thread named %s\n", sim::kStreamThreadName);
    }
    const auto begin = std::chrono::steady_clock::now();
    const std::uint64_t frames0 = frames();
    const std::uint64_t callback0 = callbackNs();
    const std::uint64_t process0 = bench::ProcessCpuNanoseconds();
    const std::uint64_t source0 = source ? TaskCpuNanoseconds(*source) : 0;
    const std::uint64_t ui0 = ThreadCpuNanoseconds();
    RunEventLoop(ms);
    Round round;
    round.uiNs = ThreadCpuNanoseconds() - ui0;
    round.sourceNs = source ? TaskCpuNanoseconds(*source) - source0 : 0;
    round.processNs = bench::ProcessCpuNanoseconds() - process0;
    round.callbackNs = callbackNs() - callback0;
    round.frames = frames() - frames0;
    round.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    return round;
}

// Takes the still and graph-event messages nobody handles here.
class DiscardingTarget : public EngineMessageTarget {
public:
    void Post(EngineMessage, int) override {}
};

// The program's live path: the engine on the GStreamer backend, drawing into the display.
class LiveSide {
public:
    LiveSide(sim::SimulatedMicroscope& microscope, VideoDisplayWindow& display,
             const std::string& configPath)
        : registry_(microscope), backend_(registry_, &microscope), engine_(backend_) {
        engine_.SetMessageTarget(&target_);
        engine_.SetDisplayWindow(&display);
        // No CapConfig.dat: the camera kind's default of 1280 x 1024.
        engine_.SetCapConfigPath(configPath);
    }
    ~LiveSide() {
        engine_.StopGraph();
        engine_.TearDownGraph();
    }

    bool Build() {
        return Succeeded(engine_.CreateDeviceEnumerator()) && engine_.DiscoverDevices() == 1 &&
               engine_.BuildGraph() == 1 && engine_.PreparePreview() == 1 &&
               engine_.Settings().biWidth == kSize.width &&
               engine_.Settings().biHeight == kSize.height;
    }

    std::optional<Round> Run(int ms) {
        if (engine_.RunGraph() != 1) {
            return std::nullopt;
        }
        const Round round = Measure(
            ms, [this] { return backend_.Stats(GrabberSlot::Frame).frames; },
            [this] { return backend_.Stats(GrabberSlot::Frame).callbackCpuNanoseconds; });
        engine_.StopGraph();
        return round;
    }

private:
    gstcapture::SimulatedDeviceRegistry registry_;
    gstcapture::GstMediaBackend backend_;
    DiscardingTarget target_;
    CaptureEngine engine_;
};

// appsrc → videoconvert → BGR → fakesink, fed by the simulator's stream the way the
// program's capture source feeds its appsrc.
class BareSide : private sim::FrameSink {
public:
    explicit BareSide(sim::SimulatedMicroscope& microscope) : microscope_(microscope) {}
    ~BareSide() override {
        stream_.reset();
        if (pipeline_) {
            gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
        }
    }

    bool Build() {
        pipeline_.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("bare"))));
        source_ = MakeElement("appsrc");
        ElementPtr convert = MakeElement("videoconvert");
        ElementPtr bgr = MakeElement("capsfilter");
        ElementPtr sink = MakeElement("fakesink");
        if (!pipeline_ || !source_ || !convert || !bgr || !sink) {
            return false;
        }
        // The settings of the program's capture source and of its renderer.
        CapsPtr yuy2(gst_caps_new_simple(
            "video/x-raw", "format", G_TYPE_STRING, "YUY2", "width", G_TYPE_INT, kSize.width,
            "height", G_TYPE_INT, kSize.height, "framerate", GST_TYPE_FRACTION, kFramesPerSecond, 1,
            "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr));
        g_object_set(source_.get(), "is-live", TRUE, "format", GST_FORMAT_TIME, "do-timestamp",
                     TRUE, "block", FALSE, "max-bytes", static_cast<guint64>(0), "max-buffers",
                     static_cast<guint64>(2), "leaky-type", GST_APP_LEAKY_TYPE_DOWNSTREAM, "caps",
                     yuy2.get(), nullptr);
        CapsPtr caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", nullptr));
        g_object_set(bgr.get(), "caps", caps.get(), nullptr);
        g_object_set(sink.get(), "sync", FALSE, "async", FALSE, "enable-last-sample", FALSE,
                     nullptr);
        GstBin* bin = GST_BIN(pipeline_.get());
        if (!gst_bin_add(bin, source_.get()) || !gst_bin_add(bin, convert.get()) ||
            !gst_bin_add(bin, bgr.get()) || !gst_bin_add(bin, sink.get()) ||
            !gst_element_link_many(source_.get(), convert.get(), bgr.get(), sink.get(), nullptr)) {
            return false;
        }
        PadPtr sinkPad(gst_element_get_static_pad(sink.get(), "sink"));
        gst_pad_add_probe(sinkPad.get(), GST_PAD_PROBE_TYPE_BUFFER, &BareSide::CountFrame, this,
                          nullptr);
        return true;
    }

    std::optional<Round> Run(int ms) {
        if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            return std::nullopt;
        }
        stream_ = microscope_.Start(kSize, kFramesPerSecond, *this);
        if (!stream_) {
            return std::nullopt;
        }
        const Round round = Measure(
            ms, [this] { return frames_.load(); }, [] { return std::uint64_t{0}; });
        stream_.reset();
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
        return round;
    }

private:
    static GstPadProbeReturn CountFrame(GstPad*, GstPadProbeInfo*, gpointer side) {
        static_cast<BareSide*>(side)->frames_.fetch_add(1);
        return GST_PAD_PROBE_OK;
    }

    // As the program's capture source pushes a frame.
    void OnFrame(const std::uint8_t* yuy2, std::size_t sizeBytes, int, int, std::uint64_t,
                 std::int64_t) override {
        GstBuffer* buffer = gst_buffer_new_memdup(yuy2, sizeBytes);
        if (buffer != nullptr) {
            gst_app_src_push_buffer(GST_APP_SRC(source_.get()), buffer);
        }
    }
    void OnStillFrame(const std::uint8_t*, std::size_t, int, int, std::uint64_t,
                      std::int64_t) override {}
    void OnUnplugged() override {}

    sim::SimulatedMicroscope& microscope_;
    ElementPtr pipeline_;
    ElementPtr source_;
    std::unique_ptr<sim::Stream> stream_;
    std::atomic<std::uint64_t> frames_{0};
};

// Medians per frame over the rounds, in milliseconds.
struct Figures {
    double process = 0;
    double withoutSource = 0;
    double source = 0;
    double ui = 0;
    double callback = 0;
    double framesPerSecond = 0;
};

Figures Summarise(const std::vector<Round>& rounds) {
    std::vector<double> process, withoutSource, source, ui, callback, rate;
    for (const Round& round : rounds) {
        const double frames = static_cast<double>(std::max<std::uint64_t>(round.frames, 1));
        process.push_back(static_cast<double>(round.processNs) / frames / 1e6);
        withoutSource.push_back(
            static_cast<double>(round.processNs - std::min(round.sourceNs, round.processNs)) /
            frames / 1e6);
        source.push_back(static_cast<double>(round.sourceNs) / frames / 1e6);
        ui.push_back(static_cast<double>(round.uiNs) / frames / 1e6);
        callback.push_back(static_cast<double>(round.callbackNs) / frames / 1e6);
        rate.push_back(static_cast<double>(round.frames) / round.seconds);
    }
    return Figures{bench::Median(process), bench::Median(withoutSource), bench::Median(source),
                   bench::Median(ui),      bench::Median(callback),      bench::Median(rate)};
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    const int seconds = std::max(5, argc > 1 ? std::atoi(argv[1]) : 8);
    const int rounds = std::max(1, argc > 2 ? std::atoi(argv[2]) : 5);

    bench::ScratchFolder folder("live_path_bench");
    sim::SimulatedMicroscope microscope(sim::Options{sim::Kind::Camera, false});
    VideoDisplayWindow display;
    bench::ShowWithAllOverlays(display, kDisplayWidth, kDisplayHeight);
    QCoreApplication::processEvents();

    LiveSide live(microscope, display, folder / "CapConfig.dat");
    BareSide bare(microscope);
    if (!folder.ok() || !live.Build() || !bare.Build()) {
        std::fprintf(stderr, "live_path_bench: a graph could not be built\n");
        return 1;
    }
    std::printf("live_path_bench: %d x %d YUY2 at %d fps, %d rounds of %d s a side\n", kSize.width,
                kSize.height, kFramesPerSecond, rounds, seconds);
    std::vector<Round> liveRounds;
    std::vector<Round> bareRounds;
    for (int i = 0; i < rounds; ++i) {
        const std::optional<Round> liveRound = live.Run(seconds * 1000);
        const std::optional<Round> bareRound = bare.Run(seconds * 1000);
        if (!liveRound || !bareRound || liveRound->frames == 0 || bareRound->frames == 0) {
            std::fprintf(stderr, "live_path_bench: a side delivered no frames\n");
            return 1;
        }
        liveRounds.push_back(*liveRound);
        bareRounds.push_back(*bareRound);
        std::printf("  round %d: live %.3f ms/frame (%.1f fps), bare %.3f ms/frame (%.1f fps)\n",
                    i + 1, static_cast<double>(liveRound->processNs) / liveRound->frames / 1e6,
                    liveRound->frames / liveRound->seconds,
                    static_cast<double>(bareRound->processNs) / bareRound->frames / 1e6,
                    bareRound->frames / bareRound->seconds);
    }
    if (display.framesDrawn() == 0) {
        std::fprintf(stderr, "live_path_bench: the display drew nothing\n");
        return 1;
    }

    const Figures l = Summarise(liveRounds);
    const Figures b = Summarise(bareRounds);
    std::printf("medians per frame (CPU time, user + system)      live       bare\n");
    std::printf("  frames delivered per second              %9.2f  %9.2f\n", l.framesPerSecond,
                b.framesPerSecond);
    std::printf("  whole process                            %9.3f  %9.3f ms\n", l.process,
                b.process);
    std::printf("  of it the simulator's stream thread      %9.3f  %9.3f ms\n", l.source, b.source);
    std::printf("  whole process without that thread        %9.3f  %9.3f ms\n", l.withoutSource,
                b.withoutSource);
    std::printf("  of it the frame callback (keep, display) %9.3f          - ms\n", l.callback);
    std::printf("  of it the UI thread (repaints)           %9.3f  %9.3f ms\n", l.ui, b.ui);
    std::printf("ratio live / bare, whole process           %9.2f\n", l.process / b.process);
    std::printf("ratio live / bare, without the stream thread %7.2f\n",
                l.withoutSource / b.withoutSource);
    return 0;
}
