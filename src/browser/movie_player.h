#pragma once

#include <QEvent>
#include <QImage>
#include <QObject>
#include <QSize>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/io_result.h"

// The codes GetEvent gives, numbered like the ones a Windows playback graph reports.
namespace playerevent {
inline constexpr long kComplete = 1;    // the whole file was played
inline constexpr long kErrorAbort = 3;  // playing stopped on an error
}  // namespace playerevent

// What the player posts to its notify object for every event it queues, once it has run. The
// generation is the open file's: an event of a file closed since (or of another one) carries
// an older number and is to be dropped.
class PlayerEvent : public QEvent {
public:
    explicit PlayerEvent(std::uint64_t generation) : QEvent(Type()), generation_(generation) {}
    static QEvent::Type Type();
    std::uint64_t generation() const { return generation_; }

private:
    std::uint64_t generation_;
};

// Plays an AVI file (or anything GStreamer's playbin plays) without sound. The played frames
// go to the video view as 32-bit images (Format_RGB32) on the UI thread, scaled down to
// about the size they are shown at (SetFrameSize), so that converting and drawing a frame
// costs what the screen shows of it; the pictures of a Motion-JPEG file are decoded at that
// size, by the JPEG library's scaling, rather than whole; the newest frame replaces one not yet
// shown, so a slow view never holds playback up. Holds at most one open file. Positions and
// durations are in seconds.
//
// Every call is made on the UI thread; the view and the notify object are reached only
// there. Calls on a closed player do nothing.
class CMoviePlayer : public QObject {
    Q_OBJECT
public:
    // A frame, and the video's own frame size (the frame may be smaller).
    using VideoView = std::function<void(const QImage& frame, QSize videoSize)>;

    static constexpr double kStepSeconds = 2.0;  // what Forward and Back move

    explicit CMoviePlayer(QObject* parent = nullptr);
    ~CMoviePlayer() override;

    // Where events are posted and frames go.
    void SetWindows(QObject* notify, VideoView video);

    // Closes any open file, then opens `path` and waits until its first frame is ready,
    // shown and paused at 0. Failures leave the player closed: ENOENT and the like when the
    // file cannot be read, EINVAL when it is not a regular file, EIO with GStreamer's words
    // in detail() when it cannot be played (not a video, no decoder, broken), ETIMEDOUT when
    // no first frame came in time.
    IoResult Open(const std::string& path);
    void Close();
    bool isOpen() const { return pipeline_ != nullptr; }
    const std::string& path() const { return path_; }
    // The open video's own frame size; empty when closed.
    QSize videoSize() const { return videoSize_; }
    // The size the view shows the video at. Frames come scaled down to it (keeping their
    // own size where that is smaller; an empty size asks for that); a paused frame is made
    // again at the new size.
    void SetFrameSize(QSize shown);
    // The open file's generation; a new one with every Open and Close.
    std::uint64_t generation() const { return generation_.load(); }

    // Plays from the current position; from now on every event is posted to the notify
    // object.
    void Run();
    // Stops at the current frame; waits (a bounded time) until it stands.
    void Pause();
    void Rewind();   // to 0
    void ToEnd();    // to the duration
    void Forward();  // kStepSeconds on, at most to the duration
    void Back();     // kStepSeconds back, at least to 0
    // The oldest queued event's code, or 0 when none waits.
    long GetEvent();
    // The duration and the position; `seconds` is left as it is when they cannot be read.
    void GetDuration(double& seconds) const;
    void GetPosition(double& seconds) const;
    // Goes to `seconds` and waits (a bounded time) until the frame there is ready.
    void SetPosition(double seconds);

    // GStreamer's words for the error that ended playing, "" when none did.
    std::string lastError() const;
    // Frames handed to the view since the file was opened.
    std::uint64_t framesShown() const { return framesShown_; }

private:
    struct Pipeline;  // GStreamer's side, with its callbacks
    // Queues an event and posts its notice once the player has run; mutex_ held.
    void QueueEventLocked(long code);
    void ReportEndLocked();  // the end, once per arrival there; mutex_ held
    // Opens `path` (as `uri`) with the sink for JPEG pictures or for decoded frames.
    IoResult OpenPipeline(const std::string& path, const char* uri, bool jpegFrames);
    void DeliverFrame(std::uint64_t generation);
    void ApplyFrameSize();
    // Goes `seconds` on (or back) from the position, no further than 0 and the duration;
    // nothing when either cannot be read.
    void StepBy(double seconds);

    VideoView video_;
    std::unique_ptr<Pipeline> pipeline_;
    std::string path_;
    std::atomic<std::uint64_t> generation_{0};  // changed under mutex_
    std::uint64_t framesShown_ = 0;
    QSize videoSize_;
    QSize shownSize_;
    QSize frameSize_;  // what the sink asks for; empty for the video's own

    // Shared with GStreamer's threads.
    mutable std::mutex mutex_;
    std::deque<long> events_;          // guarded
    QObject* notifyTarget_ = nullptr;  // guarded
    bool notifying_ = false;           // guarded; from the first Run on
    bool running_ = false;             // guarded; between Run and Pause
    // The end of the file: the sink reached it (it may do so while paused, after a seek to
    // the end); it is reported once the player runs, once per arrival. Guarded.
    bool sinkAtEnd_ = false;
    bool endReported_ = false;
    std::string lastError_;              // guarded
    std::string frameError_;             // guarded; why the first bad JPEG picture failed
    bool jpegFrames_ = false;            // guarded; the open file's JPEG pictures are decoded here
    QSize decodeSize_;                   // guarded; the size JPEG pictures are decoded for
    QImage newestFrame_;                 // guarded; not yet shown
    bool frameDeliveryPending_ = false;  // guarded
};
