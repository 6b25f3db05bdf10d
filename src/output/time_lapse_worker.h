#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// The clocks a time-lapse run keeps to, and its sleeps. The run's pictures are spaced on the
// steady clock; its start is a wall-clock time. Tests put a clock of their own in its place.
class TimeLapseClock {
public:
    using WallTime = std::chrono::system_clock::time_point;
    using SteadyTime = std::chrono::steady_clock::time_point;

    virtual ~TimeLapseClock() = default;
    virtual WallTime WallNow() = 0;
    virtual SteadyTime Now() = 0;
    // Waits until Now() reaches `deadline`, or less when `wake` is notified and `woken()`
    // says so (the wait is then over at once). Returns false when woken. `lock` holds the
    // mutex `wake` goes with.
    virtual bool SleepUntil(SteadyTime deadline, std::unique_lock<std::mutex>& lock,
                            std::condition_variable& wake, const std::function<bool()>& woken) = 0;
};

// The machine's clocks: the wall clock and the steady (monotonic) clock.
class SystemTimeLapseClock : public TimeLapseClock {
public:
    WallTime WallNow() override { return std::chrono::system_clock::now(); }
    SteadyTime Now() override { return std::chrono::steady_clock::now(); }
    bool SleepUntil(SteadyTime deadline, std::unique_lock<std::mutex>& lock,
                    std::condition_variable& wake, const std::function<bool()>& woken) override;
};

// The days of `month` (1 to 12) in `year`, for checking a start date.
constexpr int DaysInMonth(int year, int month) {
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// A series of pictures: the first when the wall clock reaches `start`, `count` in all,
// `interval` apart.
struct TimeLapsePlan {
    TimeLapseClock::WallTime start;
    std::chrono::milliseconds interval{3000};
    int count = 1;
};

// Times a time-lapse run on a thread of its own. Picture k (from 0) is asked for at
// t0 + k x interval on the steady clock, t0 being the moment the start was seen, so the
// spacing does not drift with the sleeps' overruns; the run ends one interval after the last
// picture. The start is awaited on the wall clock, re-read at least every
// kStartCheck, so a start that passes unobserved (the machine slept) starts the run at once.
// Stop ends the thread within a few milliseconds, whatever it waits for.
//
// The hooks run on the worker's thread: `requestStill(number)` for the pictures 1 to count,
// `completed()` after the last interval of a run that was not stopped. They must not wait for
// the thread that calls Stop (post to it instead). Start, Stop and the destructor are called
// from one thread (the UI thread).
class TimeLapseWorker {
public:
    struct Hooks {
        std::function<void(int number)> requestStill;
        std::function<void()> completed;
    };

    // How often the wall clock is read while the start is awaited.
    static constexpr std::chrono::milliseconds kStartCheck{250};

    explicit TimeLapseWorker(TimeLapseClock& clock);
    ~TimeLapseWorker();
    TimeLapseWorker(const TimeLapseWorker&) = delete;
    TimeLapseWorker& operator=(const TimeLapseWorker&) = delete;

    // Starts a run; one that is still going is stopped and waited for first, so there is
    // never more than one. False when the thread cannot be made (nothing runs then).
    bool Start(const TimeLapsePlan& plan, Hooks hooks);
    // Ends the run and waits for its thread. Nothing when none runs.
    void Stop();
    // Whether a run was started and its thread has not ended.
    bool running() const;

private:
    void Run(TimeLapsePlan plan, Hooks hooks);
    // Sleeps until `deadline`; false when stopped.
    bool SleepUntil(TimeLapseClock::SteadyTime deadline);

    TimeLapseClock& clock_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopRequested_ = false;  // guarded
    bool finished_ = true;        // guarded; the thread has returned (or none was made)
    std::thread thread_;
};
