#pragma once

#include <QImage>
#include <optional>
#include <string>

#include "output/avi_recorder.h"

// Videos whose frames carry their own number, so that tests can tell which frame a player
// shows: frame n shows the number n in the frame index code of the simulated microscope
// (8x8-pixel cells across its top rows).
namespace testsupport {

inline constexpr int kCodedWidth = 320;  // the code needs 256 pixels
inline constexpr int kCodedHeight = 240;

// Records `frames` coded frames at `fps` with our own recorder. Empty on success, else why not.
std::string RecordCodedVideo(const std::string& path, RecorderCodec codec, int fps, int frames,
                             int width = kCodedWidth, int height = kCodedHeight);
// The same frames encoded by the ffmpeg program with `ffmpegCodecArguments` (for example
// "-c:v mpeg4 -bf 2"), into an AVI. Empty on success, else what ffmpeg said.
std::string EncodeCodedVideoWithFfmpeg(const std::string& path,
                                       const std::string& ffmpegCodecArguments, int fps, int frames,
                                       int width = kCodedWidth, int height = kCodedHeight);
// The number a shown frame carries; nullopt when it carries none.
std::optional<int> FrameNumberOf(const QImage& frame);

}  // namespace testsupport
