#include "platform/snapshot_button.h"

#include <fcntl.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLoggingCategory>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/sysfs_video_nodes.h"
#include "platform/video_device_ids.h"

namespace platform {
namespace fs = std::filesystem;
namespace {

Q_LOGGING_CATEGORY(buttonCategory, "microscope.button", QtWarningMsg)

constexpr std::uint32_t kVendorId = 0xEB1A;
constexpr std::uint32_t kProductId = 0x1860;
// The event node sits three levels below the USB device ("1-2:1.0/input/input7/event5");
// the walk goes no deeper than this whatever the tree looks like.
constexpr int kMaxInputDepth = 8;
constexpr std::size_t kRecordBytes = sizeof(input_event);
constexpr std::size_t kRecordsPerRead = 16;
// One poll reads at most this many buffers; whatever is left waits for the next poll.
constexpr int kMaxReadsPerPoll = 64;
// The kernel prints a capability bitmap as hex words of its `long`, most significant first.
constexpr unsigned kBitsPerWord = sizeof(unsigned long) * CHAR_BIT;

// Whether `path` lies strictly below `base` (both canonical).
bool IsBelow(const std::string& path, const std::string& base) {
    return path.size() > base.size() + 1 && path.compare(0, base.size(), base) == 0 &&
           path[base.size()] == '/';
}

// Whether bit `code` is set in a capability bitmap as sysfs shows it ("100000 0 0 0"). False
// for text that is not such a bitmap.
bool BitmapHasBit(std::string_view text, unsigned code) {
    std::vector<unsigned long> words;  // as written: most significant first
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] == ' ') {
            ++pos;
            continue;
        }
        unsigned long word = 0;
        unsigned digits = 0;
        for (; pos < text.size() && text[pos] != ' '; ++pos) {
            const int digit = HexDigit(text[pos]);
            if (digit < 0 || ++digits > kBitsPerWord / 4) {
                return false;
            }
            word = (word << 4) | static_cast<unsigned long>(digit);
        }
        words.push_back(word);
    }
    const std::size_t fromEnd = code / kBitsPerWord;
    if (fromEnd >= words.size()) {
        return false;
    }
    return (words[words.size() - 1 - fromEnd] >> (code % kBitsPerWord)) & 1UL;
}

bool IsEventName(const std::string& name) {
    constexpr std::string_view prefix = "event";
    return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
           std::all_of(name.begin() + prefix.size(), name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// The real directory of the first USB device eb1a:1860 on the bus, by name; empty when
// there is none.
std::string FindUsbDevice(const std::string& sysRoot) {
    std::error_code error;
    const fs::path devicesRoot = fs::canonical(PathUnderRoot(sysRoot, "/sys/devices"), error);
    if (error) {
        return {};
    }
    const fs::path busDir = PathUnderRoot(sysRoot, "/sys/bus/usb/devices");
    std::vector<std::string> names;
    fs::directory_iterator entry(busDir, error);
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
        names.push_back(entry->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const fs::path link = busDir / name;
        if (ParseHexAttribute(ReadAttributeFile((link / "idVendor").string()), 0xFFFF) !=
                kVendorId ||
            ParseHexAttribute(ReadAttributeFile((link / "idProduct").string()), 0xFFFF) !=
                kProductId) {
            continue;
        }
        const fs::path device = fs::canonical(link, error);
        if (!error && IsBelow(device.string(), devicesRoot.string()) &&
            fs::is_directory(device, error)) {
            return device.string();
        }
    }
    return {};
}

// The first event node ("event5", by path) beneath `usbDevice` whose input device reports
// KEY_CAMERA; empty when there is none.
std::string FindCameraKeyNode(const std::string& usbDevice) {
    std::vector<fs::path> candidates;
    std::error_code error;
    fs::recursive_directory_iterator entry(usbDevice, fs::directory_options::skip_permission_denied,
                                           error);
    for (; !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
        if (entry.depth() >= kMaxInputDepth) {
            entry.disable_recursion_pending();
        }
        std::error_code statusError;
        if (entry->is_symlink(statusError) || !entry->is_directory(statusError) ||
            !IsEventName(entry->path().filename().string())) {
            continue;
        }
        const fs::path bitmap = entry->path().parent_path() / "capabilities" / "key";
        if (BitmapHasBit(ReadAttributeFile(bitmap.string()), KEY_CAMERA)) {
            candidates.push_back(entry->path());
        }
    }
    if (candidates.empty()) {
        return {};
    }
    return std::min_element(candidates.begin(), candidates.end())->filename().string();
}

// Opens an event node for reading without blocking; invalid when that fails (errno tells
// why) or the path is a directory.
UniqueFd OpenEventNode(const std::string& path) {
    UniqueFd node(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info = {};
    if (node.valid() && ::fstat(node.get(), &info) == 0 && S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return UniqueFd();
    }
    return node;
}

bool IsCameraPress(const unsigned char* bytes) {
    input_event event;
    std::memcpy(&event, bytes, sizeof(event));
    return event.type == EV_KEY && event.code == KEY_CAMERA && event.value == 1;
}

}  // namespace

EvdevSnapshotButton::EvdevSnapshotButton(std::string sysRoot) : sysRoot_(std::move(sysRoot)) {}

EvdevSnapshotButton::~EvdevSnapshotButton() {
    CloseInterface();
}

int EvdevSnapshotButton::OpenInterface() {
    CloseInterface();
    const std::string usbDevice = FindUsbDevice(sysRoot_);
    if (usbDevice.empty()) {
        return 0;
    }
    open_ = true;
    const std::string eventName = FindCameraKeyNode(usbDevice);
    if (eventName.empty()) {
        return 1;
    }
    const std::string node = PathUnderRoot(sysRoot_, "/dev/input/" + eventName);
    input_ = OpenEventNode(node);
    if (input_.valid()) {
        inputNode_ = node;
    } else {
        qCInfo(buttonCategory, "Cannot read the snapshot button from %s (%s); using the camera key",
               node.c_str(), std::strerror(errno));
    }
    return 1;
}

void EvdevSnapshotButton::CloseInterface() {
    input_ = UniqueFd();
    inputNode_.clear();
    partialRecord_.clear();
    open_ = false;
    keyNoted_ = false;
}

int EvdevSnapshotButton::IsButtonPressed() {
    if (!open_) {
        return 0;
    }
    if (!input_.valid()) {
        return std::exchange(keyNoted_, false) ? 1 : 0;
    }
    bool pressed = false;
    unsigned char buffer[kRecordsPerRead * kRecordBytes];
    for (int reads = 0; reads < kMaxReadsPerPoll; ++reads) {
        // The bytes of an unfinished record go first; the read fills up to whole records.
        const std::size_t kept = partialRecord_.size();
        std::memcpy(buffer, partialRecord_.data(), kept);
        const ssize_t count = ::read(input_.get(), buffer + kept, sizeof(buffer) - kept);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        }
        if (count < 0) {
            qCWarning(buttonCategory, "Snapshot button %s lost (%s); using the camera key",
                      inputNode_.c_str(), std::strerror(errno));
            input_ = UniqueFd();
            inputNode_.clear();
            partialRecord_.clear();
            return 0;
        }
        if (count == 0) {
            break;  // no writer left (only a pipe does this)
        }
        const std::size_t total = kept + static_cast<std::size_t>(count);
        const std::size_t whole = total - total % kRecordBytes;
        for (std::size_t offset = 0; offset < whole; offset += kRecordBytes) {
            pressed = pressed || IsCameraPress(buffer + offset);
        }
        partialRecord_.assign(reinterpret_cast<const char*>(buffer) + whole, total - whole);
    }
    return pressed ? 1 : 0;
}

void EvdevSnapshotButton::NoteCameraKey() {
    if (open_ && !input_.valid()) {
        keyNoted_ = true;
    }
}

}  // namespace platform
