#pragma once

// A sysfs tree under a temporary root, laid out like the kernel's: devices under
// /sys/devices, class and bus entries as relative symlinks into them, "subsystem" links to
// /sys/bus.

#include <string>

#include "support/temp_dir.h"

namespace fakesysfs {

struct UsbDevice {
    std::string port = "1-2";  // the device's directory name under usb1
    std::string vendorId = "eb1a";
    std::string productId = "1860";
    std::string revision = "0100";
    std::string busNumber = "1";
    std::string deviceNumber = "5";
};

class FakeSysfs {
public:
    FakeSysfs();

    const std::string& root() const { return dir_.path(); }
    // The full path of a path under the root ("/sys/devices/..." -> "<root>/sys/devices/...").
    std::string Full(const std::string& path) const;

    // Makes the USB device directory and its /sys/bus/usb/devices link; returns its path
    // under the root.
    std::string AddUsbDevice(const UsbDevice& device);
    // Makes interface `interfaceName` ("1-2:1.0") of a USB device and its
    // /sys/bus/usb/devices link; returns its path.
    std::string AddUsbInterface(const std::string& devicePath, const std::string& interfaceName,
                                const std::string& interfaceNumber);
    // Makes a device of another bus ("platform", "pci") at `path` under /sys/devices.
    std::string AddBusDevice(const std::string& bus, const std::string& path);
    // Makes parent/video4linux/<sysName> with its attributes and the class link; an empty
    // `index` or `name` leaves that attribute out. Returns the node's path.
    std::string AddVideoNode(const std::string& parentPath, const std::string& sysName,
                             const std::string& name, const std::string& index);

    // Makes parent/input/<inputName> with capabilities/key = `keyBitmap` ("100000 0 0 0"),
    // its event node directory <eventName> and the class link. Returns the event directory.
    std::string AddInputNode(const std::string& parentPath, const std::string& inputName,
                             const std::string& eventName, const std::string& keyBitmap);

    void WriteAttribute(const std::string& path, const std::string& text) const;

private:
    void MakeDirectories(const std::string& path) const;
    void LinkOnUsbBus(const std::string& path) const;

    testsupport::TempDir dir_;
    int nextMinor_ = 0;
    int nextInputMinor_ = 0;
};

}  // namespace fakesysfs
