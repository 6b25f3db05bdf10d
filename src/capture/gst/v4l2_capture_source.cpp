#include "capture/gst/v4l2_capture_source.h"

#include <QLoggingCategory>
#include <algorithm>
#include <cstring>

// Diagnostics of the V4L2 side that are not part of the program's trace: why a node cannot
// be opened, which request failed and its errno.
Q_LOGGING_CATEGORY(lcCaptureV4l2, "microscope.capture.v4l2", QtWarningMsg)

namespace gstcapture {

namespace {

constexpr int kMaxFramesPerSecond = 240;

bool AddGhostSrcPad(GstElement* bin, GstElement* inner) {
    PadPtr target(gst_element_get_static_pad(inner, "src"));
    GstPad* ghost = target ? gst_ghost_pad_new("src", target.get()) : nullptr;
    return ghost != nullptr && gst_element_add_pad(bin, ghost);
}

GstStructure* FormatStructure(const V4l2CapsFormat& capsFormat, int width, int height) {
    GstStructure* structure = gst_structure_new("video/x-raw", "width", G_TYPE_INT, width, "height",
                                                G_TYPE_INT, height, nullptr);
    gst_structure_set_name(structure, capsFormat.mediaType);
    if (capsFormat.formatName != nullptr) {
        gst_structure_set(structure, "format", G_TYPE_STRING, capsFormat.formatName, nullptr);
    }
    return structure;
}

}  // namespace

std::optional<V4l2CapsFormat> CapsFormatOf(std::uint32_t v4l2Fourcc) {
    switch (v4l2Fourcc) {
        case V4L2_PIX_FMT_YUYV:
            return V4l2CapsFormat{"video/x-raw", "YUY2"};
        case V4L2_PIX_FMT_UYVY:
            return V4l2CapsFormat{"video/x-raw", "UYVY"};
        case V4L2_PIX_FMT_YVYU:
            return V4l2CapsFormat{"video/x-raw", "YVYU"};
        case V4L2_PIX_FMT_NV12:
            return V4l2CapsFormat{"video/x-raw", "NV12"};
        case V4L2_PIX_FMT_NV21:
            return V4l2CapsFormat{"video/x-raw", "NV21"};
        case V4L2_PIX_FMT_YUV420:
            return V4l2CapsFormat{"video/x-raw", "I420"};
        case V4L2_PIX_FMT_YVU420:
            return V4l2CapsFormat{"video/x-raw", "YV12"};
        case V4L2_PIX_FMT_GREY:
            return V4l2CapsFormat{"video/x-raw", "GRAY8"};
        case V4L2_PIX_FMT_RGB24:
            return V4l2CapsFormat{"video/x-raw", "RGB"};
        case V4L2_PIX_FMT_BGR24:
            return V4l2CapsFormat{"video/x-raw", "BGR"};
        case V4L2_PIX_FMT_MJPEG:
        case V4L2_PIX_FMT_JPEG:
            return V4l2CapsFormat{"image/jpeg", nullptr};
        default:
            return std::nullopt;
    }
}

std::uint32_t RecordFourccOf(std::uint32_t v4l2Fourcc) {
    return v4l2Fourcc == V4L2_PIX_FMT_YUYV ? kFourccYuy2 : v4l2Fourcc;
}

std::uint32_t V4l2FourccOf(std::uint32_t recordFourcc) {
    return recordFourcc == kFourccYuy2 ? V4L2_PIX_FMT_YUYV : recordFourcc;
}

std::unique_ptr<V4l2CaptureSource> V4l2CaptureSource::Open(const std::string& nodePath) {
    std::unique_ptr<v4l2::Device> device = v4l2::Device::Open(nodePath);
    if (!device) {
        qCWarning(lcCaptureV4l2, "%s cannot be opened as a video capture device", nodePath.c_str());
    }
    return Wrap(nodePath, std::move(device));
}

std::unique_ptr<V4l2CaptureSource> V4l2CaptureSource::Wrap(const std::string& nodePath,
                                                           std::unique_ptr<v4l2::Device> device) {
    if (!device) {
        return nullptr;
    }
    return std::unique_ptr<V4l2CaptureSource>(new V4l2CaptureSource(nodePath, std::move(device)));
}

V4l2CaptureSource::V4l2CaptureSource(std::string nodePath, std::unique_ptr<v4l2::Device> device)
    : nodePath_(std::move(nodePath)), device_(std::move(device)), controls_(*device_, nodePath_) {
    formats_ = device_->Formats();
    inputCount_ = static_cast<int>(device_->VideoInputs().size());
    format_ = InitialFormat();
}

CaptureSettings V4l2CaptureSource::InitialFormat() {
    v4l2::CurrentFormat current;
    std::int64_t timePerFrame = 0;
    if (device_->GetCurrentFormat(current)) {
        if (current.intervalDenominator != 0) {
            timePerFrame = static_cast<std::int64_t>(current.intervalNumerator) * 10000000 /
                           current.intervalDenominator;
        }
        if (CapsFormatOf(current.fourcc)) {
            return MakeCaptureSettings(current.width, current.height,
                                       RecordFourccOf(current.fourcc),
                                       v4l2::BitsPerPixel(current.fourcc), timePerFrame);
        }
    } else {
        qCWarning(lcCaptureV4l2, "%s: the current format cannot be read: %s", nodePath_.c_str(),
                  std::strerror(device_->LastError()));
    }
    for (const v4l2::PixelFormat& format : formats_) {
        if (CapsFormatOf(format.fourcc) && !format.sizes.empty()) {
            return MakeCaptureSettings(format.sizes.front().width, format.sizes.front().height,
                                       RecordFourccOf(format.fourcc),
                                       v4l2::BitsPerPixel(format.fourcc), timePerFrame);
        }
    }
    // Nothing GStreamer can take: report what the device holds; SetFormat will refuse it.
    return MakeCaptureSettings(current.width, current.height, RecordFourccOf(current.fourcc),
                               v4l2::BitsPerPixel(current.fourcc), timePerFrame);
}

bool V4l2CaptureSource::Offers(std::uint32_t v4l2Fourcc, int width, int height) const {
    for (const v4l2::PixelFormat& format : formats_) {
        if (format.fourcc != v4l2Fourcc) {
            continue;
        }
        if (format.sizes.empty()) {
            return true;  // the driver lists no sizes: let negotiation decide
        }
        const FrameSize wanted{width, height};
        if (std::find(format.sizes.begin(), format.sizes.end(), wanted) != format.sizes.end()) {
            return true;
        }
    }
    return false;
}

GstElement* V4l2CaptureSource::AddPinElements(GstBin& bin, int pin) {
    if (pin != 0) {
        return nullptr;
    }
    RemovePinElements(bin, pin);
    const std::optional<V4l2CapsFormat> capsFormat =
        CapsFormatOf(V4l2FourccOf(format_.biCompression));
    ElementPtr pinBin(GST_ELEMENT(gst_object_ref_sink(gst_bin_new("V4l2Capture"))));
    ElementPtr source = MakeElement("v4l2src", "V4l2Source");
    ElementPtr filter = MakeElement("capsfilter", "V4l2Caps");
    const bool compressed = capsFormat && capsFormat->formatName == nullptr;
    ElementPtr decoder = compressed ? MakeElement("jpegdec", "V4l2Decoder") : nullptr;
    if (!pinBin || !source || !filter || (compressed && !decoder)) {
        return nullptr;
    }
    g_object_set(source.get(), "device", nodePath_.c_str(), nullptr);
    GstBin& inner = *GST_BIN(pinBin.get());
    GstElement* last = filter.get();
    bool linked = gst_bin_add(&inner, source.get()) && gst_bin_add(&inner, filter.get()) &&
                  gst_element_link(source.get(), filter.get());
    if (linked && decoder) {
        linked =
            gst_bin_add(&inner, decoder.get()) && gst_element_link(filter.get(), decoder.get());
        last = decoder.get();
    }
    if (!linked || !AddGhostSrcPad(pinBin.get(), last) || !gst_bin_add(&bin, pinBin.get())) {
        return nullptr;
    }
    capsFilter_ = filter.get();
    pinBin_ = std::move(pinBin);
    PrepareToRun();
    return pinBin_.get();
}

void V4l2CaptureSource::RemovePinElements(GstBin& bin, int pin) {
    if (pin != 0 || !pinBin_) {
        return;
    }
    gst_element_set_state(pinBin_.get(), GST_STATE_NULL);
    gst_bin_remove(&bin, pinBin_.get());
    capsFilter_ = nullptr;
    pinBin_.reset();
}

HResult V4l2CaptureSource::GetFormat(CaptureSettings& format) {
    format = format_;
    return hr::kOk;
}

HResult V4l2CaptureSource::SetFormat(const CaptureSettings& format) {
    const std::uint32_t fourcc = V4l2FourccOf(format.biCompression);
    if (!CapsFormatOf(fourcc) || format.biWidth <= 0 || format.biHeight <= 0 ||
        !Offers(fourcc, format.biWidth, format.biHeight)) {
        return hr::kInvalidMediaType;
    }
    format_ = MakeCaptureSettings(format.biWidth, format.biHeight, format.biCompression,
                                  v4l2::BitsPerPixel(fourcc), format.AvgTimePerFrame);
    return hr::kOk;
}

HResult V4l2CaptureSource::PrepareToRun() {
    const std::optional<V4l2CapsFormat> capsFormat =
        CapsFormatOf(V4l2FourccOf(format_.biCompression));
    if (!capsFormat) {
        return hr::kInvalidMediaType;
    }
    if (capsFilter_ == nullptr) {
        return hr::kOk;
    }
    // The kept rate is preferred; a device that cannot do it streams at a rate it can.
    GstStructure* withRate = FormatStructure(*capsFormat, format_.biWidth, format_.biHeight);
    gst_structure_set(withRate, "framerate", GST_TYPE_FRACTION,
                      FramesPerSecondOf(format_, kMaxFramesPerSecond), 1, nullptr);
    CapsPtr caps(gst_caps_new_full(
        withRate, FormatStructure(*capsFormat, format_.biWidth, format_.biHeight), nullptr));
    g_object_set(capsFilter_, "caps", caps.get(), nullptr);
    return hr::kOk;
}

HResult V4l2CaptureSource::GetPropertyRange(int property, PropertyRange& range) {
    return controls_.GetPropertyRange(property, range);
}

HResult V4l2CaptureSource::GetProperty(int property, int& value, int& flags) {
    const HResult result = controls_.GetProperty(property, value);
    if (Succeeded(result)) {
        flags = kPropertyFlagManual;
    }
    return result;
}

HResult V4l2CaptureSource::SetProperty(int property, int value, int) {
    return controls_.SetProperty(property, value);
}

HResult V4l2CaptureSource::GetNorm(int& norm) {
    return controls_.GetNorm(norm);
}

HResult V4l2CaptureSource::SetNorm(int norm) {
    return controls_.SetNorm(norm);
}

}  // namespace gstcapture
