#include "harness/engine_harness.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>

namespace testsupport {

EngineHarness::EngineHarness(MediaBackend& backend, const std::string& pictureFolder,
                             const std::string& capConfigPath)
    : engine_(backend), writer_(pictureFolder) {
    engine_.SetCapConfigPath(capConfigPath);
}

EngineHarness::~EngineHarness() {
    Stop();
}

bool EngineHarness::Start() {
    engine_.SetWindows(&target_);
    engine_.CreateDeviceEnumerator();
    return engine_.DiscoverDevices() == 1 && engine_.BuildGraph() == 1 &&
           engine_.PreparePreview() == 1 && engine_.RunGraph() == 1;
}

void EngineHarness::Stop() {
    engine_.StopGraph();
    engine_.TearDownDownstream();
    engine_.TearDownGraph();
    target_.NewGeneration();
}

void EngineHarness::RequestStill(bool fromButton) {
    StillFlags& flags = engine_.stillFlags();
    flags.skipNextFrame.store(fromButton ? 1 : 0);
    flags.stillRequested.store(1);
}

bool EngineHarness::WaitForMessage(std::uint32_t message, EngineMessage* received,
                                   std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        QCoreApplication::sendPostedEvents(this);
        const auto it = std::find_if(received_.begin(), received_.end(),
                                     [&](const EngineMessage& m) { return m.message == message; });
        if (it != received_.end()) {
            if (received != nullptr) {
                *received = *it;
            }
            received_.erase(it);
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        QThread::msleep(2);
    }
}

int EngineHarness::HandleStillArrived(const EngineMessage& message) {
    LatestFrame& frame = engine_.latestFrame();
    frame.AcquireCopy();
    const BitmapInfoHeader header = frame.Header();
    const StillFrame still{frame.pixels.get(), header.biSizeImage, frame.capacity, header.biWidth,
                           header.biHeight};
    const int written = writer_.SaveStillBitmap(engine_.stillFlags().stillRequested, still);
    if (written == 1) {
        writer_.AdvanceCounter();
    }
    if (engine_.recordingActive().load() != 0 || message.wParam != 0) {
        target_.NewGeneration();
        engine_.RestartGraph();
    }
    return written;
}

int EngineHarness::HandlePendingStills(std::chrono::milliseconds settle) {
    int written = 0;
    EngineMessage message;
    while (WaitForMessage(kWmStillArrived, &message, settle)) {
        written += HandleStillArrived(message);
    }
    return written;
}

std::vector<EngineMessage> EngineHarness::TakeMessages() {
    QCoreApplication::sendPostedEvents(this);
    return std::exchange(received_, {});
}

bool EngineHarness::event(QEvent* event) {
    if (event->type() == EngineMessageEvent::Type()) {
        const auto* message = static_cast<EngineMessageEvent*>(event);
        if (target_.IsCurrent(*message)) {
            received_.push_back({message->message(), message->wParam(), message->lParam()});
        }
        return true;
    }
    return QObject::event(event);
}

}  // namespace testsupport
