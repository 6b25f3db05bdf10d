#include "capture/capture_session.h"

#include <algorithm>
#include <cstring>

CaptureSession::CaptureSession(CaptureEngine& engine) : engine_(engine) {
    engine_.SetMessageTarget(&target_);
}

CaptureSession::~CaptureSession() {
    Shutdown();
}

bool CaptureSession::Connect() {
    engine_.CreateDeviceEnumerator();
    return engine_.DiscoverDevices() == 1 && engine_.BuildGraph() == 1 &&
           engine_.PreparePreview() == 1 && engine_.RunGraph() == 1;
}

bool CaptureSession::RequestStill(StillSource source) {
    StillFlags& flags = engine_.stillFlags();
    if (source == StillSource::DeviceButton && flags.stillRequested.load() != 0) {
        return false;
    }
    target_.NewGeneration();
    requestedBy_ = source;
    flags.skipNextFrame.store(source == StillSource::DeviceButton ? 1 : 0);
    flags.stillRequested.store(1);
    return true;
}

std::optional<StillSource> CaptureSession::PendingStill() const {
    if (engine_.stillFlags().stillRequested.load() == 0) {
        return std::nullopt;
    }
    return requestedBy_.value_or(StillSource::DeviceButton);
}

bool CaptureSession::KeepsNextFrame() const {
    return engine_.stillFlags().stillArmed.load() != 0;
}

std::optional<KeptStill> CaptureSession::TakeStill() {
    StillFlags& flags = engine_.stillFlags();
    if (flags.stillRequested.load() == 0) {
        return std::nullopt;
    }
    // The callback leaves the buffer alone while the request is pending; the acquire makes
    // the copy it made before posting visible in full.
    LatestFrame& frame = engine_.latestFrame();
    frame.AcquireCopy();
    const BitmapInfoHeader header = frame.Header();
    KeptStill still;
    still.sizeBytes = header.biSizeImage;
    still.width = header.biWidth;
    still.height = header.biHeight;
    // A header describing more than the frame holds (the size changed and no frame of the
    // new size was kept) stays visible as a short copy.
    still.pixels = frame.BottomUpBytes(header.biSizeImage);
    requestedBy_.reset();
    flags.stillRequested.store(0);
    return still;
}

void CaptureSession::DropStill() {
    requestedBy_.reset();
    engine_.stillFlags().stillRequested.store(0);
}

void CaptureSession::SetRecording(bool on) {
    engine_.recordingActive().store(on ? 1 : 0);
}

bool CaptureSession::recording() const {
    return engine_.recordingActive().load() != 0;
}

void CaptureSession::SetRecordingSink(RecordingSink* sink) {
    engine_.frameCallback().SetRecordingSink(sink);
}

bool CaptureSession::RunAtFrameRate(int framesPerSecond) {
    engine_.StopGraph();
    if (framesPerSecond <= 0) {
        framesPerSecond = static_cast<int>(RoundedFrameRate(engine_.Settings().AvgTimePerFrame));
    }
    engine_.SetGrabberFrameRate(framesPerSecond);
    return engine_.RunGraph() == 1;
}

int CaptureSession::frameWidth() const {
    return engine_.frameCallback().width();
}

int CaptureSession::frameHeight() const {
    return engine_.frameCallback().height();
}

void CaptureSession::Shutdown() {
    engine_.StopGraph();
    engine_.TearDownDownstream();
    engine_.TearDownGraph();
    // Messages the old graph queued are not acted on, and a still it was asked for will not
    // come from it.
    target_.NewGeneration();
    requestedBy_.reset();
    StillFlags& flags = engine_.stillFlags();
    flags.stillRequested.store(0);
    flags.skipNextFrame.store(0);
    flags.stillArmed.store(0);
}

bool CaptureSession::event(QEvent* event) {
    if (event->type() != EngineMessageEvent::Type()) {
        return QObject::event(event);
    }
    const auto* message = static_cast<EngineMessageEvent*>(event);
    if (!target_.IsCurrent(*message)) {
        return true;
    }
    switch (message->message()) {
        case EngineMessage::StillArrived: {
            const bool armed = message->value() != 0;
            Q_EMIT stillArrived(armed);
            // Also after a failed write: the one-shot still grabber must be armed again, or
            // the device's button would stop working.
            if (recording() || armed) {
                target_.NewGeneration();
                engine_.RestartGraph();
            }
            break;
        }
        case EngineMessage::GraphEvent:
            engine_.DrainGraphEvent();
            break;
    }
    return true;
}
