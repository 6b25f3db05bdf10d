#pragma once

#include <QObject>
#include <memory>
#include <optional>
#include <string_view>

namespace platform {

// What happened to the devices, as far as the main window cares.
enum class DeviceEvent {
    NodesChanged,  // some USB device or video node came, went or changed
    NodeRemoved,   // a video node is gone
};

// Tells the main window that devices came, went or changed. Signals are emitted on the
// thread the monitor lives in (the UI thread).
class DeviceChangeMonitor : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

Q_SIGNALS:
    void deviceChanged(platform::DeviceEvent event);
};

// What one uevent means to the main window, or nothing when it does not matter to it.
// `subsystem` is "usb" or "video4linux" (others are ignored), `action` the uevent's action
// ("add", "remove", "change", "bind", "unbind", "move", "online", "offline").
//   - a video4linux node removed: NodeRemoved;
//   - any other action of a video4linux node or of a USB device or interface: NodesChanged.
// A new capture node is a node change like any other: the device's other interfaces (the
// snapshot button's input node among them) appear after it, and the one check after the
// burst sees them all.
std::optional<DeviceEvent> ClassifyUevent(std::string_view subsystem, std::string_view action);

// The system's monitor: listens to udev's netlink events of the subsystems "usb" and
// "video4linux" through a socket notifier on the calling thread's event loop. Where the
// socket cannot be opened (no netlink in a container) it reports nothing, after one line in
// the log. Never nullptr.
std::unique_ptr<DeviceChangeMonitor> CreateUdevDeviceChangeMonitor(QObject* parent = nullptr);

}  // namespace platform
