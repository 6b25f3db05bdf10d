#pragma once

#include <QObject>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "capture/capture_engine.h"
#include "capture/queued_message_target.h"
#include "media/recording_sink.h"
#include "media/still_frame.h"

// Who asks for a still.
enum class StillSource {
    CameraButton,  // the Camera button, its menu item and key, and the command line: the next frame
    DeviceButton,  // the microscope's own button, read by the program: one frame is skipped
    TimeLapse,     // the time-lapse worker: the next frame
};

// The frame the frame callback kept for a still, copied out while the request held the
// callback off the frame buffer. 24-bit blue-green-red, rows bottom-up and padded to 4 bytes.
struct KeptStill {
    std::vector<std::uint8_t> pixels;  // empty when no frame had come
    std::uint32_t sizeBytes = 0;       // the bytes of the picture, as its header gives them
    int width = 0;
    int height = 0;

    StillFrame View() const {
        return StillFrame{pixels.empty() ? nullptr : pixels.data(), sizeBytes, pixels.size(), width,
                          height};
    }
};

// The one owner of the still protocol and of the engine's messages. Requests go to the
// streaming thread through the engine's still flags; the frame callback answers with a
// message that arrives here, on the session's thread, and is passed on as stillArrived.
// Every stop and tear-down starts a new message generation, so nothing an old graph run
// queued is acted on. All methods run on the thread the session lives on (the UI thread);
// none blocks, except where a graph is stopped (see CaptureEngine::StopGraph).
class CaptureSession : public QObject {
    Q_OBJECT
public:
    // Points the engine's messages at this session.
    explicit CaptureSession(CaptureEngine& engine);
    ~CaptureSession() override;
    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    CaptureEngine& engine() { return engine_; }
    // Where the engine's messages go; its generation tells current messages from stale ones.
    const QueuedMessageTarget& messageTarget() const { return target_; }

    // The start-up order: enumerator, discovery, build, prepare, run. True when the graph runs.
    bool Connect();

    // Asks for the next frame (DeviceButton: the one after it) as a still. A request from the
    // device's button while another is pending is dropped: false. Messages queued before the
    // request are not acted on, so a frame the callback may still be refilling is never
    // taken for it.
    bool RequestStill(StillSource source);
    // Who asked for the still not yet taken or dropped; nothing when none is pending. A
    // request the device's still pin made counts as DeviceButton.
    std::optional<StillSource> PendingStill() const;
    bool StillPending() const { return PendingStill().has_value(); }
    // Whether the frame callback has skipped the frame after a device-button request and
    // keeps the next one. Any thread.
    bool KeepsNextFrame() const;

    // In answer to stillArrived: copies the frame kept for the pending still and ends the
    // request, so the frame callback takes frames again. Nothing when no still is pending (a
    // later answer to a request already served).
    std::optional<KeptStill> TakeStill();
    // Ends the pending request without taking its frame.
    void DropStill();

    // Whether frames go to the recording sink. The graph is also rebuilt after every still
    // while a recording runs.
    void SetRecording(bool on);
    bool recording() const;
    // Where recorded frames go (streaming thread); null: nowhere. Set before the recording
    // is switched on; the sink must outlive the graph's runs or be cleared while stopped.
    void SetRecordingSink(RecordingSink* sink);
    // Stops the graph, asks the capture for `framesPerSecond` (0 or less: the rate of the
    // kept capture format) and runs the graph again. True when it runs.
    bool RunAtFrameRate(int framesPerSecond);
    // The size of the frames the live grabber delivers; 0 x 0 before a graph was prepared.
    int frameWidth() const;
    int frameHeight() const;

    // Stops the graph, tears it down, starts a new message generation and forgets every
    // request. Idempotent.
    void Shutdown();

    // Messages of the current generation: each still answer, once its handlers have run, is
    // followed by the rebuild of the graph when the device armed the still (its one-shot
    // still grabber must be armed again) or a recording runs.
    bool event(QEvent* event) override;

Q_SIGNALS:
    // The frame callback answered a still request. `armed` when the device's button asked
    // for it. Handlers take the still with TakeStill.
    void stillArrived(bool armed);

private:
    CaptureEngine& engine_;
    QueuedMessageTarget target_{this};
    std::optional<StillSource> requestedBy_;  // the last request this session made
};
