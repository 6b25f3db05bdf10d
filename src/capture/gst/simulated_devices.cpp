#include "capture/gst/simulated_devices.h"

#include <QMetaObject>
#include <array>

namespace gstcapture {

using platform::DeviceChange;

SimulatedDeviceChangeMonitor::SimulatedDeviceChangeMonitor(sim::SimulatedMicroscope& microscope,
                                                           QObject* parent)
    : DeviceChangeMonitor(parent), microscope_(microscope) {
    microscope_.SetPlugObserver([this](bool plugged) {
        // The USB device and its interfaces come and go around the capture node.
        const DeviceChange nodes{platform::kDbtDevNodesChanged, std::nullopt};
        const DeviceChange removed{platform::kDbtDeviceRemoveComplete,
                                   platform::kDbtDevTypDeviceInterface};
        const std::array<DeviceChange, 3> burst =
            plugged ? std::array{nodes, nodes, nodes} : std::array{nodes, removed, nodes};
        for (const DeviceChange& change : burst) {
            // Dropped by Qt when the monitor is gone before the event is delivered.
            QMetaObject::invokeMethod(
                this, [this, change] { Q_EMIT deviceChanged(change); }, Qt::QueuedConnection);
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
