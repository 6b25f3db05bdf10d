#include "output/time_lapse_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = TimeLapseClock;

// A clock whose sleeps take no time: each moves both clocks on to its deadline. The wall
// clock may jump once, as after the machine slept.
class FakeClock : public TimeLapseClock {
public:
    explicit FakeClock(WallTime wall) : wall_(wall) {}
    WallTime WallNow() override {
        ++wallReads;
        if (wallReads == jumpAtRead) {
            wall_ += jump;
        }
        return wall_;
    }
    SteadyTime Now() override { return now_; }
    bool SleepUntil(SteadyTime deadline, std::unique_lock<std::mutex>&, std::condition_variable&,
                    const std::function<bool()>& woken) override {
        if (woken()) {
            return false;
        }
        if (deadline > now_) {
            wall_ += deadline - now_;
            now_ = deadline;
        }
        ++sleeps;
        return true;
    }

    int wallReads = 0;
    int jumpAtRead = -1;
    std::chrono::seconds jump{0};
    int sleeps = 0;

private:
    WallTime wall_;
    SteadyTime now_{};
};

// What a run did, in the fake clock's steady time.
struct Record {
    std::vector<std::chrono::milliseconds> requests;
    std::vector<int> numbers;
    std::chrono::milliseconds completedAt{-1};
};

Record RunToTheEnd(FakeClock& clock, const TimeLapsePlan& plan) {
    Record record;
    TimeLapseWorker worker(clock);
    const auto ms = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(clock.Now() -
                                                                     Clock::SteadyTime{});
    };
    EXPECT_TRUE(worker.Start(plan, {[&](int number) {
                                        record.requests.push_back(ms());
                                        record.numbers.push_back(number);
                                    },
                                    [&] { record.completedAt = ms(); }}));
    while (worker.running()) {
        std::this_thread::sleep_for(1ms);
    }
    worker.Stop();
    return record;
}

// Picture k at start + k x interval, the end an interval after the last; the start awaited
// on the wall clock, and taken at once when it has passed, noticed or not.
TEST(TimeLapseWorker, KeepsToTheScheduleFromTheStartSeenOnTheWallClock) {
    const Clock::WallTime opened = std::chrono::system_clock::from_time_t(1'800'000'000);
    const struct {
        const char* what;
        std::chrono::milliseconds startIn;  // from the wall time the worker starts at
        std::chrono::milliseconds interval;
        int count;
        int jumpAtRead;  // the wall clock jumps an hour on this read (-1: never)
        std::chrono::milliseconds firstAt;
    } cases[] = {
        {"now, 8 at 3 s", 0ms, 3000ms, 8, -1, 0ms},
        {"one picture", 0ms, 3000ms, 1, -1, 0ms},
        {"2 min 60 s", 0ms, 180'000ms, 3, -1, 0ms},
        {"in 10.3 s", 10'300ms, 3000ms, 2, -1, 10'300ms},
        {"passed a minute ago", -60'000ms, 3000ms, 2, -1, 0ms},
        {"in an hour, slept through", 3'600'000ms, 5000ms, 2, 3, 500ms},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        FakeClock clock(opened);
        clock.jumpAtRead = each.jumpAtRead;
        clock.jump = std::chrono::hours(1);
        const Record record =
            RunToTheEnd(clock, {opened + each.startIn, each.interval, each.count});
        ASSERT_EQ(record.requests.size(), static_cast<std::size_t>(each.count));
        for (int k = 0; k < each.count; ++k) {
            EXPECT_EQ(record.numbers[k], k + 1);
            EXPECT_EQ(record.requests[k], each.firstAt + k * each.interval) << k;
        }
        EXPECT_EQ(record.completedAt, each.firstAt + each.count * each.interval);
    }
}

// Stop ends the thread at once, waiting for the start or between pictures, and a stopped run
// is not completed; a new Start first ends the run before it, so one runs at a time.
TEST(TimeLapseWorker, StopEndsTheRunAtOnceWhateverItWaitsFor) {
    SystemTimeLapseClock clock;
    TimeLapseWorker worker(clock);
    std::atomic<int> requests{0};
    std::atomic<int> completed{0};
    std::atomic<int> inHook{0};
    std::atomic<int> mostInHook{0};
    const TimeLapseWorker::Hooks hooks{[&](int) {
                                           mostInHook = std::max(mostInHook.load(), ++inHook);
                                           ++requests;
                                           std::this_thread::sleep_for(2ms);
                                           --inHook;
                                       },
                                       [&] { ++completed; }};
    const auto stopTakes = [&] {
        const auto before = std::chrono::steady_clock::now();
        worker.Stop();
        return std::chrono::steady_clock::now() - before;
    };
    // Waiting for a start an hour away.
    ASSERT_TRUE(worker.Start({std::chrono::system_clock::now() + 1h, 3s, 8}, hooks));
    std::this_thread::sleep_for(30ms);
    EXPECT_LT(stopTakes(), 50ms);
    EXPECT_FALSE(worker.running());
    EXPECT_EQ(requests, 0);
    // Between two pictures a minute apart.
    ASSERT_TRUE(worker.Start({std::chrono::system_clock::now(), 60s, 5}, hooks));
    while (requests == 0) {
        std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(20ms);
    EXPECT_LT(stopTakes(), 50ms);
    EXPECT_EQ(requests, 1);
    // Started again and again: never two runs at once.
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(worker.Start({std::chrono::system_clock::now(), 3s, 1}, hooks));
    }
    worker.Stop();
    EXPECT_EQ(mostInHook, 1);
    EXPECT_EQ(completed, 0);
}

// On the real clock: five pictures 3 s apart, each within 50 ms of its time. Beside it, the
// same series timed by counting 10 ms sleeps, whose overruns add up picture after picture.
TEST(TimeLapseWorker, OnTheRealClockThePicturesKeepTheirTimes) {
    constexpr int kCount = 5;
    constexpr auto kInterval = 3s;
    SystemTimeLapseClock clock;
    TimeLapseWorker worker(clock);
    std::vector<std::chrono::steady_clock::time_point> ours;
    std::vector<std::chrono::steady_clock::time_point> counted;
    std::atomic<bool> done{false};
    const auto start = std::chrono::system_clock::now() + 200ms;
    std::chrono::system_clock::time_point firstOnTheWallClock;
    const auto request = [&](int number) {
        ours.push_back(std::chrono::steady_clock::now());
        if (number == 1) {
            firstOnTheWallClock = std::chrono::system_clock::now();
        }
    };
    ASSERT_TRUE(worker.Start({start, kInterval, kCount}, {request, [&] { done = true; }}));
    std::thread sleepCounting([&] {
        while (std::chrono::system_clock::now() < start) {
            std::this_thread::sleep_for(5ms);
        }
        for (int k = 0; k < kCount; ++k) {
            counted.push_back(std::chrono::steady_clock::now());
            for (int i = 0; i < kInterval / 10ms; ++i) {
                std::this_thread::sleep_for(10ms);
            }
        }
    });
    sleepCounting.join();
    while (!done) {
        std::this_thread::sleep_for(5ms);
    }
    worker.Stop();
    ASSERT_EQ(ours.size(), static_cast<std::size_t>(kCount));
    EXPECT_GE(firstOnTheWallClock, start);
    EXPECT_LT(firstOnTheWallClock - start, 50ms);
    const auto lateness = [&](const auto& times, int k) {
        return std::chrono::duration<double, std::milli>(times[k] - (times[0] + k * kInterval))
            .count();
    };
    std::printf("picture  scheduled (ms late)  counted sleeps (ms late)\n");
    for (int k = 0; k < kCount; ++k) {
        std::printf("%7d  %19.1f  %24.1f\n", k + 1, lateness(ours, k), lateness(counted, k));
        EXPECT_LE(std::abs(lateness(ours, k)), 50.0) << k;
    }
    EXPECT_LT(lateness(ours, kCount - 1), lateness(counted, kCount - 1));
}

}  // namespace
