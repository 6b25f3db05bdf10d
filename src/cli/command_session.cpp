#include "cli/command_session.h"

#include <QDateTime>
#include <QEventLoop>
#include <QTimer>
#include <utility>

#include "capture/gst/capture_stack.h"
#include "output/still_file.h"

namespace {

// How often a wait for a frame looks at the frame counter; frames come every 33 ms or so.
constexpr std::chrono::milliseconds kFramePollInterval{5};

class StackSide : public CaptureSide {
public:
    StackSide(int simulatedKind, bool simulatedFrameCode, std::string simulatedStateFile)
        : stack_(simulatedKind, simulatedFrameCode, std::move(simulatedStateFile)) {}

    CaptureSession& session() override { return stack_.session(); }

private:
    CaptureStack stack_;
};

}  // namespace

CaptureSideFactory SystemCaptureSide(int simulatedKind, bool simulatedFrameCode,
                                     std::string simulatedStateFile) {
    return [simulatedKind, simulatedFrameCode,
            simulatedStateFile = std::move(simulatedStateFile)]() -> std::unique_ptr<CaptureSide> {
        return std::make_unique<StackSide>(simulatedKind, simulatedFrameCode, simulatedStateFile);
    };
}

CommandSession::CommandSession(const CaptureSideFactory& makeSide,
                               std::chrono::milliseconds frameTimeout)
    : side_(makeSide()), frameTimeout_(frameTimeout) {
    QObject::connect(&side_->session(), &CaptureSession::stillArrived, this, [this] {
        OnStillArrived();
        EndWaitWhenDone();
    });
}

CommandSession::~CommandSession() {
    Stop();
    side_.reset();
}

bool CommandSession::Discover() {
    CaptureEngine& engine = this->engine();
    engine.CreateDeviceEnumerator();
    return engine.DiscoverDevices() == 1;
}

ConnectResult CommandSession::Connect() {
    MarkFramesSeen();
    if (side_->session().Connect()) {
        return ConnectResult::Streaming;
    }
    return engine().CurrentEntry() == nullptr ? ConnectResult::NoDevice : ConnectResult::NotStarted;
}

void CommandSession::MarkFramesSeen() {
    framesSeen_ = engine().latestFrame().AcquireCopy();
}

WaitResult CommandSession::WaitForNewFrame() {
    const LatestFrame& frame = engine().latestFrame();
    return WaitUntil([this, &frame] { return frame.AcquireCopy() > framesSeen_; }, frameTimeout_,
                     Watch::FrameCounter);
}

WaitResult CommandSession::Pause(std::chrono::milliseconds duration) {
    const WaitResult result = WaitUntil([] { return false; }, duration, Watch::Messages);
    return result == WaitResult::Interrupted ? result : WaitResult::Done;
}

WaitResult CommandSession::TakeStill() {
    if (interrupted_) {
        return WaitResult::Interrupted;
    }
    stillPending_ = true;
    side_->session().RequestStill(StillSource::CameraButton);
    const WaitResult result =
        WaitUntil([this] { return !stillPending_; }, frameTimeout_, Watch::Messages);
    stillPending_ = false;
    return result;
}

std::vector<SavedStill> CommandSession::TakeSavedStills() {
    return std::exchange(saved_, {});
}

void CommandSession::Interrupt(int signalNumber) {
    interrupted_ = true;
    interruptSignal_ = signalNumber;
    EndWait(WaitResult::Interrupted);
}

void CommandSession::Stop() {
    if (side_) {
        side_->session().Shutdown();
    }
}

// What the main window does with a still: save the kept frame and count the still. The
// session rebuilds the graph after a still the device itself asked for.
void CommandSession::OnStillArrived() {
    CaptureSession& session = side_->session();
    if (!session.StillPending()) {
        return;
    }
    if (writer_ == nullptr) {
        session.DropStill();
    } else {
        const std::uint64_t copies = engine().latestFrame().AcquireCopy();
        const std::optional<KeptStill> kept = session.TakeStill();
        SavedStill saved;
        PictureMetadata metadata = stillOutput_.metadata;
        metadata.captured = QDateTime::currentDateTime();
        if (const CaptureDeviceEntry* entry = engine().CurrentEntry(); entry != nullptr) {
            if (metadata.deviceName.empty()) {
                metadata.deviceName = entry->friendlyName;
            }
            // The scale of the calibration the window chose for this device, at this size.
            if (stillOutput_.calibrations != nullptr && metadata.xPixelsPerMetre <= 0) {
                const std::string device =
                    CalibrationDeviceKey(entry->devicePath, entry->friendlyName);
                const PictureScale scale = stillOutput_.calibrations->ScaleOf(
                    device, stillOutput_.calibrations->Current(device),
                    QSize(kept->width, kept->height));
                if (scale.valid()) {
                    metadata.xPixelsPerMetre = 1e6 / scale.xMicrometresPerPixel;
                    metadata.yPixelsPerMetre = 1e6 / scale.yMicrometresPerPixel;
                    metadata.calibrationName = scale.name.toStdString();
                }
            }
        }
        const IoResult result = writer_->SaveStill(kept->View(), stillOutput_.format, metadata);
        saved.written = result.ok();
        saved.path = writer_->stillFileName();
        saved.error = result.error();
        if (saved.written) {
            writer_->AdvanceCounter();
        }
        saved_.push_back(std::move(saved));
        framesSeen_ = copies;
    }
    stillPending_ = false;
}

WaitResult CommandSession::WaitUntil(const std::function<bool()>& done,
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
    // A coarse timer may fire up to 5 % early, which would bring a series' stills closer
    // than their interval; a precise one never fires before its time.
    deadline.setTimerType(Qt::PreciseTimer);
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

void CommandSession::EndWaitWhenDone() {
    if (loopDone_ && loopDone_()) {
        EndWait(WaitResult::Done);
    }
}

// The first reason to end a wait is the one it returns.
void CommandSession::EndWait(WaitResult result) {
    if (loop_ != nullptr && !loopEnd_) {
        loopEnd_ = result;
        loop_->exit();
    }
}
