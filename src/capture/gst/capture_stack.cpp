#include "capture/gst/capture_stack.h"

#include <utility>

#include "capture/gst/gst_media_backend.h"
#include "capture/gst/simulated_device_registry.h"
#include "capture/gst/simulated_devices.h"
#include "sim/simulated_microscope.h"

CaptureStack::CaptureStack(int simulatedKind, bool simulatedFrameCode,
                           std::string simulatedStateFile) {
    if (simulatedKind >= 0) {
        sim::Options options;
        options.kind = simulatedKind == 1 ? sim::Kind::Camera : sim::Kind::Microscope;
        options.frameIndexCode = simulatedFrameCode;
        options.stateFile = std::move(simulatedStateFile);
        simulated_ = std::make_unique<sim::SimulatedMicroscope>(std::move(options));
        registry_ = std::make_unique<gstcapture::SimulatedDeviceRegistry>(*simulated_);
    } else {
        registry_ = platform::CreateUdevDeviceRegistry();
    }
    auto backend = std::make_unique<gstcapture::GstMediaBackend>(*registry_, simulated_.get());
    gstBackend_ = backend.get();
    backend_ = std::move(backend);
    engine_ = std::make_unique<CaptureEngine>(*backend_);
    session_ = std::make_unique<CaptureSession>(*engine_);
}

CaptureStack::~CaptureStack() {
    session_.reset();
    engine_.reset();
}

std::uint64_t CaptureStack::droppedFrames() const {
    return gstBackend_->Stats(GrabberSlot::Frame).dropped;
}

std::unique_ptr<platform::SnapshotButtonLibrary> CaptureStack::CreateButtonLibrary() {
    if (simulated_) {
        return std::make_unique<gstcapture::SimulatedButtonLibrary>(*simulated_);
    }
    return std::make_unique<platform::EvdevSnapshotButton>();
}

std::unique_ptr<platform::DeviceChangeMonitor> CaptureStack::CreateDeviceChangeMonitor() {
    if (simulated_) {
        return std::make_unique<gstcapture::SimulatedDeviceChangeMonitor>(*simulated_);
    }
    return platform::CreateUdevDeviceChangeMonitor();
}
