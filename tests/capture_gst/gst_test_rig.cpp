#include "gst_test_rig.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cstring>

#include "capture/gst/gst_handles.h"

namespace gsttest {

void RecordingTarget::Post(EngineMessage message, int value) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        posts_.push_back(Posted{message, value});
    }
    changed_.notify_all();
}

bool RecordingTarget::WaitFor(const std::function<bool(const Posted&)>& match, int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] {
        return std::count_if(posts_.begin(), posts_.end(), match) >= count;
    });
}

int RecordingTarget::Count(const std::function<bool(const Posted&)>& match) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count_if(posts_.begin(), posts_.end(), match));
}

std::optional<std::uint32_t> TopRowIndex(const std::uint8_t* bottomUp, int width, int height) {
    if (bottomUp == nullptr || width <= 0 || height <= 0) {
        return std::nullopt;
    }
    return sim::ReadFrameIndexBgr(
        bottomUp + static_cast<std::size_t>(height - 1) * BgrRowBytes(width), width);
}

std::vector<std::uint8_t> BottomUpBgrOf(const std::uint8_t* yuy2, int width, int height) {
    using gstcapture::ElementPtr;
    if (!gstcapture::EnsureGstInitialized()) {
        return {};
    }
    // video-direction, not the older method: given in a launch line on GStreamer 1.22,
    // method=vertical-flip leaves the rows as they are.
    ElementPtr pipeline(GST_ELEMENT(gst_object_ref_sink(
        gst_parse_launch("appsrc name=in format=time ! videoconvert ! videoflip "
                         "video-direction=vert ! video/x-raw,format=BGR ! appsink name=out "
                         "sync=false",
                         nullptr))));
    if (!pipeline) {
        return {};
    }
    ElementPtr in(gst_bin_get_by_name(GST_BIN(pipeline.get()), "in"));
    ElementPtr out(gst_bin_get_by_name(GST_BIN(pipeline.get()), "out"));
    // The caps the simulated microscope's capture pin sends.
    gstcapture::CapsPtr caps(
        gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "YUY2", "width", G_TYPE_INT,
                            width, "height", G_TYPE_INT, height, "framerate", GST_TYPE_FRACTION, 30,
                            1, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr));
    gst_app_src_set_caps(GST_APP_SRC(in.get()), caps.get());
    std::vector<std::uint8_t> rows;
    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
        const std::size_t yuy2Bytes = 2u * static_cast<std::size_t>(width) * height;
        GstBuffer* buffer = gst_buffer_new_memdup(yuy2, yuy2Bytes);
        GST_BUFFER_PTS(buffer) = 0;
        gst_app_src_push_buffer(GST_APP_SRC(in.get()), buffer);
        gst_app_src_end_of_stream(GST_APP_SRC(in.get()));
        gstcapture::SamplePtr sample(gst_app_sink_pull_sample(GST_APP_SINK(out.get())));
        GstVideoInfo info;
        GstVideoFrame frame;
        if (sample && gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get())) &&
            gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample.get()), GST_MAP_READ)) {
            const std::size_t rowBytes = BgrRowBytes(width);
            const auto* data =
                static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
            const std::size_t stride =
                static_cast<std::size_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0));
            rows.assign(rowBytes * static_cast<std::size_t>(height), 0);
            for (int row = 0; row < height; ++row) {
                std::memcpy(rows.data() + rowBytes * static_cast<std::size_t>(row),
                            data + stride * static_cast<std::size_t>(row),
                            static_cast<std::size_t>(width) * 3u);
            }
            gst_video_frame_unmap(&frame);
        }
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return rows;
}

int FrameRecorder::DrawFrame(const std::uint8_t* buffer, std::size_t lengthBytes, int width,
                             int height) {
    DrawnFrame frame{width, height, lengthBytes, std::nullopt};
    if (lengthBytes >=
        static_cast<std::size_t>(BgrRowBytes(width)) * static_cast<std::size_t>(height)) {
        frame.index = sim::ReadFrameIndexBgr(buffer, width);  // rows top-down
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        frames_.push_back(frame);
    }
    changed_.notify_all();
    return 1;
}

bool FrameRecorder::WaitForFrames(std::size_t count, std::size_t after) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return frames_.size() >= after + count; });
}

std::vector<DrawnFrame> FrameRecorder::Frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
}

std::size_t FrameRecorder::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_.size();
}

EngineRig::EngineRig(sim::Options options) : microscope(options) {
    engine.SetMessageTarget(&target);  // after the session pointed them at itself
    engine.SetCapConfigPath(folder / "CapConfig.dat");
    engine.frameCallback().SetDrawer(&frames);
}

EngineRig::~EngineRig() {
    engine.StopGraph();
    engine.TearDownGraph();
}

bool EngineRig::Start() {
    return Succeeded(engine.CreateDeviceEnumerator()) && engine.DiscoverDevices() == 1 &&
           engine.BuildGraph() == 1 && engine.PreparePreview() == 1 && engine.RunGraph() == 1;
}

}  // namespace gsttest
