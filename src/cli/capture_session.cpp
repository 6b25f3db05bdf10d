#include "cli/capture_session.h"

#include <QEventLoop>
#include <QTimer>

#include "capture/gst/capture_stack.h"
#include "output/still_file.h"

namespace {

// How often a wait for a frame looks at the frame counter; frames come every 33 ms or so.
constexpr std::chrono::milliseconds kFramePollInterval{5};

class StackSide : public CaptureSide {
public:
    StackSide(int simulatedKind, QObject* receiver) : stack_(simulatedKind, receiver) {}

    CaptureEngine& engine() override { return stack_.engine(); }
    QueuedNotifyTarget& notifyTarget() override { return stack_.notifyTarget(); }
    bool Connect() override { return stack_.Connect(); }

private:
    CaptureStack stack_;
};

}  // namespace

CaptureSideFactory SystemCaptureSide(int simulatedKind) {
    return [simulatedKind](QObject* receiver) -> std::unique_ptr<CaptureSide> {
        return std::make_unique<StackSide>(simulatedKind, receiver);
    };
}

CaptureSession::CaptureSession(const CaptureSideFactory& makeSide,
                               std::chrono::milliseconds frameTimeout)
    : side_(makeSide(this)), frameTimeout_(frameTimeout) {}

CaptureSession::~CaptureSession() {
    Stop();
    // The engine and its streaming thread go before the object their messages are posted to.
    side_.reset();
}

bool CaptureSession::Discover() {
    CaptureEngine& engine = side_->engine();
    engine.SetWindows(&side_->notifyTarget());
    engine.CreateDeviceEnumerator();
    return engine.DiscoverDevices() == 1;
}

ConnectResult CaptureSession::Connect() {
    MarkFramesSeen();
    if (side_->Connect()) {
        return ConnectResult::Streaming;
    }
    return engine().CurrentEntry() == nullptr ? ConnectResult::NoDevice : ConnectResult::NotStarted;
}

void CaptureSession::MarkFramesSeen() {
    framesSeen_ = engine().latestFrame().AcquireCopy();
}

WaitResult CaptureSession::WaitForNewFrame() {
    const LatestFrame& frame = engine().latestFrame();
    return WaitUntil([this, &frame] { return frame.AcquireCopy() > framesSeen_; }, frameTimeout_,
                     Watch::FrameCounter);
}

WaitResult CaptureSession::Pause(std::chrono::milliseconds duration) {
    const WaitResult result = WaitUntil([] { return false; }, duration, Watch::Messages);
    return result == WaitResult::Interrupted ? result : WaitResult::Done;
}

WaitResult CaptureSession::TakeStill() {
    if (interrupted_) {
        return WaitResult::Interrupted;
    }
    // A message still queued from an earlier request must not save a frame the callback may
    // be refilling: only messages posted for this request count.
    side_->notifyTarget().NewGeneration();
    stillPending_ = true;
    StillFlags& flags = engine().stillFlags();
    flags.skipNextFrame.store(0);
    flags.stillRequested.store(1);
    const WaitResult result =
        WaitUntil([this] { return !stillPending_; }, frameTimeout_, Watch::Messages);
    stillPending_ = false;
    return result;
}

std::vector<SavedStill> CaptureSession::TakeSavedStills() {
    return std::exchange(saved_, {});
}

void CaptureSession::Interrupt(int signalNumber) {
    interrupted_ = true;
    interruptSignal_ = signalNumber;
    EndWait(WaitResult::Interrupted);
}

void CaptureSession::Stop() {
    if (!side_) {
        return;
    }
    CaptureEngine& engine = side_->engine();
    engine.StopGraph();
    engine.TearDownDownstream();
    engine.TearDownGraph();
    side_->notifyTarget().NewGeneration();
}

bool CaptureSession::event(QEvent* event) {
    if (event->type() != EngineMessageEvent::Type()) {
        return QObject::event(event);
    }
    const auto* message = static_cast<EngineMessageEvent*>(event);
    if (side_ && side_->notifyTarget().IsCurrent(*message)) {
        if (message->message() == kWmStillArrived) {
            OnStillArrived(message->wParam());
        } else if (message->message() == kWmGraphEvent) {
            engine().DrainGraphEvent();
        }
        EndWaitWhenDone();
    }
    return true;
}

// What the main window does with a still message: save the frame buffer, count the still,
// and rebuild the graph after a still the device itself asked for.
void CaptureSession::OnStillArrived(std::intptr_t armed) {
    CaptureEngine& engine = side_->engine();
    StillFlags& flags = engine.stillFlags();
    if (flags.stillRequested.load() != 0) {
        if (writer_ == nullptr) {
            flags.stillRequested.store(0);
        } else {
            LatestFrame& frame = engine.latestFrame();
            const std::uint64_t copies = frame.AcquireCopy();
            const BitmapInfoHeader header = frame.Header();
            const StillFrame still{frame.pixels.get(), header.biSizeImage, frame.capacity,
                                   header.biWidth, header.biHeight};
            SavedStill saved;
            saved.written = writer_->SaveStillBitmap(flags.stillRequested, still) == 1;
            saved.path = writer_->stillFileName();
            saved.error = saved.written ? 0 : writer_->lastError();
            if (saved.written) {
                writer_->AdvanceCounter();
            }
            saved_.push_back(std::move(saved));
            framesSeen_ = copies;
        }
        stillPending_ = false;
    }
    if (engine.recordingActive().load() != 0 || armed != 0) {
        side_->notifyTarget().NewGeneration();
        engine.RestartGraph();
    }
}

WaitResult CaptureSession::WaitUntil(const std::function<bool()>& done,
                                     std::chrono::milliseconds timeout, Watch watch) {
    if (interrupted_) {
        return WaitResult::Interrupted;
    }
    if (done()) {
        return WaitResult::Done;
    }
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, this, [this] { EndWait(WaitResult::TimedOut); });
    QTimer poll;
    if (watch == Watch::FrameCounter) {
        QObject::connect(&poll, &QTimer::timeout, this, [this] { EndWaitWhenDone(); });
        poll.start(kFramePollInterval);
    }
    loop_ = &loop;
    loopDone_ = done;
    loopEnd_.reset();
    deadline.start(timeout);
    loop.exec();
    loop_ = nullptr;
    loopDone_ = nullptr;
    return loopEnd_.value_or(WaitResult::TimedOut);
}

void CaptureSession::EndWaitWhenDone() {
    if (loopDone_ && loopDone_()) {
        EndWait(WaitResult::Done);
    }
}

// The first reason to end a wait is the one it returns.
void CaptureSession::EndWait(WaitResult result) {
    if (loop_ != nullptr && !loopEnd_) {
        loopEnd_ = result;
        loop_->exit();
    }
}
