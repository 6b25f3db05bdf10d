// The V4L2 node as a capture filter: its format record and the caps v4l2src gets, over a
// scripted node.
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "capture/gst/v4l2_capture_source.h"

namespace gsttest {
namespace {

struct ScriptedFormat {
    std::uint32_t fourcc = 0;
    std::vector<FrameSize> sizes;
};

// A capture node with a format list, a current format and a frame interval; every other
// request is unknown to it.
class ScriptedNode final : public v4l2::DeviceIo {
public:
    ScriptedNode(std::vector<ScriptedFormat> formats, std::uint32_t currentFourcc, int width,
                 int height)
        : formats_(std::move(formats)), fourcc_(currentFourcc), width_(width), height_(height) {}

    int Ioctl(unsigned long request, void* argument) override {
        switch (request) {
            case VIDIOC_QUERYCAP: {
                auto* capability = static_cast<v4l2_capability*>(argument);
                capability->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
                return 0;
            }
            case VIDIOC_ENUM_FMT: {
                auto* description = static_cast<v4l2_fmtdesc*>(argument);
                if (description->index >= formats_.size()) {
                    return EINVAL;
                }
                description->pixelformat = formats_[description->index].fourcc;
                return 0;
            }
            case VIDIOC_ENUM_FRAMESIZES:
                return EnumFrameSizes(*static_cast<v4l2_frmsizeenum*>(argument));
            case VIDIOC_G_FMT: {
                auto* format = static_cast<v4l2_format*>(argument);
                format->fmt.pix.pixelformat = fourcc_;
                format->fmt.pix.width = static_cast<std::uint32_t>(width_);
                format->fmt.pix.height = static_cast<std::uint32_t>(height_);
                return 0;
            }
            case VIDIOC_G_PARM: {
                auto* parameters = static_cast<v4l2_streamparm*>(argument);
                parameters->parm.capture.timeperframe = v4l2_fract{1, 15};
                return 0;
            }
            default:
                return EINVAL;
        }
    }

private:
    int EnumFrameSizes(v4l2_frmsizeenum& size) const {
        for (const ScriptedFormat& format : formats_) {
            if (format.fourcc == size.pixel_format && size.index < format.sizes.size()) {
                size.type = V4L2_FRMSIZE_TYPE_DISCRETE;
                size.discrete.width = static_cast<std::uint32_t>(format.sizes[size.index].width);
                size.discrete.height = static_cast<std::uint32_t>(format.sizes[size.index].height);
                return 0;
            }
        }
        return EINVAL;
    }

    std::vector<ScriptedFormat> formats_;
    std::uint32_t fourcc_;
    int width_;
    int height_;
};

const std::vector<ScriptedFormat> kCameraFormats = {
    {V4L2_PIX_FMT_MJPEG, {{1280, 720}, {640, 480}}},
    {V4L2_PIX_FMT_YUYV, {{640, 480}, {320, 240}}},
};

std::unique_ptr<gstcapture::V4l2CaptureSource> SourceOver(std::uint32_t currentFourcc, int width,
                                                          int height) {
    auto node = std::make_unique<ScriptedNode>(kCameraFormats, currentFourcc, width, height);
    return gstcapture::V4l2CaptureSource::Wrap("/dev/video7",
                                               v4l2::Device::OpenWith(std::move(node)));
}

// The caps the pin's filter holds, as text.
std::string PinCaps(GstElement* pinBin) {
    gstcapture::ElementPtr filter(gst_bin_get_by_name(GST_BIN(pinBin), "V4l2Caps"));
    if (!filter) {
        return {};
    }
    GstCaps* raw = nullptr;
    g_object_get(filter.get(), "caps", &raw, nullptr);
    gstcapture::CapsPtr caps(raw);
    gstcapture::GCharPtr text(caps ? gst_caps_to_string(caps.get()) : nullptr);
    return text ? text.get() : "";
}

TEST(GstV4l2Source, RecordsTheNodesFormatWithYuyvAsYuy2) {
    std::unique_ptr<gstcapture::V4l2CaptureSource> source = SourceOver(V4L2_PIX_FMT_YUYV, 640, 480);
    ASSERT_TRUE(source);
    CaptureSettings format;
    ASSERT_EQ(source->GetFormat(format), hr::kOk);
    EXPECT_EQ(format.biCompression, kFourccYuy2);
    EXPECT_EQ(format.biBitCount, 16);
    EXPECT_EQ(format.biWidth, 640);
    EXPECT_EQ(format.biHeight, 480);
    EXPECT_EQ(format.biSizeImage, 640u * 480u * 2u);
    EXPECT_EQ(format.AvgTimePerFrame, 666666);  // 1/15 s
    EXPECT_EQ(source->OutputPinCount(), 1);
}

TEST(GstV4l2Source, UnhandledCurrentFormatFallsBackToTheFirstHandledOne) {
    std::unique_ptr<gstcapture::V4l2CaptureSource> source =
        SourceOver(v4l2_fourcc('H', '2', '6', '4'), 1920, 1080);
    ASSERT_TRUE(source);
    CaptureSettings format;
    ASSERT_EQ(source->GetFormat(format), hr::kOk);
    EXPECT_EQ(format.biCompression, V4L2_PIX_FMT_MJPEG);
    EXPECT_EQ(format.biWidth, 1280);
    EXPECT_EQ(format.biHeight, 720);
}

TEST(GstV4l2Source, AcceptsOnlyListedSizesAndPutsThemOnTheCaps) {
    ASSERT_TRUE(gstcapture::EnsureGstInitialized());
    std::unique_ptr<gstcapture::V4l2CaptureSource> source = SourceOver(V4L2_PIX_FMT_YUYV, 640, 480);
    ASSERT_TRUE(source);
    CaptureSettings format;
    ASSERT_EQ(source->GetFormat(format), hr::kOk);
    format.biWidth = 1280;  // offered as MJPG only
    format.biHeight = 720;
    EXPECT_EQ(source->SetFormat(format), hr::kInvalidMediaType);
    format.biWidth = 320;
    format.biHeight = 240;
    format.AvgTimePerFrame = 0;
    ASSERT_EQ(source->SetFormat(format), hr::kOk);

    gstcapture::ElementPtr pipeline(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
    GstElement* pin = source->AddPinElements(*GST_BIN(pipeline.get()), 0);
    ASSERT_NE(pin, nullptr);
    EXPECT_EQ(source->AddPinElements(*GST_BIN(pipeline.get()), 1), nullptr);
    gstcapture::ElementPtr v4l2src(gst_bin_get_by_name(GST_BIN(pin), "V4l2Source"));
    ASSERT_TRUE(v4l2src);
    gchar* rawDevice = nullptr;
    g_object_get(v4l2src.get(), "device", &rawDevice, nullptr);
    gstcapture::GCharPtr device(rawDevice);
    EXPECT_STREQ(device.get(), "/dev/video7");
    // The record's rate first, any rate the device has second.
    EXPECT_EQ(PinCaps(pin),
              "video/x-raw, width=(int)320, height=(int)240, format=(string)YUY2, "
              "framerate=(fraction)30/1; video/x-raw, width=(int)320, height=(int)240, "
              "format=(string)YUY2");

    // A compressed format is decoded behind the source.
    format.biCompression = V4L2_PIX_FMT_MJPEG;
    format.biWidth = 1280;
    format.biHeight = 720;
    ASSERT_EQ(source->SetFormat(format), hr::kOk);
    pin = source->AddPinElements(*GST_BIN(pipeline.get()), 0);
    ASSERT_NE(pin, nullptr);
    EXPECT_EQ(PinCaps(pin).rfind("image/jpeg, width=(int)1280, height=(int)720", 0), 0u);
    gstcapture::ElementPtr decoder(gst_bin_get_by_name(GST_BIN(pin), "V4l2Decoder"));
    EXPECT_TRUE(decoder);
    source->RemovePinElements(*GST_BIN(pipeline.get()), 0);
    EXPECT_EQ(GST_BIN(pipeline.get())->numchildren, 0);
}

}  // namespace
}  // namespace gsttest
