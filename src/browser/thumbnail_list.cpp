#include "browser/thumbnail_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QWheelEvent>
#include <algorithm>
#include <cerrno>
#include <memory>

#include "browser/thumbnail_cache.h"
#include "platform/unique_fd.h"

namespace {

constexpr int kBorder = 1;  // the list view's border
constexpr int kScrollBarWidth = 16;
constexpr int kPageRows = 4;
constexpr off_t kSmallestPicture = 41;  // a bitmap of 40 bytes or fewer holds no picture

const QColor kSelectionColour(12, 191, 0);
const QColor kMarkColour(243, 63, 255);

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// The files "<folder>/*<extension>" (case-sensitive, hidden names skipped as a shell glob
// does) that `keep(folder, name, type)` accepts, in natural file-name order. A folder that
// cannot be read, or stops being readable, gives what was found until then.
template <typename Keep>
std::vector<MediaItem> ScanFolder(const std::string& folder, std::string_view extension,
                                  Keep keep) {
    std::vector<MediaItem> items;
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) {
        return items;
    }
    const int folderFd = ::dirfd(dir.get());
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name(entry->d_name);
        if (name.front() == '.' || name.size() <= extension.size() || !name.ends_with(extension)) {
            continue;
        }
        if (keep(folderFd, entry->d_name, entry->d_type)) {
            items.push_back(
                MediaItem{folder + "/" + std::string(name), itemflag::kValid | itemflag::kUnsaved});
        }
    }
    std::sort(items.begin(), items.end(), [](const MediaItem& a, const MediaItem& b) {
        return NaturalNameLess(FileNameOf(a.path), FileNameOf(b.path));
    });
    return items;
}

// Whether `name` in the folder is a regular file (symbolic links followed).
bool IsRegularFile(int folderFd, const char* name) {
    struct stat info = {};
    return ::fstatat(folderFd, name, &info, 0) == 0 && S_ISREG(info.st_mode);
}

// A picture is listed when it opens for reading as a regular file of more than 40 bytes. What
// the folder does not call a regular file is looked at before it is opened, never opened when
// it is something else, and the open does not wait (a FIFO put there meanwhile).
bool IsListablePicture(int folderFd, const char* name, unsigned char type) {
    if (type != DT_REG && !IsRegularFile(folderFd, name)) {
        return false;
    }
    const platform::UniqueFd fd(
        ::openat(folderFd, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat info = {};
    return fd.valid() && ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) &&
           info.st_size >= kSmallestPicture;
}

// A video is listed when it is a regular file; it is not opened.
bool IsListableVideo(int folderFd, const char* name, unsigned char) {
    return IsRegularFile(folderFd, name);
}

QImage Background(const QImage& skin) {
    if (skin.isNull()) {
        QImage plain(1, 1, QImage::Format_RGB32);
        plain.fill(Qt::white);
        return plain;
    }
    return skin.convertToFormat(QImage::Format_RGB32);
}

}  // namespace

CThumbnailList::CThumbnailList(std::string pictureFolder, std::string videoFolder,
                               QImage pictureBackground, QImage videoBackground,
                               ThumbnailCache& cache, QWidget* parent)
    : QWidget(parent), cache_(cache) {
    resize(kWidth, kHeight);
    client_ =
        QRect(kBorder, kBorder, kWidth - 2 * kBorder - kScrollBarWidth, kHeight - 2 * kBorder);
    scrollBar_ = new QScrollBar(Qt::Vertical, this);
    scrollBar_->setGeometry(client_.right() + 1, kBorder, kScrollBarWidth, client_.height());
    scrollBar_->installEventFilter(this);
    connect(scrollBar_, &QScrollBar::valueChanged, this, &CThumbnailList::OnScrolled);
    connect(&cache_, &ThumbnailCache::thumbnailsReady, this, &CThumbnailList::OnThumbnailsReady);

    // Two cells a row, four rows, 10 pixels apart, 4 pixels in from the client area's corner.
    cellWidth_ = (client_.width() - 28) / 2;
    cellHeight_ = (client_.height() - 38) / 4;
    for (int i = 0; i < kCells; ++i) {
        cells_[i] = QRect((cellWidth_ + 10) * (i % 2) + 4, (cellHeight_ + 10) * (i / 2) + 4,
                          cellWidth_, cellHeight_);
    }
    canvas_ = QImage(client_.size(), QImage::Format_RGB32);
    pictures_.background = Background(pictureBackground);
    videos_.background = Background(videoBackground);

    pictures_.items = ScanFolder(pictureFolder, ".bmp", IsListablePicture);
    videos_.items = ScanFolder(videoFolder, ".avi", IsListableVideo);
    for (KindList* kind : {&pictures_, &videos_}) {
        const int n = static_cast<int>(kind->items.size());
        kind->firstRow = n > kCells ? (n - kCells) / 2 : 0;
    }
    UpdateScrollBar();
    ComposePage();
}

QRect CThumbnailList::CellRect(int cell) const {
    return cells_.at(static_cast<std::size_t>(cell)).translated(client_.topLeft());
}

void CThumbnailList::SetMediaKind(MediaKind kind) {
    kind_ = kind;
    UpdateScrollBar();
    ComposePage();
}

void CThumbnailList::AddPicture(const std::string& path) {
    Append(MediaKind::Pictures, MediaItem{path, itemflag::kValid | itemflag::kUnsaved});
}

void CThumbnailList::AddVideo(const std::string& path) {
    Append(MediaKind::Videos,
           MediaItem{path, itemflag::kValid | itemflag::kUnsaved | itemflag::kSelected});
}

void CThumbnailList::Append(MediaKind kind, MediaItem item) {
    // The old selection goes before the new item comes, so that a new video keeps its flag.
    ClearSelection(kind);
    KindList& added = list(kind);
    added.items.push_back(std::move(item));
    const int n = static_cast<int>(added.items.size());
    added.firstRow = n > kCells ? (n - kCells + 1) / 2 : 0;  // the newest row in view
    UpdateScrollBar();
    added.selectedIndex = n - 1;
    ComposePage();
}

bool CThumbnailList::HitTest(const QPoint& globalPoint) {
    ClearSelection(kind_);
    KindList& shown = current();
    const QPoint point = mapFromGlobal(globalPoint) - client_.topLeft();
    const int first = 2 * shown.firstRow;
    const int visible = std::clamp(static_cast<int>(shown.items.size()) - first, 0, kCells);
    for (int cell = 0; cell < visible; ++cell) {
        if (cells_[cell].contains(point)) {
            shown.selectedIndex = first + cell;
            shown.items[shown.selectedIndex].flags |= itemflag::kSelected;
            ComposePage();
            return true;
        }
    }
    ComposePage();
    return false;
}

std::uint32_t CThumbnailList::GetSelectedPath(std::string& path) const {
    for (const MediaItem& item : list(kind_).items) {
        if ((item.flags & (itemflag::kValid | itemflag::kSelected)) ==
            (itemflag::kValid | itemflag::kSelected)) {
            path = item.path;
            return item.flags;
        }
    }
    path.clear();
    return 0;
}

MediaItem* CThumbnailList::SelectedItem() {
    for (MediaItem& item : current().items) {
        if ((item.flags & (itemflag::kValid | itemflag::kSelected)) ==
            (itemflag::kValid | itemflag::kSelected)) {
            return &item;
        }
    }
    return nullptr;
}

void CThumbnailList::ClearSelection(MediaKind kind) {
    KindList& cleared = list(kind);
    for (MediaItem& item : cleared.items) {
        item.flags &= ~itemflag::kSelected;
    }
    cleared.selectedIndex = -1;
}

void CThumbnailList::RemoveItemByPath(const std::string& path) {
    KindList& shown = current();
    const auto found = std::find_if(shown.items.begin(), shown.items.end(),
                                    [&path](const MediaItem& item) { return item.path == path; });
    if (found == shown.items.end()) {
        return;
    }
    const int index = static_cast<int>(found - shown.items.begin());
    shown.items.erase(found);
    if (shown.selectedIndex == index) {
        shown.selectedIndex = -1;
    } else if (shown.selectedIndex > index) {
        --shown.selectedIndex;
    }
}

void CThumbnailList::UpdateScrollBar() {
    KindList& shown = current();
    const int rows = (static_cast<int>(shown.items.size()) + 1) / 2;
    const int maximum = rows > kPageRows ? rows - 1 : kPageRows - 1;
    if (rows <= 2 * kPageRows && shown.firstRow > 0) {
        shown.firstRow = 0;
    }
    // A list that shrank below its first row shows its last row at the top.
    shown.firstRow = std::clamp(shown.firstRow, 0, maximum);
    const QSignalBlocker quiet(scrollBar_);
    scrollBar_->setRange(0, maximum);
    scrollBar_->setPageStep(kPageRows);
    scrollBar_->setSingleStep(1);
    scrollBar_->setValue(shown.firstRow);
    scrollBar_->show();
    scrollBar_->setEnabled(maximum >= kPageRows);
}

void CThumbnailList::OnScrolled(int value) {
    current().firstRow = value;
    ComposePage();
}

bool CThumbnailList::DropMissingFile(const std::string& path) {
    struct stat info = {};
    if (::stat(path.c_str(), &info) == 0 || errno != ENOENT) {
        return false;
    }
    const std::size_t before = current().items.size();
    ClearSelection(kind_);
    RemoveItemByPath(path);
    UpdateScrollBar();
    return current().items.size() < before;
}

void CThumbnailList::ClearCurrentList() {
    KindList& shown = current();
    shown.items.clear();
    shown.selectedIndex = -1;
    shown.firstRow = 0;
}

void CThumbnailList::ComposePage() {
    // Each start-over has dropped an item, so this ends.
    while (!TryComposePage()) {
    }
    update();
}

bool CThumbnailList::TryComposePage() {
    const KindList& shown = current();
    QPainter painter(&canvas_);
    painter.drawImage(0, 0, shown.background);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    std::vector<ThumbnailKey> wanted;
    const int first = 2 * shown.firstRow;
    const int end = std::min(static_cast<int>(shown.items.size()), first + kCells);
    for (int index = first; index < end; ++index) {
        const MediaItem& item = shown.items[index];
        struct stat info = {};
        if (::stat(item.path.c_str(), &info) != 0) {
            const std::string path = item.path;  // the item goes with the drop
            if (errno == ENOENT && DropMissingFile(path)) {
                return false;
            }
            continue;
        }
        if (!S_ISREG(info.st_mode)) {
            continue;  // never handed to a decoder: it could block on a FIFO
        }
        ThumbnailKey key{item.path, kind_, kNormalThumbnailSide,
                         std::int64_t{info.st_mtim.tv_sec} * 1'000'000'000 + info.st_mtim.tv_nsec,
                         std::int64_t{info.st_size}};
        QImage thumbnail;
        switch (cache_.Find(key, &thumbnail)) {
            case ThumbnailCache::State::Ready:
                break;
            case ThumbnailCache::State::Failed:
                continue;
            case ThumbnailCache::State::Pending:
                wanted.push_back(std::move(key));
                continue;
        }
        const QRect& cell = cells_[index - first];
        painter.drawImage(cell, thumbnail);
        if (ShowsUnsavedMark(item)) {
            // An L along the lower right corner of the cell grown by 2 pixels.
            const int l = cell.left() - 2;
            const int t = cell.top() - 2;
            const int r = cell.left() + cellWidth_ + 2;
            const int b = cell.top() + cellHeight_ + 2;
            painter.setCompositionMode(QPainter::RasterOp_NotSourceXorDestination);
            painter.setPen(QPen(kMarkColour, 2, Qt::DotLine, Qt::FlatCap));
            painter.drawLine(r, t + cellHeight_ * 3 / 4, r, b);
            painter.drawLine(l + cellWidth_ * 3 / 4, b, r - 2, b);
            painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        }
    }

    const int framed = shown.selectedIndex - first;
    if (shown.selectedIndex >= 0 && framed >= 0 && framed < kCells) {
        const QRect& cell = cells_[framed];
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.setPen(QPen(kSelectionColour, 2, Qt::DotLine, Qt::FlatCap));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRect(QPoint(cell.left() - 2, cell.top() - 2),
                               QPoint(cell.left() + cellWidth_ + 2, cell.top() + cellHeight_ + 2)));
    }
    thumbnailsPending_ = !wanted.empty();
    cache_.Request(std::move(wanted));
    return true;
}

void CThumbnailList::OnThumbnailsReady() {
    if (thumbnailsPending_) {
        ComposePage();
    }
}

void CThumbnailList::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(client_.topLeft(), canvas_);
    painter.setPen(Qt::black);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void CThumbnailList::HandleMouse(QMouseEvent* event, bool doubleClick) {
    const QPoint globalPoint = event->globalPosition().toPoint();
    if (HitTest(globalPoint)) {
        Q_EMIT itemHit(event->button(), doubleClick, globalPoint);
    }
}

void CThumbnailList::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton) {
        HandleMouse(event, false);
    }
}

void CThumbnailList::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        HandleMouse(event, true);
    }
}

void CThumbnailList::wheelEvent(QWheelEvent* event) {
    event->accept();  // no wheel scrolling
}

bool CThumbnailList::eventFilter(QObject* watched, QEvent* event) {
    if (watched == scrollBar_ && event->type() == QEvent::Wheel) {
        return true;  // not over the scroll bar either
    }
    return QWidget::eventFilter(watched, event);
}
