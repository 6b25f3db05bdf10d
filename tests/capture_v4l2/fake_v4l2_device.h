#pragma once

// A small in-memory V4L2 capture device answering the ioctls v4l2::Device sends, with knobs to
// make requests fail or be interrupted. The model lives in a shared State so a test can look
// at it after the DeviceIo has moved into a Device.

#include <linux/videodev2.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capture/v4l2/v4l2_device.h"

namespace fakev4l2 {

struct Format {
    std::uint32_t fourcc = 0;
    std::string description;
    std::vector<FrameSize> discreteSizes;
    std::optional<v4l2_frmsize_stepwise> stepwise;  // listed instead of discreteSizes
    bool continuous = false;                        // the stepwise range is continuous
};

struct State {
    std::uint32_t capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_DEVICE_CAPS;
    std::uint32_t deviceCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;

    // Controls by id; the value a driver clamps into the range (as the control framework does).
    std::map<std::uint32_t, v4l2_queryctrl> controls;
    std::map<std::uint32_t, int> values;
    std::vector<int> receivedValues;  // every value S_CTRL was given, unclamped

    std::optional<v4l2_std_id> standard;  // nothing: a camera without standards
    v4l2_std_id supportedStandards = 0;
    std::vector<v4l2_std_id> receivedStandards;

    std::vector<v4l2_input> inputs;
    std::vector<Format> formats;
    v4l2_format current{};
    std::optional<v4l2_fract> interval;  // nothing: VIDIOC_G_PARM is not implemented

    std::map<unsigned long, int> failures;      // request -> errno it fails with
    std::map<unsigned long, int> failFromCall;  // request -> first failing call (0 when absent)
    int interruptions = 0;                      // the next requests fail with EINTR this often
    std::vector<unsigned long> requests;        // every request, in order
    // Every QUERYCTRL, G_CTRL and S_CTRL with the control id it named, in order.
    std::vector<std::pair<unsigned long, std::uint32_t>> controlRequests;
    std::vector<std::uint32_t> sentBufferTypes;  // the type field of ENUM_FMT/G_FMT/G_PARM

    void AddControl(std::uint32_t id, int minimum, int maximum, int step, int defaultValue,
                    std::uint32_t flags = 0, std::uint32_t type = V4L2_CTRL_TYPE_INTEGER);
    int Count(unsigned long request) const;
};

class FakeDeviceIo final : public v4l2::DeviceIo {
public:
    explicit FakeDeviceIo(std::shared_ptr<State> state) : state_(std::move(state)) {}
    int Ioctl(unsigned long request, void* argument) override;

private:
    int Answer(unsigned long request, void* argument);
    int EnumFrameSizes(v4l2_frmsizeenum& size) const;

    std::shared_ptr<State> state_;
};

// A Device over a fresh FakeDeviceIo of `state`.
std::unique_ptr<v4l2::Device> OpenFake(const std::shared_ptr<State>& state);

}  // namespace fakev4l2
