#pragma once

#include <array>
#include <atomic>
#include <string>

#include "capture/capture_discovery.h"
#include "capture/capture_format.h"
#include "capture/capture_graph.h"
#include "capture/capture_settings.h"
#include "capture/engine_messages.h"
#include "capture/grabber_callbacks.h"
#include "capture/media_backend.h"

// The microscope's button library: opened for a row-0 device, closed with the graph.
// Called on the UI thread.
class DeviceLibrary {
public:
    virtual ~DeviceLibrary() = default;
    virtual int Open() = 0;  // 1 when open
    virtual void Close() = 0;
};

// Finds the microscope, builds and runs the capture graph on a media backend, and hands
// every frame to the frame callback. It owns the order of things: discovery (DeviceDiscovery)
// chooses the device, the graph (CaptureGraph) binds and runs it, the format (CaptureFormat)
// is applied in between; the engine stops, tears down, prepares and runs around them.
//
// Threads: every method runs on the UI thread; the frame callbacks run on the backend's
// streaming thread. What latestFrame and frameCallback hand out, libraryDeviceMode, and the
// still flags and recording switch the CaptureSession holds are shared with those threads.
// Blocking: as the backend calls each method makes (see MediaBackend): opening the device
// takes milliseconds, and a USB device that does not answer can hold a request for seconds;
// stopping waits for the streaming thread to leave the frame callback, so no method may be
// called from a callback. Methods not said to block return at once.
// Failures go to the trace; the caller decides what the user sees.
class CaptureEngine {
public:
    static constexpr int kMaxDevices = DeviceDiscovery::kMaxDevices;

    explicit CaptureEngine(MediaBackend& backend);
    // Stops and releases the graph (blocks as StopGraph and TearDownGraph do).
    ~CaptureEngine();
    CaptureEngine(const CaptureEngine&) = delete;
    CaptureEngine& operator=(const CaptureEngine&) = delete;

    // Where still messages and graph events go; also clears the device count.
    void SetMessageTarget(EngineMessageTarget* target);
    void SetDeviceLibrary(DeviceLibrary* library) { deviceLibrary_ = library; }
    void SetCapConfigPath(std::string path) { format_.SetCapConfigPath(std::move(path)); }
    // Why the last SetResolution could not write CapConfig.dat (an errno); 0 when it could.
    int capConfigError() const { return format_.capConfigError(); }
    // The display side: every frame is drawn into it, and the graph's full tear-down
    // releases its surface. Set before frames flow.
    void SetDisplayWindow(FrameDrawer* display);

    // Discovery.

    // Makes device enumeration possible; the backend's result (a failure is traced, and
    // DiscoverDevices then finds nothing).
    HResult CreateDeviceEnumerator() { return discovery_.CreateEnumerator(); }
    // Lists the devices and settles the current one (DeviceDiscovery::Discover). For a
    // device of row 0 it opens the button library, which sets library mode; a device of
    // row 1 leaves library mode. Blocks while the system is asked (milliseconds). 1 when a
    // device is current, else 0.
    int DiscoverDevices();
    // Moves to the device in slot `index`: stops and tears the graph down, makes it current,
    // opens the button library for a row-0 device (else leaves library mode), then builds,
    // prepares and runs the graph on it. Blocks as those steps do. Nothing happens for an
    // index out of range, an empty slot, or the device that is current already.
    void SelectDevice(int index);
    // Whether the current device is still plugged in (DeviceDiscovery::IsDevicePresent);
    // asks the system (milliseconds).
    bool IsDevicePresent() { return discovery_.IsDevicePresent(); }
    const std::array<CaptureDeviceEntry, kMaxDevices>& DeviceList() const {
        return discovery_.devices();
    }
    const CaptureDeviceEntry* CurrentEntry() const { return discovery_.CurrentEntry(); }
    int deviceCount() const { return discovery_.deviceCount(); }
    const std::string& deviceIdentity() const { return discovery_.deviceIdentity(); }
    // 1 while the device is driven with the button library, else 0. Any thread.
    int libraryDeviceMode() const { return libraryDeviceMode_.load(); }
    void SetLibraryDeviceMode(int mode) { libraryDeviceMode_.store(mode); }

    // The graph. Results are 1 for success and 0 for failure unless said otherwise.

    // Makes the graph and binds the current device as its capture filter, reading the
    // device's name again first. Blocks while the device is opened (milliseconds, seconds for
    // a USB device that does not answer). On failure (traced) the whole graph is torn down.
    int BuildGraph();
    // Applies the capture format and builds the grabber chains in the mode's order: library
    // mode builds the live chain first and goes on without a chain that fails; camera mode
    // builds the still chain first and fails with either. 1 when prepared (also when it was
    // already); 0 while running, without a bound device, or when a chain failed. Reads
    // CapConfig.dat.
    int PreparePreview();
    // Runs a prepared graph: 1 when it runs (also when it ran already); 0 when not prepared
    // or the device cannot start (traced). Blocks while the device starts streaming.
    int RunGraph();
    // Stops the graph and marks it not running. Returns once no frame callback runs. 1 also
    // without a graph; 0 when the backend refuses to stop (traced).
    int StopGraph();
    // Stops, prepares and runs the graph again (a one-shot still grabber delivers again).
    // Blocks as those do. Always 0.
    int RestartGraph();
    // Fetches one pending graph event, once the still chain has set graph events up; called
    // for each kWmGraphEvent. True when an event was fetched.
    bool DrainGraphEvent();
    // Removes every filter downstream of the capture filter so the chains can be built
    // again; the graph is no longer prepared. Stops the graph first (blocks as StopGraph).
    void TearDownDownstream();
    // Releases the whole graph and the bound device, lets the display release its surface,
    // frees the frame copy and closes the button library. Blocks as StopGraph does.
    void TearDownGraph();
    bool prepared() const { return graph_.prepared(); }
    bool running() const { return graph_.running(); }
    bool hasGraph() const { return graph_.hasGraph(); }
    int routeCount() const { return graph_.routeCount(); }
    int stillPinExists() const { return graph_.stillPinExists(); }

    // The capture format. SetResolution stores and applies a frame size and restarts the
    // preview (running again only when it ran); a size that is not usable
    // (IsUsableFrameSize) returns kInvalidArgument and changes nothing. Without a bound device
    // it returns kOk and does nothing. Otherwise it returns the device's answer to the new
    // format; writes CapConfig.dat and blocks as stopping and running do.
    HResult SetResolution(int width, int height);
    // The analog norm of the bound device (video_norms.h numbers). SetNorm stops a running
    // graph for the change and runs it again. A failure without a bound device, for a device
    // without norms, or a norm it refuses.
    HResult GetNorm(int& norm);
    HResult SetNorm(int norm);
    // Gives the live grabber the device's format at this rate, for recording; nothing for a
    // rate of 0 or less or without a bound device.
    void SetGrabberFrameRate(int framesPerSecond);
    const CaptureSettings& Settings() const { return format_.settings(); }

    // Frames. Stills and recording on/off go through the CaptureSession.
    LatestFrame& latestFrame() { return latestFrame_; }
    FrameCallback& frameCallback() { return frameCallback_; }

    // The backend, for the picture properties of the settings dialog and the command line.
    MediaBackend& backend() { return backend_; }

private:
    friend class CaptureSession;
    StillFlags& stillFlags() { return stillFlags_; }
    std::atomic<int>& recordingActive() { return recordingActive_; }

    int OpenDeviceLibrary();
    void CloseDeviceLibrary();
    DeviceMode mode() const;

    MediaBackend& backend_;
    DeviceLibrary* deviceLibrary_ = nullptr;
    FrameDrawer* displayWindow_ = nullptr;
    std::atomic<int> libraryDeviceMode_{0};

    LatestFrame latestFrame_;
    StillFlags stillFlags_;
    std::atomic<int> recordingActive_{0};
    FrameCallback frameCallback_;
    StillPinCallback stillPinCallback_;

    DeviceDiscovery discovery_;
    CaptureGraph graph_;
    CaptureFormat format_;
};
