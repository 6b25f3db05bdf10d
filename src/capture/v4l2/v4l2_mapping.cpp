#include "capture/v4l2/v4l2_mapping.h"

#include <algorithm>

namespace v4l2 {
namespace {

struct PropertyRow {
    int property;
    std::uint32_t controlId;
    std::uint32_t autoControlId;  // 0 when the property has no automatic mode
};

constexpr PropertyRow kProperties[] = {
    {kBrightness, V4L2_CID_BRIGHTNESS, V4L2_CID_AUTOBRIGHTNESS},
    {kContrast, V4L2_CID_CONTRAST, 0},
    {kHue, V4L2_CID_HUE, V4L2_CID_HUE_AUTO},
    {kSaturation, V4L2_CID_SATURATION, 0},
    {kSharpness, V4L2_CID_SHARPNESS, 0},
    {kGamma, V4L2_CID_GAMMA, 0},
    {kWhiteBalance, V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE},
    {kBacklightCompensation, V4L2_CID_BACKLIGHT_COMPENSATION, 0},
    {kGain, V4L2_CID_GAIN, V4L2_CID_AUTOGAIN},
};

const PropertyRow* FindProperty(int property) {
    for (const PropertyRow& row : kProperties) {
        if (row.property == property) {
            return &row;
        }
    }
    return nullptr;
}

struct NormRow {
    int norm;
    v4l2_std_id standard;
};

// In the order a standard set read from a device is reduced to one norm.
constexpr NormRow kNorms[] = {
    {kNormNtscM, V4L2_STD_NTSC_M},
    {kNormPalB, V4L2_STD_PAL_B | V4L2_STD_PAL_B1},
    {kNormNtscMJapan, V4L2_STD_NTSC_M_JP},
    {kNormNtsc443, V4L2_STD_NTSC_443},
    {kNormPalD, V4L2_STD_PAL_D | V4L2_STD_PAL_D1 | V4L2_STD_PAL_K},
    {kNormPalG, V4L2_STD_PAL_G},
    {kNormPalH, V4L2_STD_PAL_H},
    {kNormPalI, V4L2_STD_PAL_I},
    {kNormPalM, V4L2_STD_PAL_M},
    {kNormPalN, V4L2_STD_PAL_N},
    {kNormPal60, V4L2_STD_PAL_60},
    {kNormSecamB, V4L2_STD_SECAM_B},
    {kNormSecamD, V4L2_STD_SECAM_D},
    {kNormSecamG, V4L2_STD_SECAM_G},
    {kNormSecamH, V4L2_STD_SECAM_H},
    {kNormSecamK, V4L2_STD_SECAM_K},
    {kNormSecamK1, V4L2_STD_SECAM_K1},
    {kNormSecamL, V4L2_STD_SECAM_L},
    {kNormSecamL1, V4L2_STD_SECAM_LC},
    {kNormPalNCombo, V4L2_STD_PAL_Nc},
};

constexpr std::uint32_t Fourcc(char a, char b, char c, char d) {
    return v4l2_fourcc(a, b, c, d);
}

struct FourccBits {
    std::uint32_t fourcc;
    int bitsPerPixel;
};

constexpr FourccBits kFourccBits[] = {
    {V4L2_PIX_FMT_YUYV, 16},
    {Fourcc('Y', 'U', 'Y', '2'), 16},  // the same layout under its
                                       // Windows name
    {V4L2_PIX_FMT_YVYU, 16},
    {V4L2_PIX_FMT_UYVY, 16},
    {V4L2_PIX_FMT_VYUY, 16},
    {V4L2_PIX_FMT_RGB565, 16},
    {V4L2_PIX_FMT_RGB555, 16},
    {V4L2_PIX_FMT_RGB24, 24},
    {V4L2_PIX_FMT_BGR24, 24},
    {V4L2_PIX_FMT_RGB32, 32},
    {V4L2_PIX_FMT_BGR32, 32},
    {V4L2_PIX_FMT_XRGB32, 32},
    {V4L2_PIX_FMT_XBGR32, 32},
    {V4L2_PIX_FMT_ARGB32, 32},
    {V4L2_PIX_FMT_ABGR32, 32},
    {V4L2_PIX_FMT_GREY, 8},
    {V4L2_PIX_FMT_Y16, 16},
    {V4L2_PIX_FMT_NV12, 12},
    {V4L2_PIX_FMT_NV21, 12},
    {V4L2_PIX_FMT_YUV420, 12},
    {V4L2_PIX_FMT_YVU420, 12},
    {V4L2_PIX_FMT_NV16, 16},
    {V4L2_PIX_FMT_NV61, 16},
    {V4L2_PIX_FMT_YUV422P, 16},
    {V4L2_PIX_FMT_MJPEG, 24},
    {V4L2_PIX_FMT_JPEG, 24},
};

constexpr FrameSize kCommonSizes[] = {
    {160, 120},   {176, 144},   {320, 240},   {352, 288},   {640, 480},   {720, 480},
    {720, 576},   {800, 600},   {1024, 768},  {1280, 720},  {1280, 960},  {1280, 1024},
    {1600, 1200}, {1920, 1080}, {2048, 1536}, {2592, 1944}, {3840, 2160},
};

bool OnSteps(std::uint32_t value, std::uint32_t minimum, std::uint32_t maximum,
             std::uint32_t step) {
    if (value < minimum || value > maximum) {
        return false;
    }
    return step <= 1 || (value - minimum) % step == 0;
}

int ClampToInt(std::uint32_t value) {
    return static_cast<int>(std::min<std::uint32_t>(value, 0x7FFFFFFF));
}

}  // namespace

std::optional<std::uint32_t> ControlIdOf(int property) {
    const PropertyRow* row = FindProperty(property);
    return row != nullptr ? std::optional<std::uint32_t>(row->controlId) : std::nullopt;
}

std::optional<std::uint32_t> AutoControlIdOf(int property) {
    const PropertyRow* row = FindProperty(property);
    if (row == nullptr || row->autoControlId == 0) {
        return std::nullopt;
    }
    return row->autoControlId;
}

std::optional<PropertyRange> RangeFromQuery(const v4l2_queryctrl& query, AutoPartner autoPartner) {
    if ((query.flags & V4L2_CTRL_FLAG_DISABLED) != 0) {
        return std::nullopt;
    }
    switch (query.type) {
        case V4L2_CTRL_TYPE_INTEGER:
        case V4L2_CTRL_TYPE_BOOLEAN:
        case V4L2_CTRL_TYPE_MENU:
        case V4L2_CTRL_TYPE_INTEGER_MENU:
            break;
        default:
            return std::nullopt;
    }
    PropertyRange range;
    range.minimum = query.minimum;
    range.maximum = query.maximum;
    range.step = query.step;
    range.defaultValue = query.default_value;
    if ((query.flags & V4L2_CTRL_FLAG_READ_ONLY) == 0) {
        range.flags |= kControlFlagManual;
    }
    if (autoPartner == AutoPartner::Present) {
        range.flags |= kControlFlagAuto;
    }
    return range;
}

int NormFromStandard(v4l2_std_id standard) {
    for (const NormRow& row : kNorms) {
        if ((standard & row.standard) != 0) {
            return row.norm;
        }
    }
    return kNormNone;
}

std::optional<v4l2_std_id> StandardFromNorm(int norm) {
    if (norm == kNormNone) {
        return std::nullopt;
    }
    v4l2_std_id standard = 0;
    int unknownBits = norm;
    for (const NormRow& row : kNorms) {
        if ((norm & row.norm) != 0) {
            standard |= row.standard;
            unknownBits &= ~row.norm;
        }
    }
    if (unknownBits != 0) {
        return std::nullopt;
    }
    return standard;
}

int BitsPerPixel(std::uint32_t fourcc) {
    for (const FourccBits& row : kFourccBits) {
        if (row.fourcc == fourcc) {
            return row.bitsPerPixel;
        }
    }
    return 0;
}

std::vector<FrameSize> CommonSizesWithin(const v4l2_frmsize_stepwise& range) {
    std::vector<FrameSize> sizes;
    for (const FrameSize& size : kCommonSizes) {
        const auto width = static_cast<std::uint32_t>(size.width);
        const auto height = static_cast<std::uint32_t>(size.height);
        if (OnSteps(width, range.min_width, range.max_width, range.step_width) &&
            OnSteps(height, range.min_height, range.max_height, range.step_height)) {
            sizes.push_back(size);
        }
    }
    if (sizes.empty() && range.max_width > 0 && range.max_height > 0) {
        sizes.push_back(FrameSize{ClampToInt(range.max_width), ClampToInt(range.max_height)});
    }
    return sizes;
}

std::optional<v4l2_buf_type> CaptureBufferType(std::uint32_t capabilities,
                                               std::uint32_t deviceCaps) {
    const std::uint32_t caps =
        (capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? deviceCaps : capabilities;
    if ((caps & V4L2_CAP_VIDEO_CAPTURE) != 0) {
        return V4L2_BUF_TYPE_VIDEO_CAPTURE;
    }
    if ((caps & V4L2_CAP_VIDEO_CAPTURE_MPLANE) != 0) {
        return V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE;
    }
    return std::nullopt;
}

}  // namespace v4l2
