#include "sim/frame_stream.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>
#include <vector>

namespace sim {
namespace {

using Clock = std::chrono::steady_clock;

// Time of frame slot `slot` after the stream's start, exact for any rate (no accumulated
// rounding).
std::chrono::nanoseconds SlotTime(std::int64_t slot, int framesPerSecond) {
    return std::chrono::nanoseconds(slot * 1'000'000'000 / framesPerSecond);
}

// The last slot whose time has come at `elapsed`.
std::int64_t SlotAt(std::chrono::nanoseconds elapsed, int framesPerSecond) {
    return elapsed.count() * framesPerSecond / 1'000'000'000;
}

class FrameStream final : public Stream {
public:
    FrameStream(std::shared_ptr<StreamControl> control, std::shared_ptr<StreamHost> host)
        : control_(std::move(control)), host_(std::move(host)) {}

    ~FrameStream() override {
        control_->Stop(StreamControl::End::Quietly);
        if (thread_.joinable()) {
            if (thread_.get_id() == std::this_thread::get_id()) {
                // Destroyed from inside a sink call: the thread sees the stop once the call
                // returns and ends without another sink call; it owns what it uses.
                thread_.detach();
            } else {
                thread_.join();
            }
        }
        host_->Release(*control_);
    }

    FrameStream(const FrameStream&) = delete;
    FrameStream& operator=(const FrameStream&) = delete;

    bool Launch(std::shared_ptr<const Specimen> specimen, int framesPerSecond, FrameSink& sink) {
        try {
            thread_ = std::thread(Run, control_, host_, std::move(specimen), framesPerSecond,
                                  std::ref(sink));
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

private:
    static void Run(std::shared_ptr<StreamControl> control, std::shared_ptr<StreamHost> host,
                    std::shared_ptr<const Specimen> specimen, int framesPerSecond,
                    FrameSink& sink) {
        // Named so that tools and benchmarks can tell the device's own work apart.
        pthread_setname_np(pthread_self(), kStreamThreadName);
        std::vector<std::uint8_t> frame(specimen->FrameBytes());
        const FrameSize size = specimen->size();
        const Clock::time_point start = Clock::now();
        std::int64_t slot = 0;
        for (;;) {
            const std::chrono::nanoseconds due = SlotTime(slot, framesPerSecond);
            StreamControl::Next next = control->WaitUntil(start + due);
            if (next == StreamControl::Next::Deliver) {
                const FrameTicket ticket = host->NextFrame();
                RenderSpecimenFrame(*specimen, *ticket.tables, ticket.index, ticket.frameIndexCode,
                                    frame.data());
                bool still = false;
                next = control->TakeFrame(still);
                if (next == StreamControl::Next::Deliver) {
                    sink.OnFrame(frame.data(), frame.size(), size.width, size.height, ticket.index,
                                 due.count());
                    // The sink may have destroyed the stream from inside OnFrame.
                    if (still && !control->Stopped()) {
                        sink.OnStillFrame(frame.data(), frame.size(), size.width, size.height,
                                          ticket.index, due.count());
                    }
                }
            }
            if (next == StreamControl::Next::ReportUnplug) {
                sink.OnUnplugged();
                return;
            }
            if (next == StreamControl::Next::StopQuietly) {
                return;
            }
            // Behind by a whole frame or more: go on with the current slot instead of
            // delivering the missed ones in a burst.
            slot = std::max(slot + 1, SlotAt(Clock::now() - start, framesPerSecond));
        }
    }

    std::shared_ptr<StreamControl> control_;
    std::shared_ptr<StreamHost> host_;
    std::thread thread_;
};

}  // namespace

void StreamControl::Stop(End reason) {
    {
        std::lock_guard lock(mutex_);
        if (stopped_) {
            return;
        }
        stopped_ = true;
        end_ = reason;
    }
    wake_.notify_all();
}

void StreamControl::RequestStill() {
    std::lock_guard lock(mutex_);
    ++stillsPending_;
}

bool StreamControl::Stopped() {
    std::lock_guard lock(mutex_);
    return stopped_;
}

StreamControl::Next StreamControl::WaitUntil(Clock::time_point due) {
    std::unique_lock lock(mutex_);
    wake_.wait_until(lock, due, [this] { return stopped_; });
    if (!stopped_) {
        return Next::Deliver;
    }
    return end_ == End::Unplugged ? Next::ReportUnplug : Next::StopQuietly;
}

StreamControl::Next StreamControl::TakeFrame(bool& still) {
    std::lock_guard lock(mutex_);
    still = false;
    if (stopped_) {
        return end_ == End::Unplugged ? Next::ReportUnplug : Next::StopQuietly;
    }
    if (stillsPending_ > 0) {
        --stillsPending_;
        still = true;
    }
    return Next::Deliver;
}

void RenderSpecimenFrame(const Specimen& specimen, const PictureTables& tables, std::uint64_t index,
                         bool frameIndexCode, std::uint8_t* yuy2) {
    specimen.Compose(index, tables, yuy2);
    if (!frameIndexCode) {
        return;
    }
    // The code fills a block of whole cells, so it also survives vertical chroma subsampling
    // and block-based compression of a recording.
    const FrameSize size = specimen.size();
    const std::size_t rowBytes = 2 * static_cast<std::size_t>(size.width);
    const int rows = std::min(size.height, kIndexCellPixels);
    for (int row = 0; row < rows; ++row) {
        WriteFrameIndex(yuy2 + static_cast<std::size_t>(row) * rowBytes, size.width,
                        static_cast<std::uint32_t>(index));
    }
}

std::unique_ptr<Stream> StartFrameStream(std::shared_ptr<StreamControl> control,
                                         std::shared_ptr<StreamHost> host,
                                         std::shared_ptr<const Specimen> specimen,
                                         int framesPerSecond, FrameSink& sink) {
    if (!control || !host || !specimen || framesPerSecond < 1) {
        return nullptr;
    }
    auto stream = std::make_unique<FrameStream>(std::move(control), std::move(host));
    if (!stream->Launch(std::move(specimen), framesPerSecond, sink)) {
        return nullptr;
    }
    return stream;
}

}  // namespace sim
