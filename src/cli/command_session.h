#pragma once

#include <QObject>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture_engine.h"
#include "capture/capture_session.h"
#include "output/calibration.h"
#include "output/picture_formats.h"

class QEventLoop;
class StillWriter;

// The capture side a command drives: an engine and its capture session. The program uses a
// CaptureStack (SystemCaptureSide); tests put an engine on a scripted backend behind it.
class CaptureSide {
public:
    virtual ~CaptureSide() = default;
    virtual CaptureSession& session() = 0;
};

// Makes the capture side, on the calling thread.
using CaptureSideFactory = std::function<std::unique_ptr<CaptureSide>()>;

// The system's devices (simulatedKind -1) or a simulated device of that kind, on GStreamer;
// its frames carry their index as a code with `simulatedFrameCode`, and it keeps its controls
// in `simulatedStateFile` (empty keeps nothing).
CaptureSideFactory SystemCaptureSide(int simulatedKind, bool simulatedFrameCode,
                                     std::string simulatedStateFile);

enum class ConnectResult { Streaming, NoDevice, NotStarted };
enum class WaitResult { Done, TimedOut, Interrupted };

// A still the session saved, or tried to.
struct SavedStill {
    bool written = false;
    std::string path;  // the file written or tried
    int error = 0;     // why it was not written: the writer's errno, EINVAL for a bad frame
};

// How a command session saves stills: the format, and what the files record besides the
// pixels. The capture time of each still, and the device's friendly name when the metadata
// names no device, are filled in as it is saved.
struct StillOutput {
    PictureFormat format = PictureFormat::kBmp;
    PictureMetadata metadata;
    // Where the current calibration of the device comes from, for stills whose metadata has
    // no scale; null for none. It outlives the session's stills.
    const CalibrationStore* calibrations = nullptr;
};

// One device, opened for one command: asks its capture session for stills and saves them
// as the main window does, and waits for the device in a Qt event loop
// that a deadline or Interrupt() ends, so no wait lasts forever. Stops and tears the graph
// down in order when asked or destroyed. UI thread; needs a QCoreApplication.
class CommandSession : public QObject {
public:
    CommandSession(const CaptureSideFactory& makeSide, std::chrono::milliseconds frameTimeout);
    ~CommandSession() override;
    CommandSession(const CommandSession&) = delete;
    CommandSession& operator=(const CommandSession&) = delete;

    CaptureEngine& engine() { return side_->session().engine(); }
    CaptureSession& capture() { return side_->session(); }
    std::chrono::milliseconds frameTimeout() const { return frameTimeout_; }

    // Finds the devices and selects one, building no graph. Returns true when a device is
    // selected.
    bool Discover();
    // Starts the graph as the main window's first connection does.
    ConnectResult Connect();

    // Forgets the frames received so far: WaitForNewFrame waits for one after this call.
    void MarkFramesSeen();
    // Waits up to frameTimeout for a frame the live grabber received after the last mark (or
    // the last still).
    WaitResult WaitForNewFrame();
    // Lets `duration` pass while messages are handled; Done unless interrupted.
    WaitResult Pause(std::chrono::milliseconds duration);

    // Where stills are saved, and how; nullptr drops them (a pending request is cleared).
    void SetStillWriter(StillWriter* writer, StillOutput output = {}) {
        writer_ = writer;
        stillOutput_ = std::move(output);
    }
    // The Camera command: asks for the next frame as a still and waits up to frameTimeout
    // for the frame callback's message; the still is saved as the main window saves it.
    // Done once a still has been saved or has failed (see TakeSavedStills).
    WaitResult TakeStill();
    // The stills handled since the last call, including any the device's button asked for.
    std::vector<SavedStill> TakeSavedStills();

    // Ends the wait in progress and every later one with Interrupted. `signalNumber` is the
    // signal that asked for it, for the exit code.
    void Interrupt(int signalNumber);
    int interruptSignal() const { return interruptSignal_; }

    // Stops the graph and tears it down; messages still queued are ignored. Idempotent.
    void Stop();

private:
    // Frames are noticed by looking at the frame counter; stills arrive as messages.
    enum class Watch { Messages, FrameCounter };
    WaitResult WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                         Watch watch);
    void EndWaitWhenDone();
    void EndWait(WaitResult result);
    void OnStillArrived();

    std::unique_ptr<CaptureSide> side_;
    std::chrono::milliseconds frameTimeout_;
    StillWriter* writer_ = nullptr;
    StillOutput stillOutput_;
    std::uint64_t framesSeen_ = 0;
    bool stillPending_ = false;
    std::vector<SavedStill> saved_;
    bool interrupted_ = false;
    int interruptSignal_ = 0;
    QEventLoop* loop_ = nullptr;
    std::function<bool()> loopDone_;
    std::optional<WaitResult> loopEnd_;
};
