#pragma once

#include "capture/engine_messages.h"
#include "capture/grabber_callbacks.h"
#include "capture/hresult.h"
#include "capture/media_backend.h"

// The order the grabber chains are built in.
enum class ChainOrder {
    // The live chain first, then the still chain when the device has a still pin. A chain
    // that fails is left out and the preview goes on without it (library mode).
    LiveFirst,
    // The still chain first, when the device has a still pin, then the live chain; either
    // failing fails the preparation (camera mode).
    StillFirst,
};

// The capture graph on a media backend: the bound device as capture filter, and two
// grabber chains (grabber and renderer) on its output pins. Whichever chain connects first
// sits on the live pin and streams every frame into the live callback; the other sits on the
// still pin and hands its one frame to the still pin callback. It binds what it is given and
// knows nothing of how the device was found, nor of the capture format.
//
// Threads: UI thread only; the callbacks it attaches run on the backend's streaming threads.
// Blocking: as the backend calls it makes (see MediaBackend): binding opens the device; Stop,
// tearing down and releasing wait for the streaming threads to leave the callbacks; Run
// starts the device. Everything else returns at once.
// Failures are traced (DebugTrace) where they happen; nothing is undone on the caller's
// behalf except a grabber chain that could not be finished.
class CaptureGraph {
public:
    // Both callbacks must outlive the graph.
    CaptureGraph(MediaBackend& backend, FrameCallback& liveCallback,
                 GrabberCallback& stillPinCallback);
    CaptureGraph(const CaptureGraph&) = delete;
    CaptureGraph& operator=(const CaptureGraph&) = delete;

    // Where the live callback posts still messages and graph events are announced; used by
    // the chains built after this.
    void SetMessageTarget(EngineMessageTarget* target) { messageTarget_ = target; }

    // Makes the empty graph unless there is one. False (traced) when it cannot be made; the
    // caller then releases the graph.
    bool CreateFilterGraph();
    // Binds `device` (nullptr: no device to bind) as the capture filter, adds it to the graph
    // and learns its routes and whether it has a still pin. False (traced) when the device
    // cannot be bound or added; the caller then releases the graph.
    bool Bind(const DeviceMoniker* device);
    // Builds the grabber chains in `order` on the bound capture filter and marks the graph
    // prepared. Call bound and not yet prepared. False when the order's failure rule fails it.
    bool BuildChains(ChainOrder order);

    // Runs a prepared graph. True when it runs (also when it ran already); false when it is
    // not prepared, or when the backend cannot run it (traced; the graph is stopped again).
    bool Run();
    // Stops the graph and marks it not running. True also without a graph; false (traced)
    // when the backend refuses to stop.
    bool Stop();

    // Fetches one pending graph event, if the still chain set graph events up. True when an
    // event was fetched.
    bool DrainEvent();

    // Disconnects and removes every filter downstream of the capture filter, so that the
    // chains can be built again; the graph is no longer prepared.
    void TearDownDownstream();
    // Releases everything the graph holds, the bound device included, and forgets its state.
    void Release();

    bool hasGraph() const { return graph_; }
    bool bound() const { return captureFilter_; }
    bool prepared() const { return prepared_; }
    bool running() const { return running_; }
    int routeCount() const { return routeCount_; }
    int stillPinExists() const { return stillPinExists_; }

private:
    HResult BuildGrabberChain(GrabberSlot slot);
    HResult SetLiveGrabberFormat();
    HResult ConnectGrabber(GrabberSlot slot);
    void AttachCallback(GrabberSlot slot);
    void NukeDownstream(FilterId filter);
    bool& GrabberCreated(GrabberSlot slot);

    MediaBackend& backend_;
    FrameCallback& liveCallback_;
    GrabberCallback& stillPinCallback_;
    EngineMessageTarget* messageTarget_ = nullptr;

    bool graph_ = false;
    bool captureFilter_ = false;
    int routeCount_ = 0;
    int stillPinExists_ = 0;
    bool frameGrabber_ = false;
    bool stillGrabber_ = false;
    bool graphEvents_ = false;
    bool liveChainAttached_ = false;
    bool prepared_ = false;
    bool running_ = false;
};
