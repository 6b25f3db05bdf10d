#pragma once

// Writes the live frames into an AVI file with FFmpeg. The streaming thread only copies each
// frame into a small bounded queue; a writer thread of the recorder converts, encodes and
// muxes it (two writers for MSVC, whose encoder takes a core and has no threads of its own:
// each encodes whole frames, and the file takes them in order). A frame that finds the queue
// full is dropped and counted.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/recording_sink.h"
#include "platform/io_result.h"

enum class RecorderCodec {
    MicrosoftVideo1,  // "MSVC", FFmpeg's msvideo1; width and height multiples of 4
    MotionJpeg,       // "MJPG"
    UncompressedDib,  // "DIB ", 24-bit BGR rows as they come
    Ffv1,             // "FFV1", lossless
    HuffYuv,          // "HFYU", lossless
    Mpeg4,            // "FMP4", MPEG-4 part 2
    H264,             // "H264", when this FFmpeg has an encoder for it
};

// The compression options every recording uses.
struct RecorderCompressOptions {
    RecorderCodec codec = RecorderCodec::MicrosoftVideo1;
    // 1 (smallest file) to 100 (best picture) for MJPG and FMP4; 0 keeps the encoder's own.
    int quality = 0;
    // A key frame every this many frames; 0 keeps the codec's default (every frame for MSVC,
    // MJPG, DIB, HFYU; the encoder's own interval otherwise).
    int keyFrameEvery = 0;

    bool operator==(const RecorderCompressOptions&) const = default;
};

// Every codec, in the order they are offered.
inline constexpr RecorderCodec kRecorderCodecs[] = {
    RecorderCodec::MicrosoftVideo1,
    RecorderCodec::MotionJpeg,
    RecorderCodec::UncompressedDib,
    RecorderCodec::Ffv1,
    RecorderCodec::HuffYuv,
    RecorderCodec::Mpeg4,
    RecorderCodec::H264,
};

// The four-character code of `codec` ("MSVC", "MJPG", "DIB ", ...).
const char* RecorderCodecFourcc(RecorderCodec codec);
// Whether this FFmpeg has an encoder for `codec`.
bool RecorderCodecAvailable(RecorderCodec codec);

// The step of OpenRecording that failed.
enum class RecordingOpenStep {
    None,         // it did not fail
    FrameFormat,  // the size or rate cannot be recorded, or the codec does not take them
    Encoder,      // no encoder for the codec, or the encoder could not be made
    File,         // the file could not be created or its header written
    Container,    // the container or the conversion could not be set up
};

// The text of the "AVI Capture" box for a failed open: the failing step's own words, the
// errno as a number and the file's number (`videoCounter`), then what the system says.
std::string RecordingOpenMessage(RecordingOpenStep step, const IoResult& failure, int videoCounter);

// The path of the next recording in `videoFolder`: "VCap%04d.avi" with the first number from
// `videoCounter` on whose name is free. `videoCounter` keeps that number, so the next call
// skips the file once it exists.
std::string NextRecordingPath(const std::string& videoFolder, int& videoCounter);

// What a recording did, from its open to its close.
struct RecordingOutcome {
    IoResult status;                 // the first failure, if any
    std::int64_t framesWritten = 0;  // frames encoded into the file
    std::int64_t framesDropped = 0;  // frames that found the queue full or came after a failure
};

class AviRecorder : public RecordingSink {
public:
    // `trace` receives one line per notable event (a dropped frame, a failed write); it is
    // called from the streaming thread and from the writer threads. `queueFrames` is how many
    // frames may wait for the writers (a frame being converted, or a DIB frame being written,
    // still holds its place); 0: about a second of frames, at most 32 MiB, at least 4.
    explicit AviRecorder(std::function<void(const char* line)> trace = {},
                         std::size_t queueFrames = 0);
    ~AviRecorder() override;  // closes a recording still open
    AviRecorder(const AviRecorder&) = delete;
    AviRecorder& operator=(const AviRecorder&) = delete;

    // Starts a recording of `width` x `height` frames at `path`, declared at
    // `framesPerSecond` (the stream's time base is 1/framesPerSecond). Closes any recording
    // still open first. Nothing is created on disk unless the encoder accepted the format.
    // Fails with:
    //   EINVAL  for a size or rate of 0 or less, or a size the codec does not take (detail
    //           says why; MSVC wants multiples of 4);
    //   ENOSYS  when this FFmpeg has no encoder for the codec;
    //   the errno of creating or writing the file (detail holds the path);
    //   EIO     for any other failure of the encoder or the container.
    IoResult OpenRecording(const std::string& path, int width, int height, int framesPerSecond,
                           const RecorderCompressOptions& options);

    // Streaming thread. Copies the frame (24-bit BGR, rows top-down padded to 4 bytes) into
    // the queue and returns; never waits for the writer. Its time in the file is its capture
    // time in frames since the first frame, so a gap in capture stays a gap of the same length;
    // a frame that would land on a time already used takes the next one, and a time earlier
    // than the last (the capture's clock started again) follows the last frame. A frame is dropped
    // and counted when the queue is full, when it is too short, or after a write failed.
    void WriteRecordingFrame(double sampleTimeSeconds, const std::uint8_t* buffer,
                             std::size_t lengthBytes) override;

    // Writes the frames still queued, ends the file so that it plays, and returns what the
    // recording did. A write failure stops the recording at the first failed frame; the
    // frames before it stay in a playable file where the disk allows. The status is then the
    // errno of that failure (ENOSPC, EIO, ...; EIO for an encoder failure) with the step that
    // failed as its detail ("writing a frame", "ending the file", ...). Nothing open: the
    // outcome of the last recording again (none after a failed open).
    RecordingOutcome CloseRecording();

    // While held, the writers take no frame from the queue (tests and benchmarks use it to
    // fill the queue). CloseRecording writes the queued frames regardless.
    void HoldWriter(bool hold);

    // Which step the last OpenRecording failed at; None after a success.
    RecordingOpenStep openFailedAt() const { return openFailedAt_; }
    // The first failure of the current or last recording; success when none.
    IoResult status() const;
    std::int64_t framesDropped() const;

private:
    struct Muxer;
    struct Coder;
    struct QueuedFrame {
        double time = 0.0;
        std::vector<std::uint8_t> pixels;
    };

    void WriterLoop(Coder& coder);
    void Fail(IoResult failure);
    void Trace(const char* format, ...) __attribute__((format(printf, 2, 3)));

    IoResult OpenEncoder(const std::string& path, int width, int height, int framesPerSecond,
                         const RecorderCompressOptions& options);

    std::function<void(const char*)> trace_;
    RecordingOpenStep openFailedAt_ = RecordingOpenStep::None;
    const std::size_t queueFrames_;

    // The file, and one encoder for each writer thread; the writer threads' while they run.
    // Where every frame is a key frame of its own, two writers encode frames side by side and
    // the file takes them in their order.
    std::unique_ptr<Muxer> muxer_;
    std::vector<std::unique_ptr<Coder>> coders_;
    std::vector<std::thread> writers_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable turn_;  // a writer waits here until its frame is the next to mux
    std::deque<QueuedFrame> queue_;
    std::vector<std::vector<std::uint8_t>> spare_;  // buffers to copy the next frames into
    bool open_ = false;
    bool closing_ = false;
    bool held_ = false;
    bool failed_ = false;
    IoResult status_;
    std::size_t frameBytes_ = 0;
    std::uint64_t generation_ = 0;   // one more at each open
    std::uint64_t framesTaken_ = 0;  // frames taken from the queue by the writers
    std::uint64_t framesMuxed_ = 0;  // frames whose turn at the file is over
    std::int64_t written_ = 0;       // frames whole in the file
    std::int64_t dropped_ = 0;  // frames refused by WriteRecordingFrame; at the close also those
                                // queued but lost with a failure
    std::int64_t queued_ = 0;   // frames taken into the queue
    int framesPerSecond_ = 1;
    bool haveLastTime_ = false;
    double lastTime_ = 0.0;   // the last queued frame's time, shifted
    double timeShift_ = 0.0;  // added to capture times since the capture's clock started again
};
