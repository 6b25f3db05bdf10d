#pragma once

#include <gst/gst.h>

#include <cstdint>

#include "capture/capture_settings.h"
#include "capture/hresult.h"
#include "capture/media_backend.h"

namespace gstcapture {

// What the capture filter stands for: one bound device (the simulated microscope or a V4L2
// node) with its output pins, formats and controls. All methods run on the UI thread.
class CaptureSource {
public:
    virtual ~CaptureSource() = default;

    // Output pins, counted in a stable order: 0 is the capture output, 1 the still output.
    virtual int OutputPinCount() const = 0;
    // Makes the elements of output pin `pin` and adds them to `bin` (stopped). Returns the
    // element whose src pad is the pin, owned by `bin`; nullptr on failure.
    virtual GstElement* AddPinElements(GstBin& bin, int pin) = 0;
    // Takes the pin's elements out of `bin` (stopped) again; nothing when there are none.
    virtual void RemovePinElements(GstBin& bin, int pin) = 0;

    // The device's format as a video format record.
    virtual HResult GetFormat(CaptureSettings& format) = 0;
    // Checks and keeps the format the pins will produce; refused with a failure when the
    // device does not offer it.
    virtual HResult SetFormat(const CaptureSettings& format) = 0;

    // Puts the kept format on the pins' elements; called before the pipeline starts.
    virtual HResult PrepareToRun() = 0;
    // Called once the pipeline plays / before it stops. StopStreaming returns once the source
    // pushes no more frames.
    virtual HResult StartStreaming() = 0;
    virtual void StopStreaming() = 0;

    // Picture properties (0..5), the analog norm and the video inputs.
    virtual HResult GetPropertyRange(int property, PropertyRange& range) = 0;
    virtual HResult GetProperty(int property, int& value, int& flags) = 0;
    virtual HResult SetProperty(int property, int value, int flags) = 0;
    virtual HResult GetNorm(int& norm) = 0;
    virtual HResult SetNorm(int norm) = 0;
    virtual int VideoInputCount() = 0;
};

// Property flags, as the program's settings dialog reads them.
inline constexpr int kPropertyFlagAuto = 1;
inline constexpr int kPropertyFlagManual = 2;

// A video format record for a frame size, pixel format and frame duration (100 ns units; 0 or
// less gives 30 frames per second).
CaptureSettings MakeCaptureSettings(int width, int height, std::uint32_t compression, int bitCount,
                                    std::int64_t timePerFrame);

// Whole frames per second of a record, clamped to 1..`maximum`.
int FramesPerSecondOf(const CaptureSettings& format, int maximum);

}  // namespace gstcapture
