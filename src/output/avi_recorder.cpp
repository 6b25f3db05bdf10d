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
#include "output/avi_salvage.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace {

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
using avisettings::CodecDeleter;
using avisettings::FormatDeleter;
using avisettings::FrameDeleter;
using avisettings::PacketDeleter;

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

// The file of one recording: the container, its one video stream and the frames' places in
// it. Made by OpenRecording; then used by one writer thread at a time, each in its frame's
// turn; ended by CloseRecording after the writers are joined.
struct AviRecorder::Muxer {
    std::unique_ptr<AVFormatContext, FormatDeleter> format;
    AVStream* stream = nullptr;
    AVRational packetTimeBase{};  // the time base of the packets the coders give
    int framesPerSecond = 0;
    bool headerWritten = false;
    bool haveFirst = false;
    double firstTime = 0.0;
    std::int64_t lastPts = -1;
    std::string path;
    std::uint64_t wholeChunksEnd = 0;  // the file's end after the last chunk written whole
    std::vector<bool> keyFrames;       // of the chunks written whole, in order

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

    // The place in the stream, in frames, of a frame captured at `time`: its time since the
    // first frame, or the next free place when that one is taken.
    std::int64_t Place(double time) {
        if (!haveFirst) {
            haveFirst = true;
            firstTime = time;
        }
        std::int64_t pts = std::llround((time - firstTime) * framesPerSecond);
        if (pts <= lastPts) {
            pts = lastPts + 1;
        }
        lastPts = pts;
        return pts;
    }

    // Writes the packets waiting in `coder`, in order; they are gone afterwards, written or not.
    int WriteReady(Coder& coder);
};

// One encoder of a recording with the conversion into its pixel format; its writer thread's
// alone while that runs. DIB needs neither: the queued rows (top-down, padded to 4 bytes, as an
// AVI's DIB rows are) are the packet as they stand.
struct AviRecorder::Coder {
    std::unique_ptr<AVCodecContext, CodecDeleter> codec;
    avisettings::ConversionPtr conversion;
    std::unique_ptr<AVFrame, FrameDeleter> frame;
    // What the encoder gave back, oldest first; the first `ready` wait for the file.
    std::vector<std::unique_ptr<AVPacket, PacketDeleter>> packets;
    std::size_t ready = 0;
    bool rawRows = false;
    int height = 0;
    int rowBytes = 0;

    // The packets of a frame point into its pixels: they must stay until it is written.
    bool KeepsPixels() const { return rawRows; }

    // Takes in the frame at `pts`: DIB's rows become its packet; the other codecs' rows are
    // converted into the encoder's frame, after which they are free again.
    int Take(std::int64_t pts, const std::uint8_t* pixels, std::size_t bytes) {
        if (rawRows) {
            AVPacket* packet = NextPacket();
            if (packet == nullptr) {
                return AVERROR(ENOMEM);
            }
            // Not reference-counted: the rows stay queued until the muxer has written them.
            packet->data = const_cast<std::uint8_t*>(pixels);
            packet->size = static_cast<int>(bytes);
            packet->pts = pts;
            packet->dts = pts;
            packet->duration = 1;
            packet->flags = AV_PKT_FLAG_KEY;
            ++ready;
            return 0;
        }
        const int ret = av_frame_make_writable(frame.get());
        if (ret < 0) {
            return ret;
        }
        const std::uint8_t* const source[1] = {pixels};
        const int sourceStride[1] = {rowBytes};
        sws_scale(conversion.get(), source, sourceStride, 0, height, frame->data, frame->linesize);
        frame->pts = pts;
        return 0;
    }

    // Encodes the frame taken in; what the encoder gives back waits in `packets`.
    int Encode() { return rawRows ? 0 : Send(frame.get()); }

    // Sends `f` to the encoder (null: the end) and keeps every packet it gives back.
    int Send(AVFrame* f) {
        if (rawRows) {
            return 0;
        }
        int ret = avcodec_send_frame(codec.get(), f);
        while (ret >= 0) {
            AVPacket* packet = NextPacket();
            if (packet == nullptr) {
                return AVERROR(ENOMEM);
            }
            ret = avcodec_receive_packet(codec.get(), packet);
            if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) {
                return 0;
            }
            if (ret >= 0) {
                ++ready;
            }
        }
        return ret;
    }

    // The packets waiting for the file are dropped.
    void DropReady() {
        for (std::size_t i = 0; i < ready; ++i) {
            av_packet_unref(packets[i].get());
        }
        ready = 0;
    }

private:
    AVPacket* NextPacket() {
        if (ready == packets.size()) {
            packets.emplace_back(av_packet_alloc());
        }
        return packets[ready].get();
    }
};

int AviRecorder::Muxer::WriteReady(Coder& coder) {
    int ret = 0;
    for (std::size_t i = 0; i < coder.ready && ret >= 0; ++i) {
        AVPacket* packet = coder.packets[i].get();
        av_packet_rescale_ts(packet, packetTimeBase, stream->time_base);
        packet->stream_index = stream->index;
        const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
        ret = av_write_frame(format.get(), packet);
        if (ret >= 0) {
            ret = NoteWholeChunk();
        }
        if (ret >= 0) {
            keyFrames.push_back(key);
        }
    }
    coder.DropReady();
    return ret;
}

namespace {

// How many writer threads encode side by side: two where every frame is a key frame that
// needs no other and one encoder cannot keep up (MSVC's takes a core and no threads of its
// own), one otherwise.
// About a second of frames may wait for the writers, within a memory budget, so that a
// moment in which the machine is busy elsewhere costs no frame.
std::size_t QueueFramesFor(std::size_t frameBytes, int framesPerSecond) {
    constexpr std::size_t kQueueBytes = std::size_t{32} << 20;
    constexpr std::size_t kQueueFramesAtLeast = 4;
    return std::max(kQueueFramesAtLeast,
                    std::min(static_cast<std::size_t>(std::max(1, framesPerSecond)),
                             kQueueBytes / std::max<std::size_t>(1, frameBytes)));
}

// swscale's vector code may read a little past the last row of its input: each queued frame
// has this much room behind it.
constexpr std::size_t kConverterOverread = 64;

std::size_t WriterCount(const RecorderCompressOptions& options) {
    const bool everyFrameKey =
        options.codec == RecorderCodec::MicrosoftVideo1 && options.keyFrameEvery == 0;
    return everyFrameKey && std::thread::hardware_concurrency() > 1 ? 2 : 1;
}

}  // namespace

AviRecorder::AviRecorder(std::function<void(const char*)> trace, std::size_t queueFrames)
    : trace_(std::move(trace)), queueFrames_(queueFrames) {}

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

    openFailedAt_ = RecordingOpenStep::Container;
    auto muxer = std::make_unique<Muxer>();
    muxer->framesPerSecond = framesPerSecond;
    AVFormatContext* rawFormat = nullptr;
    int ret = avformat_alloc_output_context2(&rawFormat, nullptr, "avi", path.c_str());
    if (ret < 0 || rawFormat == nullptr) {
        return IoResult(ErrnoOf(ret), path);
    }
    muxer->format.reset(rawFormat);

    const std::size_t writers = WriterCount(options);
    std::vector<std::unique_ptr<Coder>> coders;
    for (std::size_t i = 0; i < writers; ++i) {
        openFailedAt_ = RecordingOpenStep::Encoder;
        auto coder = std::make_unique<Coder>();
        coder->height = height;
        coder->rowBytes = static_cast<int>(BgrRowBytes(width));
        coder->rawRows = options.codec == RecorderCodec::UncompressedDib;
        coder->codec.reset(avcodec_alloc_context3(encoderCodec));
        coder->frame.reset(av_frame_alloc());
        if (!coder->codec || !coder->frame) {
            return IoResult(ENOMEM);
        }
        AVCodecContext* c = coder->codec.get();
        avisettings::Configure(c, encoderCodec, options, width, height, framesPerSecond,
                               avisettings::EncoderThreads(options.codec));
        if (muxer->format->oformat->flags & AVFMT_GLOBALHEADER) {
            c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        // DIB's encoder is opened only for the stream's parameters.
        ret = avcodec_open2(c, encoderCodec, nullptr);
        if (ret < 0) {
            openFailedAt_ = ret == AVERROR(ENOMEM) ? RecordingOpenStep::Encoder
                                                   : RecordingOpenStep::FrameFormat;
            return IoResult(ret == AVERROR(ENOMEM) ? ENOMEM : EINVAL,
                            std::string(RecorderCodecFourcc(options.codec)) +
                                " does not take this frame format");
        }
        openFailedAt_ = RecordingOpenStep::Container;
        if (!coder->rawRows) {
            coder->frame->format = c->pix_fmt;
            coder->frame->width = width;
            coder->frame->height = height;
            if (av_frame_get_buffer(coder->frame.get(), 0) < 0) {
                return IoResult(ENOMEM);
            }
            coder->conversion = avisettings::NewConversion(c);
            if (!coder->conversion) {
                return IoResult(EIO, "no conversion to the encoder's pixel format");
            }
        }
        coders.push_back(std::move(coder));
    }

    const AVCodecContext* c = coders.front()->codec.get();
    muxer->stream = avformat_new_stream(muxer->format.get(), nullptr);
    if (muxer->stream == nullptr) {
        return IoResult(ENOMEM);
    }
    muxer->packetTimeBase = c->time_base;
    muxer->stream->time_base = c->time_base;
    muxer->stream->avg_frame_rate = c->framerate;
    avcodec_parameters_from_context(muxer->stream->codecpar, c);
    muxer->stream->codecpar->codec_tag = avisettings::CodecTag(options.codec);

    openFailedAt_ = RecordingOpenStep::File;
    // "file:" keeps a name such as "rtmp:x.avi" from being taken for a protocol.
    ret = avio_open(&muxer->format->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE);
    if (ret < 0) {
        return IoResult(ErrnoOf(ret), path);
    }
    ret = avformat_write_header(muxer->format.get(), nullptr);
    if (ret < 0) {
        return IoResult(ErrnoOf(ret), path);
    }
    muxer->headerWritten = true;
    muxer->path = path;
    ret = muxer->NoteWholeChunk();
    if (ret < 0) {
        return IoResult(ErrnoOf(ret), path);
    }

    const std::size_t frameBytes = BgrRowBytes(width) * static_cast<std::size_t>(height);
    {
        std::lock_guard lock(mutex_);
        queue_.clear();
        spare_.assign(queueFrames_ > 0 ? queueFrames_ : QueueFramesFor(frameBytes, framesPerSecond),
                      std::vector<std::uint8_t>(frameBytes + kConverterOverread));
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
        framesTaken_ = 0;
        framesMuxed_ = 0;
    }
    muxer_ = std::move(muxer);
    coders_ = std::move(coders);
    for (const std::unique_ptr<Coder>& coder : coders_) {
        writers_.emplace_back([this, &coder = *coder] { WriterLoop(coder); });
    }
    return IoResult();
}

void AviRecorder::WriteRecordingFrame(double sampleTimeSeconds, const std::uint8_t* buffer,
                                      std::size_t lengthBytes) {
    std::int64_t dropped = 0;
    const char* why = nullptr;
    std::vector<std::uint8_t> pixels;
    std::uint64_t generation = 0;
    std::size_t frameBytes = 0;
    {
        std::lock_guard lock(mutex_);
        frameBytes = frameBytes_;
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
    std::memcpy(pixels.data(), buffer, frameBytes);
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

void AviRecorder::WriterLoop(Coder& coder) {
    for (;;) {
        QueuedFrame queued;
        std::uint64_t turn = 0;
        std::int64_t pts = 0;
        bool skip = false;
        std::size_t frameBytes = 0;
        {
            std::unique_lock lock(mutex_);
            frameBytes = frameBytes_;
            wake_.wait(lock, [this] { return closing_ || (!held_ && !queue_.empty()); });
            if (queue_.empty()) {
                return;  // closing, and everything is written
            }
            queued = std::move(queue_.front());
            queue_.pop_front();
            turn = framesTaken_++;
            pts = muxer_->Place(queued.time);
            skip = failed_;
        }
        int ret = skip ? 0 : coder.Take(pts, queued.pixels.data(), frameBytes);
        bool pixelsBack = false;
        if (!coder.KeepsPixels()) {
            // Converted: the buffer takes the next frame while this one is encoded.
            std::lock_guard lock(mutex_);
            spare_.push_back(std::move(queued.pixels));
            pixelsBack = true;
        }
        if (!skip && ret >= 0) {
            ret = coder.Encode();
        }
        {
            // Frames go into the file in the order they were taken.
            std::unique_lock lock(mutex_);
            turn_.wait(lock, [this, turn] { return framesMuxed_ == turn; });
            skip = skip || failed_;
        }
        // This writer alone touches the file until framesMuxed_ moves on.
        if (skip || ret < 0) {
            coder.DropReady();
        } else {
            ret = muxer_->WriteReady(coder);
        }
        if (!skip && ret < 0) {
            Fail(IoResult(ErrnoOf(ret), "writing a frame"));
        }
        {
            std::lock_guard lock(mutex_);
            // What counts is what is in the file, whole; frames lost with a failure are
            // counted as dropped at the close.
            written_ = static_cast<std::int64_t>(muxer_->keyFrames.size());
            if (!pixelsBack) {
                spare_.push_back(std::move(queued.pixels));
            }
            ++framesMuxed_;
        }
        turn_.notify_all();
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
    for (std::thread& writer : writers_) {
        writer.join();
    }
    writers_.clear();
    // Only this thread touches the encoders and the file now.
    bool failed = false;
    {
        std::lock_guard lock(mutex_);
        failed = failed_;
    }
    for (const std::unique_ptr<Coder>& coder : coders_) {
        if (failed) {
            break;
        }
        int ret = coder->Send(nullptr);
        ret = ret < 0 ? ret : muxer_->WriteReady(*coder);
        if (ret < 0) {
            Fail(IoResult(ErrnoOf(ret), "flushing the encoder"));
            failed = true;
        }
    }
    Trace("**********Stream Close\n");
    Trace("**********Compressed Close\n");
    // The trailer writes the index and the sizes and counts of the headers.
    if (!failed && muxer_->headerWritten) {
        const int ret = av_write_trailer(muxer_->format.get());
        if (ret < 0) {
            Fail(IoResult(ErrnoOf(ret), "ending the file"));
        }
    }
    if (muxer_->format->pb != nullptr) {
        const int ret = avio_closep(&muxer_->format->pb);
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
    if (failed && muxer_->headerWritten) {
        const IoResult finished =
            FinishCutShortAvi(muxer_->path, muxer_->wholeChunksEnd, muxer_->keyFrames);
        if (!finished.ok()) {
            Trace("Recording not finished after the failure: %s (%s)\n", finished.detail().c_str(),
                  std::strerror(finished.error()));
        }
    }
    Trace("**********File Close\n");
    const auto whole = static_cast<std::int64_t>(muxer_->keyFrames.size());
    coders_.clear();
    muxer_.reset();
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
