#pragma once

// Small pieces the benchmarks share.

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace bench {

// User and system CPU time of the whole process, threads that ended included.
inline std::uint64_t ProcessCpuNanoseconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto nanoseconds = [](const timeval& time) {
        return static_cast<std::uint64_t>(time.tv_sec) * 1000000000u +
               static_cast<std::uint64_t>(time.tv_usec) * 1000u;
    };
    return nanoseconds(usage.ru_utime) + nanoseconds(usage.ru_stime);
}

inline std::string ReadTaskFile(const std::string& task, const char* file) {
    std::ifstream in("/proc/self/task/" + task + "/" + file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The id of this process's thread named `name`, if one runs.
inline std::optional<std::string> FindThread(const char* name) {
    std::unique_ptr<DIR, int (*)(DIR*)> tasks(opendir("/proc/self/task"), closedir);
    if (!tasks) {
        return std::nullopt;
    }
    while (const dirent* entry = readdir(tasks.get())) {
        const std::string task = entry->d_name;
        if (task != "." && task != ".." && ReadTaskFile(task, "comm") == std::string(name) + "\n") {
            return task;
        }
    }
    return std::nullopt;
}

// User and system CPU time of thread `task` (in clock ticks, so 10 ms steps), 0 once it ended.
inline std::uint64_t TaskCpuNanoseconds(const std::string& task) {
    const std::string stat = ReadTaskFile(task, "stat");
    const std::size_t end = stat.rfind(')');
    if (end == std::string::npos) {
        return 0;
    }
    // After the name: state, then fields 4 to 13, then utime and stime.
    std::istringstream fields(stat.substr(end + 1));
    std::string field;
    for (int i = 3; i <= 13 && fields >> field; ++i) {
    }
    unsigned long long user = 0;
    unsigned long long system = 0;
    fields >> user >> system;
    return (user + system) * (1000000000u / static_cast<std::uint64_t>(sysconf(_SC_CLK_TCK)));
}

// This process's threads that run now: their name (the calling thread's is "main") and CPU
// time, by thread id. Threads of a pool keep their time across the tasks they run.
struct ThreadTime {
    std::string name;
    std::uint64_t cpuNanoseconds = 0;
};
inline std::map<std::string, ThreadTime> ThreadTimes() {
    std::map<std::string, ThreadTime> threads;
    std::unique_ptr<DIR, int (*)(DIR*)> tasks(opendir("/proc/self/task"), closedir);
    if (!tasks) {
        return threads;
    }
    const std::string self = std::to_string(static_cast<long>(gettid()));
    while (const dirent* entry = readdir(tasks.get())) {
        const std::string task = entry->d_name;
        if (task == "." || task == "..") {
            continue;
        }
        std::string name = ReadTaskFile(task, "comm");
        while (!name.empty() && name.back() == '\n') {
            name.pop_back();
        }
        threads[task] = {task == self ? std::string("main") : name, TaskCpuNanoseconds(task)};
    }
    return threads;
}

// The middle value (the upper one of an even count); 0 for none.
inline double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Sizes the display, turns all four overlays on and shows it: the display as a user at the
// bench has it, with the cross, the grid, the circles and the clock over the live picture.
template <typename Display>
void ShowWithAllOverlays(Display& display, int width, int height) {
    display.resize(width, height);
    auto& overlays = display.overlays();
    overlays.showClock = 1;
    overlays.showCrossLine = 1;
    overlays.showGrid = 1;
    overlays.showCircles = 1;
    display.show();
}

}  // namespace bench
