#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "capture/capture_settings.h"
#include "capture/engine_messages.h"
#include "capture/grabber_callbacks.h"
#include "capture/media_backend.h"

// The identity strings that make a device the microscope. The row is both the device kind
// and the preference: row 0 is driven with the button library and offers analog norms,
// row 1 is the camera kind without it.
inline constexpr std::array<const char*, 2> kDeviceIdentityTable = {"Vid_eb1a&Pid_1860",
                                                                    "Vid_eb1a&Pid_1760&MI_00"};

struct CaptureDeviceEntry {
    int identityRow = -1;  // row of kDeviceIdentityTable, -1 for none or an empty slot
    int isCurrent = 0;
    std::string devicePath;
    std::string friendlyName;
    std::optional<DeviceMoniker> moniker;  // empty slot without
};

// The microscope's button library: opened for a row-0 device, closed with the graph.
class DeviceLibrary {
public:
    virtual ~DeviceLibrary() = default;
    virtual int Open() = 0;  // 1 when open
    virtual void Close() = 0;
};

// Finds the microscope, builds and runs the capture graph on a media backend, and hands
// every frame to the frame callback. All methods run on the UI thread; the callbacks run on
// the backend's streaming thread. Failures go to the trace; the caller decides what the
// user sees.
class CaptureEngine {
public:
    static constexpr int kMaxDevices = 10;

    explicit CaptureEngine(MediaBackend& backend);
    ~CaptureEngine();
    CaptureEngine(const CaptureEngine&) = delete;
    CaptureEngine& operator=(const CaptureEngine&) = delete;

    // Where still messages and graph events go; also clears the device count.
    void SetWindows(EngineMessageTarget* notifyWindow);
    void SetDeviceLibrary(DeviceLibrary* library) { deviceLibrary_ = library; }
    void SetCapConfigPath(std::string path) { capConfigPath_ = std::move(path); }
    // Why the last SetResolution could not write CapConfig.dat (an errno); 0 when it could.
    int capConfigError() const { return capConfigError_; }
    // The display side: every frame is drawn into it, and the graph's full tear-down
    // releases its surface. Set before frames flow.
    void SetDisplayWindow(FrameDrawer* display);

    // Discovery.
    HResult CreateDeviceEnumerator();
    int DiscoverDevices();  // 1 when a device is selected
    static int MatchIdentity(std::string_view devicePath);
    void SelectDevice(int index);
    bool IsDevicePresent();
    const std::array<CaptureDeviceEntry, kMaxDevices>& DeviceList() const { return devices_; }
    const CaptureDeviceEntry* CurrentEntry() const;
    int deviceCount() const { return deviceCount_; }
    const std::string& deviceIdentity() const { return deviceIdentity_; }
    int libraryDeviceMode() const { return libraryDeviceMode_.load(); }
    void SetLibraryDeviceMode(int mode) { libraryDeviceMode_.store(mode); }

    // The graph.
    int BuildGraph();
    int PreparePreview();
    int RunGraph();
    int StopGraph();
    int RestartGraph();
    // Fetches one pending graph event once the still chain set graph events up; true when
    // an event was fetched.
    bool DrainGraphEvent();
    void TearDownDownstream();
    void TearDownGraph();
    bool prepared() const { return prepared_; }
    bool running() const { return running_; }
    bool hasGraph() const { return graph_; }
    int routeCount() const { return routeCount_; }
    int stillPinExists() const { return stillPinExists_; }

    // The capture format. SetResolution stores and applies a frame size and restarts the
    // preview; a size that is not usable (IsUsableFrameSize) returns kInvalidArgument and
    // changes nothing.
    HResult SetResolution(int width, int height);
    void SetGrabberFrameRate(int framesPerSecond);
    const CaptureSettings& Settings() const { return captureSettings_; }
    void ApplyDefaultFormat(CaptureSettings& deviceFormat);

    // Frames. Stills and recording on/off go through the CaptureSession.
    LatestFrame& latestFrame() { return latestFrame_; }
    FrameCallback& frameCallback() { return frameCallback_; }

    // The backend's picture properties and norm, for the settings dialog.
    MediaBackend& backend() { return backend_; }

private:
    friend class CaptureSession;
    StillFlags& stillFlags() { return stillFlags_; }
    std::atomic<int>& recordingActive() { return recordingActive_; }

    int OpenDeviceLibrary();
    void CloseDeviceLibrary();
    void MakeCurrent(int index);
    bool PrepareFormat();
    HResult BuildFrameGrabberChain();
    HResult BuildStillChain();
    HResult ConnectGrabber(GrabberSlot slot);
    void AttachCallback(GrabberSlot slot);
    void NukeDownstream(FilterId filter);

    MediaBackend& backend_;
    EngineMessageTarget* notifyWindow_ = nullptr;
    DeviceLibrary* deviceLibrary_ = nullptr;
    FrameDrawer* displayWindow_ = nullptr;
    std::string capConfigPath_;
    int capConfigError_ = 0;

    // Discovery.
    bool enumerator_ = false;
    std::array<CaptureDeviceEntry, kMaxDevices> devices_;
    int currentIndex_ = -1;
    int deviceCount_ = 0;
    std::string deviceIdentity_;
    std::atomic<int> libraryDeviceMode_{0};

    // What the graph holds.
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

    CaptureSettings captureSettings_;

    LatestFrame latestFrame_;
    StillFlags stillFlags_;
    std::atomic<int> recordingActive_{0};
    FrameCallback frameCallback_;
    StillPinCallback stillPinCallback_;
};
