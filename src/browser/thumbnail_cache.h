#pragma once

#include <QImage>
#include <QObject>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "browser/media_item.h"
#include "platform/io_result.h"

// Makes a thumbnail of a file; any thread. (The program passes LoadThumbnailImage.)
using ThumbnailDecoder =
    std::function<IoResultOf<QImage>(const std::string& path, MediaKind kind, int maxSide)>;

// The largest side of a "normal" thumbnail in the freedesktop thumbnail cache.
inline constexpr int kNormalThumbnailSide = 128;

// Which thumbnail: the file as it is now (modification time and size, from a fresh stat) and
// the box the thumbnail fits in. A file that changes gets a new key.
struct ThumbnailKey {
    std::string path;
    MediaKind kind = MediaKind::Pictures;
    int maxSide = kNormalThumbnailSide;
    std::int64_t mtimeNs = 0;  // st_mtim, nanoseconds since the epoch
    std::int64_t sizeBytes = 0;
    bool operator==(const ThumbnailKey&) const = default;
};

// Thumbnails made on a worker thread and kept in two tiers: in memory (the most recently used
// few hundred, failures included, so that a file that cannot be decoded is not tried again on
// every page) and on disk in the freedesktop thumbnail cache
// (<folder>/normal/<md5 of the file URI>.png with Thumb::URI and Thumb::MTime), shared with
// other programs and kept between runs. Requests replace one another: the worker only ever
// works for the page on screen.
//
// The API is the UI thread's. The decoder runs on the worker only; results come back through
// a queued call and are announced by one thumbnailsReady() per batch.
class ThumbnailCache : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t kMemoryCapacity = 300;

    // The disk tier is DefaultDiskFolder().
    explicit ThumbnailCache(ThumbnailDecoder decoder, QObject* parent = nullptr);
    // The disk tier in `diskFolder` (the folder that holds normal/); none when it is empty.
    ThumbnailCache(ThumbnailDecoder decoder, std::string diskFolder, QObject* parent = nullptr);
    // Stops and joins the worker; waits for a decode that runs, never for the queue.
    ~ThumbnailCache() override;
    ThumbnailCache(const ThumbnailCache&) = delete;
    ThumbnailCache& operator=(const ThumbnailCache&) = delete;

    enum class State { Pending, Ready, Failed };

    // What memory holds for `key`: Ready (and the thumbnail in `image`), Failed, or Pending
    // when it has nothing for the key yet (then Request it).
    State Find(const ThumbnailKey& key, QImage* image);

    // The thumbnails wanted now, most wanted first. Replaces whatever earlier calls asked for
    // and the worker has not started; an empty list just cancels.
    void Request(std::vector<ThumbnailKey> keys);

    const std::string& diskFolder() const { return diskFolder_; }
    std::size_t memoryEntries() const { return memory_.size(); }

    // "$XDG_CACHE_HOME/thumbnails" (an absolute XDG_CACHE_HOME only), else
    // "$HOME/.cache/thumbnails"; "" without either.
    static std::string DefaultDiskFolder();
    // The file URI of `path` as the thumbnail cache names it (file:///..., percent-encoded).
    static QByteArray FileUri(const std::string& path);
    // Where the disk tier keeps the normal-size thumbnail of `path`.
    static std::string DiskThumbnailPath(const std::string& diskFolder, const std::string& path);

Q_SIGNALS:
    // Thumbnails (or failures) have arrived; Find answers for them now.
    void thumbnailsReady();

private:
    struct Result {
        ThumbnailKey key;
        std::optional<QImage> image;  // none: the thumbnail could not be made
    };
    struct MemoryEntry {
        ThumbnailKey key;
        std::optional<QImage> image;
    };

    void Run();
    Result Produce(const ThumbnailKey& key) const;
    std::optional<QImage> ReadDiskThumbnail(const ThumbnailKey& key) const;
    void WriteDiskThumbnail(const ThumbnailKey& key, const QImage& thumbnail) const;
    void Deliver();
    void Remember(Result result);

    const ThumbnailDecoder decoder_;
    const std::string diskFolder_;

    // UI thread only: one entry per path, the most recently used at the front.
    std::list<MemoryEntry> memory_;
    std::unordered_map<std::string, std::list<MemoryEntry>::iterator> memoryByPath_;

    // Shared with the worker, under mutex_.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<ThumbnailKey> queue_;
    std::optional<ThumbnailKey> running_;
    std::vector<Result> done_;
    std::chrono::steady_clock::time_point firstDoneAt_;  // of the oldest result in done_
    bool deliveryPosted_ = false;
    bool stopping_ = false;

    std::thread worker_;  // last: starts once everything above exists
};
