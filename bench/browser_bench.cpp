// Times the captured-file list over a Picture folder of 10,000 stills of 1280 x 1024 (16
// distinct 24-bit bitmap files, each hard-linked to 625 names, so the folder costs 60 MB of
// disk): from constructing the list (the folder scan) to its first page composed with all 8
// thumbnails, with the thumbnail cache cold (no disk thumbnails), warm (the disk thumbnails a
// previous list wrote, a fresh memory cache) and memory-warm (the same cache again); and one
// page down to all thumbnails drawn, disk-warm and memory-warm. The baseline, measured in the
// same run: decoding the 8 visible files without any cache (LoadThumbnailImage x 8), as a
// list without a cache does on every page. The files are in the kernel's page cache in every
// measurement.
//   browser_bench [rounds]
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "browser/picture_loader.h"
#include "browser/thumbnail_cache.h"
#include "browser/thumbnail_list.h"
#include "scratch_folder.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFiles = 10'000;
constexpr int kDistinct = 16;
constexpr int kWidth = 1280;
constexpr int kHeight = 1024;
constexpr int kScrollPages = 12;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A still with some structure, so that scaling it down is real work.
QImage Still(int seed) {
    QImage image(kWidth, kHeight, QImage::Format_RGB888);
    QPainter painter(&image);
    painter.fillRect(image.rect(), QColor::fromHsv(seed * 360 / kDistinct, 120, 200));
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 60; ++i) {
        const int x = (i * 97 + seed * 31) % kWidth;
        const int y = (i * 61 + seed * 17) % kHeight;
        painter.setBrush(QColor::fromHsv((i * 23 + seed * 40) % 360, 180, 160));
        painter.drawEllipse(QPoint(x, y), 40 + i % 50, 30 + i % 40);
    }
    return image;
}

// Processes events until the page on screen has every thumbnail it wants.
void Settle(const CThumbnailList& list) {
    while (list.thumbnailsPending()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

struct Folders {
    bench::ScratchFolder scratch{"browser_bench"};
    std::string pictures = scratch / "Picture";
    std::string videos = scratch / "Video";
    std::string thumbnails = scratch / "thumbnails";
};

bool MakeFolder(const Folders& folders) {
    std::error_code error;
    std::filesystem::create_directory(folders.pictures, error);
    std::filesystem::create_directory(folders.videos, error);
    for (int i = 0; i < kDistinct && !error; ++i) {
        if (!Still(i).save(
                QString::fromStdString(folders.pictures + "/master" + std::to_string(i) + ".bmp"),
                "BMP")) {
            return false;
        }
    }
    for (int i = 0; i < kFiles && !error; ++i) {
        std::filesystem::create_hard_link(
            folders.pictures + "/master" + std::to_string(i % kDistinct) + ".bmp",
            folders.pictures + "/StillCap" + std::to_string(i) + ".bmp", error);
    }
    for (int i = 0; i < kDistinct && !error; ++i) {
        std::filesystem::remove(folders.pictures + "/master" + std::to_string(i) + ".bmp", error);
    }
    return !error;
}

std::unique_ptr<CThumbnailList> NewList(const Folders& folders, ThumbnailCache& cache) {
    return std::make_unique<CThumbnailList>(folders.pictures, folders.videos,
                                            QImage(223, 380, QImage::Format_RGB32),
                                            QImage(223, 380, QImage::Format_RGB32), cache);
}

// Construction (the scan) to the first page with all its thumbnails.
double FirstPageMilliseconds(const Folders& folders, ThumbnailCache& cache) {
    const Clock::time_point start = Clock::now();
    std::unique_ptr<CThumbnailList> list = NewList(folders, cache);
    Settle(*list);
    return MillisecondsSince(start);
}

// Page down `pages` times from the top, each to all thumbnails drawn.
std::vector<double> PageDownMilliseconds(CThumbnailList& list, int pages) {
    std::vector<double> times;
    list.scrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
    Settle(list);
    for (int page = 0; page < pages; ++page) {
        const Clock::time_point start = Clock::now();
        list.scrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        Settle(list);
        times.push_back(MillisecondsSince(start));
    }
    return times;
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    Folders folders;
    if (!folders.scratch.ok() || !MakeFolder(folders)) {
        std::fprintf(stderr, "browser_bench: cannot make the picture folder\n");
        return 1;
    }
    std::error_code ignored;

    // The baseline: the last page's 8 files (the list opens at the end) decoded, no cache.
    std::vector<double> baseline;
    for (int round = 0; round < rounds; ++round) {
        const Clock::time_point start = Clock::now();
        for (int i = kFiles - 8; i < kFiles; ++i) {
            const std::string path = folders.pictures + "/StillCap" + std::to_string(i) + ".bmp";
            if (!LoadThumbnailImage(path, MediaKind::Pictures, kNormalThumbnailSide).ok()) {
                std::fprintf(stderr, "browser_bench: cannot decode %s\n", path.c_str());
                return 1;
            }
        }
        baseline.push_back(MillisecondsSince(start));
    }

    std::vector<double> scan;
    std::vector<double> cold;
    std::vector<double> warm;
    std::vector<double> memoryWarm;
    for (int round = 0; round < rounds; ++round) {
        {
            ThumbnailCache noDisk(LoadThumbnailImage, std::string());
            const Clock::time_point start = Clock::now();
            NewList(folders, noDisk);
            scan.push_back(MillisecondsSince(start));
        }
        std::filesystem::remove_all(folders.thumbnails, ignored);
        ThumbnailCache coldCache(LoadThumbnailImage, folders.thumbnails);
        cold.push_back(FirstPageMilliseconds(folders, coldCache));
        ThumbnailCache warmCache(LoadThumbnailImage, folders.thumbnails);
        warm.push_back(FirstPageMilliseconds(folders, warmCache));
        memoryWarm.push_back(FirstPageMilliseconds(folders, warmCache));
    }

    // Page down through pages whose thumbnails a previous list left on disk, with a fresh
    // memory cache; then the same pages again from memory.
    std::vector<double> scrollWarm;
    std::vector<double> scrollMemory;
    {
        ThumbnailCache filler(LoadThumbnailImage, folders.thumbnails);
        std::unique_ptr<CThumbnailList> list = NewList(folders, filler);
        PageDownMilliseconds(*list, kScrollPages);
    }
    for (int round = 0; round < rounds; ++round) {
        ThumbnailCache cache(LoadThumbnailImage, folders.thumbnails);
        std::unique_ptr<CThumbnailList> list = NewList(folders, cache);
        for (double ms : PageDownMilliseconds(*list, kScrollPages)) {
            scrollWarm.push_back(ms);
        }
        for (double ms : PageDownMilliseconds(*list, kScrollPages)) {
            scrollMemory.push_back(ms);
        }
    }

    const double baselineMs = bench::Median(baseline);
    std::printf(
        "browser_bench: %d stills of %d x %d (%d distinct files, hard-linked), "
        "%d rounds, medians\n",
        kFiles, kWidth, kHeight, kDistinct, rounds);
    std::printf("  8 thumbnails decoded, no cache (baseline)  %8.2f ms\n", baselineMs);
    std::printf("  construct the list (scan, sort, stat 8)    %8.2f ms\n", bench::Median(scan));
    const auto line = [baselineMs](const char* what, double ms) {
        std::printf("  %-42s %8.2f ms  %6.2f x baseline\n", what, ms, ms / baselineMs);
    };
    line("first page, cold cache", bench::Median(cold));
    line("first page, warm disk cache", bench::Median(warm));
    line("first page, memory-warm", bench::Median(memoryWarm));
    line("page down, warm disk cache", bench::Median(scrollWarm));
    line("page down, memory-warm", bench::Median(scrollMemory));
    std::printf("  slowest page down, warm disk cache         %8.2f ms\n",
                *std::max_element(scrollWarm.begin(), scrollWarm.end()));
    return 0;
}
