#include "output/avi_encoder_settings.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace avisettings {
namespace {

constexpr std::uint32_t Tag(const char* f) {
    return static_cast<std::uint32_t>(f[0]) | static_cast<std::uint32_t>(f[1]) << 8 |
           static_cast<std::uint32_t>(f[2]) << 16 | static_cast<std::uint32_t>(f[3]) << 24;
}

struct CodecInfo {
    AVCodecID id;
    const char* encoder;  // by name where FFmpeg has several for one id
    std::uint32_t tag;    // the stream's codec tag; 0 for DIB
};

CodecInfo Info(RecorderCodec codec) {
    switch (codec) {
        case RecorderCodec::MicrosoftVideo1:
            return {AV_CODEC_ID_MSVIDEO1, "msvideo1", Tag("MSVC")};
        case RecorderCodec::MotionJpeg:
            return {AV_CODEC_ID_MJPEG, "mjpeg", Tag("MJPG")};
        case RecorderCodec::UncompressedDib:
            return {AV_CODEC_ID_RAWVIDEO, "rawvideo", 0};
        case RecorderCodec::Ffv1:
            return {AV_CODEC_ID_FFV1, "ffv1", Tag("FFV1")};
        case RecorderCodec::HuffYuv:
            return {AV_CODEC_ID_HUFFYUV, "huffyuv", Tag("HFYU")};
        case RecorderCodec::Mpeg4:
            return {AV_CODEC_ID_MPEG4, "mpeg4", Tag("FMP4")};
        case RecorderCodec::H264:
            return {AV_CODEC_ID_H264, nullptr, Tag("H264")};
    }
    return {AV_CODEC_ID_NONE, nullptr, 0};
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

}  // namespace

const AVCodec* FindEncoder(RecorderCodec codec) {
    const CodecInfo info = Info(codec);
    const AVCodec* found = info.encoder ? avcodec_find_encoder_by_name(info.encoder) : nullptr;
    return found ? found : avcodec_find_encoder(info.id);
}

std::uint32_t CodecTag(RecorderCodec codec) {
    return Info(codec).tag;
}

int EncoderThreads(RecorderCodec codec) {
    return codec == RecorderCodec::MicrosoftVideo1 ? 1 : 2;
}

void Configure(AVCodecContext* c, const AVCodec* encoder, const RecorderCompressOptions& options,
               int width, int height, int framesPerSecond, int threads) {
    c->width = width;
    c->height = height;
    c->time_base = AVRational{1, framesPerSecond};
    c->framerate = AVRational{framesPerSecond, 1};
    c->pix_fmt = EncoderPixelFormat(options.codec, encoder);
    c->max_b_frames = 0;  // one packet per frame, in order
    c->thread_count = threads;
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
}

void CodecDeleter::operator()(AVCodecContext* c) const {
    avcodec_free_context(&c);
}

void FormatDeleter::operator()(AVFormatContext* f) const {
    if (f->pb != nullptr) {
        avio_closep(&f->pb);
    }
    avformat_free_context(f);
}

void FrameDeleter::operator()(AVFrame* f) const {
    av_frame_free(&f);
}

void PacketDeleter::operator()(AVPacket* p) const {
    av_packet_free(&p);
}

void ConversionDeleter::operator()(SwsContext* s) const {
    sws_freeContext(s);
}

ConversionPtr NewConversion(const AVCodecContext* c) {
    ConversionPtr conversion(sws_getContext(c->width, c->height, AV_PIX_FMT_BGR24, c->width,
                                            c->height, c->pix_fmt, SWS_BILINEAR, nullptr, nullptr,
                                            nullptr));
    if (conversion && c->color_range == AVCOL_RANGE_JPEG) {
        const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
        sws_setColorspaceDetails(conversion.get(), coefficients, 1, coefficients, 1, 0, 1 << 16,
                                 1 << 16);
    }
    return conversion;
}

}  // namespace avisettings
