#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "output/time_lapse_worker.h"

// Wall and steady time for the time-lapse dialog that pass only when the test says. Sleeps
// end when the clock has been moved past their deadline. Any thread.
class ManualClock : public TimeLapseClock {
public:
    explicit ManualClock(WallTime wall) : wall_(wall) {}
    WallTime WallNow() override { return wall_ + std::chrono::nanoseconds(offset_.load()); }
    SteadyTime Now() override { return SteadyTime{} + std::chrono::nanoseconds(offset_.load()); }
    bool SleepUntil(SteadyTime deadline, std::unique_lock<std::mutex>& lock,
                    std::condition_variable& wake, const std::function<bool()>& woken) override {
        while (!woken()) {
            if (Now() >= deadline) {
                return true;
            }
            wake.wait_for(lock, std::chrono::milliseconds(1));
        }
        return false;
    }
    void Advance(std::chrono::milliseconds by) {
        offset_ += std::chrono::nanoseconds(by).count();
    }

private:
    WallTime wall_;
    std::atomic<std::int64_t> offset_{0};
};
