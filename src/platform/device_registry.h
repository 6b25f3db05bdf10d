#pragma once

#include <memory>
#include <string>
#include <vector>

namespace platform {

// One video-capture node as the capture engine sees it.
struct VideoDeviceInfo {
    // The device's USB identity followed by its sysfs path, in the form the engine matches its
    // identity strings against (without regard to case):
    //   "usb#vid_eb1a&pid_1860&mi_00#/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/video4linux/video0"
    // Nodes that do not sit on a USB interface carry their bus instead: "platform#<sysfs path>",
    // "pci#<sysfs path>".
    std::string devicePath;
    // The device's name: udev's ID_V4L_PRODUCT, else the V4L2 card name, else the sysfs
    // "name" attribute. Empty when none of them can be read.
    std::string friendlyName;
    // Equal for the same node across enumerations while the device stays plugged; a device
    // that is unplugged and plugged again gets a new identity (its USB device number changes).
    std::string identity;
    // The device node, "/dev/video0".
    std::string nodePath;
};

enum class EnumerateResult {
    Found,   // at least one capture node is listed
    Empty,   // the system could be asked and has no capture node
    Failed,  // the system could not be asked (no sysfs, no memory)
};

// Which video devices exist and which imaging hardware is present.
class DeviceRegistry {
public:
    virtual ~DeviceRegistry() = default;

    // Replaces `devices` with the nodes that can capture video, ordered by node number
    // (video0, video1, ..., video10). Metadata-only, output, radio and VBI nodes are left out.
    // `devices` is empty unless the result is Found.
    // Called on the UI thread. Blocks while it reads sysfs and, for nodes that udev has not
    // described (no udevd), while it opens each node and asks VIDIOC_QUERYCAP: milliseconds.
    virtual EnumerateResult EnumerateVideoInputs(std::vector<VideoDeviceInfo>& devices) = 0;

    // Replaces `devices` with the hardware ids of every present USB device that carries a
    // video4linux node, one list per USB device, in SetupAPI form with upper-case hex:
    //   "USB\VID_EB1A&PID_1860&REV_0100", "USB\VID_EB1A&PID_1860", and for each interface of
    //   that device carrying a node also "USB\VID_EB1A&PID_1860&REV_0100&MI_00",
    //   "USB\VID_EB1A&PID_1860&MI_00".
    // Returns false when the list cannot be had at all (then `devices` is empty); true with an
    // empty list when nothing is plugged.
    // Called on the UI thread. Blocks while it reads sysfs (milliseconds); opens no node.
    virtual bool ListPresentHardwareIds(std::vector<std::vector<std::string>>& devices) = 0;
};

// The registry of the running system, read through libudev. Works without udevd: it then reads
// sysfs alone and asks the nodes themselves what they can do. `sysRoot` is where sysfs and /dev
// are found ("<sysRoot>/sys", "<sysRoot>/dev"); any root but "/" is read without libudev, which
// serves tests with a sysfs tree of their own. Never returns nullptr.
std::unique_ptr<DeviceRegistry> CreateUdevDeviceRegistry(const std::string& sysRoot = "/");

}  // namespace platform
