#pragma once

#include <memory>
#include <string>

#include "capture/media_backend.h"
#include "capture/v4l2/v4l2_device.h"
#include "sim/simulated_microscope.h"

namespace gstcapture {

// The controls of a V4L2 capture node through a v4l2::Device (a file descriptor of the node's
// own, so they work while another open streams). Property numbers 0..5 only.
class V4l2DeviceControls final : public DeviceControls {
public:
    // Over `device`, which must outlive the object.
    V4l2DeviceControls(v4l2::Device& device, std::string nodePath);
    // Over a device of its own.
    static std::unique_ptr<DeviceControls> Own(std::unique_ptr<v4l2::Device> device,
                                               std::string nodePath);
    // Opens `nodePath`; nullptr when it cannot be opened as a video capture node.
    static std::unique_ptr<DeviceControls> Open(const std::string& nodePath);

    HResult GetPropertyRange(int property, PropertyRange& range) override;
    HResult GetProperty(int property, int& value) override;
    HResult SetProperty(int property, int value) override;
    HResult GetNorm(int& norm) override;
    HResult SetNorm(int norm) override;

private:
    std::unique_ptr<v4l2::Device> owned_;
    v4l2::Device& device_;
    std::string nodePath_;
};

// The controls of the simulated microscope while it stays plugged in as the device it was
// when the object was made: after an unplug every call fails, as on a real device whose node
// went away. `microscope` must outlive the object.
class SimDeviceControls final : public DeviceControls {
public:
    SimDeviceControls(sim::SimulatedMicroscope& microscope, std::string identity);

    HResult GetPropertyRange(int property, PropertyRange& range) override;
    HResult GetProperty(int property, int& value) override;
    HResult SetProperty(int property, int value) override;
    HResult GetNorm(int& norm) override;
    HResult SetNorm(int norm) override;

private:
    bool Present() const;

    sim::SimulatedMicroscope& microscope_;
    std::string identity_;
};

}  // namespace gstcapture
