#pragma once

// Runs the capture engine the way the main window does, without the main window: messages
// from the streaming thread arrive as queued events on the test's thread, stills are saved
// with the program's writer.

#include <QObject>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_engine.h"
#include "capture/queued_notify_target.h"
#include "output/still_file.h"

namespace testsupport {

struct EngineMessage {
    std::uint32_t message = 0;
    std::intptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

class EngineHarness : public QObject {
public:
    EngineHarness(MediaBackend& backend, const std::string& pictureFolder,
                  const std::string& capConfigPath);
    ~EngineHarness() override;

    CaptureEngine& engine() { return engine_; }
    StillWriter& writer() { return writer_; }

    // The main window's start-up order; true when the graph runs.
    bool Start();
    // Stops and tears the graph down, as on removal of the device.
    void Stop();

    // The Camera button (skip = false) or the device's button (skip = true).
    void RequestStill(bool fromButton);

    // Processes queued events until a message of that kind arrives (true) or time runs out.
    // The message is taken off the queue of received messages.
    bool WaitForMessage(std::uint32_t message, EngineMessage* received = nullptr,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // What the main window does with a still message: save the frame buffer, count the
    // still, and rebuild the graph after a device-triggered still. Returns what the writer
    // returned.
    int HandleStillArrived(const EngineMessage& message);

    // Saves every still message already received or arriving within `settle`; returns the
    // number of files written.
    int HandlePendingStills(std::chrono::milliseconds settle);

    // Messages received and not yet taken.
    std::vector<EngineMessage> TakeMessages();

protected:
    bool event(QEvent* event) override;

private:
    QueuedNotifyTarget target_{this};
    CaptureEngine engine_;
    StillWriter writer_;
    std::vector<EngineMessage> received_;
};

}  // namespace testsupport
