#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_settings.h"
#include "capture/frame_grabbing.h"
#include "capture/hresult.h"

// A video-input device as enumeration reports it.
struct DeviceMoniker {
    std::string devicePath;    // holds the USB identity ("...vid_eb1a&pid_1860&mi_00...")
    std::string friendlyName;  // empty when the name could not be read
    std::string identity;      // equal for the same device across enumerations
    std::string nodePath;      // where the backend opens it ("/dev/video0")
    bool nameReadable = true;
};

enum class MediaMajor { Video, Interleaved };
enum class GrabberSlot { Frame = 0, Still = 1 };

// Identities of pins and filters, for traces and for walking the graph downstream.
using PinId = std::uint32_t;
using FilterId = std::uint32_t;

struct PinConnection {
    PinId pin = 0;            // an output pin of the filter asked about
    PinId downstreamPin = 0;  // the input pin it is connected to
    FilterId downstreamFilter = 0;
};

struct PropertyRange {
    int minimum = 0;
    int maximum = 0;
    int step = 0;
    int defaultValue = 0;
    int flags = 0;
};

// The operations the capture engine asks of the media framework. The engine keeps the
// order of calls, the states and the traces; a backend only carries out each step and
// says whether it worked. Every method is called on the UI thread, except where noted,
// and returns without waiting for frames. Methods that can fail return an HResult.
class MediaBackend {
public:
    virtual ~MediaBackend() = default;

    // Devices.
    virtual HResult CreateDeviceEnumerator() = 0;
    // kOk with the devices in a stable order, kFalse when there are none, or a failure.
    virtual HResult EnumerateVideoInputDevices(std::vector<DeviceMoniker>& devices) = 0;
    virtual bool IsSameDevice(const DeviceMoniker& a, const DeviceMoniker& b) = 0;
    virtual HResult ReadFriendlyName(const DeviceMoniker& device, std::string& name) = 0;
    // The hardware ids of every present imaging device; false when they cannot be listed.
    virtual bool ListPresentHardwareIds(std::vector<std::vector<std::string>>& devices) = 0;

    // The graph and its capture filter.
    virtual HResult CreateGraphBuilder() = 0;
    virtual HResult CreateFilterGraph() = 0;
    virtual HResult BindDevice(const DeviceMoniker& device) = 0;
    virtual HResult SetFilterGraph() = 0;
    virtual HResult AddCaptureFilter() = 0;
    virtual HResult FindStreamConfig(MediaMajor major) = 0;
    virtual HResult FindCrossbar(MediaMajor major) = 0;
    virtual HResult FindCaptureDialogs() = 0;
    // The video inputs in front of the capture filter; each is one route.
    virtual HResult CountVideoRoutes(int& routes) = 0;
    virtual HResult FindStillPin() = 0;
    virtual FilterId CaptureFilter() = 0;

    // The device's format. `isVideoInfo` tells whether it is a plain video format.
    virtual HResult GetFormat(CaptureSettings& format, bool& isVideoInfo) = 0;
    virtual HResult SetFormat(const CaptureSettings& format) = 0;

    // Grabbers: a filter that hands each frame, as 24-bit top-down blue-green-red, to a
    // callback on the streaming thread, and the renderer behind it.
    virtual HResult CreateGrabber(GrabberSlot slot) = 0;
    // nullptr asks for plain 24-bit RGB; else the device's full format.
    virtual HResult SetGrabberMediaType(GrabberSlot slot, const CaptureSettings* format) = 0;
    virtual HResult AddGrabberToGraph(GrabberSlot slot, const char* name) = 0;
    // Connects the capture filter's output pin `pinNumber` (counting output pins only) to
    // the grabber's input. `pinsExist` is false when either pin is missing; then nothing
    // was tried and the result means nothing. The two pin ids are for traces.
    virtual HResult ConnectOutputPin(int pinNumber, GrabberSlot slot, bool& pinsExist,
                                     PinId& outputPin, PinId& grabberPin) = 0;
    virtual HResult RenderGrabberOutput(GrabberSlot slot, PinId& grabberOutputPin) = 0;
    // No buffering; a one-shot grabber delivers one frame, and again after each Run. The
    // callback outlives the graph.
    virtual void ConfigureGrabber(GrabberSlot slot, bool oneShot, GrabberCallback* callback) = 0;
    virtual void ReleaseGrabber(GrabberSlot slot) = 0;
    virtual HResult GetVideoWindow(GrabberSlot slot) = 0;
    virtual void HideVideoWindow(GrabberSlot slot) = 0;

    // Graph events: once set up, each event posts kWmGraphEvent to `target` (from any
    // thread) and waits to be fetched.
    virtual HResult SetUpGraphEvents(NotifyTarget* target) = 0;
    virtual HResult GetGraphEvent(long& code, std::intptr_t& param1, std::intptr_t& param2) = 0;
    virtual HResult FreeEventParams(long code, std::intptr_t param1, std::intptr_t param2) = 0;

    // Running. Stop returns once no callback runs any more; never call it from one.
    virtual HResult QueryMediaControl() = 0;
    virtual HResult Run() = 0;
    virtual HResult Stop() = 0;

    // The graph downstream of a filter, for tearing it down.
    virtual std::vector<PinConnection> DownstreamConnections(FilterId filter) = 0;
    virtual HResult Disconnect(PinId pin) = 0;
    virtual HResult RemoveFilter(FilterId filter) = 0;

    // Releases everything the graph holds: filters, grabbers, the capture filter.
    virtual void ReleaseGraph() = 0;

    // Picture properties (0 brightness, 1 contrast, 2 hue, 3 saturation, 4 sharpness,
    // 5 gamma) and the analog norm (1 NTSC M, 16 PAL B) of the bound device.
    virtual HResult GetPropertyRange(int property, PropertyRange& range) = 0;
    virtual HResult GetProperty(int property, int& value, int& flags) = 0;
    virtual HResult SetProperty(int property, int value, int flags) = 0;
    virtual HResult GetNorm(int& norm) = 0;
    virtual HResult SetNorm(int norm) = 0;
};
