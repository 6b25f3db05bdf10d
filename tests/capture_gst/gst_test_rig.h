#pragma once

// A capture engine on the GStreamer backend and the simulated microscope, with recorders for
// what reaches the main window and the display.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "capture/capture_engine.h"
#include "capture/capture_session.h"
#include "capture/gst/gst_media_backend.h"
#include "capture/gst/simulated_device_registry.h"
#include "sim/simulated_microscope.h"
#include "support/temp_dir.h"

namespace gsttest {

using namespace std::chrono_literals;
inline constexpr auto kPatience = 10s;

struct Posted {
    EngineMessage message = EngineMessage::StillArrived;
    int value = 0;
};

// Records posted messages from any thread.
class RecordingTarget : public EngineMessageTarget {
public:
    void Post(EngineMessage message, int value) override;
    // Waits until `count` posts match; false after kPatience.
    bool WaitFor(const std::function<bool(const Posted&)>& match, int count = 1);
    int Count(const std::function<bool(const Posted&)>& match) const;

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Posted> posts_;
};

struct DrawnFrame {
    int width = 0;
    int height = 0;
    std::size_t lengthBytes = 0;
    std::optional<std::uint32_t> index;  // read from the picture's top row, the first drawn
};

// Records every frame the engine draws (streaming thread).
class FrameRecorder : public FrameDrawer {
public:
    int DrawFrame(const std::uint8_t* buffer, std::size_t lengthBytes, int width,
                  int height) override;
    // Waits until `count` frames were drawn after the first `after`; false after kPatience.
    bool WaitForFrames(std::size_t count, std::size_t after = 0);
    std::vector<DrawnFrame> Frames() const;
    std::size_t size() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<DrawnFrame> frames_;
};

// The engine with its backend and device, as the main window sets it up.
struct EngineRig {
    explicit EngineRig(sim::Options options);
    ~EngineRig();

    // CreateDeviceEnumerator, DiscoverDevices, BuildGraph, PreparePreview, RunGraph; true
    // when every step succeeded.
    bool Start();

    sim::SimulatedMicroscope microscope;
    gstcapture::SimulatedDeviceRegistry registry{microscope};
    gstcapture::GstMediaBackend backend{registry, &microscope};
    RecordingTarget target;
    FrameRecorder frames;
    testsupport::TempDir folder;
    CaptureEngine engine{backend};
    // Asks for stills; the engine's messages go to `target` all the same.
    CaptureSession session{engine};
};

// The frame index in the top picture row, which is the last row of a bottom-up buffer.
std::optional<std::uint32_t> TopRowIndex(const std::uint8_t* bottomUp, int width, int height);

// The picture `yuy2` (`width` x `height`, top-down, unpadded) as a bottom-up DIB's rows:
// converted by GStreamer's own videoconvert to BGR, turned upside down by videoflip, and
// packed into rows of BgrRowBytes(width). Made without the program's grabber, as a reference
// for what it stores; empty when GStreamer fails.
std::vector<std::uint8_t> BottomUpBgrOf(const std::uint8_t* yuy2, int width, int height);

}  // namespace gsttest
