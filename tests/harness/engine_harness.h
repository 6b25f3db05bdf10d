#pragma once

// Runs the capture engine the way the main window does, without the main window: the
// capture session's messages arrive as queued events on the test's thread, and each still
// is saved with the program's writer as it arrives, as the window saves it.

#include <QObject>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_engine.h"
#include "capture/capture_session.h"
#include "output/still_file.h"

namespace testsupport {

// One stillArrived the session passed on, and what the window's handling made of it.
struct StillArrival {
    bool armed = false;  // the device's button asked for it
    int written = 0;     // what the writer returned; 0 also when no still was pending
};

class EngineHarness : public QObject {
public:
    EngineHarness(MediaBackend& backend, const std::string& pictureFolder,
                  const std::string& capConfigPath);
    ~EngineHarness() override;

    CaptureEngine& engine() { return engine_; }
    CaptureSession& session() { return *session_; }
    StillWriter& writer() { return writer_; }

    // The main window's start-up order; true when the graph runs.
    bool Start();
    // Stops and tears the graph down, as on removal of the device.
    void Stop();

    // The Camera button (false) or the device's button (true).
    void RequestStill(bool fromButton);

    // Processes queued events until a still arrives (true) or time runs out. The arrival,
    // already handled, is taken off the list of received ones.
    bool WaitForStill(StillArrival* arrival = nullptr,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // Handles every still already received or arriving within `settle`; returns the number
    // of files written.
    int HandlePendingStills(std::chrono::milliseconds settle);

private:
    void OnStillArrived(bool armed);

    CaptureEngine engine_;
    std::unique_ptr<CaptureSession> session_;
    StillWriter writer_;
    std::vector<StillArrival> received_;
};

}  // namespace testsupport
