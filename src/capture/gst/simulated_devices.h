#pragma once

#include "platform/device_change_monitor.h"
#include "platform/snapshot_button.h"
#include "sim/simulated_microscope.h"

namespace gstcapture {

// Device changes of a system whose only device is the simulated microscope: plugging it in
// reports what plugging in a USB camera reports (its USB device, its capture node, the
// driver binding), unplugging what pulling it out reports. The changes are queued to the
// monitor's thread, whichever thread plugged.
class SimulatedDeviceChangeMonitor final : public platform::DeviceChangeMonitor {
public:
    explicit SimulatedDeviceChangeMonitor(sim::SimulatedMicroscope& microscope,
                                          QObject* parent = nullptr);
    ~SimulatedDeviceChangeMonitor() override;

private:
    sim::SimulatedMicroscope& microscope_;
};

// The simulated microscope's own snapshot button, used the way the real one is.
class SimulatedButtonLibrary final : public platform::SnapshotButtonLibrary {
public:
    explicit SimulatedButtonLibrary(sim::SimulatedMicroscope& microscope)
        : microscope_(microscope) {}

    // Nonzero while the device is plugged in.
    int OpenInterface() override;
    void CloseInterface() override { open_ = false; }
    int IsButtonPressed() override;
    // The simulated device always reports its button itself.
    void NoteCameraKey() override {}

private:
    sim::SimulatedMicroscope& microscope_;
    bool open_ = false;
};

}  // namespace gstcapture
