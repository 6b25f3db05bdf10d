#pragma once

#include <QObject>
#include <memory>

#include "capture/capture_engine.h"
#include "capture/queued_notify_target.h"
#include "platform/device_change_monitor.h"
#include "platform/device_registry.h"
#include "platform/snapshot_button.h"

namespace sim {
class SimulatedMicroscope;
}

// Everything the capture side is made of, owned together and torn down in order: the engine
// first (it stops the graph, so no frame callback runs after), then the backend, the
// registry and the simulated device.
class CaptureStack {
public:
    // `simulatedKind` -1 uses the system's devices (udev), 0 or 1 a simulated device of that
    // kind. Engine messages go to `receiver` as queued EngineMessageEvents.
    CaptureStack(int simulatedKind, QObject* receiver);
    ~CaptureStack();
    CaptureStack(const CaptureStack&) = delete;
    CaptureStack& operator=(const CaptureStack&) = delete;

    CaptureEngine& engine() { return *engine_; }
    QueuedNotifyTarget& notifyTarget() { return notifyTarget_; }
    sim::SimulatedMicroscope* simulated() { return simulated_.get(); }

    // The start-up order: windows, enumerator, discovery, build, prepare, run. Returns true
    // when the graph runs.
    bool Connect();

    // A new instance of the snapshot button of the devices in use: the simulated device's,
    // or the one read from the system's input devices.
    std::unique_ptr<platform::SnapshotButtonLibrary> CreateButtonLibrary();
    // Reports the device changes of the devices in use, on the calling thread's event loop.
    std::unique_ptr<platform::DeviceChangeMonitor> CreateDeviceChangeMonitor();

private:
    std::unique_ptr<sim::SimulatedMicroscope> simulated_;
    std::unique_ptr<platform::DeviceRegistry> registry_;
    std::unique_ptr<MediaBackend> backend_;
    QueuedNotifyTarget notifyTarget_;
    std::unique_ptr<CaptureEngine> engine_;
};
