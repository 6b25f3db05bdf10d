// LoadFirstVideoFrame: the first decodable frame of an AVI file, through libavformat,
// libavcodec and libswscale.
//
// The file is opened by us (a FIFO or a folder is refused before anything waits on it) and
// handed to the AVI demuxer through our own reader, which counts what it gives: a file that
// holds no frame in its first kMaxPackets packets or kMaxBytesRead bytes is given up, so a
// damaged or hostile file cannot keep a caller (the file list's worker) busy. The reader does
// not offer seeking, so the demuxer reads from the front without loading the index at the end
// of the file, which a first frame never needs. The picture's size is the decoded frame's own,
// never the stream header's.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <mutex>

#include "browser/picture_loader.h"
#include "output/avi_encoder_settings.h"
#include "platform/bitmap_records.h"
#include "platform/regular_files.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int kMaxPackets = 256;
constexpr std::int64_t kMaxBytesRead = std::int64_t{16} << 20;  // 3 x the largest frame to view
constexpr int kReadBufferBytes = 64 << 10;

// FFmpeg's messages about a damaged file mean nothing to a user: the failure is the answer.
// Its log callback is process-wide, so ours drops only what is logged on a thread inside a
// read (the decoder runs on that thread: it is given no threads of its own) and passes the
// rest to FFmpeg's own, which the recorder's level still governs. GStreamer's libav plugin,
// once loaded, puts its own callback in place, which sends everything to GStreamer's debug
// log: the reads stay quiet then too.
thread_local int quietReads = 0;

void LogUnlessReading(void* context, int level, const char* format, va_list args) {
    if (quietReads > 0) {
        return;
    }
    av_log_default_callback(context, level, format, args);
}

class QuietLog {
public:
    QuietLog() {
        static std::once_flag installed;
        std::call_once(installed, [] { av_log_set_callback(LogUnlessReading); });
        ++quietReads;
    }
    ~QuietLog() { --quietReads; }
    QuietLog(const QuietLog&) = delete;
    QuietLog& operator=(const QuietLog&) = delete;
};

// The opened file as FFmpeg reads it: at offsets, up to a budget of bytes.
struct FileInput {
    int fd = -1;
    std::int64_t length = 0;
    std::int64_t position = 0;
    std::int64_t budget = kMaxBytesRead;
};

int ReadInput(void* opaque, std::uint8_t* buffer, int size) {
    auto* input = static_cast<FileInput*>(opaque);
    if (input->budget <= 0 || size <= 0) {
        return AVERROR_EOF;
    }
    const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(size, input->budget));
    ssize_t got = 0;
    do {
        got = ::pread(input->fd, buffer, wanted, static_cast<off_t>(input->position));
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        return AVERROR(errno);
    }
    if (got == 0) {
        return AVERROR_EOF;
    }
    input->position += got;
    input->budget -= got;
    return static_cast<int>(got);
}

std::int64_t SeekInput(void* opaque, std::int64_t offset, int whence) {
    auto* input = static_cast<FileInput*>(opaque);
    whence &= ~AVSEEK_FORCE;
    std::int64_t base = 0;
    switch (whence) {
        case AVSEEK_SIZE:
            return input->length;
        case SEEK_SET:
            break;
        case SEEK_CUR:
            base = input->position;
            break;
        case SEEK_END:
            base = input->length;
            break;
        default:
            return AVERROR(EINVAL);
    }
    std::int64_t target = 0;
    if (__builtin_add_overflow(base, offset, &target) || target < 0) {
        return AVERROR(EINVAL);
    }
    input->position = target;
    return target;
}

// The reader's context, with its buffer (which FFmpeg may have replaced by a larger one).
struct ReaderDeleter {
    void operator()(AVIOContext* reader) const {
        av_freep(&reader->buffer);
        avio_context_free(&reader);
    }
};
using ReaderPtr = std::unique_ptr<AVIOContext, ReaderDeleter>;

// An opened demuxer; its reader is ours and is freed after it.
struct DemuxerDeleter {
    void operator()(AVFormatContext* demuxer) const { avformat_close_input(&demuxer); }
};
using DemuxerPtr = std::unique_ptr<AVFormatContext, DemuxerDeleter>;

using DecoderPtr = std::unique_ptr<AVCodecContext, avisettings::CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, avisettings::FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, avisettings::PacketDeleter>;

// Header and rows of a 24-bit DIB of `width` x `height`, or 0 when that does not fit in 64
// bits.
std::uint64_t DibBytes(int width, int height) {
    const std::uint64_t stride = DibRowStrideBytes(static_cast<std::uint32_t>(width), 24);
    std::uint64_t bytes = 0;
    if (__builtin_mul_overflow(stride, static_cast<std::uint64_t>(height), &bytes) ||
        __builtin_add_overflow(bytes, std::uint64_t{kBitmapInfoHeaderBytes}, &bytes)) {
        return 0;
    }
    return bytes;
}

bool Fits(int width, int height, std::size_t room) {
    const std::uint64_t bytes = DibBytes(width, height);
    return bytes != 0 && bytes <= room;
}

// Takes the decoder's next frame into `frame`: true for one that can be converted.
bool ReceiveUsableFrame(AVCodecContext* decoder, AVFrame* frame) {
    while (avcodec_receive_frame(decoder, frame) == 0) {
        if (frame->width > 0 && frame->height > 0 &&
            sws_isSupportedInput(static_cast<AVPixelFormat>(frame->format)) > 0) {
            return true;
        }
        av_frame_unref(frame);
    }
    return false;
}

// Feeds the decoder the video stream's packets until a frame comes out. A packet the decoder
// refuses is passed over; the next may decode.
bool DecodeFirstFrame(AVFormatContext* demuxer, int stream, AVCodecContext* decoder,
                      AVFrame* frame) {
    const PacketPtr packet(av_packet_alloc());
    if (!packet) {
        return false;
    }
    for (int packets = 0; packets < kMaxPackets; ++packets) {
        if (av_read_frame(demuxer, packet.get()) < 0) {
            break;
        }
        // An empty chunk repeats the frame before it, and an empty packet would end the
        // decoder's input.
        const bool ours = packet->stream_index == stream && packet->size > 0;
        const int sent = ours ? avcodec_send_packet(decoder, packet.get()) : -1;
        av_packet_unref(packet.get());
        if (sent >= 0 && ReceiveUsableFrame(decoder, frame)) {
            return true;
        }
    }
    // Frames the decoder still holds (a decoder with delay).
    return avcodec_send_packet(decoder, nullptr) >= 0 && ReceiveUsableFrame(decoder, frame);
}

// Converts `frame` to BGR rows and writes it into `dest` as a bottom-up 24-bit packed DIB.
IoResult StoreFrame(const AVFrame& frame, std::span<std::uint8_t> dest) {
    const int width = frame.width;
    const int height = frame.height;
    if (!Fits(width, height, dest.size())) {
        return IoResult(EFBIG);
    }
    const avisettings::ConversionPtr conversion(
        sws_getContext(width, height, static_cast<AVPixelFormat>(frame.format), width, height,
                       AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!conversion) {
        return IoResult(EBADMSG);
    }
    if (frame.color_range == AVCOL_RANGE_JPEG) {
        int* inverse = nullptr;
        int* table = nullptr;
        int sourceRange = 0;
        int destRange = 0;
        int brightness = 0;
        int contrast = 0;
        int saturation = 0;
        if (sws_getColorspaceDetails(conversion.get(), &inverse, &sourceRange, &table, &destRange,
                                     &brightness, &contrast, &saturation) >= 0) {
            sws_setColorspaceDetails(conversion.get(), inverse, 1, table, destRange, brightness,
                                     contrast, saturation);
        }
    }
    // Into rows of our own first: swscale may write a little past a row's last pixel.
    const FramePtr bgr(av_frame_alloc());
    if (!bgr) {
        return IoResult(ENOMEM);
    }
    bgr->format = AV_PIX_FMT_BGR24;
    bgr->width = width;
    bgr->height = height;
    if (av_frame_get_buffer(bgr.get(), 64) < 0) {
        return IoResult(ENOMEM);
    }
    if (sws_scale(conversion.get(), frame.data, frame.linesize, 0, height, bgr->data,
                  bgr->linesize) != height) {
        return IoResult(EBADMSG);
    }

    const std::size_t stride = avisettings::BgrRowBytes(width);
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    BitmapInfoHeader header;
    header.biSize = kBitmapInfoHeaderBytes;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = kBiRgb;
    header.biSizeImage = static_cast<std::uint32_t>(stride * static_cast<std::size_t>(height));
    WriteBitmapInfoHeader(header, dest.first<kBitmapInfoHeaderBytes>());
    std::uint8_t* rows = dest.data() + kBitmapInfoHeaderBytes;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = rows + static_cast<std::size_t>(height - 1 - y) * stride;
        std::memcpy(row, bgr->data[0] + static_cast<std::ptrdiff_t>(y) * bgr->linesize[0],
                    rowBytes);
        std::memset(row + rowBytes, 0, stride - rowBytes);
    }
    return {};
}

}  // namespace

IoResult LoadFirstVideoFrame(const std::string& path, std::span<std::uint8_t> dest) {
    platform::OpenedFile file = platform::OpenRegularFileForReading(path);
    if (file.error != 0) {
        return IoResult(file.error);
    }
    const QuietLog quiet;
    FileInput input{file.fd.get(), static_cast<std::int64_t>(file.sizeBytes)};

    auto* buffer = static_cast<unsigned char*>(av_malloc(kReadBufferBytes));
    if (buffer == nullptr) {
        return IoResult(ENOMEM);
    }
    const ReaderPtr reader(
        avio_alloc_context(buffer, kReadBufferBytes, 0, &input, ReadInput, nullptr, SeekInput));
    if (!reader) {
        av_free(buffer);
        return IoResult(ENOMEM);
    }
    reader->seekable = 0;  // read from the front; the index at the end is not needed

    // Only ever the AVI demuxer: a file of any other kind cannot make FFmpeg open others.
    const AVInputFormat* avi = av_find_input_format("avi");
    if (avi == nullptr) {
        return IoResult(EBADMSG);
    }
    AVFormatContext* opened = avformat_alloc_context();
    if (opened == nullptr) {
        return IoResult(ENOMEM);
    }
    opened->pb = reader.get();
    opened->flags |= AVFMT_FLAG_CUSTOM_IO;
    if (avformat_open_input(&opened, nullptr, avi, nullptr) < 0) {
        return IoResult(EBADMSG);  // `opened` has been freed
    }
    const DemuxerPtr demuxer(opened);

    int stream = -1;
    for (unsigned i = 0; i < demuxer->nb_streams; ++i) {
        if (demuxer->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            stream = static_cast<int>(i);
            break;
        }
    }
    if (stream < 0) {
        return IoResult(EBADMSG);
    }
    const AVCodecParameters* parameters = demuxer->streams[stream]->codecpar;
    // A picture the header already declares too large is not decoded only to be refused.
    if (parameters->width > 0 && parameters->height > 0 &&
        !Fits(parameters->width, parameters->height, dest.size())) {
        return IoResult(EFBIG);
    }
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (codec == nullptr) {
        return IoResult(EBADMSG);
    }
    const DecoderPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder) {
        return IoResult(ENOMEM);
    }
    if (avcodec_parameters_to_context(decoder.get(), parameters) < 0) {
        return IoResult(EBADMSG);
    }
    decoder->thread_count = 1;  // decoded on this thread, whose log is quiet
    // At most a pixel per byte of `dest`: a header that lies low cannot make the decoder
    // allocate frames of any size.
    decoder->max_pixels = static_cast<std::int64_t>(std::min<std::size_t>(dest.size(), INT_MAX));
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) {
        return IoResult(EBADMSG);
    }
    const FramePtr frame(av_frame_alloc());
    if (!frame) {
        return IoResult(ENOMEM);
    }
    if (!DecodeFirstFrame(demuxer.get(), stream, decoder.get(), frame.get())) {
        return IoResult(EBADMSG);
    }
    return StoreFrame(*frame, dest);
}
