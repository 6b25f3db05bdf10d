#pragma once

// The FFmpeg side of a recording's settings: which encoder, its pixel format, threads, key
// frames and quality, and the conversion of the frames into that format. The recorder uses
// them, and so does the benchmark that sets the recorder against the bare encoder.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "output/avi_recorder.h"

struct AVCodec;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace avisettings {

// The encoder for `codec`, or null when this FFmpeg has none.
const AVCodec* FindEncoder(RecorderCodec codec);

// The stream's codec tag in the AVI ("MSVC", ...; 0 for DIB).
std::uint32_t CodecTag(RecorderCodec codec);

// Sets everything of `c` (allocated for FindEncoder(options.codec), not yet opened) that a
// recording of `width` x `height` at `framesPerSecond` needs. `threads` is the number of
// threads the encoder may use of its own.
void Configure(AVCodecContext* c, const AVCodec* encoder, const RecorderCompressOptions& options,
               int width, int height, int framesPerSecond, int threads);

// The number of encoder threads each codec is given.
int EncoderThreads(RecorderCodec codec);

// Owners of FFmpeg's objects. The format context's file is closed with it.
struct CodecDeleter {
    void operator()(AVCodecContext* c) const;
};
struct FormatDeleter {
    void operator()(AVFormatContext* f) const;
};
struct FrameDeleter {
    void operator()(AVFrame* f) const;
};
struct PacketDeleter {
    void operator()(AVPacket* p) const;
};

struct ConversionDeleter {
    void operator()(SwsContext* s) const;
};
using ConversionPtr = std::unique_ptr<SwsContext, ConversionDeleter>;

// The conversion of 24-bit BGR rows into the pixel format of the opened encoder `c`, with
// JPEG's full-range colours for MJPG; null when swscale cannot do it.
ConversionPtr NewConversion(const AVCodecContext* c);

// Bytes per row of a 24-bit BGR frame: 3 a pixel, padded to 4.
inline std::size_t BgrRowBytes(int width) {
    return (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
}

}  // namespace avisettings
