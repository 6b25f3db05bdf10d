#pragma once

#include <string>

#include "capture/capture_settings.h"
#include "capture/hresult.h"
#include "capture/media_backend.h"

// How the device is driven: with the button library (the microscope kind, 720x480 unless
// stored otherwise) or as a plain camera (1280x1024).
enum class DeviceMode { Camera, Library };

// The capture format of the bound device: the stored choice (CapConfig.dat), the defaults of
// each device mode, resolution changes and the recording frame rate. It works on the device's
// format through the backend and leaves stopping, tearing down and restarting the graph to
// its caller.
//
// Threads: UI thread only. Blocking: never for long; CapConfig.dat is read or written
// (a local file of 88 bytes) where said.
class CaptureFormat {
public:
    explicit CaptureFormat(MediaBackend& backend) : backend_(backend) {}

    void SetCapConfigPath(std::string path) { capConfigPath_ = std::move(path); }
    // Why the last ChangeFrameSize could not write CapConfig.dat (an errno); 0 when it could.
    int capConfigError() const { return capConfigError_; }
    // The format last applied or stored.
    const CaptureSettings& settings() const { return settings_; }

    // Sets the bound device to the stored format, or to the mode's defaults without a usable
    // file; a stored format the device refuses falls back to the defaults once (a second
    // refusal is traced). Reads CapConfig.dat, never writes it. Call before the grabber
    // chains are built. True when the device took a format; false when its format cannot be
    // read (then nothing is set) or it refused both.
    bool ApplyToDevice(DeviceMode mode);

    // The mode's default frame size on `deviceFormat`, its frame bytes at two bytes a pixel
    // and its bit rate at the kept frame duration; the result is also kept as the settings.
    void ApplyDefaults(CaptureSettings& deviceFormat, DeviceMode mode);

    // Takes the device's format with a new frame size (a usable one: IsUsableFrameSize),
    // stores it in CapConfig.dat and sets it on the device (a refusal is traced). Call with the
    // graph stopped and its grabber chains torn down. Returns the device's answer, or why its
    // format could not be read.
    HResult ChangeFrameSize(int width, int height);

    // Gives the live grabber the device's format at `framesPerSecond`, for recording; the
    // device and the settings keep theirs. Nothing for a rate of 0 or less, or when the
    // device's format cannot be read.
    void SetGrabberFrameRate(int framesPerSecond);

private:
    MediaBackend& backend_;
    std::string capConfigPath_;
    int capConfigError_ = 0;
    CaptureSettings settings_;
};
