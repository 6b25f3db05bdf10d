// The capture format: the stored choice, the defaults of each device kind, resolution
// changes and the recording frame rate.
#include "app/debug_trace.h"
#include "capture/capture_engine.h"

void CaptureEngine::ApplyDefaultFormat(CaptureSettings& deviceFormat) {
    if (libraryDeviceMode_.load() == 1) {
        deviceFormat.biWidth = 720;
        deviceFormat.biHeight = 480;
    } else {
        deviceFormat.biWidth = 1280;
        deviceFormat.biHeight = 1024;
    }
    deviceFormat.biSizeImage = FrameBytesFor(deviceFormat.biWidth, deviceFormat.biHeight, 16);
    deviceFormat.dwBitRate = BitRateFor(deviceFormat.biSizeImage, captureSettings_.AvgTimePerFrame);
    captureSettings_ = deviceFormat;
}

bool CaptureEngine::PrepareFormat() {
    CaptureSettings deviceFormat;
    bool isVideoInfo = false;
    if (!captureFilter_ || Failed(backend_.GetFormat(deviceFormat, isVideoInfo)) || !isVideoInfo) {
        return false;
    }
    captureSettings_ = deviceFormat;
    if (LoadCapConfig(capConfigPath_, captureSettings_) == 1) {
        deviceFormat = captureSettings_;
    } else {
        ApplyDefaultFormat(deviceFormat);
    }
    HResult result = backend_.SetFormat(deviceFormat);
    if (Failed(result)) {
        ApplyDefaultFormat(deviceFormat);
        result = backend_.SetFormat(deviceFormat);
        if (Failed(result)) {
            DebugTrace(0, "%x: Cannot set frame rate for preview\n", HexOf(result));
        }
    }
    return Succeeded(result);
}

HResult CaptureEngine::SetResolution(int width, int height) {
    if (!captureFilter_) {
        return 0;
    }
    if (!IsUsableFrameSize(width, height)) {
        return hr::kInvalidArgument;
    }
    const bool wasRunning = running_;
    StopGraph();
    TearDownDownstream();

    HResult result = hr::kFail;
    CaptureSettings deviceFormat;
    bool isVideoInfo = false;
    result = backend_.GetFormat(deviceFormat, isVideoInfo);
    if (Succeeded(result) && isVideoInfo) {
        captureSettings_ = deviceFormat;
        captureSettings_.biWidth = width;
        captureSettings_.biHeight = height;
        captureSettings_.biSizeImage = FrameBytesFor(width, height, captureSettings_.biBitCount);
        captureSettings_.dwBitRate =
            BitRateFor(captureSettings_.biSizeImage, captureSettings_.AvgTimePerFrame);
        deviceFormat = captureSettings_;
        capConfigError_ = SaveCapConfig(capConfigPath_, captureSettings_) ? 0 : errno;
        result = backend_.SetFormat(deviceFormat);
        if (Failed(result)) {
            DebugTrace(0, "%x: Cannot set frame rate for preview\n", HexOf(result));
        }
    }
    PreparePreview();
    if (wasRunning) {
        RunGraph();
    }
    return result;
}

void CaptureEngine::SetGrabberFrameRate(int framesPerSecond) {
    CaptureSettings deviceFormat;
    bool isVideoInfo = false;
    // A rate of 0 or less has no frame duration: the grabber keeps its rate.
    if (!captureFilter_ || framesPerSecond <= 0 ||
        Failed(backend_.GetFormat(deviceFormat, isVideoInfo))) {
        return;
    }
    deviceFormat.dwBitRate = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(deviceFormat.biSizeImage) *
                                    static_cast<std::uint64_t>(framesPerSecond) * 8u,
                                0xFFFFFFFFu));
    deviceFormat.AvgTimePerFrame = static_cast<std::int64_t>(10000000 / framesPerSecond);
    backend_.SetGrabberMediaType(GrabberSlot::Frame, &deviceFormat);
}
