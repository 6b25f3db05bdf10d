#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/gst/capture_source.h"
#include "capture/gst/device_controls.h"
#include "capture/gst/gst_handles.h"
#include "capture/v4l2/v4l2_device.h"

namespace gstcapture {

// The GStreamer caps name and format of a V4L2 pixel format: "video/x-raw" with a format
// name, or "image/jpeg" (decoded behind the source). Nothing for formats not handled.
struct V4l2CapsFormat {
    const char* mediaType = nullptr;
    const char* formatName = nullptr;  // null for image/jpeg
};
std::optional<V4l2CapsFormat> CapsFormatOf(std::uint32_t v4l2Fourcc);

// The fourcc a video format record names for a V4L2 pixel format, and back: YUYV is
// recorded as 'YUY2', the others as they are.
std::uint32_t RecordFourccOf(std::uint32_t v4l2Fourcc);
std::uint32_t V4l2FourccOf(std::uint32_t recordFourcc);

// A V4L2 capture node as a capture filter: one output pin, v4l2src with caps of the kept
// format (and a JPEG decoder for compressed formats). Formats, controls, norm and inputs come
// from a second open of the node, which may read and set controls while v4l2src streams.
class V4l2CaptureSource final : public CaptureSource {
public:
    // nullptr when the node cannot be opened or does not capture video.
    static std::unique_ptr<V4l2CaptureSource> Open(const std::string& nodePath);
    // The same over an open `device`, streamed by v4l2src from `nodePath`; nullptr without one.
    static std::unique_ptr<V4l2CaptureSource> Wrap(const std::string& nodePath,
                                                   std::unique_ptr<v4l2::Device> device);

    int OutputPinCount() const override { return 1; }
    GstElement* AddPinElements(GstBin& bin, int pin) override;
    void RemovePinElements(GstBin& bin, int pin) override;

    HResult GetFormat(CaptureSettings& format) override;
    HResult SetFormat(const CaptureSettings& format) override;

    HResult PrepareToRun() override;
    HResult StartStreaming() override { return hr::kOk; }
    void StopStreaming() override {}

    HResult GetPropertyRange(int property, PropertyRange& range) override;
    HResult GetProperty(int property, int& value, int& flags) override;
    HResult SetProperty(int property, int value, int flags) override;
    HResult GetNorm(int& norm) override;
    HResult SetNorm(int norm) override;
    int VideoInputCount() override { return inputCount_; }

private:
    V4l2CaptureSource(std::string nodePath, std::unique_ptr<v4l2::Device> device);
    // The device's format at bind time, or the first one GStreamer can take.
    CaptureSettings InitialFormat();
    bool Offers(std::uint32_t v4l2Fourcc, int width, int height) const;

    std::string nodePath_;
    std::unique_ptr<v4l2::Device> device_;
    V4l2DeviceControls controls_;  // over device_
    std::vector<v4l2::PixelFormat> formats_;
    int inputCount_ = 0;
    CaptureSettings format_;
    ElementPtr pinBin_;  // v4l2src → capsfilter (→ jpegdec), while in the pipeline
    GstElement* capsFilter_ = nullptr;  // inside pinBin_
};

}  // namespace gstcapture
