#include "capture/v4l2/v4l2_device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace v4l2 {
namespace {

// An interrupted ioctl is repeated at most this often before the interruption counts as its
// error (a device that keeps being interrupted is not worth hanging the UI thread for).
constexpr int kMaxInterruptedRetries = 64;
// Enumerations stop here even when a driver keeps answering (no real device lists more).
constexpr std::uint32_t kMaxEnumerated = 256;

// The node's file descriptor, closed when the object goes.
class FileDeviceIo final : public DeviceIo {
public:
    explicit FileDeviceIo(int fd) : fd_(fd) {}
    ~FileDeviceIo() override {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDeviceIo(const FileDeviceIo&) = delete;
    FileDeviceIo& operator=(const FileDeviceIo&) = delete;

    int Ioctl(unsigned long request, void* argument) override {
        return ::ioctl(fd_, request, argument) == 0 ? 0 : errno;
    }

private:
    int fd_ = -1;
};

int OpenNode(const std::string& nodePath) {
    int fd = -1;
    do {
        fd = ::open(nodePath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        do {
            fd = ::open(nodePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
    }
    return fd;
}

// A fixed-size, possibly unterminated text field of a V4L2 structure.
template <std::size_t N>
std::string TextOf(const std::uint8_t (&field)[N]) {
    const auto* text = reinterpret_cast<const char*>(field);
    return std::string(text, strnlen(text, N));
}

int ToInt(std::uint32_t value) {
    return static_cast<int>(std::min<std::uint32_t>(value, 0x7FFFFFFF));
}

}  // namespace

std::unique_ptr<Device> Device::Open(const std::string& nodePath) {
    if (nodePath.empty()) {
        return nullptr;
    }
    const int fd = OpenNode(nodePath);
    if (fd < 0) {
        return nullptr;
    }
    auto io = std::make_unique<FileDeviceIo>(fd);
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) {
        return nullptr;
    }
    return OpenWith(std::move(io));
}

std::unique_ptr<Device> Device::OpenWith(std::unique_ptr<DeviceIo> io) {
    if (io == nullptr) {
        return nullptr;
    }
    // The buffer type is settled after the check; until then the default stands.
    std::unique_ptr<Device> device(new Device(std::move(io), V4L2_BUF_TYPE_VIDEO_CAPTURE));
    v4l2_capability capability{};
    if (!device->Request(VIDIOC_QUERYCAP, &capability)) {
        return nullptr;
    }
    const std::optional<v4l2_buf_type> bufferType =
        CaptureBufferType(capability.capabilities, capability.device_caps);
    if (!bufferType) {
        return nullptr;
    }
    device->bufferType_ = *bufferType;
    return device;
}

Device::Device(std::unique_ptr<DeviceIo> io, v4l2_buf_type bufferType)
    : io_(std::move(io)), bufferType_(bufferType) {}

Device::~Device() = default;

bool Device::Request(unsigned long request, void* argument) {
    int error = io_->Ioctl(request, argument);
    for (int retry = 0; error == EINTR && retry < kMaxInterruptedRetries; ++retry) {
        error = io_->Ioctl(request, argument);
    }
    if (error != 0) {
        lastError_ = error;
        return false;
    }
    return true;
}

bool Device::AutoPartnerAvailable(int property) {
    const std::optional<std::uint32_t> autoId = AutoControlIdOf(property);
    if (!autoId) {
        return false;
    }
    // The partner's absence is an answer, not a failure of the caller's request.
    const int savedError = lastError_;
    v4l2_queryctrl query{};
    query.id = *autoId;
    const bool answered = Request(VIDIOC_QUERYCTRL, &query);
    lastError_ = savedError;
    return answered && (query.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY)) == 0;
}

bool Device::GetRange(int property, PropertyRange& range) {
    const std::optional<std::uint32_t> controlId = ControlIdOf(property);
    if (!controlId) {
        lastError_ = EINVAL;
        return false;
    }
    v4l2_queryctrl query{};
    query.id = *controlId;
    if (!Request(VIDIOC_QUERYCTRL, &query)) {
        return false;
    }
    const AutoPartner partner =
        AutoPartnerAvailable(property) ? AutoPartner::Present : AutoPartner::Absent;
    const std::optional<PropertyRange> queried = RangeFromQuery(query, partner);
    if (!queried) {
        lastError_ = EINVAL;  // what drivers answer for a control they do not offer
        return false;
    }
    range = *queried;
    return true;
}

bool Device::Get(int property, int& value) {
    const std::optional<std::uint32_t> controlId = ControlIdOf(property);
    if (!controlId) {
        lastError_ = EINVAL;
        return false;
    }
    v4l2_control control{};
    control.id = *controlId;
    if (!Request(VIDIOC_G_CTRL, &control)) {
        return false;
    }
    value = control.value;
    return true;
}

bool Device::Set(int property, int value) {
    const std::optional<std::uint32_t> controlId = ControlIdOf(property);
    if (!controlId) {
        lastError_ = EINVAL;
        return false;
    }
    v4l2_control control{};
    control.id = *controlId;
    control.value = value;
    return Request(VIDIOC_S_CTRL, &control);
}

bool Device::GetNorm(int& norm) {
    v4l2_std_id standard = 0;
    if (!Request(VIDIOC_G_STD, &standard)) {
        return false;
    }
    norm = NormFromStandard(standard);
    return true;
}

bool Device::SetNorm(int norm) {
    const std::optional<v4l2_std_id> standard = StandardFromNorm(norm);
    if (!standard) {
        lastError_ = EINVAL;
        return false;
    }
    v4l2_std_id requested = *standard;
    return Request(VIDIOC_S_STD, &requested);
}

std::vector<Input> Device::VideoInputs() {
    std::vector<Input> inputs;
    for (std::uint32_t index = 0; index < kMaxEnumerated; ++index) {
        v4l2_input input{};
        input.index = index;
        const int savedError = lastError_;
        if (!Request(VIDIOC_ENUMINPUT, &input)) {
            if (lastError_ == EINVAL) {  // the end of the list
                lastError_ = savedError;
                break;
            }
            return {};
        }
        // Cameras and tuners carry video; touch sensors (V4L2_INPUT_TYPE_TOUCH) do not.
        if (input.type != V4L2_INPUT_TYPE_CAMERA && input.type != V4L2_INPUT_TYPE_TUNER) {
            continue;
        }
        inputs.push_back(Input{ToInt(input.index), TextOf(input.name)});
    }
    return inputs;
}

std::vector<FrameSize> Device::FrameSizes(std::uint32_t fourcc) {
    std::vector<FrameSize> sizes;
    for (std::uint32_t index = 0; index < kMaxEnumerated; ++index) {
        v4l2_frmsizeenum size{};
        size.index = index;
        size.pixel_format = fourcc;
        // A driver without size enumeration answers EINVAL or ENOTTY at once: no sizes, and
        // nothing went wrong.
        const int savedError = lastError_;
        if (!Request(VIDIOC_ENUM_FRAMESIZES, &size)) {
            lastError_ = savedError;
            break;
        }
        if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE) {
            if (index == 0) {
                return CommonSizesWithin(size.stepwise);
            }
            break;
        }
        const FrameSize listed{ToInt(size.discrete.width), ToInt(size.discrete.height)};
        if (listed.width > 0 && listed.height > 0 &&
            std::find(sizes.begin(), sizes.end(), listed) == sizes.end()) {
            sizes.push_back(listed);
        }
    }
    return sizes;
}

std::vector<PixelFormat> Device::Formats() {
    std::vector<PixelFormat> formats;
    for (std::uint32_t index = 0; index < kMaxEnumerated; ++index) {
        v4l2_fmtdesc description{};
        description.index = index;
        description.type = bufferType_;
        const int savedError = lastError_;
        if (!Request(VIDIOC_ENUM_FMT, &description)) {
            if (lastError_ == EINVAL) {  // the end of the list
                lastError_ = savedError;
                break;
            }
            return {};
        }
        PixelFormat format;
        format.fourcc = description.pixelformat;
        format.description = TextOf(description.description);
        format.sizes = FrameSizes(description.pixelformat);
        formats.push_back(std::move(format));
    }
    return formats;
}

bool Device::GetCurrentFormat(CurrentFormat& format) {
    v4l2_format current{};
    current.type = bufferType_;
    if (!Request(VIDIOC_G_FMT, &current)) {
        return false;
    }
    CurrentFormat result;
    if (bufferType_ == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE) {
        const v4l2_pix_format_mplane& pix = current.fmt.pix_mp;
        result.width = ToInt(pix.width);
        result.height = ToInt(pix.height);
        result.fourcc = pix.pixelformat;
        result.bytesPerLine = ToInt(pix.plane_fmt[0].bytesperline);
        const int planes = std::min<int>(pix.num_planes, VIDEO_MAX_PLANES);
        for (int plane = 0; plane < planes; ++plane) {
            result.sizeImageBytes += pix.plane_fmt[plane].sizeimage;
        }
    } else {
        const v4l2_pix_format& pix = current.fmt.pix;
        result.width = ToInt(pix.width);
        result.height = ToInt(pix.height);
        result.fourcc = pix.pixelformat;
        result.bytesPerLine = ToInt(pix.bytesperline);
        result.sizeImageBytes = pix.sizeimage;
    }

    // The frame interval is extra information: a driver without VIDIOC_G_PARM still has a
    // format, so its failure is not recorded.
    v4l2_streamparm parameters{};
    parameters.type = bufferType_;
    const int savedError = lastError_;
    if (Request(VIDIOC_G_PARM, &parameters)) {
        const v4l2_fract& interval = parameters.parm.capture.timeperframe;
        if (interval.numerator != 0 && interval.denominator != 0) {
            result.intervalNumerator = interval.numerator;
            result.intervalDenominator = interval.denominator;
        }
    }
    lastError_ = savedError;
    format = result;
    return true;
}

}  // namespace v4l2
