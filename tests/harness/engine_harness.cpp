#include "harness/engine_harness.h"

#include <QCoreApplication>
#include <QThread>

namespace testsupport {

EngineHarness::EngineHarness(MediaBackend& backend, const std::string& pictureFolder,
                             const std::string& capConfigPath)
    : engine_(backend),
      session_(std::make_unique<CaptureSession>(engine_)),
      writer_(pictureFolder) {
    engine_.SetCapConfigPath(capConfigPath);
    QObject::connect(session_.get(), &CaptureSession::stillArrived, this,
                     [this](bool armed) { OnStillArrived(armed); });
}

EngineHarness::~EngineHarness() {
    session_.reset();
}

bool EngineHarness::Start() {
    return session_->Connect();
}

void EngineHarness::Stop() {
    session_->Shutdown();
}

void EngineHarness::RequestStill(bool fromButton) {
    session_->RequestStill(fromButton ? StillSource::DeviceButton : StillSource::CameraButton);
}

void EngineHarness::OnStillArrived(bool armed) {
    StillArrival arrival{armed, 0};
    if (const std::optional<KeptStill> kept = session_->TakeStill()) {
        arrival.written = writer_.SaveStillBitmap(kept->View()).ok() ? 1 : 0;
        if (arrival.written == 1) {
            writer_.AdvanceCounter();
        }
    }
    received_.push_back(arrival);
}

bool EngineHarness::WaitForStill(StillArrival* arrival, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        QCoreApplication::sendPostedEvents(session_.get());
        if (!received_.empty()) {
            if (arrival != nullptr) {
                *arrival = received_.front();
            }
            received_.erase(received_.begin());
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        QThread::msleep(2);
    }
}

int EngineHarness::HandlePendingStills(std::chrono::milliseconds settle) {
    int written = 0;
    StillArrival arrival;
    while (WaitForStill(&arrival, settle)) {
        written += arrival.written;
    }
    return written;
}

}  // namespace testsupport
