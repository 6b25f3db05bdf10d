#include <libudev.h>
#include <sys/sysmacros.h>

#include <memory>
#include <utility>

#include "platform/device_registry.h"
#include "platform/sysfs_video_nodes.h"
#include "platform/udev_handles.h"
#include "platform/video_device_ids.h"

namespace platform {
namespace {

std::string Text(const char* value) {
    return value != nullptr ? std::string(value) : std::string();
}

std::string Attribute(udev_device* device, const char* name) {
    return Text(udev_device_get_sysattr_value(device, name));
}

// The subsystem of the nearest parent that has one: the bus the node hangs off.
std::string BusOf(udev_device* device) {
    for (udev_device* parent = udev_device_get_parent(device); parent != nullptr;
         parent = udev_device_get_parent(parent)) {
        const char* subsystem = udev_device_get_subsystem(parent);
        if (subsystem != nullptr && *subsystem != '\0') {
            return subsystem;
        }
    }
    return {};
}

std::optional<UsbNodeAttributes> UsbAttributesOf(udev_device* device) {
    // Parents are owned by the child device; they are not unreferenced here.
    udev_device* usbDevice =
        udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
    if (usbDevice == nullptr) {
        return std::nullopt;
    }
    udev_device* usbInterface =
        udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_interface");
    UsbNodeAttributes attributes;
    attributes.deviceDevPath = Text(udev_device_get_devpath(usbDevice));
    attributes.vendorId = Attribute(usbDevice, "idVendor");
    attributes.productId = Attribute(usbDevice, "idProduct");
    attributes.revision = Attribute(usbDevice, "bcdDevice");
    attributes.busNumber = Attribute(usbDevice, "busnum");
    attributes.deviceNumber = Attribute(usbDevice, "devnum");
    if (usbInterface != nullptr) {
        attributes.interfaceNumber = Attribute(usbInterface, "bInterfaceNumber");
    }
    return attributes;
}

VideoNodeRecord RecordOf(udev_device* device, NodeProbe probe) {
    VideoNodeRecord record;
    record.sysName = Text(udev_device_get_sysname(device));
    record.devPath = Text(udev_device_get_devpath(device));
    record.nodePath = Text(udev_device_get_devnode(device));
    const dev_t number = udev_device_get_devnum(device);
    record.deviceMajor = major(number);
    record.deviceMinor = minor(number);
    record.busName = BusOf(device);
    record.udevProduct = Text(udev_device_get_property_value(device, "ID_V4L_PRODUCT"));
    record.sysfsName = Attribute(device, "name");
    record.sysfsIndex = Attribute(device, "index");
    record.capture =
        CaptureSupportFromUdev(Text(udev_device_get_property_value(device, "ID_V4L_CAPABILITIES")));
    record.usb = UsbAttributesOf(device);
    if (probe == NodeProbe::AskUndescribedNodes && record.capture == CaptureSupport::Unknown &&
        VideoNodeNumber(record.sysName) && !record.nodePath.empty()) {
        ProbeVideoNode(record.nodePath, record);
    }
    return record;
}

// Describes every video4linux node of the running system through libudev; false when libudev
// cannot enumerate at all.
bool CollectUdevVideoNodes(NodeProbe probe, std::vector<VideoNodeRecord>& records) {
    records.clear();
    const UdevPtr context(udev_new());
    if (!context) {
        return false;
    }
    const UdevEnumeratePtr enumerate(udev_enumerate_new(context.get()));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "video4linux") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0) {
        return false;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        const UdevDevicePtr device(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (device) {  // else it went away after the scan
            records.push_back(RecordOf(device.get(), probe));
        }
    }
    return true;
}

// libudev reads the running system's /sys and nothing else; a registry on another root (a
// test's tree) reads sysfs itself. libudev adds what udevd knows (product names, capabilities).
class UdevDeviceRegistry final : public DeviceRegistry {
public:
    explicit UdevDeviceRegistry(std::string sysRoot) : root_(std::move(sysRoot)) {}

    EnumerateResult EnumerateVideoInputs(std::vector<VideoDeviceInfo>& devices) override {
        devices.clear();
        std::vector<VideoNodeRecord> records;
        if (!Collect(NodeProbe::AskUndescribedNodes, records)) {
            return EnumerateResult::Failed;
        }
        devices = BuildVideoInputs(records);
        return devices.empty() ? EnumerateResult::Empty : EnumerateResult::Found;
    }

    bool ListPresentHardwareIds(std::vector<std::vector<std::string>>& devices) override {
        devices.clear();
        std::vector<VideoNodeRecord> records;
        if (!Collect(NodeProbe::SysfsOnly, records)) {
            return false;
        }
        devices = BuildHardwareIdLists(records);
        return true;
    }

private:
    bool IsSystemRoot() const { return root_.find_first_not_of('/') == std::string::npos; }

    bool Collect(NodeProbe probe, std::vector<VideoNodeRecord>& records) const {
        if (IsSystemRoot() && CollectUdevVideoNodes(probe, records) && !records.empty()) {
            return true;
        }
        return ReadSysfsVideoNodes(root_, probe, records);
    }

    std::string root_;
};

}  // namespace

std::unique_ptr<DeviceRegistry> CreateUdevDeviceRegistry(const std::string& sysRoot) {
    return std::make_unique<UdevDeviceRegistry>(sysRoot);
}

}  // namespace platform
