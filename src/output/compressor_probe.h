#pragma once

// A compressor is taken into the recording options only after a recording with it could be
// started at the current frame size. The try is made on a throw-away file in a private
// temporary folder, never among the user's files.

#include "output/avi_recorder.h"
#include "platform/io_result.h"

// The frame size probed while no frame has arrived yet.
inline constexpr int kProbeDefaultWidth = 640;
inline constexpr int kProbeDefaultHeight = 480;
// The rate the probe's recording is declared at.
inline constexpr int kProbeFramesPerSecond = 15;

// Whether `codec` takes a quality (1-100) from the options; the others ignore it.
bool RecorderCodecUsesQuality(RecorderCodec codec);
// Whether `codec` follows keyFrameEvery; the others make every frame a key frame.
bool RecorderCodecHasKeyFrameInterval(RecorderCodec codec);

// Opens and closes a recording with `candidate` of `width` x `height` frames (640 x 480
// when either is 0 or less) at 15 fps on "test.avi" in a folder made with mkdtemp under
// $TMPDIR, or /tmp when that is unset. The file and the folder are removed whatever happens;
// nothing else is touched. Fails with the errno of making the folder (detail: the folder it
// was made in), or with what OpenRecording or CloseRecording report (EINVAL: the codec does
// not take this frame size; ENOSYS: no encoder). UI thread or any other.
IoResult ProbeCompressor(const RecorderCompressOptions& candidate, int width, int height);

// Probes `candidate` and, when the probe succeeds, puts it into `options`; on failure
// `options` stay as they were. Returns the probe's result.
IoResult ApplyChosenCompressor(RecorderCompressOptions& options,
                               const RecorderCompressOptions& candidate, int width, int height);

// The same with Microsoft Video 1 at the encoder's own quality and key-frame interval.
IoResult SetDefaultCompressor(RecorderCompressOptions& options, int width, int height);
