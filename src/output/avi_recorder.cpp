#include "output/avi_recorder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "output/avi_salvage.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace {

struct CodecDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FormatDeleter {
    void operator()(AVFormatContext* f) const {
        if (f->pb != nullptr) {
            avio_closep(&f->pb);
        }
        avformat_free_context(f);
    }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ScaleDeleter {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

struct CodecInfo {
    AVCodecID id;
    const char* encoder;  // by name where FFmpeg has several for one id
    const char* fourcc;
    std::uint32_t tag;  // the stream's codec tag; 0 for DIB
};

constexpr std::uint32_t Tag(const char* f) {
    return static_cast<std::uint32_t>(f[0]) | static_cast<std::uint32_t>(f[1]) << 8 |
           static_cast<std::uint32_t>(f[2]) << 16 | static_cast<std::uint32_t>(f[3]) << 24;
}

CodecInfo Info(RecorderCodec codec) {
    switch (codec) {
        case RecorderCodec::MicrosoftVideo1:
            return {AV_CODEC_ID_MSVIDEO1, "msvideo1", "MSVC", Tag("MSVC")};
        case RecorderCodec::MotionJpeg:
            return {AV_CODEC_ID_MJPEG, "mjpeg", "MJPG", Tag("MJPG")};
        case RecorderCodec::UncompressedDib:
            return {AV_CODEC_ID_RAWVIDEO, "rawvideo", "DIB ", 0};
        case RecorderCodec::Ffv1:
            return {AV_CODEC_ID_FFV1, "ffv1", "FFV1", Tag("FFV1")};
        case RecorderCodec::HuffYuv:
            return {AV_CODEC_ID_HUFFYUV, "huffyuv", "HFYU", Tag("HFYU")};
        case RecorderCodec::Mpeg4:
            return {AV_CODEC_ID_MPEG4, "mpeg4", "FMP4", Tag("FMP4")};
        case RecorderCodec::H264:
            return {AV_CODEC_ID_H264, nullptr, "H264", Tag("H264")};
    }
    return {AV_CODEC_ID_NONE, nullptr, "", 0};
}

const AVCodec* FindEncoder(RecorderCodec codec) {
    const CodecInfo info = Info(codec);
    const AVCodec* found = info.encoder ? avcodec_find_encoder_by_name(info.encoder) : nullptr;
    return found ? found : avcodec_find_encoder(info.id);
}

AVPixelFormat EncoderPixelFormat(RecorderCodec codec, const AVCodec* encoder) {
    switch (codec) {
        case RecorderCodec::MicrosoftVideo1:
            return AV_PIX_FMT_RGB555LE;
        case RecorderCodec::MotionJpeg:
            return AV_PIX_FMT_YUVJ420P;
        case RecorderCodec::UncompressedDib:
            return AV_PIX_FMT_BGR24;
        case RecorderCodec::H264:
            return AV_PIX_FMT_YUV420P;  // the profile every player decodes
        default:
            break;
    }
    if (encoder->pix_fmts == nullptr) {
        return AV_PIX_FMT_YUV420P;
    }
    return avcodec_find_best_pix_fmt_of_list(encoder->pix_fmts, AV_PIX_FMT_BGR24, 0, nullptr);
}

// An FFmpeg error as an errno: its own errno where it carries one, else EIO.
int ErrnoOf(int averror) {
    const int e = AVUNERROR(averror);
    return (averror < 0 && e > 0 && e < 4096) ? e : EIO;
}

std::size_t BgrRowBytes(int width) {
    return (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
}

}  // namespace

std::string RecordingOpenMessage(RecordingOpenStep step, const IoResult& failure,
                                 int videoCounter) {
    char head[128];
    const auto code = static_cast<unsigned>(failure.error());
    switch (step) {
        case RecordingOpenStep::FrameFormat:
            std::snprintf(head, sizeof head, "Unsupport compressed format");
            break;
        case RecordingOpenStep::Encoder:
            std::snprintf(head, sizeof head, "Make compress stream failed(0x%08X:%d)", code,
                          videoCounter);
            break;
        case RecordingOpenStep::File:
            std::snprintf(head, sizeof head, "Open avi file failed(0x%08X:%d)", code, videoCounter);
            break;
        case RecordingOpenStep::None:
        case RecordingOpenStep::Container:
            std::snprintf(head, sizeof head, "Set stream format failed(0x%08X:%d)", code,
                          videoCounter);
            break;
    }
    std::string text = head;
    const std::string reason = failure.error() != 0 ? std::strerror(failure.error()) : "";
    if (!failure.detail().empty() || !reason.empty()) {
        text += "\n";
        text += failure.detail();
        if (!failure.detail().empty() && !reason.empty()) {
            text += ": ";
        }
        text += reason;
    }
    return text;
}

std::string NextRecordingPath(const std::string& videoFolder, int& videoCounter) {
    for (;; ++videoCounter) {
        char name[32];
        std::snprintf(name, sizeof name, "VCap%04d.avi", videoCounter);
        std::string path = videoFolder + "/" + name;
        struct stat existing {};
        // A name that cannot be looked at (no folder, no access) is taken too: opening it
        // then says what is wrong.
        if (::lstat(path.c_str(), &existing) != 0 || videoCounter == INT_MAX) {
            return path;
        }
    }
}

const char* RecorderCodecFourcc(RecorderCodec codec) {
    return Info(codec).fourcc;
}

bool RecorderCodecAvailable(RecorderCodec codec) {
    return FindEncoder(codec) != nullptr;
}

// Everything FFmpeg of one recording. Made by OpenRecording, used by the writer thread while
// it runs, ended by CloseRecording after the thread is joined.
struct AviRecorder::Encoder {
    std::unique_ptr<AVFormatContext, FormatDeleter> format;
    std::unique_ptr<AVCodecContext, CodecDeleter> codec;
    std::unique_ptr<SwsContext, ScaleDeleter> scale;
    std::unique_ptr<AVFrame, FrameDeleter> frame;
    std::unique_ptr<AVPacket, PacketDeleter> packet;
    AVStream* stream = nullptr;
    int width = 0;
    int height = 0;
    int framesPerSecond = 0;
    bool headerWritten = false;
    bool haveFirst = false;
    double firstTime = 0.0;
    std::int64_t lastPts = -1;
    std::string path;
    std::uint64_t wholeChunksEnd = 0;  // the file's end after the last chunk written whole
    std::vector<bool> keyFrames;       // of the chunks written whole, in order

    // Sends `f` (null: flush) to the encoder and writes every packet it gives back.
    int Encode(AVFrame* f) {
        int ret = avcodec_send_frame(codec.get(), f);
        if (ret < 0) {
            return ret;
        }
        for (;;) {
            ret = avcodec_receive_packet(codec.get(), packet.get());
            if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) {
                return 0;
            }
            if (ret < 0) {
                return ret;
            }
            av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            ret = av_write_frame(format.get(), packet.get());
            av_packet_unref(packet.get());
            if (ret < 0) {
                return ret;
            }
            ret = NoteWholeChunk();
            if (ret < 0) {
                return ret;
            }
            keyFrames.push_back(key);
        }
    }

    // Puts what the muxer wrote on the disk and notes where the file ends now, so that a
    // write failing later can be cut back to whole chunks.
    int NoteWholeChunk() {
        avio_flush(format->pb);
        if (format->pb->error < 0) {
            return format->pb->error;
        }
        wholeChunksEnd = static_cast<std::uint64_t>(avio_tell(format->pb));
        return 0;
    }

    int EncodeFrame(double time, const std::uint8_t* pixels) {
        if (!haveFirst) {
            haveFirst = true;
            firstTime = time;
        }
        std::int64_t pts = std::llround((time - firstTime) * framesPerSecond);
        if (pts <= lastPts) {
            pts = lastPts + 1;
        }
        lastPts = pts;
        int ret = av_frame_make_writable(frame.get());
        if (ret < 0) {
            return ret;
        }
        const std::uint8_t* const source[1] = {pixels};
        const int sourceStride[1] = {static_cast<int>(BgrRowBytes(width))};
        sws_scale(scale.get(), source, sourceStride, 0, height, frame->data, frame->linesize);
        frame->pts = pts;
        return Encode(frame.get());
    }
};

AviRecorder::AviRecorder(std::function<void(const char*)> trace, std::size_t queueFrames)
    : trace_(std::move(trace)), queueFrames_(queueFrames == 0 ? 1 : queueFrames) {}

AviRecorder::~AviRecorder() {
    (void)CloseRecording();
}

void AviRecorder::Trace(const char* format, ...) {
    if (!trace_) {
        return;
    }
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    trace_(line);
}

IoResult AviRecorder::OpenRecording(const std::string& path, int width, int height,
                                    int framesPerSecond, const RecorderCompressOptions& options) {
    (void)CloseRecording();
    {
        std::lock_guard lock(mutex_);
        status_ = IoResult();
        written_ = 0;
        dropped_ = 0;
        queued_ = 0;
    }
    // FFmpeg's notes go to standard error; only its errors are worth that.
    av_log_set_level(AV_LOG_ERROR);
    openFailedAt_ = RecordingOpenStep::FrameFormat;
    IoResult opened = OpenEncoder(path, width, height, framesPerSecond, options);
    if (opened.ok()) {
        openFailedAt_ = RecordingOpenStep::None;
    }
    return opened;
}

IoResult AviRecorder::OpenEncoder(const std::string& path, int width, int height,
                                  int framesPerSecond, const RecorderCompressOptions& options) {
    if (width <= 0 || height <= 0 || framesPerSecond <= 0) {
        return IoResult(EINVAL, "frame size and rate must be positive");
    }
    const AVCodec* encoderCodec = FindEncoder(options.codec);
    if (encoderCodec == nullptr) {
        openFailedAt_ = RecordingOpenStep::Encoder;
        return IoResult(ENOSYS,
                        std::string("no encoder for ") + RecorderCodecFourcc(options.codec));
    }
    if (options.codec == RecorderCodec::MicrosoftVideo1 && (width % 4 != 0 || height % 4 != 0)) {
        return IoResult(EINVAL, "MSVC needs a width and height that are multiples of 4");
    }

    openFailedAt_ = RecordingOpenStep::Encoder;
    auto encoder = std::make_unique<Encoder>();
    encoder->width = width;
    encoder->height = height;
    encoder->framesPerSecond = framesPerSecond;
    encoder->codec.reset(avcodec_alloc_context3(encoderCodec));
    encoder->frame.reset(av_frame_alloc());
    encoder->packet.reset(av_packet_alloc());
    if (!encoder->codec || !encoder->frame || !encoder->packet) {
        return IoResult(ENOMEM);
    }
    AVCodecContext* c = encoder->codec.get();
    c->width = width;
    c->height = height;
    c->time_base = AVRational{1, framesPerSecond};
    c->framerate = AVRational{framesPerSecond, 1};
    c->pix_fmt = EncoderPixelFormat(options.codec, encoderCodec);
    c->max_b_frames = 0;  // one packet per frame, in order
    c->thread_count = options.codec == RecorderCodec::MicrosoftVideo1 ? 1 : 2;
    if (options.codec == RecorderCodec::MotionJpeg) {
        c->color_range = AVCOL_RANGE_JPEG;  // JPEG's full-range YCbCr (yuvj420p)
    }
    if (options.codec == RecorderCodec::MicrosoftVideo1) {
        c->keyint_min = options.keyFrameEvery;  // 0: every frame is a key frame
    } else if (options.keyFrameEvery > 0) {
        c->gop_size = options.keyFrameEvery;
    }
    // MJPG always runs at a fixed quantiser: its rate control works badly on two threads.
    const int quality = options.quality > 0                          ? options.quality
                        : options.codec == RecorderCodec::MotionJpeg ? 85
                                                                     : 0;
    if (quality > 0 &&
        (options.codec == RecorderCodec::MotionJpeg || options.codec == RecorderCodec::Mpeg4)) {
        const int q = std::max(1, std::min(100, quality));
        const int scale = 31 - (q - 1) * 29 / 99;  // 100 -> 2, 1 -> 31
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = FF_QP2LAMBDA * scale;
    }

    openFailedAt_ = RecordingOpenStep::Container;
    AVFormatContext* rawFormat = nullptr;
    int ret = avformat_alloc_output_context2(&rawFormat, nullptr, "avi", path.c_str());
    if (ret < 0 || rawFormat == nullptr) {
        return IoResult(ErrnoOf(ret), path);
    }
    encoder->format.reset(rawFormat);
    if (encoder->format->oformat->flags & AVFMT_GLOBALHEADER) {
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    ret = avcodec_open2(c, encoderCodec, nullptr);
    if (ret < 0) {
        openFailedAt_ =
            ret == AVERROR(ENOMEM) ? RecordingOpenStep::Encoder : RecordingOpenStep::FrameFormat;
        return IoResult(
            ret == AVERROR(ENOMEM) ? ENOMEM : EINVAL,
            std::string(RecorderCodecFourcc(options.codec)) + " does not take this frame format");
    }
    openFailedAt_ = RecordingOpenStep::Container;
    encoder->frame->format = c->pix_fmt;
    encoder->frame->width = width;
    encoder->frame->height = height;
    if (av_frame_get_buffer(encoder->frame.get(), 0) < 0) {
        return IoResult(ENOMEM);
    }
    encoder->scale.reset(sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, c->pix_fmt,
                                        SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!encoder->scale) {
        return IoResult(EIO, "no conversion to the encoder's pixel format");
    }
    if (c->color_range == AVCOL_RANGE_JPEG) {
        const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
        sws_setColorspaceDetails(encoder->scale.get(), coefficients, 1, coefficients, 1, 0, 1 << 16,
                                 1 << 16);
    }

    encoder->stream = avformat_new_stream(encoder->format.get(), nullptr);
    if (encoder->stream == nullptr) {
        return IoResult(ENOMEM);
    }
    encoder->stream->time_base = c->time_base;
    encoder->stream->avg_frame_rate = c->framerate;
    avcodec_parameters_from_context(encoder->stream->codecpar, c);
    encoder->stream->codecpar->codec_tag = Info(options.codec).tag;

    openFailedAt_ = RecordingOpenStep::File;
    // "file:" keeps a name such as "rtmp:x.avi" from being taken for a protocol.
    ret = avio_open(&encoder->format->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE);
    if (ret < 0) {
        return IoResult(ErrnoOf(ret), path);
    }
    ret = avformat_write_header(encoder->format.get(), nullptr);
    if (ret < 0) {
        return IoResult(ErrnoOf(ret), path);
    }
    encoder->headerWritten = true;
    encoder->path = path;
    ret = encoder->NoteWholeChunk();
    if (ret < 0) {
        return IoResult(ErrnoOf(ret), path);
    }

    const std::size_t frameBytes = BgrRowBytes(width) * static_cast<std::size_t>(height);
    {
        std::lock_guard lock(mutex_);
        queue_.clear();
        spare_.assign(queueFrames_, std::vector<std::uint8_t>(frameBytes));
        frameBytes_ = frameBytes;
        framesPerSecond_ = framesPerSecond;
        haveLastTime_ = false;
        lastTime_ = 0.0;
        timeShift_ = 0.0;
        ++generation_;
        open_ = true;
        closing_ = false;
        failed_ = false;
        status_ = IoResult();
        written_ = 0;
        dropped_ = 0;
        queued_ = 0;
    }
    encoder_ = std::move(encoder);
    writer_ = std::thread([this] { WriterLoop(); });
    return IoResult();
}

void AviRecorder::WriteRecordingFrame(double sampleTimeSeconds, const std::uint8_t* buffer,
                                      std::size_t lengthBytes) {
    std::int64_t dropped = 0;
    const char* why = nullptr;
    std::vector<std::uint8_t> pixels;
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        if (!open_ || closing_) {
            // A frame that comes while the recording closes, or after it: which of the file
            // and its stream are still there.
            const unsigned file = open_ ? 1u : 0u;
            Trace("Write avi stream, ps(%08X:%08X)\n", file, 0u);
            return;
        }
        if (failed_) {
            why = "after a write failure";
        } else if (lengthBytes < frameBytes_ || buffer == nullptr) {
            why = "too short";
        } else if (spare_.empty()) {
            why = "queue full";
        } else {
            pixels = std::move(spare_.back());
            spare_.pop_back();
            generation = generation_;
            // A capture that starts again (a still while recording restarts the graph)
            // counts its times from 0 again: such a frame follows the last one by a frame.
            if (haveLastTime_ && sampleTimeSeconds + timeShift_ < lastTime_) {
                timeShift_ = lastTime_ + 1.0 / framesPerSecond_ - sampleTimeSeconds;
            }
            sampleTimeSeconds += timeShift_;
            lastTime_ = sampleTimeSeconds;
            haveLastTime_ = true;
        }
        if (why != nullptr) {
            dropped = ++dropped_;
        }
    }
    if (why != nullptr) {
        Trace("Recording drops a frame (%s), %lld dropped\n", why, static_cast<long long>(dropped));
        return;
    }
    // The copy runs outside the lock, so the writer never waits for it. The buffer is this
    // call's own until it is queued.
    std::memcpy(pixels.data(), buffer, pixels.size());
    {
        std::lock_guard lock(mutex_);
        if (!open_ || closing_ || generation != generation_) {
            return;  // the recording ended meanwhile
        }
        queue_.push_back(QueuedFrame{sampleTimeSeconds, std::move(pixels)});
        ++queued_;
    }
    wake_.notify_one();
}

void AviRecorder::WriterLoop() {
    for (;;) {
        QueuedFrame queued;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return closing_ || (!held_ && !queue_.empty()); });
            if (queue_.empty()) {
                return;  // closing, and everything is written
            }
            queued = std::move(queue_.front());
            queue_.pop_front();
            if (failed_) {
                spare_.push_back(std::move(queued.pixels));
                continue;  // counted as dropped at the close
            }
        }
        const int ret = encoder_->EncodeFrame(queued.time, queued.pixels.data());
        if (ret < 0) {
            Fail(IoResult(ErrnoOf(ret), "writing a frame"));
        }
        std::lock_guard lock(mutex_);
        // An encoder on threads hands its packets back a frame or two later: what counts is
        // what is in the file, whole.
        written_ = static_cast<std::int64_t>(encoder_->keyFrames.size());
        spare_.push_back(std::move(queued.pixels));
    }
}

void AviRecorder::Fail(IoResult failure) {
    {
        std::lock_guard lock(mutex_);
        if (failed_) {
            return;
        }
        failed_ = true;
        status_ = failure;
    }
    Trace("Recording stops: %s failed (%s)\n", failure.detail().c_str(),
          std::strerror(failure.error()));
}

RecordingOutcome AviRecorder::CloseRecording() {
    {
        std::lock_guard lock(mutex_);
        if (!open_) {
            Trace("**********AVI File Exit\n");
            return RecordingOutcome{status_, written_, dropped_};
        }
        closing_ = true;
    }
    wake_.notify_all();
    if (writer_.joinable()) {
        writer_.join();
    }
    // Only this thread touches the encoder now.
    bool failed = false;
    {
        std::lock_guard lock(mutex_);
        failed = failed_;
    }
    if (!failed) {
        const int ret = encoder_->Encode(nullptr);
        if (ret < 0) {
            Fail(IoResult(ErrnoOf(ret), "flushing the encoder"));
        }
    }
    Trace("**********Stream Close\n");
    Trace("**********Compressed Close\n");
    // The trailer writes the index and the sizes and counts of the headers.
    if (!failed && encoder_->headerWritten) {
        const int ret = av_write_trailer(encoder_->format.get());
        if (ret < 0) {
            Fail(IoResult(ErrnoOf(ret), "ending the file"));
        }
    }
    if (encoder_->format->pb != nullptr) {
        const int ret = avio_closep(&encoder_->format->pb);
        if (ret < 0) {
            Fail(IoResult(ErrnoOf(ret), "closing the file"));
        }
    }
    // After a failed write the file ends in a chunk cut short, or in a trailer that did not
    // fit: it is cut back to the last whole frame and finished by hand, so it plays to there.
    {
        std::lock_guard lock(mutex_);
        failed = failed_;
    }
    if (failed && encoder_->headerWritten) {
        const IoResult finished =
            FinishCutShortAvi(encoder_->path, encoder_->wholeChunksEnd, encoder_->keyFrames);
        if (!finished.ok()) {
            Trace("Recording not finished after the failure: %s (%s)\n", finished.detail().c_str(),
                  std::strerror(finished.error()));
        }
    }
    Trace("**********File Close\n");
    const auto whole = static_cast<std::int64_t>(encoder_->keyFrames.size());
    encoder_.reset();
    Trace("**********AVI File Exit\n");
    std::lock_guard lock(mutex_);
    // Every frame taken into the queue is in the file or lost with the failure.
    written_ = whole;
    dropped_ += queued_ - whole;
    open_ = false;
    closing_ = false;
    held_ = false;
    queue_.clear();
    spare_.clear();
    return RecordingOutcome{status_, written_, dropped_};
}

void AviRecorder::HoldWriter(bool hold) {
    {
        std::lock_guard lock(mutex_);
        held_ = hold;
    }
    wake_.notify_all();
}

IoResult AviRecorder::status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

std::int64_t AviRecorder::framesDropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}
