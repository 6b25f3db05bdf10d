#include "fake_v4l2_device.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace fakev4l2 {
namespace {

template <std::size_t N>
void CopyText(std::uint8_t (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(N, text.size()));  // unterminated when it fills
}

}  // namespace

void State::AddControl(std::uint32_t id, int minimum, int maximum, int step, int defaultValue,
                       std::uint32_t flags, std::uint32_t type) {
    v4l2_queryctrl query{};
    query.id = id;
    query.type = type;
    query.minimum = minimum;
    query.maximum = maximum;
    query.step = step;
    query.default_value = defaultValue;
    query.flags = flags;
    controls[id] = query;
    values[id] = defaultValue;
}

int State::Count(unsigned long request) const {
    return static_cast<int>(std::count(requests.begin(), requests.end(), request));
}

int FakeDeviceIo::Ioctl(unsigned long request, void* argument) {
    State& state = *state_;
    const int previousCalls = state.Count(request);
    state.requests.push_back(request);
    if (request == VIDIOC_QUERYCTRL || request == VIDIOC_G_CTRL || request == VIDIOC_S_CTRL) {
        // Both structures start with the control id.
        state.controlRequests.emplace_back(request, *static_cast<const std::uint32_t*>(argument));
    }
    if (state.interruptions > 0) {
        --state.interruptions;
        return EINTR;
    }
    const auto failure = state.failures.find(request);
    if (failure != state.failures.end()) {
        const auto from = state.failFromCall.find(request);
        // Interrupted calls count too; tests that combine both do not exist.
        if (from == state.failFromCall.end() || previousCalls >= from->second) {
            return failure->second;
        }
    }
    return Answer(request, argument);
}

int FakeDeviceIo::EnumFrameSizes(v4l2_frmsizeenum& size) const {
    const auto format =
        std::find_if(state_->formats.begin(), state_->formats.end(),
                     [&](const Format& f) { return f.fourcc == size.pixel_format; });
    if (format == state_->formats.end()) {
        return EINVAL;
    }
    if (format->stepwise) {
        if (size.index != 0) {
            return EINVAL;
        }
        size.type = format->continuous ? V4L2_FRMSIZE_TYPE_CONTINUOUS : V4L2_FRMSIZE_TYPE_STEPWISE;
        size.stepwise = *format->stepwise;
        return 0;
    }
    if (format->discreteSizes.empty()) {
        return ENOTTY;
    }
    if (size.index >= format->discreteSizes.size()) {
        return EINVAL;
    }
    size.type = V4L2_FRMSIZE_TYPE_DISCRETE;
    size.discrete.width = static_cast<std::uint32_t>(format->discreteSizes[size.index].width);
    size.discrete.height = static_cast<std::uint32_t>(format->discreteSizes[size.index].height);
    return 0;
}

int FakeDeviceIo::Answer(unsigned long request, void* argument) {
    State& state = *state_;
    switch (request) {
        case VIDIOC_QUERYCAP: {
            auto& capability = *static_cast<v4l2_capability*>(argument);
            capability = v4l2_capability{};
            CopyText(capability.driver, "fake");
            CopyText(capability.card, "Fake Microscope");
            capability.capabilities = state.capabilities;
            capability.device_caps = state.deviceCaps;
            return 0;
        }
        case VIDIOC_QUERYCTRL: {
            auto& query = *static_cast<v4l2_queryctrl*>(argument);
            const auto control = state.controls.find(query.id);
            if (control == state.controls.end()) {
                return EINVAL;
            }
            query = control->second;
            return 0;
        }
        case VIDIOC_G_CTRL: {
            auto& control = *static_cast<v4l2_control*>(argument);
            const auto value = state.values.find(control.id);
            if (value == state.values.end()) {
                return EINVAL;
            }
            control.value = value->second;
            return 0;
        }
        case VIDIOC_S_CTRL: {
            auto& control = *static_cast<v4l2_control*>(argument);
            const auto query = state.controls.find(control.id);
            if (query == state.controls.end()) {
                return EINVAL;
            }
            if ((query->second.flags & V4L2_CTRL_FLAG_READ_ONLY) != 0) {
                return EACCES;
            }
            state.receivedValues.push_back(control.value);
            state.values[control.id] =
                std::clamp(control.value, query->second.minimum, query->second.maximum);
            return 0;
        }
        case VIDIOC_G_STD: {
            if (!state.standard) {
                return ENODATA;
            }
            *static_cast<v4l2_std_id*>(argument) = *state.standard;
            return 0;
        }
        case VIDIOC_S_STD: {
            const v4l2_std_id requested = *static_cast<v4l2_std_id*>(argument);
            state.receivedStandards.push_back(requested);
            if (!state.standard || (requested & state.supportedStandards) == 0) {
                return state.standard ? EINVAL : ENODATA;
            }
            state.standard = requested & state.supportedStandards;
            return 0;
        }
        case VIDIOC_ENUMINPUT: {
            auto& input = *static_cast<v4l2_input*>(argument);
            if (input.index >= state.inputs.size()) {
                return EINVAL;
            }
            input = state.inputs[input.index];
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto& description = *static_cast<v4l2_fmtdesc*>(argument);
            state.sentBufferTypes.push_back(description.type);
            if (description.index >= state.formats.size()) {
                return EINVAL;
            }
            const Format& format = state.formats[description.index];
            description.pixelformat = format.fourcc;
            CopyText(description.description, format.description);
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES:
            return EnumFrameSizes(*static_cast<v4l2_frmsizeenum*>(argument));
        case VIDIOC_G_FMT: {
            auto& format = *static_cast<v4l2_format*>(argument);
            state.sentBufferTypes.push_back(format.type);
            const std::uint32_t type = format.type;
            format = state.current;
            format.type = type;
            return 0;
        }
        case VIDIOC_G_PARM: {
            auto& parameters = *static_cast<v4l2_streamparm*>(argument);
            state.sentBufferTypes.push_back(parameters.type);
            if (!state.interval) {
                return ENOTTY;
            }
            parameters.parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
            parameters.parm.capture.timeperframe = *state.interval;
            return 0;
        }
        default:
            return ENOTTY;
    }
}

std::unique_ptr<v4l2::Device> OpenFake(const std::shared_ptr<State>& state) {
    return v4l2::Device::OpenWith(std::make_unique<FakeDeviceIo>(state));
}

}  // namespace fakev4l2
