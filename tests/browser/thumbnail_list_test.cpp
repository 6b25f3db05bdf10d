#include "browser/thumbnail_list.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "browser/picture_loader.h"
#include "browser/thumbnail_cache.h"
#include "support/media_probe.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace {

using testsupport::TempDir;
using testsupport::WaitUntil;

constexpr QRgb kPictureBackground = 0xFFFFFFFFu;
constexpr QRgb kVideoBackground = 0xFF404040u;

QImage Plain(QRgb colour, int width = 223, int height = 380) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// A distinct colour for item `index`, so that a cell tells which item it shows.
QRgb ItemColour(int index) {
    return QColor::fromHsv((index * 47) % 360, 220, 100 + (index * 13) % 140).rgb();
}

// A decoder that any Qt image reader opens, counted; it waits while the gate is closed.
struct CountingDecoder {
    std::atomic<int> calls{0};
    std::mutex mutex;
    std::condition_variable opened;
    bool gateOpen = true;

    ThumbnailDecoder Function() {
        return [this](const std::string& path, MediaKind, int maxSide) -> IoResultOf<QImage> {
            ++calls;
            {
                std::unique_lock lock(mutex);
                opened.wait(lock, [this] { return gateOpen; });
            }
            QImage image(QString::fromStdString(path));
            if (image.isNull()) {
                return IoResult(EBADMSG);
            }
            if (image.width() > maxSide || image.height() > maxSide) {
                image = image.scaled(maxSide, maxSide, Qt::KeepAspectRatio);
            }
            return image;
        };
    }
    void SetGate(bool open) {
        {
            std::lock_guard lock(mutex);
            gateOpen = open;
        }
        opened.notify_all();
    }
};

class ThumbnailListTest : public ::testing::Test {
protected:
    ThumbnailListTest() {
        std::filesystem::create_directory(pictures);
        std::filesystem::create_directory(videos);
    }

    std::string WritePicture(const std::string& name, QRgb colour, int width = 64) {
        const std::string path = pictures + "/" + name;
        EXPECT_TRUE(Plain(colour, width, width * 3 / 4).save(QString::fromStdString(path), "BMP"));
        return path;
    }
    void WritePictures(int count, const std::string& prefix = "a") {
        for (int i = 0; i < count; ++i) {
            WritePicture(prefix + std::to_string(i) + ".bmp", ItemColour(i));
        }
    }
    void Open() {
        list = std::make_unique<CThumbnailList>(pictures, videos, Plain(kPictureBackground),
                                                Plain(kVideoBackground), *cache);
    }
    void NewCache() {
        list.reset();
        cache = std::make_unique<ThumbnailCache>(decoder.Function(), thumbnails);
    }
    bool Settle() {
        return WaitUntil([this] { return !list->thumbnailsPending(); });
    }
    // The canvas pixel at the centre of a cell.
    QRgb CellColour(int cell) {
        EXPECT_TRUE(Settle());
        return list->canvas().pixel(CanvasRect(cell).center());
    }
    QRect CanvasRect(int cell) const { return list->CellRect(cell).translated(-1, -1); }
    // Canvas pixels in `area` that differ from the background, cells left out.
    int ChangedAround(const QRect& area) const {
        int changed = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                bool inCell = false;
                for (int cell = 0; cell < CThumbnailList::kCells; ++cell) {
                    inCell = inCell || CanvasRect(cell).contains(x, y);
                }
                changed += !inCell && list->canvas().pixel(x, y) != kPictureBackground;
            }
        }
        return changed;
    }
    int ChangedAround(int cell) const {
        return ChangedAround(CanvasRect(cell).adjusted(-4, -4, 4, 4));
    }
    void Click(int cell, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mousePress(list.get(), button, {}, list->CellRect(cell).center());
    }

    TempDir dir;
    const std::string pictures = dir / "Picture";
    const std::string videos = dir / "Video";
    const std::string thumbnails = dir / "cache/thumbnails";
    CountingDecoder decoder;
    std::unique_ptr<ThumbnailCache> cache =
        std::make_unique<ThumbnailCache>(decoder.Function(), thumbnails);
    std::unique_ptr<CThumbnailList> list;
};

TEST_F(ThumbnailListTest, ScanAndAddPlaceTheFirstRowAndTheScrollBar) {
    struct Case {
        int scanned;  // pictures in the folder at start
        int added;    // then added one by one
        int firstRow, maximum;
        bool enabled;
    };
    for (const Case& c : {Case{0, 0, 0, 3, false}, Case{8, 0, 0, 3, false}, Case{9, 0, 0, 4, true},
                          Case{16, 0, 0, 7, true}, Case{17, 0, 4, 8, true}, Case{8, 1, 0, 4, true},
                          Case{0, 17, 5, 8, true}, Case{17, 2, 6, 9, true}}) {
        SCOPED_TRACE(testing::Message() << c.scanned << " scanned, " << c.added << " added");
        std::filesystem::remove_all(pictures);
        std::filesystem::create_directory(pictures);
        WritePictures(c.scanned);
        Open();
        for (int i = c.scanned; i < c.scanned + c.added; ++i) {
            list->AddPicture(WritePicture("b" + std::to_string(i) + ".bmp", ItemColour(i)));
            EXPECT_EQ(list->selectedIndex(MediaKind::Pictures), i);
        }
        EXPECT_EQ(list->firstRow(MediaKind::Pictures), c.firstRow);
        EXPECT_EQ(list->scrollBar()->minimum(), 0);
        EXPECT_EQ(list->scrollBar()->maximum(), c.maximum);
        EXPECT_EQ(list->scrollBar()->value(), c.firstRow);
        EXPECT_EQ(list->scrollBar()->isEnabled(), c.enabled);
        // The page shows the items from the first row on, in natural name order.
        const int n = c.scanned + c.added;
        for (int cell = 0; cell < 8; ++cell) {
            const int index = 2 * c.firstRow + cell;
            EXPECT_EQ(CellColour(cell), index < n ? ItemColour(index) : kPictureBackground)
                << "cell " << cell;
        }
    }
}

TEST_F(ThumbnailListTest, ScrollActionsMoveByRowsWithinTheRange) {
    WritePictures(17);
    Open();
    list->scrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
    struct Step {
        QAbstractSlider::SliderAction action;
        int firstRow;
    };
    for (const Step& step :
         {Step{QAbstractSlider::SliderPageStepAdd, 4},
          Step{QAbstractSlider::SliderSingleStepAdd, 5}, Step{QAbstractSlider::SliderToMaximum, 8},
          Step{QAbstractSlider::SliderPageStepAdd, 8}, Step{QAbstractSlider::SliderPageStepSub, 4},
          Step{QAbstractSlider::SliderSingleStepSub, 3},
          Step{QAbstractSlider::SliderToMinimum, 0}}) {
        list->scrollBar()->triggerAction(step.action);
        EXPECT_EQ(list->firstRow(MediaKind::Pictures), step.firstRow) << step.action;
        EXPECT_EQ(CellColour(0), ItemColour(2 * step.firstRow)) << step.action;
    }
    // The bottom leaves only the last row, one item, at the top of the page.
    list->scrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(CellColour(0), ItemColour(16));
    EXPECT_EQ(CellColour(1), kPictureBackground);

    // The wheel does nothing, over the page or over the bar, and goes no further.
    for (QWidget* target : std::initializer_list<QWidget*>{list.get(), list->scrollBar()}) {
        QWheelEvent wheel(QPointF(5, 5), QPointF(list->mapToGlobal(QPoint(5, 5))), QPoint(),
                          QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(target, &wheel);
        EXPECT_TRUE(wheel.isAccepted());
        EXPECT_EQ(list->firstRow(MediaKind::Pictures), 8);
    }
}

TEST_F(ThumbnailListTest, TheCornerMarkShowsOnUnsavedItemsWhoseNameDoesNotStartWithA) {
    WritePicture("A1.bmp", ItemColour(0));
    WritePicture("a2.bmp", ItemColour(1));
    WritePicture("b3.bmp", ItemColour(2));
    WritePicture("b4.bmp", ItemColour(3));                               // saved elsewhere below
    testsupport::WriteFile(pictures + "/b5.bmp", std::string(60, 'x'));  // undecodable
    Open();
    list->HitTest(list->mapToGlobal(list->CellRect(3).center()));
    list->SelectedItem()->flags &= ~itemflag::kUnsaved;
    list->ClearSelection(MediaKind::Pictures);
    list->ComposePage();
    ASSERT_TRUE(Settle());
    for (const auto& [cell, marked] :
         {std::pair{0, false}, {1, true}, {2, true}, {3, false}, {4, false}}) {
        const QRect around = CanvasRect(cell).adjusted(-4, -4, 4, 4);
        const QRect lowerRight(around.center(), around.bottomRight());
        EXPECT_EQ(ChangedAround(lowerRight) > 0, marked) << "cell " << cell;
        EXPECT_EQ(ChangedAround(around), ChangedAround(lowerRight)) << "cell " << cell;
    }
}

TEST_F(ThumbnailListTest, ClicksSelectTheItemUnderThePointAndMissesClearIt) {
    WritePictures(3, "A");
    Open();
    QSignalSpy hits(list.get(), &CThumbnailList::itemHit);
    std::string path;
    EXPECT_EQ(list->GetSelectedPath(path), 0u);

    Click(1, Qt::RightButton);
    ASSERT_EQ(hits.size(), 1);
    EXPECT_EQ(hits[0][0].value<Qt::MouseButton>(), Qt::RightButton);
    EXPECT_FALSE(hits[0][1].toBool());
    EXPECT_EQ(list->GetSelectedPath(path), 7u);
    EXPECT_EQ(path, pictures + "/A1.bmp");
    EXPECT_GT(ChangedAround(1), 0);
    EXPECT_EQ(ChangedAround(0) + ChangedAround(2), 0);

    QTest::mouseDClick(list.get(), Qt::LeftButton, {}, list->CellRect(2).center());
    ASSERT_GE(hits.size(), 2);
    EXPECT_TRUE(hits.back()[1].toBool());
    EXPECT_EQ(list->selectedIndex(MediaKind::Pictures), 2);

    // Between two cells, and on a cell without an item: nothing selected, no frame.
    for (const QPoint miss : {QPoint(list->CellRect(0).right() + 5, list->CellRect(0).center().y()),
                              list->CellRect(3).center()}) {
        Click(2);
        const qsizetype before = hits.size();
        QTest::mousePress(list.get(), Qt::LeftButton, {}, miss);
        EXPECT_EQ(hits.size(), before);
        EXPECT_EQ(list->GetSelectedPath(path), 0u);
        EXPECT_EQ(list->selectedIndex(MediaKind::Pictures), -1);
        EXPECT_EQ(ChangedAround(list->canvas().rect()), 0);
    }
}

TEST_F(ThumbnailListTest, NewStillsAreFramedAndNewRecordingsSelected) {
    WritePictures(2, "A");
    Open();
    list->AddPicture(WritePicture("A9.bmp", ItemColour(9)));
    std::string path;
    EXPECT_EQ(list->GetSelectedPath(path), 0u);  // framed by index only
    EXPECT_EQ(list->items(MediaKind::Pictures).back().flags, 3u);
    EXPECT_GT(ChangedAround(2), 0);

    const std::string video = videos + "/v.avi";
    testsupport::WriteFile(video, "");
    list->SetMediaKind(MediaKind::Videos);
    list->AddVideo(video);
    EXPECT_EQ(list->GetSelectedPath(path), 7u);
    EXPECT_EQ(path, video);
    EXPECT_EQ(list->canvas().pixel(CanvasRect(1).center()), kVideoBackground);
    list->SetMediaKind(MediaKind::Pictures);
    EXPECT_EQ(list->selectedIndex(MediaKind::Pictures), 2);  // each kind keeps its own
}

TEST_F(ThumbnailListTest, AFileDeletedBehindTheListIsDroppedAndThePageClosesUp) {
    WritePictures(10);
    Open();
    ASSERT_EQ(CellColour(2), ItemColour(2));
    Click(2);
    ASSERT_EQ(::unlink((pictures + "/a2.bmp").c_str()), 0);
    list->ComposePage();
    EXPECT_EQ(list->items(MediaKind::Pictures).size(), 9u);
    EXPECT_EQ(list->selectedIndex(MediaKind::Pictures), -1);
    for (int cell = 2; cell < 8; ++cell) {
        EXPECT_EQ(CellColour(cell), ItemColour(cell + 1)) << "cell " << cell;
    }
    EXPECT_FALSE(list->DropMissingFile(pictures + "/a3.bmp"));  // still there
}

TEST_F(ThumbnailListTest, OnlyReadableFilesAreListedAndHostileOnesLeaveEmptyCells) {
    using testsupport::WriteFile;
    WriteFile(pictures + "/b40.bmp", std::string(40, 'B'));
    WriteFile(pictures + "/b41.bmp", std::string(41, 'B'));
    WriteFile(pictures + "/upper.BMP", std::string(100, 'B'));
    WriteFile(pictures + "/.hidden.bmp", std::string(100, 'B'));
    std::string truncated = testsupport::ReadFile(WritePicture("c_truncated.bmp", ItemColour(1)));
    WriteFile(pictures + "/c_truncated.bmp", truncated.substr(0, 80));
    std::string lying = testsupport::ReadFile(WritePicture("d_lying.bmp", ItemColour(1)));
    lying[19] = lying[20] = lying[21] = '\x7f';  // a width of about 2 billion pixels
    WriteFile(pictures + "/d_lying.bmp", lying);
    WritePicture("e_good.bmp", ItemColour(5));
    std::filesystem::create_directory(pictures + "/dir.bmp");
    std::filesystem::create_symlink("loop.bmp", pictures + "/loop.bmp");
    ASSERT_EQ(::mkfifo((pictures + "/fifo.bmp").c_str(), 0600), 0);
    WriteFile(videos + "/empty.avi", "");
    WriteFile(videos + "/noise.avi",
              std::string("RIFF\x10\0\0\0AVI LIST", 16) + std::string(3000, '\x55'));
    std::filesystem::create_directory(videos + "/dir.avi");
    std::filesystem::create_symlink("loop.avi", videos + "/loop.avi");
    ASSERT_EQ(::mkfifo((videos + "/fifo.avi").c_str(), 0600), 0);

    cache = std::make_unique<ThumbnailCache>(LoadThumbnailImage, thumbnails);
    Open();
    std::vector<std::string> names;
    for (MediaKind kind : {MediaKind::Pictures, MediaKind::Videos}) {
        for (const MediaItem& item : list->items(kind)) {
            names.emplace_back(FileNameOf(item.path));
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"b41.bmp", "c_truncated.bmp", "d_lying.bmp",
                                               "e_good.bmp", "empty.avi", "noise.avi"}));
    for (int cell = 0; cell < 4; ++cell) {
        EXPECT_EQ(CellColour(cell), cell == 3 ? ItemColour(5) : kPictureBackground) << cell;
    }
    list->SetMediaKind(MediaKind::Videos);
    EXPECT_EQ(CellColour(0), kVideoBackground);
    EXPECT_EQ(CellColour(1), kVideoBackground);
}

TEST_F(ThumbnailListTest, TheDiskCacheIsSharedBetweenRunsAndFollowsTheModificationTime) {
    const std::string path = WritePicture("a0.bmp", ItemColour(0), 320);
    testsupport::WriteFile(pictures + "/a1.bmp", std::string(60, 'x'));
    Open();
    ASSERT_EQ(CellColour(0), ItemColour(0));
    EXPECT_EQ(decoder.calls, 2);
    const std::string png = ThumbnailCache::DiskThumbnailPath(thumbnails, path);
    struct stat info = {};
    ASSERT_EQ(::stat(png.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((thumbnails + "/normal").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    const QString identify =
        QString::fromStdString(testsupport::RunCommand("identify -verbose '" + png + "'"));
    EXPECT_TRUE(
        identify.contains(QStringLiteral("Thumb::URI: file://") + QString::fromStdString(path)))
        << identify.toStdString();
    EXPECT_TRUE(identify.contains(QStringLiteral("Thumb::MTime: %1").arg(info.st_mtim.tv_sec)));
    EXPECT_TRUE(identify.contains(QStringLiteral("Geometry: 128x96")));

    // The failure is remembered: pages composed again do not decode again.
    for (int i = 0; i < 3; ++i) {
        list->ComposePage();
        ASSERT_TRUE(Settle());
    }
    EXPECT_EQ(decoder.calls, 2);

    // A fresh memory cache finds the picture's thumbnail on disk.
    NewCache();
    Open();
    EXPECT_EQ(CellColour(0), ItemColour(0));
    EXPECT_EQ(decoder.calls, 3);  // the undecodable file only

    // A changed modification time makes a new one.
    const timespec later[2] = {{0, UTIME_OMIT}, {info.st_mtim.tv_sec + 100, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
    NewCache();
    Open();
    EXPECT_EQ(CellColour(0), ItemColour(0));
    EXPECT_EQ(decoder.calls, 5);
    EXPECT_EQ(QImage(QString::fromStdString(png)).text(QStringLiteral("Thumb::MTime")),
              QString::number(info.st_mtim.tv_sec + 100));
}

TEST_F(ThumbnailListTest, ScrollingFastDecodesOnlyThePagesThatStayInView) {
    WritePictures(16, "x");
    for (int i = 0; i < 600; ++i) {
        std::filesystem::create_hard_link(pictures + "/x" + std::to_string(i % 16) + ".bmp",
                                          pictures + "/y" + std::to_string(i) + ".bmp");
    }
    decoder.SetGate(false);
    Open();
    list->scrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
    ASSERT_TRUE(WaitUntil([this] { return decoder.calls == 1; }));
    for (int page = 0; page < 60; ++page) {
        list->scrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCoreApplication::processEvents();
    }
    decoder.SetGate(true);
    ASSERT_TRUE(Settle());
    EXPECT_LE(decoder.calls, 1 + 8);  // the decode that ran, then the last page only
    EXPECT_EQ(CellColour(7), ItemColour((2 * 240 + 7 - 16) % 16));

    // Memory holds a bounded number of thumbnails.
    list->scrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
    while (list->firstRow(MediaKind::Pictures) < list->scrollBar()->maximum()) {
        list->scrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        ASSERT_TRUE(Settle());
    }
    EXPECT_EQ(cache->memoryEntries(), ThumbnailCache::kMemoryCapacity);
}

TEST_F(ThumbnailListTest, TheCacheStopsWhileADecodeRunsWithoutWorkingOffItsQueue) {
    WritePictures(8);
    decoder.SetGate(false);
    Open();
    ASSERT_TRUE(WaitUntil([this] { return decoder.calls == 1; }));
    std::thread opener([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        decoder.SetGate(true);
    });
    list.reset();
    cache.reset();
    opener.join();
    EXPECT_EQ(decoder.calls, 1);
}

}  // namespace
