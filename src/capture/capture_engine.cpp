// The capture engine's orchestration: start-up order, device selection, resolution changes,
// restarts and shut-down, around discovery, the graph and the format.
#include "capture/capture_engine.h"

#include <optional>

#include "capture/capture_logging.h"

Q_LOGGING_CATEGORY(lcCaptureEngine, "microscope.capture.engine", QtWarningMsg)

CaptureEngine::CaptureEngine(MediaBackend& backend)
    : backend_(backend),
      frameCallback_(latestFrame_, stillFlags_, recordingActive_),
      stillPinCallback_(stillFlags_),
      discovery_(backend),
      graph_(backend, frameCallback_, stillPinCallback_),
      format_(backend) {}

CaptureEngine::~CaptureEngine() {
    StopGraph();
    TearDownGraph();
}

void CaptureEngine::SetMessageTarget(EngineMessageTarget* target) {
    graph_.SetMessageTarget(target);
    discovery_.ClearDeviceCount();
}

void CaptureEngine::SetDisplayWindow(FrameDrawer* display) {
    displayWindow_ = display;
    frameCallback_.SetDrawer(display);
}

DeviceMode CaptureEngine::mode() const {
    return libraryDeviceMode_.load() == 1 ? DeviceMode::Library : DeviceMode::Camera;
}

// Discovery.

int CaptureEngine::DiscoverDevices() {
    const DiscoveryOutcome outcome = discovery_.Discover();
    if (outcome == DiscoveryOutcome::NoDevice) {
        return 0;
    }
    const int row = discovery_.CurrentEntry()->identityRow;
    if (outcome == DiscoveryOutcome::KeptCurrent) {
        // The device keeps streaming in library mode whether or not the library opens again.
        if (row == 0) {
            OpenDeviceLibrary();
            libraryDeviceMode_.store(1);
        }
    } else if (row == 0) {
        if (OpenDeviceLibrary() == 0) {
            libraryDeviceMode_.store(0);
        }
    } else {
        libraryDeviceMode_.store(0);
    }
    return 1;
}

void CaptureEngine::SelectDevice(int index) {
    const std::optional<DeviceChoice> choice = discovery_.Select(index);
    if (!choice) {
        return;
    }
    StopGraph();
    TearDownDownstream();
    TearDownGraph();
    if (choice->identityRow == 0) {
        OpenDeviceLibrary();
    } else {
        libraryDeviceMode_.store(0);
    }
    if (BuildGraph() == 1 && PreparePreview() == 1) {
        RunGraph();
    }
}

int CaptureEngine::OpenDeviceLibrary() {
    // Without a button library the device still streams in its kind's mode.
    if (deviceLibrary_ == nullptr || deviceLibrary_->Open() == 1) {
        libraryDeviceMode_.store(1);
        return 1;
    }
    return 0;
}

void CaptureEngine::CloseDeviceLibrary() {
    if (deviceLibrary_ != nullptr) {
        deviceLibrary_->Close();
    }
}

// The graph.

int CaptureEngine::BuildGraph() {
    if (!graph_.CreateFilterGraph()) {
        TearDownGraph();
        return 0;
    }
    discovery_.RefreshCurrentName();
    const std::optional<DeviceChoice> choice = discovery_.CurrentChoice();
    if (choice) {
        qCDebug(lcCaptureEngine, "Binding %s (%s)", choice->moniker.nodePath.c_str(),
                choice->moniker.devicePath.c_str());
    }
    if (!graph_.Bind(choice ? &choice->moniker : nullptr)) {
        TearDownGraph();
        return 0;
    }
    return 1;
}

int CaptureEngine::PreparePreview() {
    if (graph_.prepared()) {
        return 1;
    }
    if (graph_.running() || !graph_.bound()) {
        return 0;
    }
    const DeviceMode deviceMode = mode();
    format_.ApplyToDevice(deviceMode);
    const ChainOrder order =
        deviceMode == DeviceMode::Library ? ChainOrder::LiveFirst : ChainOrder::StillFirst;
    return graph_.BuildChains(order) ? 1 : 0;
}

int CaptureEngine::RunGraph() {
    return graph_.Run() ? 1 : 0;
}

int CaptureEngine::StopGraph() {
    return graph_.Stop() ? 1 : 0;
}

int CaptureEngine::RestartGraph() {
    StopGraph();
    PreparePreview();
    RunGraph();
    return 0;
}

bool CaptureEngine::DrainGraphEvent() {
    return graph_.DrainEvent();
}

void CaptureEngine::TearDownDownstream() {
    graph_.TearDownDownstream();
}

void CaptureEngine::TearDownGraph() {
    if (displayWindow_ != nullptr) {
        displayWindow_->ReleaseMemorySurface();
    }
    graph_.Release();
    latestFrame_.Free();
    CloseDeviceLibrary();
}

// The capture format.

HResult CaptureEngine::SetResolution(int width, int height) {
    if (!graph_.bound()) {
        return hr::kOk;
    }
    if (!IsUsableFrameSize(width, height)) {
        return hr::kInvalidArgument;
    }
    const bool wasRunning = graph_.running();
    StopGraph();
    TearDownDownstream();
    const HResult result = format_.ChangeFrameSize(width, height);
    PreparePreview();
    if (wasRunning) {
        RunGraph();
    }
    return result;
}

HResult CaptureEngine::GetNorm(int& norm) {
    if (!graph_.bound()) {
        return hr::kNoInterface;
    }
    return backend_.GetNorm(norm);
}

HResult CaptureEngine::SetNorm(int norm) {
    if (!graph_.bound()) {
        return hr::kNoInterface;
    }
    // Drivers refuse a new standard while they stream.
    const bool wasRunning = graph_.running();
    if (wasRunning) {
        StopGraph();
    }
    const HResult result = backend_.SetNorm(norm);
    if (wasRunning) {
        RunGraph();
    }
    return result;
}

void CaptureEngine::SetGrabberFrameRate(int framesPerSecond) {
    if (graph_.bound()) {
        format_.SetGrabberFrameRate(framesPerSecond);
    }
}
