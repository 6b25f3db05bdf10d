#include "platform/device_change_monitor.h"

#include <libudev.h>

#include <QLoggingCategory>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstring>

#include "platform/udev_handles.h"

namespace platform {
namespace {

Q_LOGGING_CATEGORY(deviceChangeCategory, "microscope.devices", QtWarningMsg)

// How long the socket stays unwatched after receiving failed with data still queued, so a
// socket that keeps failing is retried now and then instead of spinning the event loop.
constexpr int kRetryAfterFailureMs = 1000;

std::string_view Text(const char* value) {
    return value != nullptr ? std::string_view(value) : std::string_view();
}

class UdevDeviceChangeMonitor final : public DeviceChangeMonitor {
public:
    explicit UdevDeviceChangeMonitor(QObject* parent) : DeviceChangeMonitor(parent) {
        retry_.setSingleShot(true);
        retry_.setInterval(kRetryAfterFailureMs);
        connect(&retry_, &QTimer::timeout, this, [this] {
            if (notifier_) {
                notifier_->setEnabled(true);
            }
        });
        if (const char* failure = Open()) {
            const int error = errno;
            qCWarning(deviceChangeCategory, "Device changes are not watched: %s%s%s", failure,
                      error != 0 ? ": " : "", error != 0 ? std::strerror(error) : "");
            notifier_.reset();
            monitor_.reset();
            context_.reset();
        }
    }

private:
    // Opens the netlink socket; what failed, or nullptr.
    const char* Open() {
        errno = 0;
        context_.reset(udev_new());
        if (!context_) {
            return "no udev context";
        }
        monitor_.reset(udev_monitor_new_from_netlink(context_.get(), "udev"));
        if (!monitor_) {
            return "no udev netlink socket";
        }
        if (udev_monitor_filter_add_match_subsystem_devtype(monitor_.get(), "usb", nullptr) < 0 ||
            udev_monitor_filter_add_match_subsystem_devtype(monitor_.get(), "video4linux",
                                                            nullptr) < 0) {
            return "cannot filter udev events";
        }
        if (udev_monitor_enable_receiving(monitor_.get()) < 0) {
            return "cannot receive udev events";
        }
        const int fd = udev_monitor_get_fd(monitor_.get());
        if (fd < 0) {
            return "no udev monitor socket";
        }
        notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this,
                &UdevDeviceChangeMonitor::ReceivePending);
        return nullptr;
    }

    void ReceivePending() {
        // libudev's socket does not block: a null device ends the queue (EAGAIN) or is a
        // failure. Events rejected by the filter are skipped inside libudev.
        for (;;) {
            errno = 0;
            const UdevDevicePtr device(udev_monitor_receive_device(monitor_.get()));
            if (!device) {
                break;
            }
            const std::optional<DeviceEvent> change =
                ClassifyUevent(Text(udev_device_get_subsystem(device.get())),
                               Text(udev_device_get_action(device.get())));
            if (change) {
                const QPointer<UdevDeviceChangeMonitor> alive(this);
                Q_EMIT deviceChanged(*change);
                if (!alive) {
                    return;  // a receiver deleted the monitor
                }
            }
        }
        const int error = errno;
        if (error == 0 || error == EAGAIN || error == EWOULDBLOCK || error == EINTR) {
            return;
        }
        if (error == ENOBUFS) {
            // The socket's buffer overflowed and events were dropped; whatever they were,
            // the devices have to be looked at again.
            qCInfo(deviceChangeCategory, "Udev events were lost; reporting a device change");
            Q_EMIT deviceChanged(DeviceEvent::NodesChanged);
            return;
        }
        // Anything else may leave the message queued and the socket readable; stop watching
        // for a while rather than being woken for it again at once.
        if (!failureLogged_) {
            failureLogged_ = true;
            qCWarning(deviceChangeCategory, "Receiving udev events failed: %s",
                      std::strerror(error));
        }
        notifier_->setEnabled(false);
        retry_.start();
    }

    UdevPtr context_;
    UdevMonitorPtr monitor_;
    // Declared after the monitor: stops watching the socket before the socket is closed.
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer retry_;
    bool failureLogged_ = false;
};

}  // namespace

std::optional<DeviceEvent> ClassifyUevent(std::string_view subsystem, std::string_view action) {
    if (subsystem == "video4linux") {
        return action == "remove" ? DeviceEvent::NodeRemoved : DeviceEvent::NodesChanged;
    }
    if (subsystem == "usb") {
        return DeviceEvent::NodesChanged;
    }
    return std::nullopt;
}

std::unique_ptr<DeviceChangeMonitor> CreateUdevDeviceChangeMonitor(QObject* parent) {
    return std::make_unique<UdevDeviceChangeMonitor>(parent);
}

}  // namespace platform
