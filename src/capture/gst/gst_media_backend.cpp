#include "capture/gst/gst_media_backend.h"

#include <string_view>

#include "app/debug_trace.h"
#include "capture/gst/device_controls.h"
#include "capture/gst/gst_logging.h"
#include "capture/gst/sim_capture_source.h"
#include "capture/gst/simulated_device_registry.h"
#include "capture/gst/v4l2_capture_source.h"

Q_LOGGING_CATEGORY(lcCaptureGst, "microscope.capture.gst", QtWarningMsg)

namespace gstcapture {

namespace {

constexpr int kCapturePinCount = 2;
constexpr int kMaxGrabberFramesPerSecond = 60;
constexpr PinId kPinsPerFilter = 16;

constexpr PinId PinOf(FilterId filter, PinId index) {
    return filter * kPinsPerFilter + index;
}

constexpr FilterId GrabberFilterOf(GrabberSlot slot) {
    return slot == GrabberSlot::Frame ? kFrameGrabberFilterId : kStillGrabberFilterId;
}
constexpr FilterId RendererFilterOf(GrabberSlot slot) {
    return slot == GrabberSlot::Frame ? kFrameRendererFilterId : kStillRendererFilterId;
}

// The grabber slot a grabber or renderer filter id belongs to.
std::optional<GrabberSlot> SlotOfFilter(FilterId filter, bool& isRenderer) {
    isRenderer = filter == kFrameRendererFilterId || filter == kStillRendererFilterId;
    if (filter == kFrameGrabberFilterId || filter == kFrameRendererFilterId) {
        return GrabberSlot::Frame;
    }
    if (filter == kStillGrabberFilterId || filter == kStillRendererFilterId) {
        return GrabberSlot::Still;
    }
    return std::nullopt;
}

bool IsSimulatedNode(std::string_view nodePath) {
    return nodePath.rfind("sim:", 0) == 0;
}

}  // namespace

bool EnsureGstInitialized() {
    // gst_init_check serialises itself and returns at once once GStreamer runs.
    GError* rawError = nullptr;
    if (gst_init_check(nullptr, nullptr, &rawError)) {
        return true;
    }
    ErrorPtr error(rawError);
    DebugTrace(0, "GStreamer cannot start: %s\n", error ? error->message : "unknown");
    return false;
}

GstMediaBackend::GstMediaBackend(platform::DeviceRegistry& registry,
                                 sim::SimulatedMicroscope* microscope)
    : registry_(registry), microscope_(microscope) {
    gstReady_ = EnsureGstInitialized();
}

GstMediaBackend::~GstMediaBackend() {
    ReleaseGraph();
}

// Devices.

HResult GstMediaBackend::CreateDeviceEnumerator() {
    gstReady_ = gstReady_ || EnsureGstInitialized();
    return gstReady_ ? hr::kOk : hr::kFail;
}

HResult GstMediaBackend::EnumerateVideoInputDevices(std::vector<DeviceMoniker>& devices) {
    devices.clear();
    std::vector<platform::VideoDeviceInfo> found;
    const platform::EnumerateResult result = registry_.EnumerateVideoInputs(found);
    if (result == platform::EnumerateResult::Failed) {
        return hr::kFail;
    }
    for (platform::VideoDeviceInfo& info : found) {
        DeviceMoniker moniker;
        moniker.nameReadable = !info.friendlyName.empty();
        moniker.devicePath = std::move(info.devicePath);
        moniker.friendlyName = std::move(info.friendlyName);
        moniker.identity = std::move(info.identity);
        moniker.nodePath = std::move(info.nodePath);
        devices.push_back(std::move(moniker));
    }
    return devices.empty() ? hr::kFalse : hr::kOk;
}

bool GstMediaBackend::IsSameDevice(const DeviceMoniker& a, const DeviceMoniker& b) {
    return !a.identity.empty() && a.identity == b.identity && a.nodePath == b.nodePath;
}

HResult GstMediaBackend::ReadFriendlyName(const DeviceMoniker& device, std::string& name) {
    // The name as the system tells it now; the listing's when the device is not listed.
    std::vector<DeviceMoniker> devices;
    if (EnumerateVideoInputDevices(devices) == hr::kOk) {
        for (const DeviceMoniker& listed : devices) {
            if (IsSameDevice(listed, device) && listed.nameReadable) {
                name = listed.friendlyName;
                return hr::kOk;
            }
        }
    }
    if (!device.nameReadable) {
        return hr::kFail;
    }
    name = device.friendlyName;
    return hr::kOk;
}

bool GstMediaBackend::ListPresentHardwareIds(std::vector<std::vector<std::string>>& devices) {
    return registry_.ListPresentHardwareIds(devices);
}

// The graph and its capture filter.

HResult GstMediaBackend::CreateFilterGraph() {
    if (pipeline_) {
        return hr::kOk;
    }
    gstReady_ = gstReady_ || EnsureGstInitialized();
    if (!gstReady_) {
        return hr::kFail;
    }
    GstElement* pipeline = gst_pipeline_new("CaptureGraph");
    if (pipeline == nullptr) {
        return hr::kOutOfMemory;
    }
    pipeline_.reset(GST_ELEMENT(gst_object_ref_sink(pipeline)));
    BusPtr bus(gst_pipeline_get_bus(GST_PIPELINE(pipeline_.get())));
    gst_bus_set_sync_handler(bus.get(), &GraphEventQueue::OnBusMessage, &events_, nullptr);
    return hr::kOk;
}

HResult GstMediaBackend::BindDevice(const DeviceMoniker& device) {
    if (!pipeline_) {
        return hr::kPointer;
    }
    ReleaseSource();
    if (IsSimulatedNode(device.nodePath)) {
        // A moniker from before an unplug names a device that is gone.
        if (microscope_ == nullptr || !microscope_->plugged() ||
            microscope_->identity() != device.identity) {
            return hr::kDeviceRemoved;
        }
        source_ = std::make_unique<SimCaptureSource>(*microscope_, events_);
        return hr::kOk;
    }
    source_ = V4l2CaptureSource::Open(device.nodePath);
    return source_ ? hr::kOk : hr::kDeviceRemoved;
}

HResult GstMediaBackend::AddCaptureFilter() {
    if (!pipeline_ || !source_) {
        return hr::kPointer;
    }
    // The pins' elements join the pipeline when they are connected.
    captureFilterInGraph_ = true;
    return hr::kOk;
}

HResult GstMediaBackend::CountVideoRoutes(int& routes) {
    if (!source_) {
        return hr::kPointer;
    }
    // Each input behind a selector is one route; a single input has no selector.
    const int inputs = source_->VideoInputCount();
    routes = inputs > 1 ? inputs : 0;
    return hr::kOk;
}

HResult GstMediaBackend::FindStillPin() {
    return source_ && source_->OutputPinCount() > 1 ? hr::kOk : hr::kFail;
}

// The device's format.

HResult GstMediaBackend::GetFormat(CaptureSettings& format, bool& isVideoInfo) {
    if (!source_) {
        return hr::kNoInterface;
    }
    isVideoInfo = true;
    return source_->GetFormat(format);
}

HResult GstMediaBackend::SetFormat(const CaptureSettings& format) {
    if (!source_) {
        return hr::kNoInterface;
    }
    if (running_) {
        return hr::kWrongState;
    }
    return source_->SetFormat(format);
}

// Grabbers.

HResult GstMediaBackend::CreateGrabber(GrabberSlot slot) {
    if (!gstReady_) {
        return hr::kFail;
    }
    std::unique_ptr<GrabberChain>& grabber = grabbers_[static_cast<std::size_t>(slot)];
    if (grabber) {
        return hr::kOk;
    }
    auto created = std::make_unique<GrabberChain>();
    if (!created->Create()) {
        return hr::kFail;
    }
    grabber = std::move(created);
    return hr::kOk;
}

HResult GstMediaBackend::SetGrabberMediaType(GrabberSlot slot, const CaptureSettings* format) {
    if (chain(slot) == nullptr) {
        return hr::kPointer;
    }
    // The grabber always hands over 24-bit rows of the size the capture pin sends; a full
    // format only has to describe a picture.
    if (format != nullptr && (format->biWidth <= 0 || format->biHeight == 0)) {
        return hr::kInvalidMediaType;
    }
    // A new frame duration (one the device is not set to) asks the device for that rate and
    // caps the live grabber at it, so a device that cannot do the rate sends what it can and
    // the cap thins it. The device's own duration, as the graph is prepared, lifts the cap.
    if (slot == GrabberSlot::Frame && format != nullptr && source_) {
        CaptureSettings current;
        const bool known = Succeeded(source_->GetFormat(current));
        const bool newRate = known && format->AvgTimePerFrame > 0 &&
                             current.AvgTimePerFrame != format->AvgTimePerFrame;
        chain(slot)->SetMaxFrameRate(
            newRate ? FramesPerSecondOf(*format, kMaxGrabberFramesPerSecond) : 0);
        if (newRate && !running_ && current.biWidth == format->biWidth &&
            current.biHeight == format->biHeight) {
            current.AvgTimePerFrame = format->AvgTimePerFrame;
            current.dwBitRate = BitRateFor(current.biSizeImage, current.AvgTimePerFrame);
            source_->SetFormat(current);
        }
    }
    return hr::kOk;
}

HResult GstMediaBackend::AddGrabberToGraph(GrabberSlot slot, const char* name) {
    GrabberChain* grabber = chain(slot);
    if (grabber == nullptr || !pipeline_) {
        return hr::kPointer;
    }
    return grabber->AddGrabberTo(*bin(), name);
}

HResult GstMediaBackend::ConnectOutputPin(int pinNumber, GrabberSlot slot, bool& pinsExist,
                                          PinId& outputPin, PinId& grabberPin) {
    pinsExist = false;
    GrabberChain* grabber = chain(slot);
    if (!source_ || !captureFilterInGraph_ || pinNumber < 0 ||
        pinNumber >= source_->OutputPinCount() || grabber == nullptr || !grabber->inGraph()) {
        return hr::kFail;
    }
    pinsExist = true;
    const auto pin = static_cast<std::size_t>(pinNumber);
    outputPin = PinOf(kCaptureFilterId, static_cast<PinId>(pinNumber));
    grabberPin = PinOf(GrabberFilterOf(slot), 0);
    if (pinLinks_[pin] || grabber->upstreamPin()) {
        return hr::kAlreadyConnected;
    }
    Stop();
    GstElement* pinElement = source_->AddPinElements(*bin(), pinNumber);
    if (pinElement == nullptr) {
        return hr::kFail;
    }
    if (!gst_element_link(pinElement, grabber->grabber())) {
        source_->RemovePinElements(*bin(), pinNumber);
        return hr::kNoAcceptableTypes;
    }
    pinLinks_[pin] = slot;
    grabber->SetUpstreamPin(pinNumber);
    return hr::kOk;
}

HResult GstMediaBackend::RenderGrabberOutput(GrabberSlot slot, PinId& grabberOutputPin) {
    GrabberChain* grabber = chain(slot);
    if (grabber == nullptr || !pipeline_) {
        return hr::kPointer;
    }
    Stop();
    grabberOutputPin = PinOf(GrabberFilterOf(slot), 1);
    return grabber->Render(*bin());
}

void GstMediaBackend::ConfigureGrabber(GrabberSlot slot, bool oneShot, GrabberCallback* callback) {
    if (GrabberChain* grabber = chain(slot)) {
        grabber->Configure(oneShot, callback);
    }
}

void GstMediaBackend::ReleaseGrabber(GrabberSlot slot) {
    RemoveGrabber(slot);
}

// Graph events.

HResult GstMediaBackend::SetUpGraphEvents(EngineMessageTarget* target) {
    if (!pipeline_) {
        return hr::kNoInterface;
    }
    events_.SetTarget(target);
    return hr::kOk;
}

HResult GstMediaBackend::GetGraphEvent(long& code, std::intptr_t& param1, std::intptr_t& param2) {
    GraphEvent event;
    if (!events_.Pop(event)) {
        return kNoEventPending;
    }
    code = event.code;
    param1 = event.param1;
    param2 = event.param2;
    return hr::kOk;
}

// Running.

HResult GstMediaBackend::Run() {
    if (!pipeline_) {
        return hr::kNoInterface;
    }
    if (running_) {
        return hr::kOk;
    }
    if (source_) {
        const HResult prepared = source_->PrepareToRun();
        if (Failed(prepared)) {
            return prepared;
        }
    }
    for (const std::unique_ptr<GrabberChain>& grabber : grabbers_) {
        if (grabber) {
            grabber->Rearm();
        }
    }
    // A live pipeline does not wait for frames; a source that cannot start fails here or
    // reports an error event later.
    if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        qCWarning(lcCaptureGst, "The capture pipeline cannot start playing");
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
        return hr::kFail;
    }
    running_ = true;
    if (source_ && (pinLinks_[0] || pinLinks_[1])) {
        return source_->StartStreaming();
    }
    return hr::kOk;
}

HResult GstMediaBackend::Stop() {
    if (!pipeline_) {
        return hr::kOk;
    }
    if (source_) {
        source_->StopStreaming();
    }
    // Returns once no streaming thread runs a callback any more.
    const GstStateChangeReturn result = gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    if (result == GST_STATE_CHANGE_FAILURE) {
        qCWarning(lcCaptureGst, "The capture pipeline cannot be stopped");
    }
    for (const std::unique_ptr<GrabberChain>& grabber : grabbers_) {
        if (grabber) {
            grabber->WaitForDeliveries();
        }
    }
    running_ = false;
    return result == GST_STATE_CHANGE_FAILURE ? hr::kFail : hr::kOk;
}

// The graph downstream of a filter.

std::vector<PinConnection> GstMediaBackend::DownstreamConnections(FilterId filter) {
    std::vector<PinConnection> connections;
    if (filter == kCaptureFilterId) {
        for (int pin = 0; pin < kCapturePinCount; ++pin) {
            if (const std::optional<GrabberSlot>& slot = pinLinks_[static_cast<std::size_t>(pin)]) {
                connections.push_back(
                    PinConnection{PinOf(kCaptureFilterId, static_cast<PinId>(pin)),
                                  PinOf(GrabberFilterOf(*slot), 0), GrabberFilterOf(*slot)});
            }
        }
        return connections;
    }
    bool isRenderer = false;
    const std::optional<GrabberSlot> slot = SlotOfFilter(filter, isRenderer);
    if (slot && !isRenderer && chain(*slot) != nullptr && chain(*slot)->rendererLinked()) {
        connections.push_back(PinConnection{PinOf(filter, 1), PinOf(RendererFilterOf(*slot), 0),
                                            RendererFilterOf(*slot)});
    }
    return connections;
}

bool GstMediaBackend::DisconnectCapturePin(int pin) {
    const auto index = static_cast<std::size_t>(pin);
    if (pin < 0 || pin >= kCapturePinCount || !pinLinks_[index]) {
        return false;
    }
    Stop();
    const GrabberSlot slot = *pinLinks_[index];
    if (source_) {
        source_->RemovePinElements(*bin(), pin);  // unlinks them from the grabber
    }
    if (GrabberChain* grabber = chain(slot)) {
        grabber->SetUpstreamPin(std::nullopt);
    }
    pinLinks_[index].reset();
    return true;
}

HResult GstMediaBackend::Disconnect(PinId pin) {
    const FilterId filter = pin / kPinsPerFilter;
    const PinId index = pin % kPinsPerFilter;
    if (filter == kCaptureFilterId) {
        if (index >= kCapturePinCount) {
            return hr::kInvalidArgument;
        }
        return DisconnectCapturePin(static_cast<int>(index)) ? hr::kOk : hr::kFalse;
    }
    bool isRenderer = false;
    const std::optional<GrabberSlot> slot = SlotOfFilter(filter, isRenderer);
    if (!slot || index > (isRenderer ? 0u : 1u)) {
        return hr::kInvalidArgument;
    }
    GrabberChain* grabber = chain(*slot);
    if (grabber == nullptr) {
        return hr::kFalse;
    }
    if (!isRenderer && index == 0) {
        const std::optional<int> upstream = grabber->upstreamPin();
        return upstream && DisconnectCapturePin(*upstream) ? hr::kOk : hr::kFalse;
    }
    if (!grabber->rendererLinked()) {
        return hr::kFalse;
    }
    Stop();
    grabber->UnlinkRenderer();
    return hr::kOk;
}

HResult GstMediaBackend::RemoveFilter(FilterId filter) {
    if (!pipeline_) {
        return hr::kNotFound;
    }
    if (filter == kCaptureFilterId) {
        for (int pin = 0; pin < kCapturePinCount; ++pin) {
            DisconnectCapturePin(pin);
        }
        captureFilterInGraph_ = false;
        return hr::kOk;
    }
    bool isRenderer = false;
    const std::optional<GrabberSlot> slot = SlotOfFilter(filter, isRenderer);
    GrabberChain* grabber = slot ? chain(*slot) : nullptr;
    if (grabber == nullptr || (isRenderer && !grabber->rendered())) {
        return hr::kNotFound;
    }
    Stop();
    if (isRenderer) {
        grabber->RemoveRenderer(*bin());
    } else {
        RemoveGrabber(*slot);
    }
    return hr::kOk;
}

void GstMediaBackend::RemoveGrabber(GrabberSlot slot) {
    GrabberChain* grabber = chain(slot);
    if (grabber == nullptr) {
        return;
    }
    Stop();
    if (const std::optional<int> upstream = grabber->upstreamPin()) {
        DisconnectCapturePin(*upstream);
    }
    if (pipeline_) {
        grabber->RemoveFrom(*bin());
    }
    grabbers_[static_cast<std::size_t>(slot)].reset();
}

void GstMediaBackend::ReleaseSource() {
    for (int pin = 0; pin < kCapturePinCount; ++pin) {
        DisconnectCapturePin(pin);
    }
    source_.reset();
    captureFilterInGraph_ = false;
}

void GstMediaBackend::ReleaseGraph() {
    Stop();
    ReleaseSource();
    RemoveGrabber(GrabberSlot::Frame);
    RemoveGrabber(GrabberSlot::Still);
    if (pipeline_) {
        BusPtr bus(gst_pipeline_get_bus(GST_PIPELINE(pipeline_.get())));
        gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
        pipeline_.reset();
    }
    events_.SetTarget(nullptr);
    events_.Clear();
    running_ = false;
}

// Picture properties and norm.

HResult GstMediaBackend::GetPropertyRange(int property, PropertyRange& range) {
    return source_ ? source_->GetPropertyRange(property, range) : hr::kNoInterface;
}

HResult GstMediaBackend::GetProperty(int property, int& value, int& flags) {
    return source_ ? source_->GetProperty(property, value, flags) : hr::kNoInterface;
}

HResult GstMediaBackend::SetProperty(int property, int value, int flags) {
    return source_ ? source_->SetProperty(property, value, flags) : hr::kNoInterface;
}

HResult GstMediaBackend::GetNorm(int& norm) {
    return source_ ? source_->GetNorm(norm) : hr::kNoInterface;
}

HResult GstMediaBackend::SetNorm(int norm) {
    return source_ ? source_->SetNorm(norm) : hr::kNoInterface;
}

std::unique_ptr<DeviceControls> GstMediaBackend::OpenControls(const DeviceMoniker& device) {
    if (IsSimulatedNode(device.nodePath)) {
        if (microscope_ == nullptr || !microscope_->plugged() ||
            microscope_->identity() != device.identity) {
            return nullptr;
        }
        return std::make_unique<SimDeviceControls>(*microscope_, device.identity);
    }
    return V4l2DeviceControls::Open(device.nodePath);
}

GrabberStats GstMediaBackend::Stats(GrabberSlot slot) const {
    const GrabberChain* grabber = chain(slot);
    return grabber != nullptr ? grabber->Stats() : GrabberStats{};
}

}  // namespace gstcapture
