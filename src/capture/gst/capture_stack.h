#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <string>

#include "capture/capture_engine.h"
#include "capture/capture_session.h"
#include "platform/device_change_monitor.h"
#include "platform/device_registry.h"
#include "platform/snapshot_button.h"

namespace sim {
class SimulatedMicroscope;
}
namespace gstcapture {
class GstMediaBackend;
}

// Everything the capture side is made of, owned together and torn down in order: the session
// and the engine first (they stop the graph, so no frame callback runs after), then the
// backend, the registry and the simulated device.
class CaptureStack {
public:
    // `simulatedKind` -1 uses the system's devices (udev), 0 or 1 a simulated device of that
    // kind, whose frames carry their index as a code with `simulatedFrameCode` and which keeps
    // its controls in `simulatedStateFile` (sim::Options::stateFile; empty keeps nothing).
    // Engine messages go to the session, on the constructing thread.
    CaptureStack(int simulatedKind, bool simulatedFrameCode, std::string simulatedStateFile = {});
    ~CaptureStack();
    CaptureStack(const CaptureStack&) = delete;
    CaptureStack& operator=(const CaptureStack&) = delete;

    CaptureEngine& engine() { return *engine_; }
    CaptureSession& session() { return *session_; }
    sim::SimulatedMicroscope* simulated() { return simulated_.get(); }
    // Frames the device numbered but that never reached the live picture's grabber, since the
    // grabber was made. Any thread.
    std::uint64_t droppedFrames() const;

    // A new instance of the snapshot button of the devices in use: the simulated device's,
    // or the one read from the system's input devices.
    std::unique_ptr<platform::SnapshotButtonLibrary> CreateButtonLibrary();
    // Reports the device changes of the devices in use, on the calling thread's event loop.
    std::unique_ptr<platform::DeviceChangeMonitor> CreateDeviceChangeMonitor();

private:
    std::unique_ptr<sim::SimulatedMicroscope> simulated_;
    std::unique_ptr<platform::DeviceRegistry> registry_;
    std::unique_ptr<MediaBackend> backend_;
    gstcapture::GstMediaBackend* gstBackend_ = nullptr;  // backend_ itself
    std::unique_ptr<CaptureEngine> engine_;
    std::unique_ptr<CaptureSession> session_;
};
