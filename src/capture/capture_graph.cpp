// Building, running and tearing down the capture graph.
#include "app/debug_trace.h"
#include "capture/capture_engine.h"

namespace {
constexpr int kPinsTried = 4;
}

CaptureEngine::CaptureEngine(MediaBackend& backend)
    : backend_(backend),
      frameCallback_(latestFrame_, stillFlags_, recordingActive_),
      stillPinCallback_(stillFlags_) {}

CaptureEngine::~CaptureEngine() {
    StopGraph();
    TearDownGraph();
}

void CaptureEngine::SetWindows(EngineMessageTarget* notifyWindow) {
    notifyWindow_ = notifyWindow;
    deviceCount_ = 0;
}

int CaptureEngine::BuildGraph() {
    if (!graph_) {
        if (Failed(backend_.CreateFilterGraph())) {
            DebugTrace(0, "Cannot instantiate filtergraph\n");
            TearDownGraph();
            return 0;
        }
        graph_ = true;
    }
    captureFilter_ = false;
    HResult result = hr::kPointer;
    if (currentIndex_ >= 0) {
        CaptureDeviceEntry& current = devices_[static_cast<std::size_t>(currentIndex_)];
        std::string name;
        if (Succeeded(backend_.ReadFriendlyName(*current.moniker, name))) {
            current.friendlyName = name;
        }
        result = backend_.BindDevice(*current.moniker);
        captureFilter_ = Succeeded(result);
    }
    if (!captureFilter_) {
        DebugTrace(0, "bind device fail(%08X)\n", HexOf(result));
        TearDownGraph();
        return 0;
    }
    result = backend_.AddCaptureFilter();
    if (result != hr::kOk) {
        DebugTrace(0, "Error %x: Cannot add vidcap to filtergraph\n", HexOf(result));
        TearDownGraph();
        return 0;
    }
    DebugTrace(0, "CCrossbar Constructor\n");
    int routes = 0;
    routeCount_ = Succeeded(backend_.CountVideoRoutes(routes)) ? routes : 0;
    stillPinExists_ = backend_.FindStillPin() == hr::kOk ? 1 : 0;
    return 1;
}

int CaptureEngine::PreparePreview() {
    if (prepared_) {
        return 1;
    }
    if (running_ || !captureFilter_) {
        return 0;
    }
    PrepareFormat();
    if (libraryDeviceMode_.load() == 1) {
        BuildFrameGrabberChain();
        if (stillPinExists_ != 0) {
            BuildStillChain();
        }
    } else {
        if (stillPinExists_ != 0 && BuildStillChain() != hr::kOk) {
            return 0;
        }
        if (BuildFrameGrabberChain() != hr::kOk) {
            return 0;
        }
    }
    prepared_ = true;
    return 1;
}

HResult CaptureEngine::ConnectGrabber(GrabberSlot slot) {
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
            if (slot == GrabberSlot::Frame) {
                DebugTrace(0, "Simple Connect(%08X:%08X)\n", outputPin, grabberPin);
            } else {
                DebugTrace(0, "Still Connect(%08X:%08X)\n", grabberPin, outputPin);
            }
            return result;
        }
        DebugTrace(0, "Could not connect sample pin #%d to grabber\n", pin);
    }
    if (Failed(result) && slot == GrabberSlot::Frame) {
        DebugTrace(0, "Could not connect sample pin #%d to grabber.\n", kPinsTried);
    } else if (Failed(result)) {
        DebugTrace(0, "Could not connect still pin #%d to grabber.\n", kPinsTried);
    }
    return Failed(result) ? result : hr::kFail;
}

void CaptureEngine::AttachCallback(GrabberSlot slot) {
    // Whichever grabber connected first sits on the live pin and takes every frame; the
    // one after it sits on the still pin, takes one frame and waits to be rebuilt.
    if (!liveChainAttached_) {
        liveChainAttached_ = true;
        backend_.ConfigureGrabber(slot, false, &frameCallback_);
    } else {
        backend_.ConfigureGrabber(slot, true, &stillPinCallback_);
    }
}

HResult CaptureEngine::BuildFrameGrabberChain() {
    if (!captureFilter_ || !graph_) {
        return -1;
    }
    if (!frameGrabber_) {
        if (Failed(backend_.CreateGrabber(GrabberSlot::Frame))) {
            DebugTrace(0, "Could not create SampleGrabber (is qedit.dll registered?)\n");
            return hr::kFail;
        }
        frameGrabber_ = true;
    }
    const auto release = [this](HResult result) {
        backend_.ReleaseGrabber(GrabberSlot::Frame);
        frameGrabber_ = false;
        return result;
    };
    CaptureSettings format;
    bool isVideoInfo = false;
    if (Succeeded(backend_.GetFormat(format, isVideoInfo))) {
        frameCallback_.SetTarget(notifyWindow_, format.biWidth, format.biHeight);
        DebugTrace(0, "Sample Format(%d,%d)\n", format.biWidth, format.biHeight);
        const HResult result = backend_.SetGrabberMediaType(GrabberSlot::Frame, &format);
        if (Failed(result)) {
            DebugTrace(0, "Could not set the media type\n");
            return release(result);
        }
    }
    HResult result = backend_.SetGrabberMediaType(GrabberSlot::Frame, nullptr);
    if (Failed(result)) {
        DebugTrace(0, "Could not set media type\n");
        return release(result);
    }
    result = backend_.AddGrabberToGraph(GrabberSlot::Frame, "SampleGrabber");
    if (Failed(result)) {
        DebugTrace(0, "Could not put sample grabber in graph\n");
        return release(result);
    }
    result = ConnectGrabber(GrabberSlot::Frame);
    if (Failed(result)) {
        return release(result);
    }
    PinId outputPin = 0;
    result = backend_.RenderGrabberOutput(GrabberSlot::Frame, outputPin);
    if (Failed(result)) {
        DebugTrace(0, "Could not render sample grabber output pin(0x%08X)\n", HexOf(result));
        return release(result);
    }
    AttachCallback(GrabberSlot::Frame);
    return hr::kOk;
}

HResult CaptureEngine::BuildStillChain() {
    HResult result = backend_.FindStillPin();
    if (result != hr::kOk) {
        return Failed(result) ? result : hr::kFail;
    }
    if (!captureFilter_ || !graph_) {
        return -1;
    }
    if (!stillGrabber_) {
        if (Failed(backend_.CreateGrabber(GrabberSlot::Still))) {
            DebugTrace(0, "Could not create SampleGrabber (is qedit.dll registered?)\n");
            return hr::kFail;
        }
        stillGrabber_ = true;
    }
    const auto release = [this](HResult failure) {
        backend_.ReleaseGrabber(GrabberSlot::Still);
        stillGrabber_ = false;
        return failure;
    };
    result = backend_.SetGrabberMediaType(GrabberSlot::Still, nullptr);
    if (Failed(result)) {
        DebugTrace(0, "Could not set media type\n");
        return release(result);
    }
    result = backend_.AddGrabberToGraph(GrabberSlot::Still, "StillGrabber");
    if (Failed(result)) {
        DebugTrace(0, "Could not put sample grabber in graph\n");
        return release(result);
    }
    result = ConnectGrabber(GrabberSlot::Still);
    if (Failed(result)) {
        return release(result);
    }
    PinId outputPin = 0;
    result = backend_.RenderGrabberOutput(GrabberSlot::Still, outputPin);
    if (Failed(result)) {
        DebugTrace(0, "Could not render still grabber output pin(0x%08X)\n", HexOf(result));
        return release(result);
    }
    // The second field names the filter the output pin belongs to.
    DebugTrace(0, "GrabOut(%08X:%08X)\n", outputPin, static_cast<unsigned>(GrabberSlot::Still));
    AttachCallback(GrabberSlot::Still);
    graphEvents_ = Succeeded(backend_.SetUpGraphEvents(notifyWindow_));
    result = hr::kOk;
    DebugTrace(0, "Start capture1 (%08X)\n", HexOf(result));
    return result;
}

int CaptureEngine::RunGraph() {
    if (running_) {
        return 1;
    }
    if (!prepared_) {
        return 0;
    }
    const HResult result = backend_.Run();
    if (Failed(result)) {
        // A device that does not stream (taken by another program, gone) is not running:
        // the caller shows it as not connected rather than as a black live picture.
        DebugTrace(0, "Error(%08x): Cannot run preview graph\n", HexOf(result));
        backend_.Stop();
        return 0;
    }
    running_ = true;
    return 1;
}

int CaptureEngine::StopGraph() {
    running_ = false;
    if (!graph_) {
        return 1;
    }
    const HResult result = backend_.Stop();
    if (Failed(result)) {
        DebugTrace(0, "Error(%08x): Cannot stop preview graph\n", HexOf(result));
        return 0;
    }
    return 1;
}

int CaptureEngine::RestartGraph() {
    StopGraph();
    PreparePreview();
    RunGraph();
    return 0;
}

bool CaptureEngine::DrainGraphEvent() {
    if (!graphEvents_) {
        return false;
    }
    long code = 0;
    std::intptr_t param1 = 0;
    std::intptr_t param2 = 0;
    return Succeeded(backend_.GetGraphEvent(code, param1, param2));
}

void CaptureEngine::TearDownDownstream() {
    if (captureFilter_) {
        NukeDownstream(backend_.CaptureFilter());
    }
    prepared_ = false;
}

void CaptureEngine::NukeDownstream(FilterId filter) {
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

void CaptureEngine::SetDisplayWindow(FrameDrawer* display) {
    displayWindow_ = display;
    frameCallback_.SetDrawer(display);
}

void CaptureEngine::TearDownGraph() {
    if (displayWindow_ != nullptr) {
        displayWindow_->ReleaseMemorySurface();
    }
    backend_.ReleaseGraph();
    graphEvents_ = false;
    graph_ = frameGrabber_ = stillGrabber_ = liveChainAttached_ = false;
    captureFilter_ = false;
    routeCount_ = 0;
    prepared_ = false;
    running_ = false;
    latestFrame_.Free();
    CloseDeviceLibrary();
}
