#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture/v4l2/v4l2_mapping.h"

namespace v4l2 {

// The requests a Device sends to its node. The real one is the node's file descriptor; tests
// and the simulator put their own behind a Device with Device::OpenWith.
class DeviceIo {
public:
    virtual ~DeviceIo() = default;
    // One ioctl. Returns 0 on success, else the errno value (EINTR included: Device retries).
    virtual int Ioctl(unsigned long request, void* argument) = 0;
};

// One open file descriptor of a video capture node, for its controls, norm, inputs and format
// lists. It never sets the format or takes buffers, so it may read and set controls while
// another open of the same node streams (in this process or another).
//
// Threads: not thread-safe; one thread at a time (the program uses it on the UI thread).
// Blocking: every method but LastError makes one or a few ioctls. Controls of USB devices are
// USB control transfers: usually milliseconds, at worst the driver's timeout (seconds) when the
// device does not answer. Formats() makes one ioctl per format and size.
// Results: a failed ioctl makes the method return false (or an empty list) and leaves its
// output arguments untouched; LastError tells why. No method throws.
class Device {
public:
    // Opens the node (read-write, or read-only when write access is denied; never blocking) and
    // checks with VIDIOC_QUERYCAP that it captures video. nullptr when the node cannot be
    // opened, is no character device, or is no video capture device.
    static std::unique_ptr<Device> Open(const std::string& nodePath);
    // The same check on a node reached through `io`; nullptr when `io` is null or fails it.
    static std::unique_ptr<Device> OpenWith(std::unique_ptr<DeviceIo> io);

    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // The range of a picture property (PictureProperty numbers) from VIDIOC_QUERYCTRL. flags:
    // kControlFlagManual unless the control is read-only, plus kControlFlagAuto when the
    // device also has the property's automatic-mode control (which Set does not touch). False
    // for an unknown property number or a control the device does not offer or has disabled.
    bool GetRange(int property, PropertyRange& range);
    // The current value (VIDIOC_G_CTRL).
    bool Get(int property, int& value);
    // Sets the value (VIDIOC_S_CTRL); the driver clamps it to the range.
    bool Set(int property, int value);

    // The current analog standard as the program's norm (see NormFromStandard: kNormNtscM 1,
    // kNormPalB 16, ...). False when the device has no standards (cameras).
    bool GetNorm(int& norm);
    // Selects the standard(s) of the norm. False for kNormNone, unknown norm bits, or a
    // standard the device refuses.
    bool SetNorm(int norm);

    // The device's inputs (VIDIOC_ENUMINPUT), by index; empty when it enumerates none.
    std::vector<Input> VideoInputs();
    // The capture formats in the driver's order (VIDIOC_ENUM_FMT), each with its frame sizes
    // (VIDIOC_ENUM_FRAMESIZES): discrete sizes as listed (duplicates dropped), a stepwise or
    // continuous range as CommonSizesWithin reduces it.
    std::vector<PixelFormat> Formats();
    // The format in use (VIDIOC_G_FMT) and the frame interval (VIDIOC_G_PARM; left 0/0 when the
    // driver does not tell). False when the format cannot be read.
    bool GetCurrentFormat(CurrentFormat& format);

    // Why the last failing call failed: the errno value of its ioctl, or EINVAL for a request
    // refused before any ioctl (unknown property or norm) and for a control the device offers
    // but has disabled. The end of an enumeration and a missing frame interval or automatic-mode
    // control are no failures and leave it as it was. 0 when nothing has failed.
    int LastError() const { return lastError_; }

private:
    Device(std::unique_ptr<DeviceIo> io, v4l2_buf_type bufferType);
    // One ioctl, repeated while it is interrupted; records the error.
    bool Request(unsigned long request, void* argument);
    bool AutoPartnerAvailable(int property);
    std::vector<FrameSize> FrameSizes(std::uint32_t fourcc);

    std::unique_ptr<DeviceIo> io_;
    v4l2_buf_type bufferType_ = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    int lastError_ = 0;
};

}  // namespace v4l2
