// Streams the simulated microscope (camera kind, 1280 x 1024 at 30 frames per second) through
// the capture engine and the GStreamer graph, and prints:
//   - the frames delivered to the program's frame callback per second of wall time;
//   - the thread CPU time per frame spent in that callback (FrameCallback::BufferCB);
//   - the whole process's CPU time per frame, for context;
//   - the callback time as a ratio to a plain memcpy of one frame (1280 * 1024 * 3 bytes),
//     measured in the same run with the same clock.
//   stream_bench [seconds]   (at least 10)
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "capture/capture_engine.h"
#include "capture/gst/gst_media_backend.h"
#include "capture/gst/simulated_device_registry.h"
#include "sim/simulated_microscope.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 1024;
constexpr int kMinimumSeconds = 10;
constexpr auto kWarmUp = std::chrono::seconds(1);

std::uint64_t ThreadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(now.tv_nsec);
}

// Takes the still and graph-event messages nobody handles here.
class DiscardingTarget : public EngineMessageTarget {
public:
    void Post(EngineMessage, int) override {}
};

// Thread CPU nanoseconds of one memcpy of a frame, rotating through several source frames so
// that, like the streaming thread, each copy reads memory that is not in the cache.
double MemcpyNanosecondsPerFrame(int copies) {
    const std::size_t frameBytes = static_cast<std::size_t>(BgrRowBytes(kWidth)) * kHeight;
    constexpr std::size_t kSources = 6;
    std::vector<std::vector<std::uint8_t>> sources(kSources, std::vector<std::uint8_t>(frameBytes));
    for (std::size_t i = 0; i < kSources; ++i) {
        std::fill(sources[i].begin(), sources[i].end(), static_cast<std::uint8_t>(i * 37 + 1));
    }
    std::vector<std::uint8_t> target(frameBytes, 0);
    std::uint64_t checksum = 0;
    const std::uint64_t start = ThreadCpuNanoseconds();
    for (int i = 0; i < copies; ++i) {
        std::memcpy(target.data(), sources[static_cast<std::size_t>(i) % kSources].data(),
                    frameBytes);
        checksum += target[static_cast<std::size_t>(i) % frameBytes];
    }
    const std::uint64_t spent = ThreadCpuNanoseconds() - start;
    if (checksum == 0) {
        std::puts("(unexpected checksum)");
    }
    return static_cast<double>(spent) / copies;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = std::max(kMinimumSeconds, argc > 1 ? std::atoi(argv[1]) : kMinimumSeconds);

    sim::SimulatedMicroscope microscope(sim::Options{sim::Kind::Camera, false});
    gstcapture::SimulatedDeviceRegistry registry(microscope);
    gstcapture::GstMediaBackend backend(registry, &microscope);
    DiscardingTarget target;
    CaptureEngine engine(backend);
    engine.SetMessageTarget(&target);
    // No CapConfig.dat: the camera kind's default of 1280 x 1024.
    const std::filesystem::path configFolder =
        std::filesystem::temp_directory_path() / ("stream_bench." + std::to_string(::getpid()));
    engine.SetCapConfigPath((configFolder / "CapConfig.dat").string());

    if (Failed(engine.CreateDeviceEnumerator()) || engine.DiscoverDevices() != 1 ||
        engine.BuildGraph() != 1 || engine.PreparePreview() != 1 || engine.RunGraph() != 1) {
        std::fprintf(stderr, "stream_bench: the graph did not start\n");
        return 1;
    }
    const CaptureSettings& format = engine.Settings();
    std::printf("streaming %d x %d YUY2 at %u fps for %d s\n", format.biWidth, format.biHeight,
                RoundedFrameRate(format.AvgTimePerFrame), seconds);

    std::this_thread::sleep_for(kWarmUp);
    const gstcapture::GrabberStats first = backend.Stats(GrabberSlot::Frame);
    const std::uint64_t processBegin = bench::ProcessCpuNanoseconds();
    const auto begin = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const gstcapture::GrabberStats last = backend.Stats(GrabberSlot::Frame);
    const std::uint64_t processSpent = bench::ProcessCpuNanoseconds() - processBegin;
    const double wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    engine.StopGraph();
    engine.TearDownGraph();

    const std::uint64_t frames = last.frames - first.frames;
    if (frames == 0) {
        std::fprintf(stderr, "stream_bench: no frame reached the callback\n");
        return 1;
    }
    const BitmapInfoHeader header = engine.latestFrame().Header();
    const double callbackNs =
        static_cast<double>(last.callbackCpuNanoseconds - first.callbackCpuNanoseconds) /
        static_cast<double>(frames);
    const double memcpyNs = MemcpyNanosecondsPerFrame(300);

    std::printf("frames delivered:           %llu in %.2f s = %.2f frames/s (device: 30)\n",
                static_cast<unsigned long long>(frames), wallSeconds,
                static_cast<double>(frames) / wallSeconds);
    std::printf("last frame:                 %d x %d, %u bytes\n", header.biWidth, header.biHeight,
                header.biSizeImage);
    std::printf("callback CPU per frame:     %.3f ms\n", callbackNs / 1e6);
    std::printf("memcpy of a frame (%d B): %.3f ms\n", kWidth * kHeight * 3, memcpyNs / 1e6);
    std::printf("process CPU per frame:      %.3f ms (device, conversion and callback)\n",
                static_cast<double>(processSpent) / static_cast<double>(frames) / 1e6);
    std::printf("callback / memcpy:          %.2f\n", callbackNs / memcpyNs);
    return 0;
}
