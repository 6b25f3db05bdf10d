// Building, running and tearing down the capture graph.
#include "capture/capture_graph.h"

#include "app/debug_trace.h"
#include "capture/capture_logging.h"

namespace {

constexpr int kPinsTried = 4;

// What sets the two grabber chains apart; every other step is the same for both.
struct ChainSteps {
    const char* filterName = nullptr;
    bool needsStillPin = false;      // the device's still pin must exist before anything is made
    bool setsDeviceFormat = false;   // the grabber is first given the device's full format
    bool tracesOutputPin = false;    // the rendered output pin is traced
    bool setsUpGraphEvents = false;  // graph events are set up once the chain stands
};

constexpr ChainSteps StepsOf(GrabberSlot slot) {
    if (slot == GrabberSlot::Frame) {
        return ChainSteps{.filterName = "SampleGrabber", .setsDeviceFormat = true};
    }
    return ChainSteps{.filterName = "StillGrabber",
                      .needsStillPin = true,
                      .tracesOutputPin = true,
                      .setsUpGraphEvents = true};
}

}  // namespace

CaptureGraph::CaptureGraph(MediaBackend& backend, FrameCallback& liveCallback,
                           GrabberCallback& stillPinCallback)
    : backend_(backend), liveCallback_(liveCallback), stillPinCallback_(stillPinCallback) {}

bool CaptureGraph::CreateFilterGraph() {
    if (graph_) {
        return true;
    }
    if (Failed(backend_.CreateFilterGraph())) {
        DebugTrace(0, "Cannot instantiate filtergraph\n");
        return false;
    }
    graph_ = true;
    return true;
}

bool CaptureGraph::Bind(const DeviceMoniker* device) {
    captureFilter_ = false;
    HResult result = hr::kPointer;
    if (device != nullptr) {
        result = backend_.BindDevice(*device);
        captureFilter_ = Succeeded(result);
    }
    if (!captureFilter_) {
        DebugTrace(0, "bind device fail(%08X)\n", HexOf(result));
        return false;
    }
    result = backend_.AddCaptureFilter();
    if (result != hr::kOk) {
        DebugTrace(0, "Error %x: Cannot add vidcap to filtergraph\n", HexOf(result));
        return false;
    }
    DebugTrace(0, "CCrossbar Constructor\n");
    int routes = 0;
    routeCount_ = Succeeded(backend_.CountVideoRoutes(routes)) ? routes : 0;
    stillPinExists_ = backend_.FindStillPin() == hr::kOk ? 1 : 0;
    return true;
}

bool CaptureGraph::BuildChains(ChainOrder order) {
    if (order == ChainOrder::LiveFirst) {
        BuildGrabberChain(GrabberSlot::Frame);
        if (stillPinExists_ != 0) {
            BuildGrabberChain(GrabberSlot::Still);
        }
    } else {
        if (stillPinExists_ != 0 && BuildGrabberChain(GrabberSlot::Still) != hr::kOk) {
            return false;
        }
        if (BuildGrabberChain(GrabberSlot::Frame) != hr::kOk) {
            return false;
        }
    }
    prepared_ = true;
    return true;
}

bool& CaptureGraph::GrabberCreated(GrabberSlot slot) {
    return slot == GrabberSlot::Frame ? frameGrabber_ : stillGrabber_;
}

HResult CaptureGraph::BuildGrabberChain(GrabberSlot slot) {
    const ChainSteps steps = StepsOf(slot);
    const bool live = slot == GrabberSlot::Frame;
    if (steps.needsStillPin) {
        const HResult stillPin = backend_.FindStillPin();
        if (stillPin != hr::kOk) {
            return Failed(stillPin) ? stillPin : hr::kFail;
        }
    }
    if (!captureFilter_ || !graph_) {
        return -1;
    }
    bool& created = GrabberCreated(slot);
    if (!created) {
        if (Failed(backend_.CreateGrabber(slot))) {
            DebugTrace(0, "Could not create SampleGrabber (is qedit.dll registered?)\n");
            return hr::kFail;
        }
        created = true;
    }
    const auto release = [this, slot, &created](HResult failure) {
        backend_.ReleaseGrabber(slot);
        created = false;
        return failure;
    };
    HResult result = hr::kOk;
    if (steps.setsDeviceFormat) {
        result = SetLiveGrabberFormat();
        if (Failed(result)) {
            return release(result);
        }
    }
    result = backend_.SetGrabberMediaType(slot, nullptr);
    if (Failed(result)) {
        DebugTrace(0, "Could not set media type\n");
        return release(result);
    }
    result = backend_.AddGrabberToGraph(slot, steps.filterName);
    if (Failed(result)) {
        DebugTrace(0, "Could not put sample grabber in graph\n");
        return release(result);
    }
    result = ConnectGrabber(slot);
    if (Failed(result)) {
        return release(result);
    }
    PinId outputPin = 0;
    result = backend_.RenderGrabberOutput(slot, outputPin);
    if (Failed(result)) {
        DebugTrace(0,
                   live ? "Could not render sample grabber output pin(0x%08X)\n"
                        : "Could not render still grabber output pin(0x%08X)\n",
                   HexOf(result));
        return release(result);
    }
    if (steps.tracesOutputPin) {
        // The second field names the filter the output pin belongs to.
        DebugTrace(0, "GrabOut(%08X:%08X)\n", outputPin, static_cast<unsigned>(slot));
    }
    AttachCallback(slot);
    if (steps.setsUpGraphEvents) {
        graphEvents_ = Succeeded(backend_.SetUpGraphEvents(messageTarget_));
        DebugTrace(0, "Start capture1 (%08X)\n", HexOf(hr::kOk));
    }
    return hr::kOk;
}

HResult CaptureGraph::SetLiveGrabberFormat() {
    CaptureSettings format;
    bool isVideoInfo = false;
    if (Failed(backend_.GetFormat(format, isVideoInfo))) {
        return hr::kOk;  // the grabber takes the pin's format as it comes
    }
    liveCallback_.SetTarget(messageTarget_, format.biWidth, format.biHeight);
    DebugTrace(0, "Sample Format(%d,%d)\n", format.biWidth, format.biHeight);
    const HResult result = backend_.SetGrabberMediaType(GrabberSlot::Frame, &format);
    if (Failed(result)) {
        DebugTrace(0, "Could not set the media type\n");
    }
    return result;
}

HResult CaptureGraph::ConnectGrabber(GrabberSlot slot) {
    const bool live = slot == GrabberSlot::Frame;
    HResult result = hr::kFail;
    for (int pin = 0; pin < kPinsTried; ++pin) {
        bool pinsExist = false;
        PinId outputPin = 0;
        PinId grabberPin = 0;
        const HResult connect =
            backend_.ConnectOutputPin(pin, slot, pinsExist, outputPin, grabberPin);
        if (!pinsExist) {
            DebugTrace(0, "Could not connect sample pin #%d to grabber\n", pin);
            continue;
        }
        result = connect;
        if (result == hr::kOk) {
            if (live) {
                DebugTrace(0, "Simple Connect(%08X:%08X)\n", outputPin, grabberPin);
            } else {
                DebugTrace(0, "Still Connect(%08X:%08X)\n", grabberPin, outputPin);
            }
            return result;
        }
        DebugTrace(0, "Could not connect sample pin #%d to grabber\n", pin);
    }
    if (Failed(result)) {
        DebugTrace(0,
                   live ? "Could not connect sample pin #%d to grabber.\n"
                        : "Could not connect still pin #%d to grabber.\n",
                   kPinsTried);
        return result;
    }
    return hr::kFail;
}

void CaptureGraph::AttachCallback(GrabberSlot slot) {
    // Whichever grabber connected first sits on the live pin and takes every frame; the
    // one after it sits on the still pin, takes one frame and waits to be rebuilt.
    if (!liveChainAttached_) {
        liveChainAttached_ = true;
        backend_.ConfigureGrabber(slot, false, &liveCallback_);
    } else {
        backend_.ConfigureGrabber(slot, true, &stillPinCallback_);
    }
}

bool CaptureGraph::Run() {
    if (running_) {
        return true;
    }
    if (!prepared_) {
        return false;
    }
    const HResult result = backend_.Run();
    if (Failed(result)) {
        // A device that does not stream (taken by another program, gone) is not running:
        // the caller shows it as not connected rather than as a black live picture.
        DebugTrace(0, "Error(%08x): Cannot run preview graph\n", HexOf(result));
        backend_.Stop();
        return false;
    }
    running_ = true;
    return true;
}

bool CaptureGraph::Stop() {
    running_ = false;
    if (!graph_) {
        return true;
    }
    const HResult result = backend_.Stop();
    if (Failed(result)) {
        DebugTrace(0, "Error(%08x): Cannot stop preview graph\n", HexOf(result));
        return false;
    }
    return true;
}

bool CaptureGraph::DrainEvent() {
    if (!graphEvents_) {
        return false;
    }
    long code = 0;
    std::intptr_t param1 = 0;
    std::intptr_t param2 = 0;
    if (Failed(backend_.GetGraphEvent(code, param1, param2))) {
        return false;
    }
    qCDebug(lcCaptureEngine, "Graph event 0x%lx (%lld, %lld)", code, static_cast<long long>(param1),
            static_cast<long long>(param2));
    return true;
}

void CaptureGraph::TearDownDownstream() {
    if (captureFilter_) {
        NukeDownstream(backend_.CaptureFilter());
    }
    prepared_ = false;
}

void CaptureGraph::NukeDownstream(FilterId filter) {
    for (const PinConnection& connection : backend_.DownstreamConnections(filter)) {
        DebugTrace(0, "NukeDownstream(%08X:%08X)\n", connection.downstreamPin, connection.pin);
        NukeDownstream(connection.downstreamFilter);
        backend_.Disconnect(connection.downstreamPin);
        backend_.Disconnect(connection.pin);
        backend_.RemoveFilter(connection.downstreamFilter);
    }
    if (filter == backend_.CaptureFilter()) {
        liveChainAttached_ = false;
        frameGrabber_ = false;
        stillGrabber_ = false;
        graphEvents_ = false;
    }
}

void CaptureGraph::Release() {
    backend_.ReleaseGraph();
    graph_ = captureFilter_ = false;
    frameGrabber_ = stillGrabber_ = liveChainAttached_ = graphEvents_ = false;
    routeCount_ = 0;
    prepared_ = false;
    running_ = false;
}
