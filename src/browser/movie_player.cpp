#include "browser/movie_player.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <span>
#include <utility>

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define DM_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define DM_THREAD_SANITIZER 1
#endif
#ifdef DM_THREAD_SANITIZER
#include <sanitizer/tsan_interface.h>
#endif

#include "app/debug_trace.h"
#include "browser/avi_video_codec.h"
#include "output/jpeg_codec.h"

namespace {

// playbin's flags: video only (no sound, no subtitles), and no conversion of its own; the
// video sink below converts once, to the view's format.
constexpr guint kPlayFlagVideo = 0x1;
constexpr guint kPlayFlagNativeVideo = 0x40;

// How long a state change may take before the player gives up waiting. Opening includes
// finding the decoder and decoding the first frame.
constexpr GstClockTime kOpenWait = 10 * GST_SECOND;
constexpr GstClockTime kStateWait = 5 * GST_SECOND;

constexpr std::size_t kMaxQueuedEvents = 64;

// A played frame's bits, mapped for as long as an image shows them.
struct MappedFrame {
    GstSample* sample = nullptr;
    GstVideoFrame frame{};
};

void ReleaseMappedFrame(void* data) {
    auto* mapped = static_cast<MappedFrame*>(data);
    gst_video_frame_unmap(&mapped->frame);
    gst_sample_unref(mapped->sample);
    delete mapped;
}

// An image over the bits of a decoded frame, without a copy; takes the sample's reference.
// Null when the sample holds no frame of the negotiated format.
QImage ImageOfSample(GstSample* sample) {
    GstVideoInfo info;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstCaps* caps = gst_sample_get_caps(sample);
    auto* mapped = new MappedFrame;
    mapped->sample = sample;
    if (buffer == nullptr || caps == nullptr || !gst_video_info_from_caps(&info, caps) ||
        GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_BGRx ||
        !gst_video_frame_map(&mapped->frame, &info, buffer, GST_MAP_READ)) {
        gst_sample_unref(sample);
        delete mapped;
        return {};
    }
    const GstVideoFrame& frame = mapped->frame;
    return QImage(static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                  GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame),
                  GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), QImage::Format_RGB32, ReleaseMappedFrame,
                  mapped);
}

// The JPEG picture in the sample, decoded for showing it `shown` large.
IoResult DecodeJpegSample(GstSample* sample, QSize shown, QImage& image) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (buffer == nullptr || !gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        return IoResult(EBADMSG, "a frame without data");
    }
    IoResult result = JpegToFrame(std::span<const std::uint8_t>(map.data, map.size), shown, image);
    gst_buffer_unmap(buffer, &map);
    return result;
}

// GStreamer hands its streaming threads their work through GLib's own locks, which
// ThreadSanitizer cannot see, and takes those threads from a pool, so that they may be older
// than the player. The UI thread marks the hand-over on the player before it starts the
// pipeline, and the callbacks take it up before they touch the player: everything done before
// the start (the player's construction among it) is then seen to come first. Nothing
// outside ThreadSanitizer's builds.
void HandOverToStreamingThreads([[maybe_unused]] CMoviePlayer* player) {
#ifdef DM_THREAD_SANITIZER
    __tsan_release(player);
#endif
}

void TakeOverFromUiThread([[maybe_unused]] CMoviePlayer* player) {
#ifdef DM_THREAD_SANITIZER
    __tsan_acquire(player);
#endif
}

double Seconds(gint64 nanoseconds) {
    return static_cast<double>(nanoseconds) / static_cast<double>(GST_SECOND);
}

}  // namespace

QEvent::Type PlayerEvent::Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

// The playbin and its callbacks. The callbacks run on GStreamer's threads and only queue.
struct CMoviePlayer::Pipeline {
    GstElement* playbin = nullptr;  // owned
    GstElement* sink = nullptr;     // the appsink, inside playbin
    GstPad* videoPad = nullptr;     // owned; where the frames enter the video sink
    bool jpegFrames = false;        // the sink takes JPEG pictures, which the player decodes

    Pipeline() = default;
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;
    ~Pipeline() {
        if (playbin == nullptr) {
            return;
        }
        // Returns once no streaming thread runs; no callback comes after it.
        gst_element_set_state(playbin, GST_STATE_NULL);
        GstBus* bus = gst_element_get_bus(playbin);
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_object_unref(bus);
        gst_object_unref(videoPad);
        gst_object_unref(playbin);
    }

    // Builds playbin for `uri` with an appsink as its video sink. With `jpegFrames` (a
    // Motion-JPEG file) the sink takes the JPEG pictures themselves, which the player decodes
    // at the size shown; otherwise the sink scales and converts the decoded frames: scaled
    // first, in the decoder's format, then converted at the size shown. False when an
    // element is not installed.
    bool Build(const char* uri, bool jpegPictures, CMoviePlayer* owner) {
        playbin = gst_element_factory_make("playbin", nullptr);
        sink = gst_element_factory_make("appsink", nullptr);
        GstElement* scale =
            jpegPictures ? nullptr : gst_element_factory_make("videoscale", nullptr);
        GstElement* convert =
            jpegPictures ? nullptr : gst_element_factory_make("videoconvert", nullptr);
        if (playbin == nullptr || sink == nullptr ||
            (!jpegPictures && (scale == nullptr || convert == nullptr))) {
            for (GstElement* element : {playbin, scale, convert, sink}) {
                if (element != nullptr) {
                    gst_object_unref(gst_object_ref_sink(element));
                }
            }
            playbin = nullptr;
            sink = nullptr;
            return false;
        }
        gst_object_ref_sink(playbin);
        GstElement* videoSink = sink;
        if (jpegPictures) {
            // playbin stops looking for elements where the sink takes what comes: no decoder.
            GstCaps* caps = gst_caps_new_empty_simple("image/jpeg");
            g_object_set(sink, "caps", caps, nullptr);
            gst_caps_unref(caps);
            videoPad = gst_element_get_static_pad(sink, "sink");
        } else {
            videoSink = gst_bin_new("playersink");
            gst_bin_add_many(GST_BIN(videoSink), scale, convert, sink, nullptr);
            gst_element_link_many(scale, convert, sink, nullptr);
            videoPad = gst_element_get_static_pad(scale, "sink");
            gst_element_add_pad(videoSink, gst_ghost_pad_new("sink", videoPad));
            // Nearest neighbour, as the live picture is scaled; no borders, as the view keeps
            // the aspect ratio itself.
            g_object_set(scale, "method", 0, "add-borders", FALSE, nullptr);
            SetFrameSize(QSize());
        }
        jpegFrames = jpegPictures;
        // In time with the clock; one buffer kept at most, none beyond the one shown.
        g_object_set(sink, "sync", TRUE, "max-buffers", 1u, "enable-last-sample", FALSE, nullptr);
        GstAppSinkCallbacks callbacks{};
        callbacks.new_preroll = OnNewPreroll;
        callbacks.new_sample = OnNewSample;
        callbacks.eos = OnEndOfStream;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, owner, nullptr);

        g_object_set(playbin, "uri", uri, "video-sink", videoSink, "flags",
                     kPlayFlagVideo | kPlayFlagNativeVideo, nullptr);
        GstBus* bus = gst_element_get_bus(playbin);
        gst_bus_set_sync_handler(bus, OnBusMessage, owner, nullptr);
        gst_object_unref(bus);
        return true;
    }

    // Decoded frames: the caps the sink takes, 32-bit frames of `size`, or of the video's own
    // size.
    void SetFrameSize(QSize size) const {
        GstCaps* caps =
            gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", nullptr);
        if (!size.isEmpty()) {
            gst_caps_set_simple(caps, "width", G_TYPE_INT, size.width(), "height", G_TYPE_INT,
                                size.height(), nullptr);
        }
        g_object_set(sink, "caps", caps, nullptr);
        gst_caps_unref(caps);
        // The scaler takes the new size at its next frame.
        GstPad* pad = gst_element_get_static_pad(sink, "sink");
        gst_pad_push_event(pad, gst_event_new_reconfigure());
        gst_object_unref(pad);
    }

    // The size of the frames that enter the sink, as their stream tells it; empty before the
    // first.
    QSize VideoSize() const {
        GstCaps* caps = gst_pad_get_current_caps(videoPad);
        QSize size;
        if (caps != nullptr && !gst_caps_is_empty(caps)) {
            const GstStructure* structure = gst_caps_get_structure(caps, 0);
            int width = 0;
            int height = 0;
            if (gst_structure_get_int(structure, "width", &width) &&
                gst_structure_get_int(structure, "height", &height) && width > 0 && height > 0) {
                size = QSize(width, height);
            }
        }
        if (caps != nullptr) {
            gst_caps_unref(caps);
        }
        return size;
    }

    // The end of the file, once the sink has played its last frame. The pipeline's own end
    // message is not used: the bins lose it when the sink ends while they are still on their
    // way to playing, as after a seek to the end.
    static void OnEndOfStream(GstAppSink* /*sink*/, gpointer data) {
        auto* player = static_cast<CMoviePlayer*>(data);
        TakeOverFromUiThread(player);
        std::lock_guard<std::mutex> lock(player->mutex_);
        player->sinkAtEnd_ = true;
        if (player->running_) {
            player->ReportEndLocked();
        }
    }

    // Errors become events; every message is dropped, so the bus never fills.
    static GstBusSyncReply OnBusMessage(GstBus* /*bus*/, GstMessage* message, gpointer data) {
        auto* player = static_cast<CMoviePlayer*>(data);
        TakeOverFromUiThread(player);
        switch (GST_MESSAGE_TYPE(message)) {
            case GST_MESSAGE_ERROR: {
                GError* error = nullptr;
                gchar* debug = nullptr;
                gst_message_parse_error(message, &error, &debug);
                DebugTrace(0, "Playback error: %s (%s)\n", error != nullptr ? error->message : "",
                           debug != nullptr ? debug : "");
                {
                    std::lock_guard<std::mutex> lock(player->mutex_);
                    if (player->lastError_.empty() && error != nullptr) {
                        player->lastError_ = error->message;
                    }
                    player->QueueEventLocked(playerevent::kErrorAbort);
                }
                g_clear_error(&error);
                g_free(debug);
                break;
            }
            default:
                break;
        }
        return GST_BUS_DROP;
    }

    static GstFlowReturn OnNewPreroll(GstAppSink* sink, gpointer data) {
        TakeSample(static_cast<CMoviePlayer*>(data), gst_app_sink_pull_preroll(sink));
        return GST_FLOW_OK;
    }
    static GstFlowReturn OnNewSample(GstAppSink* sink, gpointer data) {
        TakeSample(static_cast<CMoviePlayer*>(data), gst_app_sink_pull_sample(sink));
        return GST_FLOW_OK;
    }

    // Makes the frame of the sample, keeps it as the newest and asks the UI thread to show
    // it, with at most one request pending. A JPEG picture that cannot be decoded is
    // skipped, its words kept for Open.
    static void TakeSample(CMoviePlayer* player, GstSample* pulled) {
        if (pulled == nullptr) {
            return;
        }
        TakeOverFromUiThread(player);
        QImage frame;
        bool jpegFrames = false;
        QSize shown;
        {
            std::lock_guard<std::mutex> lock(player->mutex_);
            jpegFrames = player->jpegFrames_;
            shown = player->decodeSize_;
        }
        if (jpegFrames) {
            const IoResult decoded = DecodeJpegSample(pulled, shown, frame);
            gst_sample_unref(pulled);
            if (!decoded) {
                std::lock_guard<std::mutex> lock(player->mutex_);
                if (player->frameError_.empty()) {
                    player->frameError_ = decoded.detail().empty() ? std::strerror(decoded.error())
                                                                   : decoded.detail();
                    DebugTrace(0, "Playback: a frame cannot be decoded: %s\n",
                               player->frameError_.c_str());
                }
                return;
            }
        } else {
            // appsink reuses the samples it hands out when nobody else holds them: the frame
            // is kept in a sample of our own.
            GstSample* sample = gst_sample_new(gst_sample_get_buffer(pulled),
                                               gst_sample_get_caps(pulled), nullptr, nullptr);
            gst_sample_unref(pulled);
            frame = ImageOfSample(sample);
            if (frame.isNull()) {
                return;
            }
        }
        std::lock_guard<std::mutex> lock(player->mutex_);
        player->newestFrame_ = std::move(frame);
        if (!std::exchange(player->frameDeliveryPending_, true)) {
            const std::uint64_t generation = player->generation_.load();
            QMetaObject::invokeMethod(
                player, [player, generation] { player->DeliverFrame(generation); },
                Qt::QueuedConnection);
        }
    }
};

CMoviePlayer::CMoviePlayer(QObject* parent) : QObject(parent) {}

CMoviePlayer::~CMoviePlayer() {
    Close();
}

void CMoviePlayer::SetWindows(QObject* notify, VideoView video) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        notifyTarget_ = notify;
    }
    video_ = std::move(video);
}

IoResult CMoviePlayer::Open(const std::string& path) {
    Close();
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return IoResult(errno);
    }
    if (!S_ISREG(status.st_mode)) {
        return IoResult(EINVAL);  // a pipe or a device would block or never end
    }
    GError* error = nullptr;
    if (!gst_init_check(nullptr, nullptr, &error)) {
        const std::string reason = error != nullptr ? error->message : "GStreamer cannot start";
        g_clear_error(&error);
        return IoResult(EIO, reason);
    }
    gchar* uri = gst_filename_to_uri(path.c_str(), &error);
    if (uri == nullptr) {
        const std::string reason = error != nullptr ? error->message : "no file URI";
        g_clear_error(&error);
        return IoResult(EINVAL, reason);
    }
    // A Motion-JPEG file is decoded by the player, at the size it is shown; should the
    // sink not take its frames after all, GStreamer decodes them.
    const bool jpegFrames = IsMotionJpegCodec(AviVideoCodec(path));
    IoResult opened = OpenPipeline(path, uri, jpegFrames);
    if (jpegFrames && opened.error() == EIO) {
        opened = OpenPipeline(path, uri, false);
    }
    g_free(uri);
    return opened;
}

IoResult CMoviePlayer::OpenPipeline(const std::string& path, const char* uri, bool jpegFrames) {
    Close();
    auto pipeline = std::make_unique<Pipeline>();
    frameSize_ = QSize();  // the video's own until its size is known
    if (!pipeline->Build(uri, jpegFrames, this)) {
        return IoResult(
            EIO, "GStreamer's playbin, videoscale, videoconvert or appsink is not installed");
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++generation_;
        lastError_.clear();
        frameError_.clear();
        jpegFrames_ = jpegFrames;
        decodeSize_ = QSize();
        sinkAtEnd_ = false;
        endReported_ = false;
    }
    pipeline_ = std::move(pipeline);
    path_ = path;
    HandOverToStreamingThreads(this);
    GstStateChangeReturn change = gst_element_set_state(pipeline_->playbin, GST_STATE_PAUSED);
    if (change != GST_STATE_CHANGE_FAILURE) {
        change = gst_element_get_state(pipeline_->playbin, nullptr, nullptr, kOpenWait);
    }
    std::string reason;
    bool framed = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reason = !lastError_.empty() ? lastError_ : frameError_;
        framed = !newestFrame_.isNull();
    }
    if (change == GST_STATE_CHANGE_FAILURE || (!reason.empty() && !framed)) {
        Close();
        DebugTrace(0, "Cannot play %s: %s\n", path.c_str(), reason.c_str());
        return IoResult(EIO, reason.empty() ? "the file cannot be played" : reason);
    }
    if (change == GST_STATE_CHANGE_ASYNC) {
        Close();
        DebugTrace(0, "Cannot play %s: no first frame in time\n", path.c_str());
        return IoResult(ETIMEDOUT);
    }
    videoSize_ = pipeline_->VideoSize();
    if (videoSize_.isEmpty()) {
        // Sound only, or no frame at all: nothing would ever be shown, nor end.
        Close();
        DebugTrace(0, "Cannot play %s: no video frames\n", path.c_str());
        return IoResult(EIO, "the file holds no video frames");
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.clear();
    }
    ApplyFrameSize();
    return {};
}

void CMoviePlayer::SetFrameSize(QSize shown) {
    shownSize_ = shown;
    ApplyFrameSize();
}

void CMoviePlayer::ApplyFrameSize() {
    if (!pipeline_) {
        return;
    }
    // Scaled down only, and never to nothing; a size of the video's own asks for no scaling.
    QSize wanted;
    if (!videoSize_.isEmpty() && !shownSize_.isEmpty() &&
        (shownSize_.width() < videoSize_.width() || shownSize_.height() < videoSize_.height())) {
        wanted = shownSize_.boundedTo(videoSize_).expandedTo(QSize(1, 1));
    }
    if (wanted == frameSize_) {
        return;
    }
    frameSize_ = wanted;
    if (pipeline_->jpegFrames) {
        std::lock_guard<std::mutex> lock(mutex_);
        decodeSize_ = wanted;
    } else {
        pipeline_->SetFrameSize(wanted);
    }
    bool running = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running = running_;
    }
    if (!running) {
        // The paused frame is made again at the new size.
        double position = -1.0;
        GetPosition(position);
        if (position >= 0.0) {
            SetPosition(position);
        }
    }
}

void CMoviePlayer::Close() {
    // No GStreamer thread runs once the pipeline is gone; the lock then orders whatever its
    // threads did before this.
    pipeline_.reset();
    path_.clear();
    framesShown_ = 0;
    videoSize_ = QSize();
    std::lock_guard<std::mutex> lock(mutex_);
    notifying_ = false;
    running_ = false;
    ++generation_;
    events_.clear();
    newestFrame_ = QImage();
    frameDeliveryPending_ = false;
}

void CMoviePlayer::Run() {
    if (!pipeline_) {
        return;
    }
    gst_element_set_state(pipeline_->playbin, GST_STATE_PLAYING);
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = true;
    // Events that came before it first ran are told now, one notice each.
    if (!std::exchange(notifying_, true) && notifyTarget_ != nullptr) {
        for (std::size_t i = 0; i < events_.size(); ++i) {
            QCoreApplication::postEvent(notifyTarget_, new PlayerEvent(generation_.load()));
        }
    }
    if (sinkAtEnd_) {
        ReportEndLocked();  // it stood at the end: the end comes at once
    }
}

void CMoviePlayer::ReportEndLocked() {
    if (!std::exchange(endReported_, true)) {
        QueueEventLocked(playerevent::kComplete);
    }
}

void CMoviePlayer::Pause() {
    if (!pipeline_) {
        return;
    }
    GstState state = GST_STATE_VOID_PENDING;
    GstState pending = GST_STATE_VOID_PENDING;
    gst_element_get_state(pipeline_->playbin, &state, &pending, kStateWait);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
    }
    if (state != GST_STATE_PAUSED || pending != GST_STATE_VOID_PENDING) {
        gst_element_set_state(pipeline_->playbin, GST_STATE_PAUSED);
        gst_element_get_state(pipeline_->playbin, nullptr, nullptr, kStateWait);
    }
}

void CMoviePlayer::Rewind() {
    SetPosition(0.0);
}

void CMoviePlayer::ToEnd() {
    double duration = -1.0;
    GetDuration(duration);
    if (duration >= 0.0) {
        SetPosition(duration);
    }
}

void CMoviePlayer::Forward() {
    StepBy(kStepSeconds);
}

void CMoviePlayer::Back() {
    StepBy(-kStepSeconds);
}

void CMoviePlayer::StepBy(double seconds) {
    double duration = -1.0;
    double position = -1.0;
    GetDuration(duration);
    GetPosition(position);
    if (duration >= 0.0 && position >= 0.0) {
        SetPosition(std::clamp(position + seconds, 0.0, duration));
    }
}

long CMoviePlayer::GetEvent() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!pipeline_ || events_.empty()) {
        return 0;
    }
    const long code = events_.front();
    events_.pop_front();
    return code;
}

void CMoviePlayer::GetDuration(double& seconds) const {
    gint64 duration = 0;
    if (pipeline_ && gst_element_query_duration(pipeline_->playbin, GST_FORMAT_TIME, &duration) &&
        duration > 0) {
        seconds = Seconds(duration);
    }
}

void CMoviePlayer::GetPosition(double& seconds) const {
    gint64 position = 0;
    if (pipeline_ && gst_element_query_position(pipeline_->playbin, GST_FORMAT_TIME, &position) &&
        position >= 0) {
        seconds = Seconds(position);
    }
}

void CMoviePlayer::SetPosition(double seconds) {
    if (!pipeline_ || !std::isfinite(seconds)) {
        return;
    }
    const auto target = static_cast<gint64>(std::llround(std::max(seconds, 0.0) * GST_SECOND));
    // Accurate, so that the frame shown is the one at the position, also between key frames;
    // waited for, so that the position reads back at once. The seek takes the sink away from
    // the end.
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sinkAtEnd_ = false;
        endReported_ = false;
    }
    if (gst_element_seek_simple(
            pipeline_->playbin, GST_FORMAT_TIME,
            static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), target)) {
        gst_element_get_state(pipeline_->playbin, nullptr, nullptr, kStateWait);
    }
}

std::string CMoviePlayer::lastError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
}

void CMoviePlayer::QueueEventLocked(long code) {
    if (events_.size() >= kMaxQueuedEvents) {
        return;
    }
    events_.push_back(code);
    if (notifying_ && notifyTarget_ != nullptr) {
        QCoreApplication::postEvent(notifyTarget_, new PlayerEvent(generation_.load()));
    }
}

void CMoviePlayer::DeliverFrame(std::uint64_t generation) {
    if (generation != generation_.load()) {
        return;  // a frame of a file closed since; the slot belongs to the open one
    }
    QImage frame;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        frame = std::exchange(newestFrame_, QImage());
        frameDeliveryPending_ = false;
    }
    if (frame.isNull() || !video_) {
        return;
    }
    ++framesShown_;
    video_(frame, videoSize_.isEmpty() ? frame.size() : videoSize_);
}
