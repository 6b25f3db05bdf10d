// Measures the CPU time the program spends per played frame of a 1280 x 1024 MJPG recording
// against GStreamer's own playback of the same file, side by side in one run:
//   - program: CMoviePlayer (playbin, appsink, the JPEG pictures decoded by the player at
//     about the size shown) playing into the real display window (622 x 487, offscreen),
//     whose repaints the UI thread's event loop carries out, until the end of the file is
//     reported;
//   - bare: gst-launch-1.0 playbin with a fakesink as its video sink (decoding, no
//     conversion, no display), in a child process, in time with the clock as the player.
// Each side is measured as CPU time (user + system, of the process or of the child) over the
// file's frames. The sides take turns, in rounds, so that both see the same machine load;
// the figures are the medians over the rounds.
//   playback_bench [seconds of video] [rounds]   (at least 2 and 1; 6 and 3 by default)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "bench_support.h"
#include "browser/movie_player.h"
#include "capture/display/video_display_window.h"
#include "scratch_folder.h"

namespace {

constexpr int kFramesPerSecond = 30;
constexpr int kDisplayWidth = 622;
constexpr int kDisplayHeight = 487;

double Seconds(std::uint64_t nanoseconds) {
    return static_cast<double>(nanoseconds) / 1e9;
}

// Quits `loop` when the player reports an event.
class EndWatcher : public QObject {
public:
    explicit EndWatcher(QEventLoop& loop) : loop_(loop) {}

protected:
    void customEvent(QEvent* event) override {
        if (event->type() == PlayerEvent::Type()) {
            loop_.quit();
        }
    }

private:
    QEventLoop& loop_;
};

struct Side {
    double cpuSeconds = 0.0;
    std::map<std::string, double> threadSeconds;  // the program's threads, by name
    double wallSeconds = 0.0;
    long framesShown = -1;  // -1: not known
    bool ok = false;
};

Side PlayInProgram(const std::string& path) {
    VideoDisplayWindow display;
    display.resize(kDisplayWidth, kDisplayHeight);
    display.show();
    QEventLoop loop;
    EndWatcher watcher(loop);
    CMoviePlayer player;
    long frames = 0;
    QObject::connect(&display, &VideoDisplayWindow::pictureTargetSizeChanged, &player,
                     &CMoviePlayer::SetFrameSize);
    player.SetWindows(&watcher, [&](const QImage& frame, QSize videoSize) {
        display.ShowVideoFrame(frame, videoSize);
        ++frames;
    });
    Side side;
    const auto wallStart = std::chrono::steady_clock::now();
    const std::uint64_t cpuStart = bench::ProcessCpuNanoseconds();
    const std::map<std::string, bench::ThreadTime> threadsBefore = bench::ThreadTimes();
    if (!player.Open(path).ok()) {
        return side;
    }
    player.Run();
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    side.ok = player.GetEvent() == playerevent::kComplete;
    // GStreamer's threads end with the file: their times are read before.
    // What each thread spent on this file, named without GStreamer's instance numbers
    // (multiqueue3:src is the decoder's thread of the fourth file played); GStreamer's pool
    // threads outlive the files they play.
    for (const auto& [id, thread] : bench::ThreadTimes()) {
        const auto before = threadsBefore.find(id);
        const std::uint64_t spent =
            thread.cpuNanoseconds -
            (before != threadsBefore.end() ? before->second.cpuNanoseconds : 0);
        std::string kind;
        for (const char c : thread.name) {
            if (c < '0' || c > '9') {
                kind += c;
            }
        }
        side.threadSeconds[kind] += Seconds(spent);
    }
    player.Close();
    QApplication::processEvents();
    side.cpuSeconds = Seconds(bench::ProcessCpuNanoseconds() - cpuStart);
    side.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    side.framesShown = frames;
    return side;
}

Side PlayInGstLaunch(const std::string& path) {
    Side side;
    const std::string uri = "uri=file://" + path;
    const auto wallStart = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execlp("gst-launch-1.0", "gst-launch-1.0", "-q", "playbin", uri.c_str(),
               "video-sink=fakesink sync=true", "flags=0x1", static_cast<char*>(nullptr));
        _exit(127);
    }
    if (child < 0) {
        return side;
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) {
        return side;
    }
    side.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    side.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    side.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return side;
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication application(argc, argv);
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 6;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const int frames = seconds * kFramesPerSecond;

    bench::ScratchFolder scratch("playback_bench");
    const std::string path = scratch / "clip.avi";
    // A busy, moving picture, as a recording of a specimen is: every frame differs.
    const std::string make =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1280x1024:rate=" +
        std::to_string(kFramesPerSecond) + " -t " + std::to_string(seconds) +
        " -c:v mjpeg -q:v 3 -pix_fmt yuvj420p '" + path + "'";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "ffmpeg could not make the MJPG file\n");
        return 1;
    }

    std::vector<double> program;
    std::vector<double> bare;
    std::vector<double> shown;
    std::map<std::string, std::vector<double>> threads;  // ms per frame, by thread name
    for (int round = 0; round < rounds; ++round) {
        const Side ours = PlayInProgram(path);
        const Side theirs = PlayInGstLaunch(path);
        if (!ours.ok || !theirs.ok) {
            std::fprintf(stderr, "round %d: a side did not play to the end (program %d, bare %d)\n",
                         round, ours.ok, theirs.ok);
            return 1;
        }
        program.push_back(ours.cpuSeconds / frames * 1000.0);
        bare.push_back(theirs.cpuSeconds / frames * 1000.0);
        shown.push_back(static_cast<double>(ours.framesShown));
        for (const auto& [name, threadSeconds] : ours.threadSeconds) {
            threads[name].push_back(threadSeconds / frames * 1000.0);
        }
        std::printf(
            "round %d: program %.2f ms/frame (%ld frames shown, %.1f s), bare %.2f ms/frame "
            "(%.1f s)\n",
            round, program.back(), ours.framesShown, ours.wallSeconds, bare.back(),
            theirs.wallSeconds);
    }
    const double programMedian = bench::Median(program);
    const double bareMedian = bench::Median(bare);
    std::printf("\n1280x1024 MJPG, %d frames at %d fps, %d rounds (medians)\n", frames,
                kFramesPerSecond, rounds);
    std::printf("  program (player + display): %.2f ms CPU per frame, %.0f of %d frames shown\n",
                programMedian, bench::Median(shown), frames);
    for (const auto& [name, perFrame] : threads) {
        const double median = bench::Median(perFrame);
        if (median >= 0.01) {
            std::printf("    thread %-18s %.2f ms per frame\n", name.c_str(), median);
        }
    }
    std::printf("  bare (gst-launch playbin, fakesink): %.2f ms CPU per frame\n", bareMedian);
    std::printf("  ratio program / bare: %.2f (goal <= 1.30)\n",
                bareMedian > 0.0 ? programMedian / bareMedian : 0.0);
    return 0;
}
