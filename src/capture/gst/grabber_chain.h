#pragma once

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "capture/grabber_callbacks.h"
#include "capture/gst/gst_handles.h"
#include "capture/hresult.h"

namespace gstcapture {

// Copies `height` rows of `width` 24-bit pixels from rows `sourceStrideBytes` apart into
// `packed`, rows BgrRowBytes(width) apart with zeroed padding. False (and `packed` untouched)
// when the sizes make no sense.
bool RepackBgrRows(const std::uint8_t* source, std::size_t sourceStrideBytes, int width, int height,
                   std::vector<std::uint8_t>& packed);

// Lets through at most `rate` frames a second, judged by their capture times: each frame
// falls into a slot of 1/rate seconds (a quarter slot early still counts as the next slot,
// so jitter does not drop frames of a source that sends exactly `rate`), and only the first
// frame of each slot passes. A rate of 0 lets everything through. One thread at a time calls
// Pass; the rate may be changed from any thread.
class FrameRateCap {
public:
    void SetRate(int framesPerSecond) { rate_.store(framesPerSecond > 0 ? framesPerSecond : 0); }
    int rate() const { return rate_.load(); }
    // Forgets the last slot; the next frame passes.
    void Restart() { restart_.store(true); }
    bool Pass(double seconds);

private:
    std::atomic<int> rate_{0};
    std::atomic<bool> restart_{true};
    std::int64_t lastSlot_ = 0;
};

// What one grabber has delivered, for benchmarks and diagnostics.
struct GrabberStats {
    std::uint64_t frames = 0;
    // Frames the source numbered but that never arrived: gaps in the buffers' offsets (the
    // V4L2 driver's sequence numbers), counted before the frame rate is capped.
    std::uint64_t dropped = 0;
    std::uint64_t callbackCpuNanoseconds = 0;  // thread CPU time spent in the callback
};

// One grabber and its renderer. The grabber is a bin (queue → videoconvert → BGR caps) that
// turns whatever the capture pin sends into top-down blue-green-red rows; the renderer is an
// appsink that hands each frame to the configured callback on its streaming thread, without
// buffering, in rows of BgrRowBytes(width) (repacked when GStreamer's stride differs). Built
// and changed on the UI thread while the pipeline is stopped.
class GrabberChain {
public:
    GrabberChain() = default;
    ~GrabberChain();
    GrabberChain(const GrabberChain&) = delete;
    GrabberChain& operator=(const GrabberChain&) = delete;

    // Makes the grabber's elements. False when an element cannot be made or linked.
    bool Create();

    // The grabber bin, named `name`, into `pipeline`.
    HResult AddGrabberTo(GstBin& pipeline, const char* name);
    bool inGraph() const { return inGraph_; }
    GstElement* grabber() const { return grabber_.get(); }

    // The capture pin feeding the grabber, if any.
    std::optional<int> upstreamPin() const { return upstreamPin_; }
    void SetUpstreamPin(std::optional<int> pin) { upstreamPin_ = pin; }

    // Adds the appsink behind the grabber.
    HResult Render(GstBin& pipeline);
    bool rendered() const { return static_cast<bool>(renderer_); }
    bool rendererLinked() const { return rendererLinked_; }
    // Unlinks the renderer from the grabber (it stays in the pipeline).
    bool UnlinkRenderer();
    void RemoveRenderer(GstBin& pipeline);
    // Takes the grabber and its renderer out of the pipeline.
    void RemoveFrom(GstBin& pipeline);

    void Configure(bool oneShot, GrabberCallback* callback);
    // A one-shot grabber delivers again after this.
    void Rearm() {
        delivered_.store(false);
        rateCap_.Restart();
    }
    // At most this many frames a second reach the callback; 0: all.
    void SetMaxFrameRate(int framesPerSecond) { rateCap_.SetRate(framesPerSecond); }
    int maxFrameRate() const { return rateCap_.rate(); }
    // Returns once no callback of this chain runs. Called after the pipeline stopped, it makes
    // everything the callbacks did visible to the caller, also to tools that cannot see
    // GStreamer's own thread joins.
    void WaitForDeliveries() { std::lock_guard<std::mutex> lock(deliveryMutex_); }

    GrabberStats Stats() const;

private:
    static GstFlowReturn OnNewSample(GstAppSink* sink, gpointer chain);
    void Deliver(GstSample* sample);

    ElementPtr grabber_;
    ElementPtr renderer_;
    bool inGraph_ = false;
    bool rendererLinked_ = false;
    std::optional<int> upstreamPin_;

    FrameRateCap rateCap_;  // applied as frames are handed over
    std::atomic<GrabberCallback*> callback_{nullptr};
    std::atomic<bool> oneShot_{false};
    std::atomic<bool> delivered_{false};
    std::atomic<std::uint64_t> frames_{0};
    std::atomic<std::uint64_t> dropped_{0};
    std::optional<std::uint64_t> lastOffset_;  // held under deliveryMutex_
    std::atomic<std::uint64_t> callbackCpuNanoseconds_{0};
    // Held while a frame is handed over; never contended while the pipeline runs.
    std::mutex deliveryMutex_;
    // Rows repacked when GStreamer's stride differs; streaming thread only.
    std::vector<std::uint8_t> packed_;
};

}  // namespace gstcapture
