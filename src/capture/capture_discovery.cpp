// Finding the microscope among the video-input devices, and keeping track of it.
#include "capture/capture_discovery.h"

#include <algorithm>
#include <vector>

#include "app/debug_trace.h"

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) {
                   return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
               };
               return lower(x) == lower(y);
           });
}

// Keeps at most `limit` devices. When there are more, the microscopes among them are kept
// first and the rest fill up, each group in enumeration order.
std::vector<DeviceMoniker> LimitDevices(std::vector<DeviceMoniker> devices, std::size_t limit) {
    if (devices.size() <= limit) {
        return devices;
    }
    std::vector<bool> keep(devices.size(), false);
    std::size_t kept = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t i = 0; i < devices.size() && kept < limit; ++i) {
            const bool supported = DeviceDiscovery::MatchIdentity(devices[i].devicePath) >= 0;
            if (!keep[i] && (pass == 1 || supported)) {
                keep[i] = true;
                ++kept;
            }
        }
    }
    std::vector<DeviceMoniker> limited;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (keep[i]) {
            limited.push_back(std::move(devices[i]));
        }
    }
    return limited;
}

// The identity string of a row, empty for a device of no known kind.
std::string IdentityOfRow(int row) {
    return row >= 0 ? kDeviceIdentityTable[static_cast<std::size_t>(row)] : "";
}

}  // namespace

HResult DeviceDiscovery::CreateEnumerator() {
    const HResult result = backend_.CreateDeviceEnumerator();
    if (Failed(result)) {
        DebugTrace(0, "Error Creating Device Enumerator\n");
        return result;
    }
    enumerator_ = true;
    return result;
}

int DeviceDiscovery::MatchIdentity(std::string_view devicePath) {
    for (std::size_t row = 0; row < kDeviceIdentityTable.size(); ++row) {
        const std::string_view identity = kDeviceIdentityTable[row];
        if (devicePath.size() < identity.size()) {
            continue;
        }
        for (std::size_t i = 0; i + identity.size() <= devicePath.size(); ++i) {
            if (EqualsIgnoringCase(devicePath.substr(i, identity.size()), identity)) {
                return static_cast<int>(row);
            }
        }
    }
    return -1;
}

const CaptureDeviceEntry* DeviceDiscovery::CurrentEntry() const {
    return currentIndex_ >= 0 ? &devices_[static_cast<std::size_t>(currentIndex_)] : nullptr;
}

std::optional<DeviceChoice> DeviceDiscovery::CurrentChoice() const {
    const CaptureDeviceEntry* current = CurrentEntry();
    if (current == nullptr || !current->moniker) {
        return std::nullopt;
    }
    return DeviceChoice{*current->moniker, current->identityRow};
}

DiscoveryOutcome DeviceDiscovery::Discover() {
    if (!enumerator_) {
        return DiscoveryOutcome::NoDevice;
    }
    DeviceList scratch{};
    std::vector<DeviceMoniker> found;
    if (backend_.EnumerateVideoInputDevices(found) != hr::kOk) {
        DebugTrace(0, "Sorry, you have no video capture hardware\n");
        return DiscoveryOutcome::NoDevice;
    }
    found = LimitDevices(std::move(found), kMaxDevices);
    int counted = 0;
    for (DeviceMoniker& device : found) {
        CaptureDeviceEntry& slot = scratch[static_cast<std::size_t>(counted)];
        slot.devicePath = device.devicePath;
        if (device.nameReadable) {
            slot.friendlyName = device.friendlyName;
            DebugTrace(0, "Find video capture device : %s\n", slot.friendlyName.c_str());
        }
        slot.moniker = std::move(device);
        ++counted;
    }
    for (CaptureDeviceEntry& slot : scratch) {
        slot.identityRow = slot.moniker ? MatchIdentity(slot.devicePath) : -1;
    }
    deviceCount_ = counted;

    // Carry the current device over, wherever it now stands in the list.
    int carried = -1;
    if (const CaptureDeviceEntry* old = CurrentEntry(); old != nullptr && old->moniker) {
        for (int i = 0; i < kMaxDevices && carried < 0; ++i) {
            CaptureDeviceEntry& slot = scratch[static_cast<std::size_t>(i)];
            if (slot.moniker && backend_.IsSameDevice(*slot.moniker, *old->moniker)) {
                slot = *old;
                slot.isCurrent = 1;
                carried = i;
            }
        }
    }
    devices_ = std::move(scratch);
    currentIndex_ = carried;
    if (carried >= 0) {
        return DiscoveryOutcome::KeptCurrent;
    }

    int chosen = -1;
    for (int i = 0; i < kMaxDevices; ++i) {
        const CaptureDeviceEntry& entry = devices_[static_cast<std::size_t>(i)];
        if (!entry.moniker || entry.identityRow < 0) {
            continue;
        }
        if (chosen < 0 ||
            entry.identityRow < devices_[static_cast<std::size_t>(chosen)].identityRow) {
            chosen = i;
        }
    }
    if (chosen < 0) {
        deviceIdentity_.clear();
        return DiscoveryOutcome::NoDevice;
    }
    deviceIdentity_ = IdentityOfRow(devices_[static_cast<std::size_t>(chosen)].identityRow);
    MakeCurrent(chosen);
    return DiscoveryOutcome::ChoseDevice;
}

void DeviceDiscovery::MakeCurrent(int index) {
    for (CaptureDeviceEntry& entry : devices_) {
        entry.isCurrent = 0;
    }
    devices_[static_cast<std::size_t>(index)].isCurrent = 1;
    currentIndex_ = index;
}

std::optional<DeviceChoice> DeviceDiscovery::Select(int index) {
    if (index < 0 || index >= kMaxDevices) {
        return std::nullopt;
    }
    const CaptureDeviceEntry& chosen = devices_[static_cast<std::size_t>(index)];
    const CaptureDeviceEntry* current = CurrentEntry();
    if (!chosen.moniker || (current != nullptr && current->moniker &&
                            backend_.IsSameDevice(*chosen.moniker, *current->moniker))) {
        return std::nullopt;
    }
    MakeCurrent(index);
    // A device of no known kind streams, but has no identity to test its presence by.
    deviceIdentity_ = IdentityOfRow(chosen.identityRow);
    return DeviceChoice{*chosen.moniker, chosen.identityRow};
}

void DeviceDiscovery::RefreshCurrentName() {
    if (currentIndex_ < 0) {
        return;
    }
    CaptureDeviceEntry& current = devices_[static_cast<std::size_t>(currentIndex_)];
    std::string name;
    if (current.moniker && Succeeded(backend_.ReadFriendlyName(*current.moniker, name))) {
        current.friendlyName = name;
    }
}

bool DeviceDiscovery::IsDevicePresent() {
    if (deviceIdentity_.empty()) {
        return false;
    }
    const std::string hardwareId = "USB\\" + deviceIdentity_;
    std::vector<std::vector<std::string>> present;
    if (!backend_.ListPresentHardwareIds(present)) {
        DebugTrace(0, "GetClassDevs(All Present Devices)\n");
        return false;
    }
    for (const std::vector<std::string>& ids : present) {
        for (const std::string& id : ids) {
            if (EqualsIgnoringCase(id, hardwareId)) {
                return true;
            }
        }
    }
    deviceIdentity_.clear();
    return false;
}
