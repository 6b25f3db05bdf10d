#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "browser/media_item.h"

class QScrollBar;
class ThumbnailCache;

// The captured-file list: a page of thumbnails, two per row and four rows, over the skin's
// background for the current kind, with a vertical scroll bar that moves by rows. It keeps a
// list of pictures and a list of videos, each with its own first row and selection. It never
// rescans its folders: new files come in through AddPicture / AddVideo, files the program
// removes leave through RemoveItemByPath / ClearCurrentList, and files removed behind its back
// are dropped when a page shows them.
//
// The widget is 216 x 380: a 1-pixel border, a 16-pixel scroll bar at the right and a
// 198 x 378 client area left of it, which the page fills (85 x 85 cells). Thumbnails come
// from the cache: a cell shows the background until its thumbnail is there, and the page is
// composed again when thumbnails arrive. UI thread only.
class CThumbnailList : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 216;
    static constexpr int kHeight = 380;
    static constexpr int kCells = 8;

    // Scans both folders. The backgrounds are skin images 144 (pictures) and 148 (videos),
    // 223 x 380. `cache` outlives the list.
    CThumbnailList(std::string pictureFolder, std::string videoFolder, QImage pictureBackground,
                   QImage videoBackground, ThumbnailCache& cache, QWidget* parent = nullptr);

    MediaKind mediaKind() const { return kind_; }
    // The tab switch: makes `kind` the current list, updates the scroll bar, composes its page.
    void SetMediaKind(MediaKind kind);

    // A new still: appended with flags 3, scrolled into view, framed (selectedIndex) but not
    // flagged selected.
    void AddPicture(const std::string& path);
    // A new recording: appended with flags 7 (selected), scrolled into view.
    void AddVideo(const std::string& path);

    // Selects the item of the current kind under `globalPoint`; true on a hit. A miss clears
    // the selection.
    bool HitTest(const QPoint& globalPoint);
    // The current kind's selected item's path and flags; 0 (and an empty path) for none.
    std::uint32_t GetSelectedPath(std::string& path) const;
    // The current kind's selected item, or null; valid until the list changes.
    MediaItem* SelectedItem();
    void ClearSelection(MediaKind kind);
    // Removes the current kind's item with exactly this path.
    void RemoveItemByPath(const std::string& path);
    void UpdateScrollBar();
    void ComposePage();
    // Drops `path` from the current kind when the file is gone (ENOENT); true when it did.
    bool DropMissingFile(const std::string& path);
    void ClearCurrentList();

    // For tests and the controller.
    const std::vector<MediaItem>& items(MediaKind kind) const { return list(kind).items; }
    int firstRow(MediaKind kind) const { return list(kind).firstRow; }
    int selectedIndex(MediaKind kind) const { return list(kind).selectedIndex; }
    QScrollBar* scrollBar() const { return scrollBar_; }
    QRect CellRect(int cell) const;                   // widget coordinates of cell 0..7
    const QImage& canvas() const { return canvas_; }  // client area, as last composed
    bool thumbnailsPending() const { return thumbnailsPending_; }

Q_SIGNALS:
    // A left or right press, or a left double click, hit an item (now selected).
    void itemHit(Qt::MouseButton button, bool doubleClick, const QPoint& globalPoint);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct KindList {
        std::vector<MediaItem> items;
        int firstRow = 0;
        int selectedIndex = -1;
        QImage background;  // RGB32
    };

    KindList& list(MediaKind kind) { return kind == MediaKind::Pictures ? pictures_ : videos_; }
    const KindList& list(MediaKind kind) const {
        return kind == MediaKind::Pictures ? pictures_ : videos_;
    }
    KindList& current() { return list(kind_); }
    void Append(MediaKind kind, MediaItem item);
    // Composes the page once; false when it dropped a missing file and must start over.
    bool TryComposePage();
    void OnScrolled(int value);
    void OnThumbnailsReady();
    void HandleMouse(QMouseEvent* event, bool doubleClick);

    ThumbnailCache& cache_;
    MediaKind kind_ = MediaKind::Pictures;
    KindList pictures_;
    KindList videos_;
    QScrollBar* scrollBar_ = nullptr;
    QRect client_;                     // widget coordinates of the client area
    std::array<QRect, kCells> cells_;  // client coordinates
    int cellWidth_ = 0;
    int cellHeight_ = 0;
    QImage canvas_;
    bool thumbnailsPending_ = false;
};
