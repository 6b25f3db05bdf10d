#include "capture/gst/grabber_chain.h"

#include <gst/video/video.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

namespace gstcapture {

namespace {

std::uint64_t ThreadCpuNanoseconds() {
    timespec now{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(now.tv_nsec);
}

// Adds `element` to `bin` (which takes its own reference) and links it behind `previous`.
bool AddAndLink(GstBin& bin, GstElement* previous, const ElementPtr& element) {
    if (!element || !gst_bin_add(&bin, element.get())) {
        return false;
    }
    return previous == nullptr || gst_element_link(previous, element.get());
}

bool AddGhostPad(GstElement* bin, GstElement* inner, const char* padName) {
    PadPtr target(gst_element_get_static_pad(inner, padName));
    if (!target) {
        return false;
    }
    GstPad* ghost = gst_ghost_pad_new(padName, target.get());
    return ghost != nullptr && gst_element_add_pad(bin, ghost);
}

// A frame mapped for reading, unmapped when the last holder lets go; the sample keeps the
// buffer (and its caps) alive until then.
struct MappedFrame {
    MappedFrame() = default;
    MappedFrame(const MappedFrame&) = delete;
    MappedFrame& operator=(const MappedFrame&) = delete;
    ~MappedFrame() {
        if (sample) {
            gst_video_frame_unmap(&frame);
        }
    }
    GstVideoFrame frame{};
    SamplePtr sample;
};

// After this no callback reaches the chain.
void ClearCallbacks(GstElement* sink) {
    GstAppSinkCallbacks none{};
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &none, nullptr, nullptr);
}

}  // namespace

bool RepackBgrRows(const std::uint8_t* source, std::size_t sourceStrideBytes, int width, int height,
                   std::vector<std::uint8_t>& packed) {
    const std::size_t pixelBytes = static_cast<std::size_t>(width) * 3u;
    if (source == nullptr || width <= 0 || height <= 0 || sourceStrideBytes < pixelBytes) {
        return false;
    }
    const std::size_t rowBytes = BgrRowBytes(width);
    const std::size_t rows = static_cast<std::size_t>(height);
    try {
        packed.resize(rowBytes * rows);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (std::size_t row = 0; row < rows; ++row) {
        std::uint8_t* target = packed.data() + row * rowBytes;
        std::memcpy(target, source + row * sourceStrideBytes, pixelBytes);
        std::memset(target + pixelBytes, 0, rowBytes - pixelBytes);
    }
    return true;
}

bool FrameRateCap::Pass(double seconds) {
    const int rate = rate_.load();
    if (rate <= 0) {
        return true;
    }
    const auto slot = static_cast<std::int64_t>(std::floor(seconds * rate + 0.25));
    if (!restart_.exchange(false) && slot <= lastSlot_) {
        return false;
    }
    lastSlot_ = slot;
    return true;
}

GrabberChain::~GrabberChain() {
    if (renderer_) {
        ClearCallbacks(renderer_.get());
    }
    WaitForDeliveries();
}

bool GrabberChain::Create() {
    if (grabber_) {
        return true;
    }
    ElementPtr bin(GST_ELEMENT(gst_object_ref_sink(gst_bin_new(nullptr))));
    ElementPtr queue = MakeElement("queue");
    ElementPtr convert = MakeElement("videoconvert");
    ElementPtr bgr = MakeElement("capsfilter");
    if (!bin || !queue || !convert || !bgr) {
        return false;
    }
    // Only the newest frame waits; an older one is dropped.
    g_object_set(queue.get(), "max-size-buffers", 1u, "max-size-bytes", 0u, "max-size-time",
                 static_cast<guint64>(0), nullptr);
    gst_util_set_object_arg(G_OBJECT(queue.get()), "leaky", "downstream");
    // Rows stay top-down as converted; whoever needs a bitmap's bottom-up rows turns them
    // while copying anyway (LatestFrame::BottomUpBytes).
    CapsPtr caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", nullptr));
    g_object_set(bgr.get(), "caps", caps.get(), nullptr);

    GstBin& grabberBin = *GST_BIN(bin.get());
    if (!AddAndLink(grabberBin, nullptr, queue) || !AddAndLink(grabberBin, queue.get(), convert) ||
        !AddAndLink(grabberBin, convert.get(), bgr) ||
        !AddGhostPad(bin.get(), queue.get(), "sink") || !AddGhostPad(bin.get(), bgr.get(), "src")) {
        return false;
    }
    grabber_ = std::move(bin);
    return true;
}

HResult GrabberChain::AddGrabberTo(GstBin& pipeline, const char* name) {
    if (!grabber_) {
        return hr::kPointer;
    }
    if (inGraph_) {
        return hr::kOk;
    }
    if (name != nullptr && !gst_object_set_name(GST_OBJECT(grabber_.get()), name)) {
        return hr::kFail;
    }
    if (!gst_bin_add(&pipeline, grabber_.get())) {
        return hr::kFail;  // another filter of that name
    }
    inGraph_ = true;
    return hr::kOk;
}

HResult GrabberChain::Render(GstBin& pipeline) {
    if (!inGraph_) {
        return hr::kWrongState;
    }
    if (rendererLinked_) {
        return hr::kAlreadyConnected;
    }
    if (!renderer_) {
        ElementPtr sink = MakeElement("appsink");
        if (!sink) {
            return hr::kFail;
        }
        g_object_set(sink.get(), "sync", FALSE, "async", FALSE, "max-buffers", 1u, "drop", TRUE,
                     "enable-last-sample", FALSE, "emit-signals", FALSE, "qos", FALSE, nullptr);
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = &GrabberChain::OnNewSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink.get()), &callbacks, this, nullptr);
        if (!gst_bin_add(&pipeline, sink.get())) {
            ClearCallbacks(sink.get());
            return hr::kFail;
        }
        renderer_ = std::move(sink);
    }
    if (!gst_element_link(grabber_.get(), renderer_.get())) {
        return hr::kNoAcceptableTypes;
    }
    rendererLinked_ = true;
    return hr::kOk;
}

bool GrabberChain::UnlinkRenderer() {
    if (!rendererLinked_) {
        return false;
    }
    gst_element_unlink(grabber_.get(), renderer_.get());
    rendererLinked_ = false;
    return true;
}

void GrabberChain::RemoveRenderer(GstBin& pipeline) {
    if (!renderer_) {
        return;
    }
    UnlinkRenderer();
    ClearCallbacks(renderer_.get());
    gst_element_set_state(renderer_.get(), GST_STATE_NULL);
    gst_bin_remove(&pipeline, renderer_.get());
    renderer_.reset();
}

void GrabberChain::RemoveFrom(GstBin& pipeline) {
    RemoveRenderer(pipeline);
    if (inGraph_) {
        gst_element_set_state(grabber_.get(), GST_STATE_NULL);
        gst_bin_remove(&pipeline, grabber_.get());  // also unlinks it from the capture pin
        inGraph_ = false;
    }
    upstreamPin_.reset();
}

void GrabberChain::Configure(bool oneShot, GrabberCallback* callback) {
    oneShot_.store(oneShot);
    delivered_.store(false);
    callback_.store(callback);
}

GrabberStats GrabberChain::Stats() const {
    return GrabberStats{frames_.load(), dropped_.load(), callbackCpuNanoseconds_.load()};
}

GstFlowReturn GrabberChain::OnNewSample(GstAppSink* sink, gpointer chain) {
    SamplePtr sample(gst_app_sink_pull_sample(sink));
    if (sample) {
        static_cast<GrabberChain*>(chain)->Deliver(sample.get());
    }
    return GST_FLOW_OK;
}

void GrabberChain::Deliver(GstSample* sample) {
    std::lock_guard<std::mutex> lock(deliveryMutex_);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    // A source that numbers its frames tells of those lost upstream; a number that goes back
    // is a new stream.
    if (buffer != nullptr && GST_BUFFER_OFFSET_IS_VALID(buffer)) {
        const std::uint64_t offset = GST_BUFFER_OFFSET(buffer);
        if (lastOffset_ && offset > *lastOffset_ + 1) {
            dropped_.fetch_add(offset - *lastOffset_ - 1);
        }
        lastOffset_ = offset;
    }
    // Frames beyond the chosen rate go no further.
    const GstClockTime time = buffer != nullptr ? GST_BUFFER_PTS(buffer) : GST_CLOCK_TIME_NONE;
    if (GST_CLOCK_TIME_IS_VALID(time) && !rateCap_.Pass(static_cast<double>(time) / GST_SECOND)) {
        return;
    }
    GrabberCallback* callback = callback_.load();
    if (callback == nullptr || (oneShot_.load() && delivered_.exchange(true))) {
        return;
    }
    GstCaps* caps = gst_sample_get_caps(sample);
    GstVideoInfo info;
    if (buffer == nullptr || caps == nullptr || !gst_video_info_from_caps(&info, caps) ||
        GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_BGR) {
        return;
    }
    auto mapped = std::make_shared<MappedFrame>();
    if (!gst_video_frame_map(&mapped->frame, &info, buffer, GST_MAP_READ)) {
        return;
    }
    mapped->sample.reset(gst_sample_ref(sample));
    const GstVideoFrame& frame = mapped->frame;
    const int width = GST_VIDEO_FRAME_WIDTH(&frame);
    const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    const auto* pixels = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const std::size_t rowBytes = BgrRowBytes(width);
    const std::size_t lengthBytes = rowBytes * static_cast<std::size_t>(height > 0 ? height : 0);
    const std::uint8_t* rows = pixels;
    // Rows laid out as the callback takes them are handed over mapped, with the sample kept
    // alive for as long as the callback holds on to them; others are repacked into a buffer
    // that is good for this call only.
    FrameKeeper keeper = mapped;
    if (stride < 0 || static_cast<std::size_t>(stride) != rowBytes) {
        keeper.reset();
        rows = stride > 0 && RepackBgrRows(pixels, static_cast<std::size_t>(stride), width, height,
                                           packed_)
                   ? packed_.data()
                   : nullptr;
    }
    if (rows != nullptr && lengthBytes > 0) {
        const double seconds =
            GST_CLOCK_TIME_IS_VALID(time) ? static_cast<double>(time) / GST_SECOND : 0.0;
        const std::uint64_t before = ThreadCpuNanoseconds();
        callback->BufferCB(seconds, rows, lengthBytes, keeper);
        callbackCpuNanoseconds_.fetch_add(ThreadCpuNanoseconds() - before);
        frames_.fetch_add(1);
    }
}

}  // namespace gstcapture
