// Measures how long the program takes from its launch to the first live frame it shows, against
// the bare GStreamer start-up to a first frame, side by side in one run:
//   - program: digital-microscope --simulate (the microscope kind, 720 x 480) and
//     --simulate=camera (1280 x 1024) on the offscreen platform, started as a child process
//     with its trace switched on; the first frame is the trace line the display window writes
//     when it paints its first live frame ("First live frame shown"), then the child is asked
//     to end (SIGTERM);
//   - snap: digital-microscope-cli --simulate snap and --simulate=camera snap, launch to exit
//     (one still written), with its CPU time (user + system, from wait4);
//   - bare: gst-launch-1.0 -v videotestsrc num-buffers=1 ! YUY2 1280 x 1024 ! videoconvert !
//     BGR ! fakesink silent=false, launch to the line announcing the fakesink's first buffer.
// Every child is a new process: the figures include loading the program and its libraries,
// initialising Qt and GStreamer and reading GStreamer's plugin registry. The children take
// turns, round by round, so that all see the same machine load; one round of warm-up is not
// counted; the figures are medians over the rounds.
// The programs are copied into a private folder (so a CapConfig.dat beside the build's
// programs does not change the frame size) and run with HOME there; GStreamer's registry cache
// stays the user's, so that it is not rebuilt on every launch.
//   startup_bench [rounds]   (at least 1; 9 by default)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "scratch_folder.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultRounds = 9;
constexpr auto kChildTimeout = std::chrono::seconds(20);
constexpr char kFirstFrameTrace[] = "First live frame shown";
constexpr char kFirstBufferLine[] = "last-message = chain";

// The environment of every child: this one's, with the given variables set.
class Environment {
public:
    Environment() {
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            const std::size_t equals = text.find('=');
            if (equals != std::string::npos) {
                variables_[text.substr(0, equals)] = text.substr(equals + 1);
            }
        }
    }
    void Set(const std::string& name, const std::string& value) { variables_[name] = value; }
    void Remove(const std::string& name) { variables_.erase(name); }
    std::optional<std::string> Get(const std::string& name) const {
        const auto found = variables_.find(name);
        return found == variables_.end() ? std::nullopt : std::optional(found->second);
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> entries;
        for (const auto& [name, value] : variables_) {
            entries.push_back(name + "=" + value);
        }
        return entries;
    }

private:
    std::map<std::string, std::string> variables_;
};

struct Outcome {
    bool ok = false;
    double wallMs = 0.0;  // launch to the awaited line, or to the exit
    double cpuMs = 0.0;   // the child's whole life (user + system)
};

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

double Milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// Starts `argv` with its standard output and error going to one pipe and waits until a line
// holding `awaited` comes through (then sends SIGTERM) or, when `awaited` is empty, until the
// child ends. The child is reaped in any case; the outcome is ok only when the line came
// (or the child ended with status 0) within kChildTimeout.
Outcome RunChild(std::vector<std::string> argv, const Environment& environment,
                 const std::string& awaited) {
    Outcome outcome;
    int pipeEnds[2] = {-1, -1};
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return outcome;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
    std::vector<std::string> variables = environment.Entries();
    std::vector<char*> args = Pointers(argv);
    std::vector<char*> envp = Pointers(variables);

    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    if (spawned != 0) {
        ::close(pipeEnds[0]);
        return outcome;
    }

    std::string pending;
    bool seen = false;
    bool terminated = false;
    const Clock::time_point deadline = start + kChildTimeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            ::kill(pid, SIGKILL);
            break;
        }
        pollfd readable{pipeEnds[0], POLLIN, 0};
        if (::poll(&readable, 1, static_cast<int>(left.count())) < 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t got = ::read(pipeEnds[0], buffer, sizeof buffer);
        if (got <= 0) {
            break;  // every writer has closed its end: the child has ended
        }
        if (seen) {
            continue;  // draining until the child ends
        }
        pending.append(buffer, static_cast<std::size_t>(got));
        if (!awaited.empty() && pending.find(awaited) != std::string::npos) {
            outcome.wallMs = Milliseconds(Clock::now() - start);
            seen = true;
            terminated = ::kill(pid, SIGTERM) == 0;
        }
        // Keep only a tail that could hold the start of the awaited text.
        if (pending.size() > 2 * sizeof buffer) {
            pending.erase(0, pending.size() - sizeof buffer);
        }
    }
    ::close(pipeEnds[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const Clock::time_point end = Clock::now();
    outcome.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
                    (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
    if (awaited.empty()) {
        outcome.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        outcome.wallMs = Milliseconds(end - start);
    } else {
        outcome.ok = seen && terminated;
    }
    if (!outcome.ok) {
        std::fprintf(stderr, "startup_bench: %s failed (status 0x%x); its last output:\n%s\n",
                     argv[0].c_str(), static_cast<unsigned>(status), pending.c_str());
    }
    return outcome;
}

struct Subject {
    const char* label;
    std::vector<std::string> argv;
    std::string awaited;  // empty: until the child ends
    std::vector<double> wallMs;
    std::vector<double> cpuMs;
};

bool CopyProgram(const char* from, const std::string& to) {
    std::error_code error;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
    return !error && ::chmod(to.c_str(), 0755) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultRounds;
    const bench::ScratchFolder folder("startup_bench");
    const std::string program = folder / "digital-microscope";
    const std::string cli = folder / "digital-microscope-cli";
    if (!folder.ok() || !CopyProgram(DM_EXECUTABLE, program) ||
        !CopyProgram(DM_CLI_EXECUTABLE, cli)) {
        std::fprintf(stderr, "startup_bench: cannot copy the programs into a private folder\n");
        return 1;
    }

    Environment environment;
    if (!environment.Get("XDG_CACHE_HOME")) {
        if (const std::optional<std::string> home = environment.Get("HOME")) {
            environment.Set("XDG_CACHE_HOME", *home + "/.cache");
        }
    }
    environment.Set("HOME", folder / "");
    environment.Set("XDG_RUNTIME_DIR", folder / "");
    environment.Set("QT_QPA_PLATFORM", "offscreen");
    environment.Set("QT_LOGGING_RULES", "microscope.trace.debug=true");
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_CONFIG_HOME", "XDG_DOCUMENTS_DIR",
                             "DIGITAL_MICROSCOPE_SIMULATE", "DIGITAL_MICROSCOPE_FRAME_CODE"}) {
        environment.Remove(name);
    }

    std::vector<Subject> subjects{
        {"bare GStreamer, first buffer (gst-launch-1.0, 1280 x 1024)",
         {"gst-launch-1.0", "-v", "videotestsrc", "num-buffers=1", "!",
          "video/x-raw,format=YUY2,width=1280,height=1024", "!", "videoconvert", "!",
          "video/x-raw,format=BGR", "!", "fakesink", "silent=false"},
         kFirstBufferLine,
         {},
         {}},
        {"program --simulate, first live frame (720 x 480)",
         {program, "--simulate"},
         kFirstFrameTrace,
         {},
         {}},
        {"program --simulate=camera, first live frame (1280 x 1024)",
         {program, "--simulate=camera"},
         kFirstFrameTrace,
         {},
         {}},
        {"cli --simulate snap, to exit (720 x 480)", {cli, "--simulate", "snap"}, "", {}, {}},
        {"cli --simulate=camera snap, to exit (1280 x 1024)",
         {cli, "--simulate=camera", "snap"},
         "",
         {},
         {}},
    };

    std::printf("startup_bench: %d rounds after one of warm-up, wall time from launch\n", rounds);
    for (int round = 0; round <= rounds; ++round) {
        for (Subject& subject : subjects) {
            const Outcome outcome = RunChild(subject.argv, environment, subject.awaited);
            if (!outcome.ok) {
                return 1;
            }
            if (round > 0) {
                subject.wallMs.push_back(outcome.wallMs);
                subject.cpuMs.push_back(outcome.cpuMs);
            }
        }
    }

    const double bare = bench::Median(subjects.front().wallMs);
    std::printf("medians                                                      wall ms  / bare\n");
    for (const Subject& subject : subjects) {
        const double wall = bench::Median(subject.wallMs);
        std::printf("  %-58s %7.1f  %6.2f\n", subject.label, wall, wall / bare);
    }
    std::printf("CPU time of the snaps (user + system, whole run)\n");
    for (const Subject& subject : subjects) {
        if (subject.awaited.empty()) {
            std::printf("  %-58s %7.1f ms\n", subject.label, bench::Median(subject.cpuMs));
        }
    }
    return 0;
}
