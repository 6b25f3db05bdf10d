#include "capture/gst/simulated_devices.h"

#include <QMetaObject>
#include <array>

namespace gstcapture {

using platform::DeviceEvent;

SimulatedDeviceChangeMonitor::SimulatedDeviceChangeMonitor(sim::SimulatedMicroscope& microscope,
                                                           QObject* parent)
    : DeviceChangeMonitor(parent), microscope_(microscope) {
    microscope_.SetPlugObserver([this](bool plugged) {
        // The USB device and its interfaces come and go around the capture node.
        constexpr DeviceEvent nodes = DeviceEvent::NodesChanged;
        const std::array<DeviceEvent, 3> burst =
            plugged ? std::array{nodes, nodes, nodes}
                    : std::array{nodes, DeviceEvent::NodeRemoved, nodes};
        for (const DeviceEvent event : burst) {
            // Dropped by Qt when the monitor is gone before the event is delivered.
            QMetaObject::invokeMethod(
                this, [this, event] { Q_EMIT deviceChanged(event); }, Qt::QueuedConnection);
        }
    });
}

SimulatedDeviceChangeMonitor::~SimulatedDeviceChangeMonitor() {
    microscope_.SetPlugObserver({});
}

int SimulatedButtonLibrary::OpenInterface() {
    if (!microscope_.plugged()) {
        return 0;
    }
    open_ = true;
    return 1;
}

int SimulatedButtonLibrary::IsButtonPressed() {
    return open_ ? microscope_.TakeButtonPress() : 0;
}

}  // namespace gstcapture
