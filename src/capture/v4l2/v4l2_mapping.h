#pragma once

// The types of the V4L2 device wrapper and the plain mappings between the program's numbers
// and V4L2's: picture properties to control ids, video norms to standards, fourccs to bit
// counts, stepwise frame sizes to the common sizes they allow. Nothing here touches a device;
// every function may be called on any thread and none blocks.

#include <linux/videodev2.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "media/frame_size.h"
#include "media/picture_properties.h"
#include "media/video_norms.h"

namespace v4l2 {

struct Input {
    int index = 0;
    std::string name;
};

struct PixelFormat {
    std::uint32_t fourcc = 0;
    std::vector<FrameSize> sizes;  // empty when the driver does not enumerate sizes
    std::string description;       // the driver's text, "YUYV 4:2:2"
};

struct CurrentFormat {
    int width = 0;
    int height = 0;
    std::uint32_t fourcc = 0;
    int bytesPerLine = 0;              // of the first plane
    std::uint32_t sizeImageBytes = 0;  // all planes together
    // Seconds per frame as a fraction; both 0 when the driver does not tell.
    std::uint32_t intervalNumerator = 0;
    std::uint32_t intervalDenominator = 0;
};

// The V4L2 control behind a picture property; nothing for numbers without one.
std::optional<std::uint32_t> ControlIdOf(int property);

// The control that switches a property's automatic mode (hue, brightness, white balance,
// gain); nothing for the others.
std::optional<std::uint32_t> AutoControlIdOf(int property);

// The range of a queried control. Nothing for a disabled control or one whose value is not a
// plain integer (integer, boolean and menu controls qualify). `autoPartner` tells whether the
// device offers the property's automatic-mode control.
enum class AutoPartner { Absent, Present };
std::optional<PropertyRange> RangeFromQuery(const v4l2_queryctrl& query, AutoPartner autoPartner);

// The program's norm for a standard set read from the device. A set is reduced to one norm:
// NTSC M wins over PAL B, which wins over the others in the order of their numbers, so
// V4L2_STD_NTSC reads as kNormNtscM and V4L2_STD_PAL as kNormPalB. Standards without a
// program number (NTSC M Korea, ATSC) and the empty set read as kNormNone.
int NormFromStandard(v4l2_std_id standard);

// The standard set for a norm (a combination of norm bits is the union of their standards).
// Nothing for kNormNone or a norm with a bit the program does not know.
std::optional<v4l2_std_id> StandardFromNorm(int norm);

// Bits per pixel of a fourcc, as the program accounts for a frame of it: packed 4:2:2
// (YUYV, YUY2, YVYU, UYVY, VYUY) and RGB565/555 16, RGB24/BGR24 24, 32-bit RGB 32, GREY 8,
// Y16 16, NV12/NV21/YUV420/YVU420 12, NV16/NV61/YUV422P 16; MJPEG and JPEG 24 (the decoded
// picture). 0 for any other fourcc.
int BitsPerPixel(std::uint32_t fourcc);

// The common picture sizes (160x120 up to 3840x2160) that a stepwise or continuous size
// range allows, smallest first: each lies within the range and on its steps. When none does,
// the range's largest size alone.
std::vector<FrameSize> CommonSizesWithin(const v4l2_frmsize_stepwise& range);

// Which buffer type a node captures with, from VIDIOC_QUERYCAP (device_caps when the driver
// fills it): single-planar when offered, else multi-planar; nothing for a node that does not
// capture video.
std::optional<v4l2_buf_type> CaptureBufferType(std::uint32_t capabilities,
                                               std::uint32_t deviceCaps);

}  // namespace v4l2
