#pragma once

// The part of the device registry that needs no device: what one video4linux node looks like
// in sysfs and udev, and how device paths, identities and hardware ids are built from that.
// The udev registry fills VideoNodeRecords; everything below is plain computation on them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/device_registry.h"

namespace platform {

// Whether a node can capture video (single- or multi-planar).
enum class CaptureSupport {
    Unknown,  // neither udev nor the node could tell
    Capture,
    NoCapture,
};

// The USB interface a node sits on and the USB device that interface belongs to, as the raw
// text of their sysfs attributes.
struct UsbNodeAttributes {
    std::string deviceDevPath;    // the USB device, "/devices/pci0000:00/0000:00:14.0/usb1/1-2"
    std::string vendorId;         // idVendor, "eb1a"
    std::string productId;        // idProduct, "1860"
    std::string revision;         // bcdDevice, "0100"; empty when unreadable
    std::string interfaceNumber;  // bInterfaceNumber, "00"; empty when there is no interface
    std::string busNumber;        // busnum, decimal
    std::string deviceNumber;     // devnum, decimal; new on every plug-in
};

// One video4linux node as udev and sysfs describe it.
struct VideoNodeRecord {
    std::string sysName;       // "video0"
    std::string devPath;       // "/devices/.../1-2:1.0/video4linux/video0"
    std::string nodePath;      // "/dev/video0"; empty when the node has no device file
    unsigned deviceMajor = 0;  // of the node's dev_t
    unsigned deviceMinor = 0;
    std::string busName;      // subsystem of the nearest parent ("usb", "pci", "platform")
    std::string udevProduct;  // udev's ID_V4L_PRODUCT
    std::string cardName;     // VIDIOC_QUERYCAP card, when the node itself was asked
    std::string sysfsName;    // the sysfs "name" attribute
    std::string sysfsIndex;   // the sysfs "index" attribute: the node's number on its device
    CaptureSupport capture = CaptureSupport::Unknown;  // from udev or the node itself
    std::optional<UsbNodeAttributes> usb;              // absent for nodes that are not on USB
};

// The parsed USB identity of a node.
struct UsbId {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::optional<std::uint16_t> revision;
    std::optional<std::uint8_t> interfaceNumber;
};

// The value of one hex digit (either case); -1 for any other character.
int HexDigit(char c);

// Hexadecimal sysfs text ("eb1a", "0100\n") as a number not above `maximum`; blanks around it
// are ignored. Nothing for empty text, other characters, or a larger number.
std::optional<std::uint32_t> ParseHexAttribute(std::string_view text, std::uint32_t maximum);

// The USB identity from the raw attributes. Nothing when vendor or product id are unreadable;
// an unreadable revision or interface number is left out.
std::optional<UsbId> ParseUsbId(const UsbNodeAttributes& attributes);

// "usb#vid_eb1a&pid_1860&mi_00#<devPath>" (lower-case hex; "&mi_xx" only with an interface).
std::string UsbDevicePath(const UsbId& id, std::string_view devPath);

// The SetupAPI hardware ids of the USB device ("USB\VID_EB1A&PID_1860&REV_0100",
// "USB\VID_EB1A&PID_1860"), followed, when the interface is known, by those of the interface
// ("...&REV_0100&MI_00", "...&MI_00"). Ids with REV_ are left out when the revision is unknown.
std::vector<std::string> UsbHardwareIds(const UsbId& id);

// Capture support from udev's ID_V4L_CAPABILITIES (":capture:video_overlay:"); Unknown when
// the property is missing (empty text).
CaptureSupport CaptureSupportFromUdev(std::string_view capabilities);

// Capture support from VIDIOC_QUERYCAP: device_caps when the driver fills it, else
// capabilities.
CaptureSupport CaptureSupportFromCaps(std::uint32_t capabilities, std::uint32_t deviceCaps);

// What a node is taken for: `capture` when udev or the node told; otherwise guessed from the
// sysfs index, which is 0 for a device's first node (its video node) and higher for the nodes
// a driver adds to it (a camera's metadata node, VBI, radio, output). Unknown without either.
CaptureSupport EffectiveCaptureSupport(const VideoNodeRecord& record);

// The number of a "videoN" node; nothing for other names ("radio0", "v4l-subdev0", "video").
std::optional<int> VideoNodeNumber(std::string_view sysName);

// The devicePath, friendly name and identity of one node (see VideoDeviceInfo). A node on USB
// whose ids cannot be read gets its bus form ("usb#<devPath>").
std::string DevicePathOf(const VideoNodeRecord& record);
std::string FriendlyNameOf(const VideoNodeRecord& record);
std::string IdentityOf(const VideoNodeRecord& record);

// The capture nodes among `records` ("videoN" with a device file whose
// EffectiveCaptureSupport is Capture), ordered by node number.
std::vector<VideoDeviceInfo> BuildVideoInputs(const std::vector<VideoNodeRecord>& records);

// One hardware id list per USB device that carries any of `records`, in the order the devices
// are first met; each interface that carries a node adds its ids once.
std::vector<std::vector<std::string>> BuildHardwareIdLists(
    const std::vector<VideoNodeRecord>& records);

}  // namespace platform
