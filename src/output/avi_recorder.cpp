#include "output/avi_recorder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "output/avi_encoder_settings.h"

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

const char* Fourcc(RecorderCodec codec) {
    switch (codec) {
        case RecorderCodec::MicrosoftVideo1:
            return "MSVC";
        case RecorderCodec::MotionJpeg:
            return "MJPG";
        case RecorderCodec::UncompressedDib:
            return "DIB ";
        case RecorderCodec::Ffv1:
            return "FFV1";
        case RecorderCodec::HuffYuv:
            return "HFYU";
        case RecorderCodec::Mpeg4:
            return "FMP4";
        case RecorderCodec::H264:
            return "H264";
    }
    return "";
}

// An FFmpeg error as an errno: its own errno where it carries one, else EIO.
int ErrnoOf(int averror) {
    const int e = AVUNERROR(averror);
    return (averror < 0 && e > 0 && e < 4096) ? e : EIO;
}

using avisettings::BgrRowBytes;

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
    return Fourcc(codec);
}

bool RecorderCodecAvailable(RecorderCodec codec) {
    return avisettings::FindEncoder(codec) != nullptr;
}

// Everything FFmpeg of one recording. Made by OpenRecording, used by the writer thread while
// it runs, ended by CloseRecording after the thread is joined.
struct AviRecorder::Encoder {
    std::unique_ptr<AVFormatContext, FormatDeleter> format;
    std::unique_ptr<AVCodecContext, CodecDeleter> codec;
    avisettings::ConversionPtr scale;
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
            ret = av_write_frame(format.get(), packet.get());
            av_packet_unref(packet.get());
            if (ret < 0) {
                return ret;
            }
        }
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
    const AVCodec* encoderCodec = avisettings::FindEncoder(options.codec);
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
    avisettings::Configure(c, encoderCodec, options, width, height, framesPerSecond,
                           avisettings::EncoderThreads(options.codec));

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
    encoder->scale = avisettings::NewConversion(c);
    if (!encoder->scale) {
        return IoResult(EIO, "no conversion to the encoder's pixel format");
    }

    encoder->stream = avformat_new_stream(encoder->format.get(), nullptr);
    if (encoder->stream == nullptr) {
        return IoResult(ENOMEM);
    }
    encoder->stream->time_base = c->time_base;
    encoder->stream->avg_frame_rate = c->framerate;
    avcodec_parameters_from_context(encoder->stream->codecpar, c);
    encoder->stream->codecpar->codec_tag = avisettings::CodecTag(options.codec);

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

    const std::size_t frameBytes = BgrRowBytes(width) * static_cast<std::size_t>(height);
    {
        std::lock_guard lock(mutex_);
        queue_.clear();
        spare_.assign(queueFrames_, std::vector<std::uint8_t>(frameBytes));
        frameBytes_ = frameBytes;
        ++generation_;
        open_ = true;
        closing_ = false;
        failed_ = false;
        status_ = IoResult();
        written_ = 0;
        dropped_ = 0;
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
                ++dropped_;
                spare_.push_back(std::move(queued.pixels));
                continue;
            }
        }
        const int ret = encoder_->EncodeFrame(queued.time, queued.pixels.data());
        if (ret < 0) {
            Fail(IoResult(ErrnoOf(ret), "writing a frame"));
        }
        std::lock_guard lock(mutex_);
        if (ret < 0) {
            ++dropped_;
        } else {
            ++written_;
        }
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
    // The trailer makes what reached the disk playable, even after a failure.
    if (encoder_->headerWritten) {
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
    encoder_.reset();
    std::lock_guard lock(mutex_);
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
