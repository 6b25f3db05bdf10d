#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "sim/field_of_view.h"
#include "sim/picture_tables.h"
#include "sim/simulated_microscope.h"

namespace sim {

// What a stream needs for its next frame: the device-wide frame index, the picture tables
// in force and whether the frame carries its index as a code.
struct FrameTicket {
    std::uint64_t index = 0;
    std::shared_ptr<const PictureTables> tables;
    bool frameIndexCode = false;
};

// The device a stream runs on, as the stream sees it. Kept alive by the stream.
class StreamHost {
public:
    virtual ~StreamHost() = default;
    // Called on the stream thread before each frame.
    virtual FrameTicket NextFrame() = 0;
    // Called by the stream object once its thread has ended, so the host may start another.
    virtual void Release(const class StreamControl& control) = 0;
};

// The flags the device and a stream object use to steer the stream's thread.
class StreamControl {
public:
    enum class End {
        Quietly,    // the stream object or the device goes away: no further sink call
        Unplugged,  // the sink hears OnUnplugged, then nothing more
    };

    // Ends the stream; the first reason given wins. Does not wait for the thread.
    void Stop(End reason);
    // One more frame is to be delivered through the still output as well.
    void RequestStill();

    bool Stopped();

    enum class Next { Deliver, StopQuietly, ReportUnplug };
    // Waits until `due` or until the stream is stopped, whichever comes first.
    Next WaitUntil(std::chrono::steady_clock::time_point due);
    // Whether the frame just rendered is delivered, and as a still too (`still`).
    Next TakeFrame(bool& still);

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopped_ = false;
    End end_ = End::Quietly;
    int stillsPending_ = 0;
};

// Composes frame `index` of `specimen` with `tables` into `yuy2` and, with `frameIndexCode`,
// writes the frame index code into its top rows.
void RenderSpecimenFrame(const Specimen& specimen, const PictureTables& tables, std::uint64_t index,
                         bool frameIndexCode, std::uint8_t* yuy2);

// Starts a thread that delivers frames of `specimen` to `sink` at `framesPerSecond` until
// `control` is stopped. The returned object stops and joins the thread when destroyed, then
// releases the host. nullptr when the thread cannot be started.
std::unique_ptr<Stream> StartFrameStream(std::shared_ptr<StreamControl> control,
                                         std::shared_ptr<StreamHost> host,
                                         std::shared_ptr<const Specimen> specimen,
                                         int framesPerSecond, FrameSink& sink);

}  // namespace sim
