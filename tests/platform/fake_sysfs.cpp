#include "fake_sysfs.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fakesysfs {
namespace fs = std::filesystem;

namespace {

constexpr const char* kUsbHost = "/sys/devices/pci0000:00/0000:00:14.0/usb1";

// The relative link target from the directory `from` to `to` (both under the root).
std::string RelativeTarget(const std::string& from, const std::string& to) {
    return fs::path(to).lexically_relative(fs::path(from)).string();
}

}  // namespace

FakeSysfs::FakeSysfs() {
    for (const char* dir : {"/sys/class/video4linux", "/sys/class/input", "/sys/bus/usb/devices",
                            "/sys/bus/pci", "/sys/bus/platform", "/dev"}) {
        MakeDirectories(dir);
    }
}

std::string FakeSysfs::Full(const std::string& path) const {
    return root() + path;
}

void FakeSysfs::MakeDirectories(const std::string& path) const {
    std::error_code error;
    fs::create_directories(Full(path), error);
    ASSERT_FALSE(error) << path;
}

void FakeSysfs::LinkOnUsbBus(const std::string& path) const {
    const std::string name = fs::path(path).filename().string();
    fs::create_symlink(RelativeTarget("/sys/bus/usb/devices", path),
                       Full("/sys/bus/usb/devices/" + name));
}

void FakeSysfs::WriteAttribute(const std::string& path, const std::string& text) const {
    testsupport::WriteFile(Full(path), text);
}

std::string FakeSysfs::AddUsbDevice(const UsbDevice& device) {
    const std::string path = std::string(kUsbHost) + "/" + device.port;
    MakeDirectories(path);
    fs::create_symlink(Full("/sys/bus/usb"), Full(path + "/subsystem"));
    WriteAttribute(path + "/idVendor", device.vendorId + "\n");
    WriteAttribute(path + "/idProduct", device.productId + "\n");
    if (!device.revision.empty()) {
        WriteAttribute(path + "/bcdDevice", device.revision + "\n");
    }
    WriteAttribute(path + "/busnum", device.busNumber + "\n");
    WriteAttribute(path + "/devnum", device.deviceNumber + "\n");
    WriteAttribute(path + "/product", "USB 2.0 Camera\n");
    LinkOnUsbBus(path);
    return path;
}

std::string FakeSysfs::AddUsbInterface(const std::string& devicePath,
                                       const std::string& interfaceName,
                                       const std::string& interfaceNumber) {
    const std::string path = devicePath + "/" + interfaceName;
    MakeDirectories(path);
    fs::create_symlink(Full("/sys/bus/usb"), Full(path + "/subsystem"));
    WriteAttribute(path + "/bInterfaceNumber", interfaceNumber + "\n");
    WriteAttribute(path + "/bInterfaceClass", "0e\n");
    LinkOnUsbBus(path);
    return path;
}

std::string FakeSysfs::AddBusDevice(const std::string& bus, const std::string& path) {
    const std::string full = "/sys/devices/" + path;
    MakeDirectories(full);
    fs::create_symlink(Full("/sys/bus/" + bus), Full(full + "/subsystem"));
    return full;
}

std::string FakeSysfs::AddVideoNode(const std::string& parentPath, const std::string& sysName,
                                    const std::string& name, const std::string& index) {
    const std::string path = parentPath + "/video4linux/" + sysName;
    MakeDirectories(path);
    if (!name.empty()) {
        WriteAttribute(path + "/name", name + "\n");
    }
    if (!index.empty()) {
        WriteAttribute(path + "/index", index + "\n");
    }
    const int minor = nextMinor_++;
    WriteAttribute(path + "/dev", "81:" + std::to_string(minor) + "\n");
    WriteAttribute(path + "/uevent",
                   "MAJOR=81\nMINOR=" + std::to_string(minor) + "\nDEVNAME=" + sysName + "\n");
    fs::create_symlink(Full("/sys/class/video4linux"), Full(path + "/subsystem"));
    fs::create_symlink(RelativeTarget("/sys/class/video4linux", path),
                       Full("/sys/class/video4linux/" + sysName));
    return path;
}

std::string FakeSysfs::AddInputNode(const std::string& parentPath, const std::string& inputName,
                                    const std::string& eventName, const std::string& keyBitmap) {
    const std::string input = parentPath + "/input/" + inputName;
    MakeDirectories(input + "/capabilities");
    WriteAttribute(input + "/capabilities/key", keyBitmap + "\n");
    WriteAttribute(input + "/capabilities/ev", "3\n");
    const std::string event = input + "/" + eventName;
    MakeDirectories(event);
    const int minor = 64 + nextInputMinor_++;
    WriteAttribute(event + "/dev", "13:" + std::to_string(minor) + "\n");
    WriteAttribute(event + "/uevent", "MAJOR=13\nMINOR=" + std::to_string(minor) +
                                          "\nDEVNAME=input/" + eventName + "\n");
    fs::create_symlink(Full("/sys/class/input"), Full(event + "/subsystem"));
    fs::create_symlink(RelativeTarget("/sys/class/input", event),
                       Full("/sys/class/input/" + eventName));
    return event;
}

}  // namespace fakesysfs
