#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "capture/hresult.h"
#include "capture/media_backend.h"

// The identity strings that make a device the microscope. The row is both the device kind
// and the preference: row 0 is driven with the button library and offers analog norms,
// row 1 is the camera kind without it.
inline constexpr std::array<const char*, 2> kDeviceIdentityTable = {"Vid_eb1a&Pid_1860",
                                                                    "Vid_eb1a&Pid_1760&MI_00"};

struct CaptureDeviceEntry {
    int identityRow = -1;  // row of kDeviceIdentityTable, -1 for none or an empty slot
    int isCurrent = 0;
    std::string devicePath;
    std::string friendlyName;
    std::optional<DeviceMoniker> moniker;  // empty slot without
};

// The device to stream from, as discovery hands it to whoever builds the graph.
struct DeviceChoice {
    DeviceMoniker moniker;
    int identityRow = -1;  // row of kDeviceIdentityTable; -1 for a device of no known kind
};

// What a discovery pass made of the current device.
enum class DiscoveryOutcome {
    // Nothing to stream from: no enumerator, no device listed (the list stays as it was), or
    // no microscope among the devices (the list is replaced and nothing is current).
    NoDevice,
    // The device that was current is listed again and stays current, with its entry as it was.
    KeptCurrent,
    // A microscope, the first of the preferred kind, became the current device.
    ChoseDevice,
};

// Finds the microscope among the video-input devices and keeps track of it: the device list,
// the current entry and the identity its presence is tested by. It only lists and chooses;
// binding the choice is the graph's business.
//
// Threads: UI thread only. Blocking: the methods that ask the backend block as the backend
// does (see MediaBackend: milliseconds while the system is asked); the others never block.
class DeviceDiscovery {
public:
    static constexpr int kMaxDevices = 10;
    using DeviceList = std::array<CaptureDeviceEntry, kMaxDevices>;

    explicit DeviceDiscovery(MediaBackend& backend) : backend_(backend) {}

    // Makes device enumeration possible (MediaBackend::CreateDeviceEnumerator). Returns the
    // backend's result; a failure is traced and leaves Discover finding nothing.
    HResult CreateEnumerator();

    // Enumerates the devices into the list (at most kMaxDevices; beyond that the microscopes
    // are kept first) and settles the current device: the current one when it is listed
    // again, else the first device of the lowest identity row. Sets the device identity for a
    // newly chosen device and clears it when the devices hold no microscope.
    DiscoveryOutcome Discover();

    // Makes slot `index` the current device and sets the identity from its row (empty for a
    // device of no known kind). Nothing, and no change, for an index out of range, an empty
    // slot, or the device that is current already.
    std::optional<DeviceChoice> Select(int index);

    // The current device; nothing when none is current.
    std::optional<DeviceChoice> CurrentChoice() const;
    // Reads the current device's name again from the system (MediaBackend::ReadFriendlyName)
    // and keeps it in its entry; an unreadable name leaves the entry's as it was.
    void RefreshCurrentName();

    // Whether the device identity is among the present hardware ids (USB\<identity>, without
    // regard to case); asks the system (milliseconds). False without an identity (the system
    // is not asked) and when the ids cannot be listed (traced). A device that is not present
    // loses its identity.
    bool IsDevicePresent();

    // The row of kDeviceIdentityTable found anywhere in `devicePath` without regard to case,
    // or -1. Any thread.
    static int MatchIdentity(std::string_view devicePath);

    const DeviceList& devices() const { return devices_; }
    const CaptureDeviceEntry* CurrentEntry() const;
    // Devices listed by the last successful enumeration.
    int deviceCount() const { return deviceCount_; }
    void ClearDeviceCount() { deviceCount_ = 0; }
    // The current device's identity string ("Vid_eb1a&Pid_1860"), empty when there is none.
    const std::string& deviceIdentity() const { return deviceIdentity_; }

private:
    void MakeCurrent(int index);

    MediaBackend& backend_;
    bool enumerator_ = false;
    DeviceList devices_;
    int currentIndex_ = -1;
    int deviceCount_ = 0;
    std::string deviceIdentity_;
};
