#pragma once

#include <libudev.h>

#include <memory>

namespace platform {

// Owners of libudev objects: each drops its reference when destroyed.
struct UdevUnref {
    void operator()(udev* context) const { udev_unref(context); }
};
struct UdevEnumerateUnref {
    void operator()(udev_enumerate* enumerate) const { udev_enumerate_unref(enumerate); }
};
struct UdevMonitorUnref {
    void operator()(udev_monitor* monitor) const { udev_monitor_unref(monitor); }
};
struct UdevDeviceUnref {
    void operator()(udev_device* device) const { udev_device_unref(device); }
};
using UdevPtr = std::unique_ptr<udev, UdevUnref>;
using UdevEnumeratePtr = std::unique_ptr<udev_enumerate, UdevEnumerateUnref>;
using UdevMonitorPtr = std::unique_ptr<udev_monitor, UdevMonitorUnref>;
using UdevDevicePtr = std::unique_ptr<udev_device, UdevDeviceUnref>;

}  // namespace platform
