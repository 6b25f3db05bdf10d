#include "capture/gst/simulated_device_registry.h"

namespace gstcapture {

platform::EnumerateResult SimulatedDeviceRegistry::EnumerateVideoInputs(
    std::vector<platform::VideoDeviceInfo>& devices) {
    devices.clear();
    if (!microscope_.plugged()) {
        return platform::EnumerateResult::Empty;
    }
    platform::VideoDeviceInfo device;
    device.devicePath = microscope_.devicePath();
    device.friendlyName = microscope_.friendlyName();
    device.identity = microscope_.identity();
    device.nodePath = kSimulatedNodePath;
    devices.push_back(std::move(device));
    return platform::EnumerateResult::Found;
}

bool SimulatedDeviceRegistry::ListPresentHardwareIds(
    std::vector<std::vector<std::string>>& devices) {
    devices.clear();
    std::vector<std::string> ids = microscope_.HardwareIds();
    if (!ids.empty()) {
        devices.push_back(std::move(ids));
    }
    return true;
}

}  // namespace gstcapture
