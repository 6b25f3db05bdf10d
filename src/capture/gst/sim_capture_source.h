#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <optional>

#include "capture/gst/capture_source.h"
#include "capture/gst/device_controls.h"
#include "capture/gst/graph_events.h"
#include "capture/gst/gst_handles.h"
#include "sim/simulated_microscope.h"

namespace gstcapture {

// The simulated microscope as a capture filter. Each output pin is an appsrc (live, time
// stamped on arrival, YUY2 of the kept format) that the microscope's stream feeds: pin 0
// every frame, pin 1 (only with a still pin) the frames of button presses. The stream runs
// between StartStreaming and StopStreaming; an unplug while it runs becomes a device-lost
// event.
class SimCaptureSource final : public CaptureSource, private sim::FrameSink {
public:
    SimCaptureSource(sim::SimulatedMicroscope& microscope, GraphEventQueue& events);
    ~SimCaptureSource() override;
    SimCaptureSource(const SimCaptureSource&) = delete;
    SimCaptureSource& operator=(const SimCaptureSource&) = delete;

    int OutputPinCount() const override;
    GstElement* AddPinElements(GstBin& bin, int pin) override;
    void RemovePinElements(GstBin& bin, int pin) override;

    HResult GetFormat(CaptureSettings& format) override;
    HResult SetFormat(const CaptureSettings& format) override;

    HResult PrepareToRun() override;
    HResult StartStreaming() override;
    void StopStreaming() override;

    HResult GetPropertyRange(int property, PropertyRange& range) override;
    HResult GetProperty(int property, int& value, int& flags) override;
    HResult SetProperty(int property, int value, int flags) override;
    HResult GetNorm(int& norm) override;
    HResult SetNorm(int norm) override;
    int VideoInputCount() override;

private:
    static constexpr int kCapturePin = 0;
    static constexpr int kStillPin = 1;

    // sim::FrameSink, on the stream's thread.
    void OnFrame(const std::uint8_t* yuy2, std::size_t sizeBytes, int width, int height,
                 std::uint64_t index, std::int64_t timestampNanoseconds) override;
    void OnStillFrame(const std::uint8_t* yuy2, std::size_t sizeBytes, int width, int height,
                      std::uint64_t index, std::int64_t timestampNanoseconds) override;
    void OnUnplugged() override;
    // `index` numbers the frames of the capture pin; stills carry none.
    void Push(int pin, const std::uint8_t* yuy2, std::size_t sizeBytes, int width, int height,
              std::optional<std::uint64_t> index);

    sim::SimulatedMicroscope& microscope_;
    GraphEventQueue& events_;
    SimDeviceControls controls_;  // of the device as it was plugged when bound
    CaptureSettings format_;
    // The appsrc of each pin while it is in the pipeline. Changed only while no stream runs.
    std::array<ElementPtr, 2> pinSources_;
    std::unique_ptr<sim::Stream> stream_;
    // The frame size of the running stream; frames of another size are dropped.
    std::atomic<int> streamWidth_{0};
    std::atomic<int> streamHeight_{0};
};

}  // namespace gstcapture
