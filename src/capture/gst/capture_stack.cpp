#include "capture/gst/capture_stack.h"

#include "capture/gst/gst_media_backend.h"
#include "capture/gst/simulated_device_registry.h"
#include "capture/gst/simulated_devices.h"
#include "sim/simulated_microscope.h"

CaptureStack::CaptureStack(int simulatedKind, QObject* receiver) : notifyTarget_(receiver) {
    if (simulatedKind >= 0) {
        sim::Options options;
        options.kind = simulatedKind == 1 ? sim::Kind::Camera : sim::Kind::Microscope;
        simulated_ = std::make_unique<sim::SimulatedMicroscope>(options);
        registry_ = std::make_unique<gstcapture::SimulatedDeviceRegistry>(*simulated_);
    } else {
        registry_ = platform::CreateUdevDeviceRegistry();
    }
    backend_ = std::make_unique<gstcapture::GstMediaBackend>(*registry_, simulated_.get());
    engine_ = std::make_unique<CaptureEngine>(*backend_);
}

CaptureStack::~CaptureStack() {
    engine_.reset();
}

bool CaptureStack::Connect() {
    engine_->SetWindows(&notifyTarget_);
    engine_->CreateDeviceEnumerator();
    return engine_->DiscoverDevices() == 1 && engine_->BuildGraph() == 1 &&
           engine_->PreparePreview() == 1 && engine_->RunGraph() == 1;
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
