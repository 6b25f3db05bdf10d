#include "platform/device_registry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "fake_sysfs.h"

namespace {

using fakesysfs::FakeSysfs;
using fakesysfs::UsbDevice;
using platform::EnumerateResult;
using platform::VideoDeviceInfo;
using testing::ElementsAre;

std::vector<VideoDeviceInfo> Enumerate(const FakeSysfs& sysfs, EnumerateResult expected) {
    std::vector<VideoDeviceInfo> devices(1);  // replaced, whatever the result
    const auto registry = platform::CreateUdevDeviceRegistry(sysfs.root());
    EXPECT_EQ(registry->EnumerateVideoInputs(devices), expected);
    return devices;
}

std::vector<std::vector<std::string>> HardwareIds(const FakeSysfs& sysfs) {
    std::vector<std::vector<std::string>> devices(1);
    const auto registry = platform::CreateUdevDeviceRegistry(sysfs.root());
    EXPECT_TRUE(registry->ListPresentHardwareIds(devices));
    return devices;
}

// A path under /sys as the kernel's devpath ("/sys/devices/x" -> "/devices/x").
std::string DevPath(const std::string& sysPath) {
    return sysPath.substr(4);
}

// A camera on one USB interface with its video node and its metadata node.
std::string AddCamera(FakeSysfs& sysfs, const UsbDevice& usb, const std::string& videoNode,
                      const std::string& metadataNode) {
    const std::string device = sysfs.AddUsbDevice(usb);
    const std::string interface = sysfs.AddUsbInterface(device, usb.port + ":1.0", "00");
    sysfs.AddVideoNode(interface, videoNode, "USB2.0 PC CAMERA: USB2.0 PC CAM", "0");
    sysfs.AddVideoNode(interface, metadataNode, "USB2.0 PC CAMERA: USB2.0 PC CAM", "1");
    return interface;
}

TEST(DeviceRegistry, ListsCaptureNodesByNodeNumber) {
    FakeSysfs sysfs;
    UsbDevice microscope;
    microscope.port = "1-2";
    const std::string first = AddCamera(sysfs, microscope, "video10", "video11");
    UsbDevice camera;
    camera.port = "1-3";
    camera.productId = "1760";
    camera.deviceNumber = "9";
    const std::string second = AddCamera(sysfs, camera, "video2", "video3");

    const std::vector<VideoDeviceInfo> devices = Enumerate(sysfs, EnumerateResult::Found);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].devicePath,
              "usb#vid_eb1a&pid_1760&mi_00#" + DevPath(second) + "/video4linux/video2");
    EXPECT_EQ(devices[0].nodePath, sysfs.Full("/dev/video2"));
    EXPECT_EQ(devices[0].friendlyName, "USB2.0 PC CAMERA: USB2.0 PC CAM");
    EXPECT_EQ(devices[1].devicePath,
              "usb#vid_eb1a&pid_1860&mi_00#" + DevPath(first) + "/video4linux/video10");
    EXPECT_NE(devices[0].identity, devices[1].identity);
}

TEST(DeviceRegistry, NodesOffUsbCarryTheirBus) {
    FakeSysfs sysfs;
    const std::string vivid = sysfs.AddBusDevice("platform", "platform/vivid.0");
    sysfs.AddVideoNode(vivid, "video0", "vivid-000-vid-cap", "0");
    sysfs.AddVideoNode(vivid, "video1", "vivid-000-vid-out", "1");
    const std::string card = sysfs.AddBusDevice("pci", "pci0000:00/0000:00:1e.0/0000:05:00.0");
    sysfs.AddVideoNode(card, "video4", "", "0");

    const std::vector<VideoDeviceInfo> devices = Enumerate(sysfs, EnumerateResult::Found);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].devicePath, "platform#/devices/platform/vivid.0/video4linux/video0");
    EXPECT_EQ(devices[1].devicePath, "pci#" + DevPath(card) + "/video4linux/video4");
    EXPECT_EQ(devices[1].friendlyName, "");  // no name at all: still listed
    EXPECT_THAT(HardwareIds(sysfs), testing::IsEmpty());
}

TEST(DeviceRegistry, IdentityIsStableUntilTheDeviceIsPluggedAgain) {
    FakeSysfs sysfs;
    UsbDevice usb;
    usb.deviceNumber = "5";
    AddCamera(sysfs, usb, "video0", "video1");

    const std::vector<VideoDeviceInfo> before = Enumerate(sysfs, EnumerateResult::Found);
    const std::vector<VideoDeviceInfo> again = Enumerate(sysfs, EnumerateResult::Found);
    ASSERT_EQ(before.size(), 1u);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].identity, before[0].identity);

    // Plugged out and in at the same port: same path, new USB device number.
    sysfs.WriteAttribute("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/devnum", "6\n");
    const std::vector<VideoDeviceInfo> replugged = Enumerate(sysfs, EnumerateResult::Found);
    ASSERT_EQ(replugged.size(), 1u);
    EXPECT_EQ(replugged[0].devicePath, before[0].devicePath);
    EXPECT_NE(replugged[0].identity, before[0].identity);
}

TEST(DeviceRegistry, HardwareIdsPerUsbDevice) {
    FakeSysfs sysfs;
    UsbDevice microscope;  // eb1a:1860 rev 0100, one interface with two nodes
    AddCamera(sysfs, microscope, "video0", "video1");
    UsbDevice camera;
    camera.port = "1-4";
    camera.vendorId = "EB1A";  // the case sysfs uses does not matter
    camera.productId = "1760";
    camera.revision = "";
    const std::string device = sysfs.AddUsbDevice(camera);
    sysfs.AddVideoNode(sysfs.AddUsbInterface(device, "1-4:1.0", "00"), "video5", "cam", "0");
    sysfs.AddVideoNode(sysfs.AddUsbInterface(device, "1-4:1.2", "02"), "video6", "cam", "0");

    EXPECT_THAT(HardwareIds(sysfs),
                ElementsAre(ElementsAre("USB\\VID_EB1A&PID_1860&REV_0100", "USB\\VID_EB1A&PID_1860",
                                        "USB\\VID_EB1A&PID_1860&REV_0100&MI_00",
                                        "USB\\VID_EB1A&PID_1860&MI_00"),
                            ElementsAre("USB\\VID_EB1A&PID_1760", "USB\\VID_EB1A&PID_1760&MI_00",
                                        "USB\\VID_EB1A&PID_1760&MI_02")));
}

TEST(DeviceRegistry, ResultTellsFailedFromEmpty) {
    const testsupport::TempDir noSysfs;
    const auto registry = platform::CreateUdevDeviceRegistry(noSysfs.path());
    std::vector<VideoDeviceInfo> devices(1);
    EXPECT_EQ(registry->EnumerateVideoInputs(devices), EnumerateResult::Failed);
    EXPECT_TRUE(devices.empty());
    std::vector<std::vector<std::string>> ids(1);
    EXPECT_FALSE(registry->ListPresentHardwareIds(ids));
    EXPECT_TRUE(ids.empty());

    // sysfs without the video4linux class: no driver is loaded.
    FakeSysfs sysfs;
    std::filesystem::remove(sysfs.Full("/sys/class/video4linux"));
    EXPECT_TRUE(Enumerate(sysfs, EnumerateResult::Empty).empty());
    EXPECT_THAT(HardwareIds(sysfs), testing::IsEmpty());

    // Only a node that does not capture.
    FakeSysfs metadataOnly;
    const std::string device = metadataOnly.AddUsbDevice(UsbDevice{});
    metadataOnly.AddVideoNode(metadataOnly.AddUsbInterface(device, "1-2:1.0", "00"), "video1",
                              "cam", "1");
    EXPECT_TRUE(Enumerate(metadataOnly, EnumerateResult::Empty).empty());
    EXPECT_EQ(HardwareIds(metadataOnly).size(), 1u);  // the device itself is present
}

TEST(DeviceRegistry, OddTreesGiveCleanResults) {
    FakeSysfs sysfs;
    namespace fs = std::filesystem;
    // Garbage ids: listed under the bus form, without hardware ids.
    UsbDevice garbage;
    garbage.vendorId = "zz1a";
    const std::string garbageNode = AddCamera(sysfs, garbage, "video0", "video1");
    // An unreadable product id (a directory where the file should be) and an oversized name.
    UsbDevice unreadable;
    unreadable.port = "1-5";
    const std::string device = sysfs.AddUsbDevice(unreadable);
    fs::remove(sysfs.Full(device + "/idProduct"));
    fs::create_directory(sysfs.Full(device + "/idProduct"));
    const std::string interface = sysfs.AddUsbInterface(device, "1-5:1.0", "00");
    sysfs.AddVideoNode(interface, "video7", std::string(10000, 'n'), "0");
    // A node without index whose capabilities nobody can tell: left out.
    sysfs.AddVideoNode(sysfs.AddBusDevice("platform", "platform/x.0"), "video8", "x", "");
    // A garbage index: left out too.
    sysfs.AddVideoNode(sysfs.AddBusDevice("platform", "platform/y.0"), "video9", "y", "first");
    // Class entries leading nowhere, out of sysfs, or to a file.
    fs::create_symlink("../../devices/gone/video4linux/video12",
                       sysfs.Full("/sys/class/video4linux/video12"));
    fs::create_symlink("/tmp", sysfs.Full("/sys/class/video4linux/video13"));
    testsupport::WriteFile(sysfs.Full("/sys/class/video4linux/video14"), "not a link");
    // Other kinds of node names.
    sysfs.AddVideoNode(sysfs.AddBusDevice("platform", "platform/r.0"), "radio0", "r", "0");

    const std::vector<VideoDeviceInfo> devices = Enumerate(sysfs, EnumerateResult::Found);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].devicePath, "usb#" + DevPath(garbageNode) + "/video4linux/video0");
    EXPECT_EQ(devices[1].devicePath, "usb#" + DevPath(interface) + "/video4linux/video7");
    EXPECT_EQ(devices[1].friendlyName.size(), 4096u);
    EXPECT_THAT(HardwareIds(sysfs), testing::IsEmpty());
}

// This machine's own devices: whatever it has, enumeration answers without crashing.
TEST(DeviceRegistry, RunningSystemEnumerates) {
    const auto registry = platform::CreateUdevDeviceRegistry();
    ASSERT_NE(registry, nullptr);
    std::vector<VideoDeviceInfo> devices;
    const EnumerateResult result = registry->EnumerateVideoInputs(devices);
    EXPECT_EQ(devices.empty(), result != EnumerateResult::Found);
    for (const VideoDeviceInfo& device : devices) {
        EXPECT_FALSE(device.devicePath.empty());
        EXPECT_FALSE(device.identity.empty());
    }
    std::vector<std::vector<std::string>> ids;
    if (registry->ListPresentHardwareIds(ids)) {
        for (const auto& list : ids) {
            EXPECT_FALSE(list.empty());
        }
    }
}

}  // namespace
