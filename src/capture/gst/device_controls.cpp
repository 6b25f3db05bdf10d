#include "capture/gst/device_controls.h"

#include <QLoggingCategory>
#include <cstring>
#include <utility>

#include "capture/gst/capture_source.h"

Q_LOGGING_CATEGORY(lcDeviceControls, "microscope.capture.controls", QtWarningMsg)

namespace gstcapture {
namespace {

bool IsPictureProperty(int property) {
    return property >= 0 && property < sim::kPropertyCount;
}

}  // namespace

V4l2DeviceControls::V4l2DeviceControls(v4l2::Device& device, std::string nodePath)
    : device_(device), nodePath_(std::move(nodePath)) {}

std::unique_ptr<DeviceControls> V4l2DeviceControls::Own(std::unique_ptr<v4l2::Device> device,
                                                        std::string nodePath) {
    if (device == nullptr) {
        return nullptr;
    }
    auto controls = std::make_unique<V4l2DeviceControls>(*device, std::move(nodePath));
    controls->owned_ = std::move(device);
    return controls;
}

std::unique_ptr<DeviceControls> V4l2DeviceControls::Open(const std::string& nodePath) {
    return Own(v4l2::Device::Open(nodePath), nodePath);
}

HResult V4l2DeviceControls::GetPropertyRange(int property, PropertyRange& range) {
    PropertyRange control;
    if (!IsPictureProperty(property) || !device_.GetRange(property, control)) {
        // Most devices lack some of the properties.
        qCDebug(lcDeviceControls, "%s: no range for property %d: %s", nodePath_.c_str(), property,
                std::strerror(device_.LastError()));
        return hr::kNotFound;
    }
    range = control;
    return hr::kOk;
}

HResult V4l2DeviceControls::GetProperty(int property, int& value) {
    if (!IsPictureProperty(property) || !device_.Get(property, value)) {
        qCDebug(lcDeviceControls, "%s: property %d cannot be read: %s", nodePath_.c_str(), property,
                std::strerror(device_.LastError()));
        return hr::kNotFound;
    }
    return hr::kOk;
}

HResult V4l2DeviceControls::SetProperty(int property, int value) {
    if (!IsPictureProperty(property)) {
        return hr::kNotFound;
    }
    if (!device_.Set(property, value)) {
        qCWarning(lcDeviceControls, "%s: property %d cannot be set to %d: %s", nodePath_.c_str(),
                  property, value, std::strerror(device_.LastError()));
        return hr::kFail;
    }
    return hr::kOk;
}

HResult V4l2DeviceControls::GetNorm(int& norm) {
    return device_.GetNorm(norm) ? hr::kOk : hr::kNoInterface;
}

HResult V4l2DeviceControls::SetNorm(int norm) {
    if (!device_.SetNorm(norm)) {
        qCWarning(lcDeviceControls, "%s: norm 0x%x cannot be set: %s", nodePath_.c_str(),
                  static_cast<unsigned>(norm), std::strerror(device_.LastError()));
        return hr::kInvalidArgument;
    }
    return hr::kOk;
}

SimDeviceControls::SimDeviceControls(sim::SimulatedMicroscope& microscope, std::string identity)
    : microscope_(microscope), identity_(std::move(identity)) {}

bool SimDeviceControls::Present() const {
    return microscope_.plugged() && microscope_.identity() == identity_;
}

HResult SimDeviceControls::GetPropertyRange(int property, PropertyRange& range) {
    if (!Present()) {
        return hr::kDeviceRemoved;
    }
    PropertyRange simRange;
    if (!microscope_.GetPropertyRange(property, simRange)) {
        return hr::kNotFound;
    }
    range = simRange;
    range.flags = kPropertyFlagManual;
    return hr::kOk;
}

HResult SimDeviceControls::GetProperty(int property, int& value) {
    if (!Present()) {
        return hr::kDeviceRemoved;
    }
    return microscope_.GetProperty(property, value) ? hr::kOk : hr::kNotFound;
}

HResult SimDeviceControls::SetProperty(int property, int value) {
    if (!Present()) {
        return hr::kDeviceRemoved;
    }
    return microscope_.SetProperty(property, value) ? hr::kOk : hr::kNotFound;
}

HResult SimDeviceControls::GetNorm(int& norm) {
    if (!Present()) {
        return hr::kDeviceRemoved;
    }
    if (microscope_.Norms().empty()) {
        return hr::kNoInterface;
    }
    return microscope_.GetNorm(norm) ? hr::kOk : hr::kFail;
}

HResult SimDeviceControls::SetNorm(int norm) {
    if (!Present()) {
        return hr::kDeviceRemoved;
    }
    if (microscope_.Norms().empty()) {
        return hr::kNoInterface;
    }
    return microscope_.SetNorm(norm) ? hr::kOk : hr::kInvalidArgument;
}

}  // namespace gstcapture
