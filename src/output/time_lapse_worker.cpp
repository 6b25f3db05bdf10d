#include "output/time_lapse_worker.h"

#include <algorithm>
#include <system_error>
#include <utility>

bool SystemTimeLapseClock::SleepUntil(SteadyTime deadline, std::unique_lock<std::mutex>& lock,
                                      std::condition_variable& wake,
                                      const std::function<bool()>& woken) {
    return !wake.wait_until(lock, deadline, woken);
}

TimeLapseWorker::TimeLapseWorker(TimeLapseClock& clock) : clock_(clock) {}

TimeLapseWorker::~TimeLapseWorker() {
    Stop();
}

bool TimeLapseWorker::Start(const TimeLapsePlan& plan, Hooks hooks) {
    Stop();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopRequested_ = false;
        finished_ = false;
    }
    try {
        thread_ = std::thread(&TimeLapseWorker::Run, this, plan, std::move(hooks));
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
        return false;
    }
    return true;
}

void TimeLapseWorker::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopRequested_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool TimeLapseWorker::running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !finished_;
}

bool TimeLapseWorker::SleepUntil(TimeLapseClock::SteadyTime deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopRequested_) {
        return false;
    }
    return clock_.SleepUntil(deadline, lock, wake_, [this] { return stopRequested_; });
}

void TimeLapseWorker::Run(TimeLapsePlan plan, Hooks hooks) {
    // The start, on the wall clock: re-read now and then, so that a clock set or a sleep of
    // the machine in between is noticed; at or past it, the run starts.
    bool going = true;
    for (;;) {
        const TimeLapseClock::WallTime now = clock_.WallNow();
        if (now >= plan.start) {
            break;
        }
        const auto remaining = std::chrono::ceil<std::chrono::nanoseconds>(plan.start - now);
        const auto slice = std::min<std::chrono::nanoseconds>(remaining, kStartCheck);
        if (!SleepUntil(clock_.Now() + slice)) {
            going = false;
            break;
        }
    }
    // Picture k at t0 + k x interval; the run ends an interval after the last one.
    const TimeLapseClock::SteadyTime t0 = clock_.Now();
    for (int k = 0; going && k < plan.count; ++k) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            going = !stopRequested_;
        }
        if (!going) {
            break;
        }
        if (hooks.requestStill) {
            hooks.requestStill(k + 1);
        }
        going = SleepUntil(t0 + (k + 1) * plan.interval);
    }
    if (going && hooks.completed) {
        hooks.completed();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
}
