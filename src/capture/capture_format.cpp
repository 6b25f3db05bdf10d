// The capture format: the stored choice, the defaults of each device mode, resolution
// changes and the recording frame rate.
#include "capture/capture_format.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/debug_trace.h"
#include "capture/capture_logging.h"

void CaptureFormat::ApplyDefaults(CaptureSettings& deviceFormat, DeviceMode mode) {
    if (mode == DeviceMode::Library) {
        deviceFormat.biWidth = 720;
        deviceFormat.biHeight = 480;
    } else {
        deviceFormat.biWidth = 1280;
        deviceFormat.biHeight = 1024;
    }
    deviceFormat.biSizeImage = FrameBytesFor(deviceFormat.biWidth, deviceFormat.biHeight, 16);
    deviceFormat.dwBitRate = BitRateFor(deviceFormat.biSizeImage, settings_.AvgTimePerFrame);
    settings_ = deviceFormat;
}

bool CaptureFormat::ApplyToDevice(DeviceMode mode) {
    CaptureSettings deviceFormat;
    bool isVideoInfo = false;
    if (Failed(backend_.GetFormat(deviceFormat, isVideoInfo)) || !isVideoInfo) {
        return false;
    }
    settings_ = deviceFormat;
    if (LoadCapConfig(capConfigPath_, settings_)) {
        deviceFormat = settings_;
    } else {
        ApplyDefaults(deviceFormat, mode);
    }
    HResult result = backend_.SetFormat(deviceFormat);
    if (Failed(result)) {
        ApplyDefaults(deviceFormat, mode);
        result = backend_.SetFormat(deviceFormat);
        if (Failed(result)) {
            DebugTrace(0, "%x: Cannot set frame rate for preview\n", HexOf(result));
        }
    }
    return Succeeded(result);
}

HResult CaptureFormat::ChangeFrameSize(int width, int height) {
    CaptureSettings deviceFormat;
    bool isVideoInfo = false;
    HResult result = backend_.GetFormat(deviceFormat, isVideoInfo);
    if (Failed(result) || !isVideoInfo) {
        return result;
    }
    settings_ = deviceFormat;
    settings_.biWidth = width;
    settings_.biHeight = height;
    settings_.biSizeImage = FrameBytesFor(width, height, settings_.biBitCount);
    settings_.dwBitRate = BitRateFor(settings_.biSizeImage, settings_.AvgTimePerFrame);
    deviceFormat = settings_;
    capConfigError_ = SaveCapConfig(capConfigPath_, settings_).error();
    if (capConfigError_ != 0) {
        qCWarning(lcCaptureEngine, "%s cannot be written: %s", capConfigPath_.c_str(),
                  std::strerror(capConfigError_));
    }
    result = backend_.SetFormat(deviceFormat);
    if (Failed(result)) {
        DebugTrace(0, "%x: Cannot set frame rate for preview\n", HexOf(result));
    }
    return result;
}

void CaptureFormat::SetGrabberFrameRate(int framesPerSecond) {
    CaptureSettings deviceFormat;
    bool isVideoInfo = false;
    // A rate of 0 or less has no frame duration: the grabber keeps its rate.
    if (framesPerSecond <= 0 || Failed(backend_.GetFormat(deviceFormat, isVideoInfo))) {
        return;
    }
    deviceFormat.dwBitRate = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(deviceFormat.biSizeImage) *
                                    static_cast<std::uint64_t>(framesPerSecond) * 8u,
                                0xFFFFFFFFu));
    deviceFormat.AvgTimePerFrame = static_cast<std::int64_t>(10000000 / framesPerSecond);
    backend_.SetGrabberMediaType(GrabberSlot::Frame, &deviceFormat);
}
