#pragma once

#include <QObject>
#include <memory>
#include <optional>
#include <string_view>

namespace platform {

// Device-change events, numbered like the desktop's device broadcasts the main window was
// written against.
inline constexpr unsigned kDbtDevNodesChanged = 0x0007;       // some device node changed
inline constexpr unsigned kDbtDeviceArrival = 0x8000;         // a device (interface) arrived
inline constexpr unsigned kDbtDeviceRemoveComplete = 0x8004;  // a device (interface) is gone
// Device type in the header of an arrival or removal: a device interface.
inline constexpr int kDbtDevTypDeviceInterface = 5;

struct DeviceChange {
    unsigned event = kDbtDevNodesChanged;
    // The device type of the event's header; none when the event carries no header.
    std::optional<int> headerDeviceType;

    friend bool operator==(const DeviceChange&, const DeviceChange&) = default;
};

// Tells the main window that devices came, went or changed. Signals are emitted on the
// thread the monitor lives in (the UI thread).
class DeviceChangeMonitor : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

Q_SIGNALS:
    void deviceChanged(platform::DeviceChange change);
};

// What one uevent means to the main window, or nothing when it does not matter to it.
// `subsystem` is "usb" or "video4linux" (others are ignored), `action` the uevent's action
// ("add", "remove", "change", "bind", "unbind", "move", "online", "offline").
//   - a video4linux node removed: kDbtDeviceRemoveComplete with a device-interface header;
//   - any other action of a video4linux node or of a USB device or interface:
//     kDbtDevNodesChanged without a header.
// A new capture node is reported as a node change, not as an arrival: the device's other
// interfaces (the snapshot button's input node among them) appear after it, and the one
// check after the burst sees them all.
std::optional<DeviceChange> ClassifyUevent(std::string_view subsystem, std::string_view action);

// The system's monitor: listens to udev's netlink events of the subsystems "usb" and
// "video4linux" through a socket notifier on the calling thread's event loop. Where the
// socket cannot be opened (no netlink in a container) it reports nothing, after one line in
// the log. Never nullptr.
std::unique_ptr<DeviceChangeMonitor> CreateUdevDeviceChangeMonitor(QObject* parent = nullptr);

}  // namespace platform
