#include "platform/video_device_ids.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cstdio>

namespace platform {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

namespace {

enum class HexCase { Lower, Upper };

// `value` as `digits` hex digits.
std::string Hex(unsigned value, int digits, HexCase hexCase) {
    char text[16] = {};
    std::snprintf(text, sizeof(text), hexCase == HexCase::Lower ? "%0*x" : "%0*X", digits, value);
    return text;
}

// "USB\VID_EB1A&PID_1860"
std::string UsbIdPrefix(const UsbId& id) {
    return "USB\\VID_" + Hex(id.vendorId, 4, HexCase::Upper) + "&PID_" +
           Hex(id.productId, 4, HexCase::Upper);
}

void AppendUnique(std::vector<std::string>& list, const std::vector<std::string>& ids) {
    for (const std::string& id : ids) {
        if (std::find(list.begin(), list.end(), id) == list.end()) {
            list.push_back(id);
        }
    }
}

}  // namespace

std::optional<std::uint32_t> ParseHexAttribute(std::string_view text, std::uint32_t maximum) {
    text = Trim(text);
    if (text.empty() || text.size() > 8) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    if (value > maximum) {
        return std::nullopt;
    }
    return value;
}

std::optional<UsbId> ParseUsbId(const UsbNodeAttributes& attributes) {
    const std::optional<std::uint32_t> vendorId = ParseHexAttribute(attributes.vendorId, 0xFFFF);
    const std::optional<std::uint32_t> productId = ParseHexAttribute(attributes.productId, 0xFFFF);
    if (!vendorId || !productId) {
        return std::nullopt;
    }
    UsbId id;
    id.vendorId = static_cast<std::uint16_t>(*vendorId);
    id.productId = static_cast<std::uint16_t>(*productId);
    if (const auto revision = ParseHexAttribute(attributes.revision, 0xFFFF)) {
        id.revision = static_cast<std::uint16_t>(*revision);
    }
    if (const auto interfaceNumber = ParseHexAttribute(attributes.interfaceNumber, 0xFF)) {
        id.interfaceNumber = static_cast<std::uint8_t>(*interfaceNumber);
    }
    return id;
}

std::string UsbDevicePath(const UsbId& id, std::string_view devPath) {
    std::string path = "usb#vid_" + Hex(id.vendorId, 4, HexCase::Lower) + "&pid_" +
                       Hex(id.productId, 4, HexCase::Lower);
    if (id.interfaceNumber) {
        path += "&mi_" + Hex(*id.interfaceNumber, 2, HexCase::Lower);
    }
    path += '#';
    path += devPath;
    return path;
}

std::vector<std::string> UsbHardwareIds(const UsbId& id) {
    const std::string prefix = UsbIdPrefix(id);
    const std::string revision =
        id.revision ? "&REV_" + Hex(*id.revision, 4, HexCase::Upper) : std::string();
    std::vector<std::string> ids;
    if (id.revision) {
        ids.push_back(prefix + revision);
    }
    ids.push_back(prefix);
    if (id.interfaceNumber) {
        const std::string interface = "&MI_" + Hex(*id.interfaceNumber, 2, HexCase::Upper);
        if (id.revision) {
            ids.push_back(prefix + revision + interface);
        }
        ids.push_back(prefix + interface);
    }
    return ids;
}

CaptureSupport CaptureSupportFromUdev(std::string_view capabilities) {
    if (capabilities.empty()) {
        return CaptureSupport::Unknown;
    }
    while (!capabilities.empty()) {
        const std::size_t colon = capabilities.find(':');
        if (capabilities.substr(0, colon) == "capture") {
            return CaptureSupport::Capture;
        }
        if (colon == std::string_view::npos) {
            break;
        }
        capabilities.remove_prefix(colon + 1);
    }
    return CaptureSupport::NoCapture;
}

CaptureSupport CaptureSupportFromCaps(std::uint32_t capabilities, std::uint32_t deviceCaps) {
    const std::uint32_t caps =
        (capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? deviceCaps : capabilities;
    const std::uint32_t captureBits = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE;
    return (caps & captureBits) != 0 ? CaptureSupport::Capture : CaptureSupport::NoCapture;
}

CaptureSupport EffectiveCaptureSupport(const VideoNodeRecord& record) {
    if (record.capture != CaptureSupport::Unknown) {
        return record.capture;
    }
    const std::string_view index = Trim(record.sysfsIndex);
    if (index.empty() || index.size() > 4 ||
        !std::all_of(index.begin(), index.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return CaptureSupport::Unknown;
    }
    return std::all_of(index.begin(), index.end(), [](char c) { return c == '0'; })
               ? CaptureSupport::Capture
               : CaptureSupport::NoCapture;
}

std::optional<int> VideoNodeNumber(std::string_view sysName) {
    constexpr std::string_view kPrefix = "video";
    if (sysName.substr(0, kPrefix.size()) != kPrefix) {
        return std::nullopt;
    }
    const std::string_view digits = sysName.substr(kPrefix.size());
    if (digits.empty() || digits.size() > 9) {
        return std::nullopt;
    }
    int number = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        number = number * 10 + (c - '0');
    }
    return number;
}

std::string DevicePathOf(const VideoNodeRecord& record) {
    if (record.usb) {
        if (const std::optional<UsbId> id = ParseUsbId(*record.usb)) {
            return UsbDevicePath(*id, record.devPath);
        }
    }
    const std::string bus = record.busName.empty() ? std::string("platform") : record.busName;
    return bus + "#" + record.devPath;
}

std::string FriendlyNameOf(const VideoNodeRecord& record) {
    for (const std::string* name : {&record.udevProduct, &record.cardName, &record.sysfsName}) {
        const std::string_view trimmed = Trim(*name);
        if (!trimmed.empty()) {
            return std::string(trimmed);
        }
    }
    return {};
}

std::string IdentityOf(const VideoNodeRecord& record) {
    std::string identity = record.devPath + "#" + std::to_string(record.deviceMajor) + ":" +
                           std::to_string(record.deviceMinor);
    if (record.usb) {
        identity += "#usb";
        identity += Trim(record.usb->busNumber);
        identity += "-";
        identity += Trim(record.usb->deviceNumber);
    }
    return identity;
}

std::vector<VideoDeviceInfo> BuildVideoInputs(const std::vector<VideoNodeRecord>& records) {
    std::vector<const VideoNodeRecord*> listed;
    for (const VideoNodeRecord& record : records) {
        if (VideoNodeNumber(record.sysName) && !record.nodePath.empty() &&
            EffectiveCaptureSupport(record) == CaptureSupport::Capture) {
            listed.push_back(&record);
        }
    }
    std::stable_sort(listed.begin(), listed.end(),
                     [](const VideoNodeRecord* a, const VideoNodeRecord* b) {
                         return *VideoNodeNumber(a->sysName) < *VideoNodeNumber(b->sysName);
                     });
    std::vector<VideoDeviceInfo> devices;
    devices.reserve(listed.size());
    for (const VideoNodeRecord* record : listed) {
        devices.push_back(VideoDeviceInfo{DevicePathOf(*record), FriendlyNameOf(*record),
                                          IdentityOf(*record), record->nodePath});
    }
    return devices;
}

std::vector<std::vector<std::string>> BuildHardwareIdLists(
    const std::vector<VideoNodeRecord>& records) {
    std::vector<std::string> usbDevices;  // deviceDevPath of each list, same order
    std::vector<std::vector<std::string>> lists;
    for (const VideoNodeRecord& record : records) {
        const std::optional<UsbId> id = record.usb ? ParseUsbId(*record.usb) : std::nullopt;
        if (!id) {
            continue;
        }
        const auto known =
            std::find(usbDevices.begin(), usbDevices.end(), record.usb->deviceDevPath);
        const std::size_t index = static_cast<std::size_t>(known - usbDevices.begin());
        if (known == usbDevices.end()) {
            usbDevices.push_back(record.usb->deviceDevPath);
            lists.emplace_back();
        }
        AppendUnique(lists[index], UsbHardwareIds(*id));
    }
    return lists;
}

}  // namespace platform
