#pragma once

#include <array>
#include <memory>
#include <optional>

#include "capture/gst/capture_source.h"
#include "capture/gst/grabber_chain.h"
#include "capture/gst/graph_events.h"
#include "capture/gst/gst_handles.h"
#include "capture/media_backend.h"
#include "platform/device_registry.h"
#include "sim/simulated_microscope.h"

namespace gstcapture {

// Identities of the graph's filters and pins. A pin's id is its filter's id times 16 plus the
// pin's number on that filter (inputs first).
inline constexpr FilterId kCaptureFilterId = 1;
inline constexpr FilterId kFrameGrabberFilterId = 2;
inline constexpr FilterId kStillGrabberFilterId = 3;
inline constexpr FilterId kFrameRendererFilterId = 4;
inline constexpr FilterId kStillRendererFilterId = 5;

// The capture engine's media backend on GStreamer. The graph is one pipeline: the capture
// filter's output pins are sources (v4l2src for a V4L2 node, appsrc fed by the simulated
// microscope), each grabber is a bin that converts to top-down BGR, and each renderer is an
// appsink whose callback hands frames to the engine on the streaming thread.
//
// Threads: every MediaBackend method runs on the UI thread. Grabber callbacks run on
// GStreamer's streaming threads; graph events are posted from whichever thread notices them
// (the bus's sync handler, or the simulated device's thread).
// Blocking, beyond what MediaBackend says: CreateDeviceEnumerator and CreateFilterGraph start
// GStreamer on first use (it may scan its plugins). BindDevice opens a V4L2 node a second time
// for formats and controls, so that they can be read while v4l2src streams. Run sets the
// pipeline playing: v4l2src opens the node and starts streaming; being live, the pipeline
// does not wait for a first frame. Stop sets the pipeline to NULL, which joins the streaming
// threads, then waits for a frame being handed to a callback. Changes to the graph's links
// stop the pipeline first.
class GstMediaBackend final : public MediaBackend {
public:
    // `microscope` (optional) is the device behind the registry's "sim:" node; both must
    // outlive the backend.
    explicit GstMediaBackend(platform::DeviceRegistry& registry,
                             sim::SimulatedMicroscope* microscope = nullptr);
    ~GstMediaBackend() override;
    GstMediaBackend(const GstMediaBackend&) = delete;
    GstMediaBackend& operator=(const GstMediaBackend&) = delete;

    HResult CreateDeviceEnumerator() override;
    HResult EnumerateVideoInputDevices(std::vector<DeviceMoniker>& devices) override;
    bool IsSameDevice(const DeviceMoniker& a, const DeviceMoniker& b) override;
    HResult ReadFriendlyName(const DeviceMoniker& device, std::string& name) override;
    bool ListPresentHardwareIds(std::vector<std::vector<std::string>>& devices) override;

    HResult CreateFilterGraph() override;
    HResult BindDevice(const DeviceMoniker& device) override;
    HResult AddCaptureFilter() override;
    HResult CountVideoRoutes(int& routes) override;
    HResult FindStillPin() override;
    FilterId CaptureFilter() override { return kCaptureFilterId; }

    HResult GetFormat(CaptureSettings& format, bool& isVideoInfo) override;
    HResult SetFormat(const CaptureSettings& format) override;

    HResult CreateGrabber(GrabberSlot slot) override;
    HResult SetGrabberMediaType(GrabberSlot slot, const CaptureSettings* format) override;
    HResult AddGrabberToGraph(GrabberSlot slot, const char* name) override;
    HResult ConnectOutputPin(int pinNumber, GrabberSlot slot, bool& pinsExist, PinId& outputPin,
                             PinId& grabberPin) override;
    HResult RenderGrabberOutput(GrabberSlot slot, PinId& grabberOutputPin) override;
    void ConfigureGrabber(GrabberSlot slot, bool oneShot, GrabberCallback* callback) override;
    void ReleaseGrabber(GrabberSlot slot) override;

    HResult SetUpGraphEvents(EngineMessageTarget* target) override;
    HResult GetGraphEvent(long& code, std::intptr_t& param1, std::intptr_t& param2) override;

    HResult Run() override;
    HResult Stop() override;

    std::vector<PinConnection> DownstreamConnections(FilterId filter) override;
    HResult Disconnect(PinId pin) override;
    HResult RemoveFilter(FilterId filter) override;

    void ReleaseGraph() override;

    HResult GetPropertyRange(int property, PropertyRange& range) override;
    HResult GetProperty(int property, int& value, int& flags) override;
    HResult SetProperty(int property, int value, int flags) override;
    HResult GetNorm(int& norm) override;
    HResult SetNorm(int norm) override;
    std::unique_ptr<DeviceControls> OpenControls(const DeviceMoniker& device) override;

    // What a grabber has delivered since it was created (zeros without one).
    GrabberStats Stats(GrabberSlot slot) const;

private:
    GstBin* bin() const { return GST_BIN(pipeline_.get()); }
    GrabberChain* chain(GrabberSlot slot) const {
        return grabbers_[static_cast<std::size_t>(slot)].get();
    }
    void DestroyPipeline();
    void ReleaseSource();
    // Unlinks capture pin `pin` from its grabber and drops the pin's elements.
    bool DisconnectCapturePin(int pin);
    void RemoveGrabber(GrabberSlot slot);

    platform::DeviceRegistry& registry_;
    sim::SimulatedMicroscope* microscope_;
    bool gstReady_ = false;
    GraphEventQueue events_;

    ElementPtr pipeline_;
    std::unique_ptr<CaptureSource> source_;
    bool captureFilterInGraph_ = false;
    // The grabber slot each capture pin feeds.
    std::array<std::optional<GrabberSlot>, 2> pinLinks_;
    std::array<std::unique_ptr<GrabberChain>, 2> grabbers_;
    bool running_ = false;
};

}  // namespace gstcapture
