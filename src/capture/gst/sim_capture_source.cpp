#include "capture/gst/sim_capture_source.h"

#include <gst/app/gstappsrc.h>

#include <algorithm>

namespace gstcapture {

namespace {

constexpr int kMaxFramesPerSecond = 60;
constexpr guint kQueuedFrames = 2;  // the newest frames win when the graph falls behind

CapsPtr Yuy2Caps(int width, int height, int framesPerSecond) {
    return CapsPtr(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "YUY2", "width",
                                       G_TYPE_INT, width, "height", G_TYPE_INT, height, "framerate",
                                       GST_TYPE_FRACTION, framesPerSecond, 1, "pixel-aspect-ratio",
                                       GST_TYPE_FRACTION, 1, 1, nullptr));
}

}  // namespace

SimCaptureSource::SimCaptureSource(sim::SimulatedMicroscope& microscope, GraphEventQueue& events)
    : microscope_(microscope), events_(events), controls_(microscope, microscope.identity()) {
    // The device starts in the size every kind offers.
    const std::vector<FrameSize> sizes = microscope_.FrameSizes();
    FrameSize start{640, 480};
    if (!sizes.empty() && std::find(sizes.begin(), sizes.end(), start) == sizes.end()) {
        start = sizes.front();
    }
    format_ = MakeCaptureSettings(start.width, start.height, kFourccYuy2, 16,
                                  10000000 / sim::SimulatedMicroscope::kFramesPerSecond);
}

SimCaptureSource::~SimCaptureSource() {
    StopStreaming();
}

int SimCaptureSource::OutputPinCount() const {
    return microscope_.hasStillPin() ? 2 : 1;
}

GstElement* SimCaptureSource::AddPinElements(GstBin& bin, int pin) {
    if (pin < 0 || pin >= OutputPinCount()) {
        return nullptr;
    }
    StopStreaming();
    RemovePinElements(bin, pin);
    ElementPtr source = MakeElement("appsrc", pin == kCapturePin ? "SimCapture" : "SimStill");
    if (!source) {
        return nullptr;
    }
    g_object_set(source.get(), "is-live", TRUE, "format", GST_FORMAT_TIME, "do-timestamp", TRUE,
                 "block", FALSE, "max-bytes", static_cast<guint64>(0), "max-buffers",
                 static_cast<guint64>(kQueuedFrames), "leaky-type", GST_APP_LEAKY_TYPE_DOWNSTREAM,
                 nullptr);
    if (!gst_bin_add(&bin, source.get())) {
        return nullptr;
    }
    // The bin holds its own reference; ours is for feeding.
    pinSources_[static_cast<std::size_t>(pin)] = std::move(source);
    PrepareToRun();
    return pinSources_[static_cast<std::size_t>(pin)].get();
}

void SimCaptureSource::RemovePinElements(GstBin& bin, int pin) {
    if (pin < 0 || pin >= static_cast<int>(pinSources_.size())) {
        return;
    }
    StopStreaming();
    ElementPtr& source = pinSources_[static_cast<std::size_t>(pin)];
    if (source) {
        gst_element_set_state(source.get(), GST_STATE_NULL);
        gst_bin_remove(&bin, source.get());
        source.reset();
    }
}

HResult SimCaptureSource::GetFormat(CaptureSettings& format) {
    format = format_;
    return hr::kOk;
}

HResult SimCaptureSource::SetFormat(const CaptureSettings& format) {
    if (format.biCompression != kFourccYuy2 || format.biBitCount != 16) {
        return hr::kInvalidMediaType;
    }
    if (!microscope_.SupportsSize(format.biWidth, format.biHeight)) {
        return hr::kInvalidMediaType;
    }
    format_ = MakeCaptureSettings(format.biWidth, format.biHeight, kFourccYuy2, 16,
                                  format.AvgTimePerFrame);
    return hr::kOk;
}

HResult SimCaptureSource::PrepareToRun() {
    const int framesPerSecond = FramesPerSecondOf(format_, kMaxFramesPerSecond);
    for (std::size_t pin = 0; pin < pinSources_.size(); ++pin) {
        if (pinSources_[pin]) {
            // The still pin sends frames only when asked: a variable rate.
            const int rate = pin == kCapturePin ? framesPerSecond : 0;
            CapsPtr caps = Yuy2Caps(format_.biWidth, format_.biHeight, rate);
            gst_app_src_set_caps(GST_APP_SRC(pinSources_[pin].get()), caps.get());
        }
    }
    return hr::kOk;
}

HResult SimCaptureSource::StartStreaming() {
    if (stream_) {
        return hr::kOk;
    }
    streamWidth_.store(format_.biWidth);
    streamHeight_.store(format_.biHeight);
    stream_ = microscope_.Start(FrameSize{format_.biWidth, format_.biHeight},
                                FramesPerSecondOf(format_, kMaxFramesPerSecond), *this);
    if (!stream_) {
        return microscope_.plugged() ? hr::kFail : hr::kDeviceRemoved;
    }
    return hr::kOk;
}

void SimCaptureSource::StopStreaming() {
    // Destroying the stream waits for a frame being handed over.
    stream_.reset();
}

void SimCaptureSource::OnFrame(const std::uint8_t* yuy2, std::size_t sizeBytes, int width,
                               int height, std::uint64_t index, std::int64_t) {
    Push(kCapturePin, yuy2, sizeBytes, width, height, index);
}

void SimCaptureSource::OnStillFrame(const std::uint8_t* yuy2, std::size_t sizeBytes, int width,
                                    int height, std::uint64_t, std::int64_t) {
    Push(kStillPin, yuy2, sizeBytes, width, height, std::nullopt);
}

void SimCaptureSource::OnUnplugged() {
    events_.Post(kEventDeviceLost, 0, 0);
}

void SimCaptureSource::Push(int pin, const std::uint8_t* yuy2, std::size_t sizeBytes, int width,
                            int height, std::optional<std::uint64_t> index) {
    GstElement* source = pinSources_[static_cast<std::size_t>(pin)].get();
    const std::size_t expected = static_cast<std::size_t>(std::max(width, 0)) * 2u *
                                 static_cast<std::size_t>(std::max(height, 0));
    if (source == nullptr || yuy2 == nullptr || width != streamWidth_.load() ||
        height != streamHeight_.load() || sizeBytes < expected || expected == 0) {
        return;
    }
    GstBuffer* buffer = gst_buffer_new_memdup(yuy2, expected);
    if (buffer != nullptr) {
        // Numbered as a V4L2 driver numbers its frames, so gaps show as dropped frames.
        if (index) {
            GST_BUFFER_OFFSET(buffer) = *index;
            GST_BUFFER_OFFSET_END(buffer) = *index + 1;
        }
        // Takes the buffer; refused only while the pipeline does not play.
        gst_app_src_push_buffer(GST_APP_SRC(source), buffer);
    }
}

HResult SimCaptureSource::GetPropertyRange(int property, PropertyRange& range) {
    return controls_.GetPropertyRange(property, range);
}

HResult SimCaptureSource::GetProperty(int property, int& value, int& flags) {
    const HResult result = controls_.GetProperty(property, value);
    if (Succeeded(result)) {
        flags = kPropertyFlagManual;
    }
    return result;
}

HResult SimCaptureSource::SetProperty(int property, int value, int) {
    return controls_.SetProperty(property, value);
}

HResult SimCaptureSource::GetNorm(int& norm) {
    return controls_.GetNorm(norm);
}

HResult SimCaptureSource::SetNorm(int norm) {
    return controls_.SetNorm(norm);
}

int SimCaptureSource::VideoInputCount() {
    return static_cast<int>(microscope_.Inputs().size());
}

}  // namespace gstcapture
