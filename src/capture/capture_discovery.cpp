// Finding the microscope among the video-input devices, and keeping track of it.
#include <algorithm>
#include <cstring>

#include "app/debug_trace.h"
#include "capture/capture_engine.h"

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
            const bool supported = CaptureEngine::MatchIdentity(devices[i].devicePath) >= 0;
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

}  // namespace

HResult CaptureEngine::CreateDeviceEnumerator() {
    const HResult result = backend_.CreateDeviceEnumerator();
    if (Failed(result)) {
        DebugTrace(0, "Error Creating Device Enumerator\n");
        return result;
    }
    enumerator_ = true;
    return result;
}

int CaptureEngine::MatchIdentity(std::string_view devicePath) {
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

const CaptureDeviceEntry* CaptureEngine::CurrentEntry() const {
    return currentIndex_ >= 0 ? &devices_[static_cast<std::size_t>(currentIndex_)] : nullptr;
}

int CaptureEngine::DiscoverDevices() {
    if (!enumerator_) {
        return 0;
    }
    std::array<CaptureDeviceEntry, kMaxDevices> scratch{};
    std::vector<DeviceMoniker> found;
    if (backend_.EnumerateVideoInputDevices(found) != hr::kOk) {
        DebugTrace(0, "Sorry, you have no video capture hardware\n");
        return 0;
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
        if (devices_[static_cast<std::size_t>(carried)].identityRow == 0) {
            OpenDeviceLibrary();
            libraryDeviceMode_.store(1);
        }
        return 1;
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
        return 0;
    }
    const int row = devices_[static_cast<std::size_t>(chosen)].identityRow;
    if (row == 0) {
        if (OpenDeviceLibrary() == 0) {
            libraryDeviceMode_.store(0);
        }
    } else {
        libraryDeviceMode_.store(0);
    }
    deviceIdentity_ = kDeviceIdentityTable[static_cast<std::size_t>(row)];
    MakeCurrent(chosen);
    return 1;
}

void CaptureEngine::MakeCurrent(int index) {
    for (CaptureDeviceEntry& entry : devices_) {
        entry.isCurrent = 0;
    }
    devices_[static_cast<std::size_t>(index)].isCurrent = 1;
    currentIndex_ = index;
}

void CaptureEngine::SelectDevice(int index) {
    if (index < 0 || index >= kMaxDevices) {
        return;
    }
    const CaptureDeviceEntry& chosen = devices_[static_cast<std::size_t>(index)];
    const CaptureDeviceEntry* current = CurrentEntry();
    if (!chosen.moniker || (current != nullptr && current->moniker &&
                            backend_.IsSameDevice(*chosen.moniker, *current->moniker))) {
        return;
    }
    StopGraph();
    TearDownDownstream();
    TearDownGraph();
    MakeCurrent(index);
    const int row = chosen.identityRow;
    if (row == 0) {
        OpenDeviceLibrary();
    } else {
        libraryDeviceMode_.store(0);
    }
    // A device of no known kind streams, but has no identity to test its presence by.
    deviceIdentity_ = row >= 0 ? kDeviceIdentityTable[static_cast<std::size_t>(row)] : "";
    if (BuildGraph() == 1 && PreparePreview() == 1) {
        RunGraph();
    }
}

bool CaptureEngine::IsDevicePresent() {
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

int CaptureEngine::OpenDeviceLibrary() {
    // Without a button library the device still streams in its kind's mode.
    if (deviceLibrary_ == nullptr || deviceLibrary_->Open() == 1) {
        libraryDeviceMode_.store(1);
        return 1;
    }
    return 0;
}

void CaptureEngine::CloseDeviceLibrary() {
    if (deviceLibrary_ != nullptr) {
        deviceLibrary_->Close();
    }
}
