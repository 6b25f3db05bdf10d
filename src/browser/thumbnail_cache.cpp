#include "browser/thumbnail_cache.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QUrl>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <utility>

#include "platform/regular_files.h"
#include "platform/unique_fd.h"

namespace {

// How long finished thumbnails wait for the rest of their request before they are delivered.
constexpr std::chrono::milliseconds kLongestHold(30);

// A thumbnail file bigger than this is not one of ours (128 x 128 RGBA is 64 KiB raw).
constexpr off_t kMaxDiskThumbnailBytes = 4 << 20;

std::int64_t SecondsOf(std::int64_t nanoseconds) {
    std::int64_t seconds = nanoseconds / 1'000'000'000;
    if (nanoseconds % 1'000'000'000 < 0) {
        --seconds;
    }
    return seconds;
}

QImage FitInto(QImage image, int maxSide) {
    if (image.width() <= maxSide && image.height() <= maxSide) {
        return image;
    }
    return image.scaled(maxSide, maxSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

// Makes `path` with mode 0700 unless it is there; true when it is a folder afterwards.
bool MakePrivateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0) {
        return true;
    }
    struct stat info = {};
    return errno == EEXIST && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

ThumbnailCache::ThumbnailCache(ThumbnailDecoder decoder, QObject* parent)
    : ThumbnailCache(std::move(decoder), DefaultDiskFolder(), parent) {}

ThumbnailCache::ThumbnailCache(ThumbnailDecoder decoder, std::string diskFolder, QObject* parent)
    : QObject(parent),
      decoder_(std::move(decoder)),
      diskFolder_(std::move(diskFolder)),
      worker_([this] { Run(); }) {}

ThumbnailCache::~ThumbnailCache() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    worker_.join();
    // A delivery the worker posted meanwhile is removed with this object's posted events.
}

std::string ThumbnailCache::DefaultDiskFolder() {
    const char* cacheHome = std::getenv("XDG_CACHE_HOME");
    if (cacheHome != nullptr && cacheHome[0] == '/') {
        return std::string(cacheHome) + "/thumbnails";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return std::string(home) + "/.cache/thumbnails";
    }
    return {};
}

QByteArray ThumbnailCache::FileUri(const std::string& path) {
    const QString local = QFile::decodeName(QByteArray::fromStdString(path));
    return QUrl::fromLocalFile(QFileInfo(local).absoluteFilePath()).toEncoded();
}

std::string ThumbnailCache::DiskThumbnailPath(const std::string& diskFolder,
                                              const std::string& path) {
    const QByteArray md5 = QCryptographicHash::hash(FileUri(path), QCryptographicHash::Md5).toHex();
    return diskFolder + "/normal/" + md5.toStdString() + ".png";
}

ThumbnailCache::State ThumbnailCache::Find(const ThumbnailKey& key, QImage* image) {
    const auto found = memoryByPath_.find(key.path);
    if (found == memoryByPath_.end() || !(found->second->key == key)) {
        return State::Pending;
    }
    memory_.splice(memory_.begin(), memory_, found->second);
    if (!found->second->image) {
        return State::Failed;
    }
    if (image != nullptr) {
        *image = *found->second->image;
    }
    return State::Ready;
}

void ThumbnailCache::Request(std::vector<ThumbnailKey> keys) {
    {
        std::lock_guard lock(mutex_);
        queue_.clear();
        for (ThumbnailKey& key : keys) {
            const auto same = [&key](const auto& other) { return other == key; };
            const auto sameResult = [&key](const Result& result) { return result.key == key; };
            const auto known = memoryByPath_.find(key.path);
            if ((running_ && *running_ == key) ||
                (known != memoryByPath_.end() && known->second->key == key) ||
                std::any_of(done_.begin(), done_.end(), sameResult) ||
                std::any_of(queue_.begin(), queue_.end(), same)) {
                continue;
            }
            queue_.push_back(std::move(key));
        }
        if (queue_.empty()) {
            return;
        }
    }
    wake_.notify_one();
}

void ThumbnailCache::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) {
            return;
        }
        running_ = std::move(queue_.front());
        queue_.pop_front();
        const ThumbnailKey key = *running_;
        lock.unlock();
        Result result = Produce(key);
        lock.lock();
        running_.reset();
        const auto now = std::chrono::steady_clock::now();
        if (done_.empty()) {
            firstDoneAt_ = now;
        }
        done_.push_back(std::move(result));
        // One delivery for the whole request when it is quick, so that the page is composed
        // once; slow decodes still show as they come.
        const bool batchDone = queue_.empty() || now - firstDoneAt_ >= kLongestHold;
        if (batchDone && !std::exchange(deliveryPosted_, true)) {
            QMetaObject::invokeMethod(
                this, [this] { Deliver(); }, Qt::QueuedConnection);
        }
    }
}

ThumbnailCache::Result ThumbnailCache::Produce(const ThumbnailKey& key) const {
    Result result{key, std::nullopt};
    const bool onDisk = !diskFolder_.empty() && key.maxSide <= kNormalThumbnailSide;
    if (onDisk) {
        if (std::optional<QImage> stored = ReadDiskThumbnail(key)) {
            result.image = FitInto(std::move(*stored), key.maxSide);
            return result;
        }
    }
    IoResultOf<QImage> decoded =
        decoder_(key.path, key.kind, onDisk ? kNormalThumbnailSide : key.maxSide);
    if (!decoded.ok() || decoded->isNull()) {
        return result;
    }
    if (onDisk) {
        WriteDiskThumbnail(key, *decoded);
    }
    result.image = FitInto(std::move(decoded).value(), key.maxSide);
    return result;
}

std::optional<QImage> ThumbnailCache::ReadDiskThumbnail(const ThumbnailKey& key) const {
    // Opened as a regular file only: nothing put in the cache folder can hold the worker up.
    platform::OpenedFile file =
        platform::OpenRegularFileForReading(DiskThumbnailPath(diskFolder_, key.path));
    if (file.error != 0 || file.sizeBytes > kMaxDiskThumbnailBytes) {
        return std::nullopt;
    }
    QByteArray bytes(static_cast<qsizetype>(file.sizeBytes), Qt::Uninitialized);
    qsizetype got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(file.fd.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return std::nullopt;
        }
        got += n;
    }
    QImage image = QImage::fromData(bytes, "PNG");
    // Valid only for this file as it is now: the same URI and modification time.
    if (image.isNull() ||
        image.text(QStringLiteral("Thumb::URI")) != QString::fromLatin1(FileUri(key.path)) ||
        image.text(QStringLiteral("Thumb::MTime")) != QString::number(SecondsOf(key.mtimeNs))) {
        return std::nullopt;
    }
    return image;
}

void ThumbnailCache::WriteDiskThumbnail(const ThumbnailKey& key, const QImage& thumbnail) const {
    QImage image = thumbnail.convertToFormat(QImage::Format_ARGB32);  // 8-bit RGBA
    image.setText(QStringLiteral("Thumb::URI"), QString::fromLatin1(FileUri(key.path)));
    image.setText(QStringLiteral("Thumb::MTime"), QString::number(SecondsOf(key.mtimeNs)));
    image.setText(QStringLiteral("Thumb::Size"), QString::number(key.sizeBytes));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.setQuality(80);  // zlib level 1: half the time of the default, 15 % larger
    if (!writer.write(image)) {
        return;
    }

    // Written under a temporary name (mode 0600) and renamed, so that a reader never sees
    // half a thumbnail. The folders are made (0700) when the first try finds them missing.
    const std::string target = DiskThumbnailPath(diskFolder_, key.path);
    std::string temporary = target + ".XXXXXX";
    platform::UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.valid() && errno == ENOENT) {
        const std::string parent(FolderOf(diskFolder_));
        if ((!parent.empty() && platform::MakeFolderPath(parent) != 0) ||
            !MakePrivateFolder(diskFolder_) || !MakePrivateFolder(diskFolder_ + "/normal")) {
            return;
        }
        temporary = target + ".XXXXXX";
        fd = platform::UniqueFd(::mkostemp(temporary.data(), O_CLOEXEC));
    }
    if (!fd.valid()) {
        return;
    }
    const bool written =
        platform::WriteAll(fd.get(), reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                           static_cast<std::size_t>(bytes.size())) == 0 &&
        fd.Close() == 0 && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!written) {
        ::unlink(temporary.c_str());
    }
}

void ThumbnailCache::Deliver() {
    std::vector<Result> results;
    {
        std::lock_guard lock(mutex_);
        results.swap(done_);
        deliveryPosted_ = false;
    }
    for (Result& result : results) {
        Remember(std::move(result));
    }
    if (!results.empty()) {
        Q_EMIT thumbnailsReady();
    }
}

void ThumbnailCache::Remember(Result result) {
    const auto known = memoryByPath_.find(result.key.path);
    if (known != memoryByPath_.end()) {
        memory_.erase(known->second);
        memoryByPath_.erase(known);
    }
    memory_.push_front(MemoryEntry{std::move(result.key), std::move(result.image)});
    memoryByPath_[memory_.front().key.path] = memory_.begin();
    while (memory_.size() > kMemoryCapacity) {
        memoryByPath_.erase(memory_.back().key.path);
        memory_.pop_back();
    }
}
