#pragma once

#include "platform/device_registry.h"
#include "sim/simulated_microscope.h"

namespace gstcapture {

// Where the backend opens the simulated microscope.
inline constexpr const char* kSimulatedNodePath = "sim:video0";

// The device registry of a system whose only video device is the simulated microscope: it is
// listed, and its hardware ids are present, while it is plugged.
class SimulatedDeviceRegistry final : public platform::DeviceRegistry {
public:
    explicit SimulatedDeviceRegistry(sim::SimulatedMicroscope& microscope)
        : microscope_(microscope) {}

    platform::EnumerateResult EnumerateVideoInputs(
        std::vector<platform::VideoDeviceInfo>& devices) override;
    bool ListPresentHardwareIds(std::vector<std::vector<std::string>>& devices) override;

private:
    sim::SimulatedMicroscope& microscope_;
};

}  // namespace gstcapture
