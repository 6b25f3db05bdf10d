#include "platform/sysfs_video_nodes.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/unique_fd.h"

namespace platform {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kMaxAttributeBytes = 4096;
// A node sits a dozen levels below /sys/devices; the walk up stops here whatever happens.
constexpr int kMaxParentLevels = 64;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\0';
}

std::string Trimmed(std::string text) {
    const auto first = std::find_if_not(text.begin(), text.end(), IsBlank);
    text.erase(text.begin(), first);
    while (!text.empty() && IsBlank(text.back())) {
        text.pop_back();
    }
    return text;
}

// The value of KEY in a uevent file's "KEY=value" lines; empty when it is missing.
std::string UeventValue(const std::string& uevent, std::string_view key) {
    std::string_view rest = uevent;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        if (line.size() > key.size() && line.substr(0, key.size()) == key &&
            line[key.size()] == '=') {
            return std::string(line.substr(key.size() + 1));
        }
        if (end == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(end + 1);
    }
    return {};
}

// "81:3" into its two numbers; both left 0 when the text is not of that form.
void ParseDeviceNumber(const std::string& text, unsigned& major, unsigned& minor) {
    unsigned parsed[2] = {0, 0};
    int part = 0;
    bool digitSeen = false;
    for (const char c : text) {
        if (c == ':' && part == 0 && digitSeen) {
            part = 1;
            digitSeen = false;
        } else if (c >= '0' && c <= '9' && parsed[part] < 100000000) {
            parsed[part] = parsed[part] * 10 + static_cast<unsigned>(c - '0');
            digitSeen = true;
        } else {
            return;
        }
    }
    if (part == 1 && digitSeen) {
        major = parsed[0];
        minor = parsed[1];
    }
}

bool Exists(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

// Whether `path` lies strictly below `base` (both canonical).
bool IsBelow(const std::string& path, const std::string& base) {
    return path.size() > base.size() + 1 && path.compare(0, base.size(), base) == 0 &&
           path[base.size()] == '/';
}

std::string Attribute(const fs::path& dir, const char* name) {
    return ReadAttributeFile((dir / name).string());
}

// Fills the bus, the USB interface number and the USB device's attributes from the node's
// parents, nearest first, up to (not including) the sysfs root.
void ReadParents(const fs::path& nodeDir, const std::string& sysRoot, VideoNodeRecord& record) {
    std::string interfaceNumber;
    fs::path dir = nodeDir.parent_path();
    for (int level = 0; level < kMaxParentLevels && IsBelow(dir.string(), sysRoot);
         ++level, dir = dir.parent_path()) {
        if (record.busName.empty() && Exists(dir / "subsystem")) {
            std::error_code error;
            const fs::path target = fs::read_symlink(dir / "subsystem", error);
            if (!error) {
                record.busName = target.filename().string();
            }
        }
        if (interfaceNumber.empty() && Exists(dir / "bInterfaceNumber")) {
            interfaceNumber = Attribute(dir, "bInterfaceNumber");
        }
        if (Exists(dir / "idVendor")) {
            UsbNodeAttributes usb;
            usb.deviceDevPath = dir.string().substr(sysRoot.size());
            usb.vendorId = Attribute(dir, "idVendor");
            usb.productId = Attribute(dir, "idProduct");
            usb.revision = Attribute(dir, "bcdDevice");
            usb.interfaceNumber = interfaceNumber;
            usb.busNumber = Attribute(dir, "busnum");
            usb.deviceNumber = Attribute(dir, "devnum");
            record.usb = std::move(usb);
            return;
        }
    }
}

VideoNodeRecord RecordOf(const std::string& root, const std::string& sysName,
                         const fs::path& nodeDir, const std::string& sysRoot, NodeProbe probe) {
    VideoNodeRecord record;
    record.sysName = sysName;
    record.devPath = nodeDir.string().substr(sysRoot.size());
    std::string devName = UeventValue(Attribute(nodeDir, "uevent"), "DEVNAME");
    if (devName.empty()) {
        devName = sysName;  // the kernel's own name for the device file
    }
    record.nodePath = PathUnderRoot(root, devName.front() == '/' ? devName : "/dev/" + devName);
    ParseDeviceNumber(Attribute(nodeDir, "dev"), record.deviceMajor, record.deviceMinor);
    record.sysfsName = Attribute(nodeDir, "name");
    record.sysfsIndex = Attribute(nodeDir, "index");
    ReadParents(nodeDir, sysRoot, record);
    if (probe == NodeProbe::AskUndescribedNodes && VideoNodeNumber(record.sysName)) {
        ProbeVideoNode(record.nodePath, record);
    }
    return record;
}

}  // namespace

std::string PathUnderRoot(std::string_view root, std::string_view path) {
    std::string joined(root);
    while (!joined.empty() && joined.back() == '/') {
        joined.pop_back();
    }
    if (path.empty() || path.front() != '/') {
        joined += '/';
    }
    joined += path;
    return joined;
}

std::string ReadAttributeFile(const std::string& path) {
    const platform::UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) {
        return {};
    }
    std::string text(kMaxAttributeBytes, '\0');
    std::size_t length = 0;
    while (length < text.size()) {
        const ssize_t count = ::read(file.get(), text.data() + length, text.size() - length);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return {};
        }
        if (count == 0) {
            break;
        }
        length += static_cast<std::size_t>(count);
    }
    text.resize(length);
    return Trimmed(std::move(text));
}

void ProbeVideoNode(const std::string& nodeFile, VideoNodeRecord& record) {
    const platform::UniqueFd node(::open(nodeFile.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info = {};
    if (node.get() < 0 || ::fstat(node.get(), &info) != 0 || !S_ISCHR(info.st_mode)) {
        return;
    }
    v4l2_capability capability = {};
    int result = -1;
    do {
        result = ::ioctl(node.get(), VIDIOC_QUERYCAP, &capability);
    } while (result < 0 && errno == EINTR);
    if (result != 0) {
        return;
    }
    record.capture = CaptureSupportFromCaps(capability.capabilities, capability.device_caps);
    const char* card = reinterpret_cast<const char*>(capability.card);
    record.cardName.assign(card, ::strnlen(card, sizeof(capability.card)));
}

bool ReadSysfsVideoNodes(const std::string& root, NodeProbe probe,
                         std::vector<VideoNodeRecord>& records) {
    records.clear();
    std::error_code error;
    const fs::path sysRoot = fs::canonical(PathUnderRoot(root, "/sys"), error);
    if (error || !fs::is_directory(sysRoot, error)) {
        return false;
    }
    const fs::path classDir = sysRoot / "class" / "video4linux";
    if (!fs::is_directory(classDir, error)) {
        return true;  // no video4linux driver is loaded
    }
    std::vector<std::string> names;
    fs::directory_iterator entry(classDir, error);
    if (error) {
        return false;
    }
    for (; entry != fs::directory_iterator(); entry.increment(error)) {
        names.push_back(entry->path().filename().string());
    }
    if (error) {
        return false;
    }
    std::sort(names.begin(), names.end());
    const std::string sysRootText = sysRoot.string();
    for (const std::string& name : names) {
        const fs::path nodeDir = fs::canonical(classDir / name, error);
        if (error || !IsBelow(nodeDir.string(), sysRootText) || !fs::is_directory(nodeDir, error)) {
            continue;  // dangling, leads out of sysfs, or no device directory
        }
        records.push_back(RecordOf(root, name, nodeDir, sysRootText, probe));
    }
    return true;
}

}  // namespace platform
