#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_settings.h"
#include "capture/engine_messages.h"
#include "capture/grabber_callbacks.h"
#include "capture/hresult.h"
#include "media/picture_properties.h"

// A video-input device as enumeration reports it.
struct DeviceMoniker {
    std::string devicePath;    // holds the USB identity ("...vid_eb1a&pid_1860&mi_00...")
    std::string friendlyName;  // empty when the name could not be read
    std::string identity;      // equal for the same device across enumerations
    std::string nodePath;      // where the backend opens it ("/dev/video0")
    bool nameReadable = true;
};

// The picture properties and the analog norm of one device, reached apart from the capture
// graph: a handle of its own on the device, so it may be used on a thread of its own while the
// graph streams, stops or is rebuilt, and it outlives the graph. Once the device is gone every
// call fails.
//
// Threads: one thread at a time. Blocking: each call is one or a few requests to the device;
// on a USB device, control transfers of milliseconds, at worst the driver's timeout (seconds).
// Results: kOk; a failure when the device lacks the property or norms (kNotFound,
// kNoInterface), refuses the value, or is gone. Outputs are untouched on failure.
class DeviceControls {
public:
    virtual ~DeviceControls() = default;
    // Property numbers as PictureProperty (0 brightness ... 5 gamma).
    virtual HResult GetPropertyRange(int property, PropertyRange& range) = 0;
    virtual HResult GetProperty(int property, int& value) = 0;
    // The device keeps the value within its range (it may clamp or round it).
    virtual HResult SetProperty(int property, int value) = 0;
    // Norms as video_norms.h numbers (1 NTSC M, 16 PAL B).
    virtual HResult GetNorm(int& norm) = 0;
    virtual HResult SetNorm(int norm) = 0;
};

enum class GrabberSlot { Frame = 0, Still = 1 };

// Identities of pins and filters, for traces and for walking the graph downstream.
using PinId = std::uint32_t;
using FilterId = std::uint32_t;

struct PinConnection {
    PinId pin = 0;            // an output pin of the filter asked about
    PinId downstreamPin = 0;  // the input pin it is connected to
    FilterId downstreamFilter = 0;
};

// The operations the capture engine asks of the media framework. The engine keeps the
// order of calls, the states and the traces; a backend only carries out each step and
// says whether it worked.
//
// Threads: every method is called on the UI thread, never from a grabber callback, unless
// its comment says otherwise. Grabber callbacks run on the framework's streaming threads;
// graph events are posted from whichever thread notices them.
// Blocking: no method waits for a frame. Methods that open the device or talk to it block
// for as long as that takes: milliseconds, but a USB device that does not answer holds a
// control transfer until the driver gives up (seconds). Methods that change the graph's links
// stop the graph first and so block as Stop does.
// Results: methods that can fail return an HResult (hresult.h): kOk on success, kFalse where
// noted for "nothing to do", a failure code otherwise. No method throws.
class MediaBackend {
public:
    virtual ~MediaBackend() = default;

    // Devices.

    // Starts the media framework if it has not started yet. The first call in a process can
    // take a moment (the framework loads its plugin registry); later calls return at once.
    // kOk when devices can be listed; a failure when the framework cannot start.
    virtual HResult CreateDeviceEnumerator() = 0;
    // Replaces `devices` with the video-input devices in a stable order. Blocks while the
    // system is asked (see platform::DeviceRegistry::EnumerateVideoInputs: milliseconds).
    // kOk with at least one device, kFalse when there are none, or a failure when the system
    // cannot be asked.
    virtual HResult EnumerateVideoInputDevices(std::vector<DeviceMoniker>& devices) = 0;
    // True when both monikers name the same device of the same enumeration era (a device
    // unplugged and plugged again is another one). Never blocks.
    virtual bool IsSameDevice(const DeviceMoniker& a, const DeviceMoniker& b) = 0;
    // The device's name as the system tells it now, else as it was enumerated. Enumerates
    // again (milliseconds). kOk with `name` set; a failure, `name` untouched, when no name can
    // be read.
    virtual HResult ReadFriendlyName(const DeviceMoniker& device, std::string& name) = 0;
    // The hardware ids of every present imaging device (see
    // platform::DeviceRegistry::ListPresentHardwareIds; milliseconds, opens no device); false
    // when they cannot be listed.
    virtual bool ListPresentHardwareIds(std::vector<std::vector<std::string>>& devices) = 0;

    // The graph and its capture filter.

    // Makes the empty graph; no device is opened. kOk, also when a graph exists already; a
    // failure when the framework cannot start or is out of memory.
    virtual HResult CreateFilterGraph() = 0;
    // Opens `device` as the graph's capture filter, replacing a device bound before. Blocks
    // while the device is opened and asked for its formats, sizes, inputs and current format
    // (a few ioctls on a V4L2 node). kOk when bound; kDeviceRemoved when the device is gone or
    // cannot be opened as a video capture device; kPointer without a graph.
    virtual HResult BindDevice(const DeviceMoniker& device) = 0;
    // Puts the bound capture filter into the graph; its pins join when they are connected.
    // Never blocks. kOk; kPointer without a graph or a bound device.
    virtual HResult AddCaptureFilter() = 0;
    // The video inputs in front of the capture filter; each is one route, and a device with a
    // single input has none. Never blocks (the inputs were listed at bind). kOk with `routes`
    // set; a failure without a bound device.
    virtual HResult CountVideoRoutes(int& routes) = 0;
    // kOk when the bound device has a still output pin (output pin 1); a failure when it has
    // none or nothing is bound. Never blocks.
    virtual HResult FindStillPin() = 0;
    // The capture filter's id, for DownstreamConnections. Any thread; never blocks.
    virtual FilterId CaptureFilter() = 0;

    // The device's format.

    // The format the capture pin will produce, as a video format record; `isVideoInfo` tells
    // whether it is a plain video format. Never blocks. kOk; a failure without a bound device.
    virtual HResult GetFormat(CaptureSettings& format, bool& isVideoInfo) = 0;
    // Checks `format` against what the device offers and keeps it for the next Run. Never
    // blocks. kOk when kept; kInvalidMediaType when the device does not offer it; kWrongState
    // while the graph runs; a failure without a bound device.
    virtual HResult SetFormat(const CaptureSettings& format) = 0;

    // Grabbers: a filter that hands each frame, as 24-bit top-down blue-green-red, to a
    // callback on the streaming thread, and the renderer behind it.

    // Makes the slot's grabber (not yet in the graph). Never blocks. kOk, also when it exists
    // already; a failure when the framework lacks a part of it.
    virtual HResult CreateGrabber(GrabberSlot slot) = 0;
    // The media type the grabber asks of its input: nullptr asks for plain 24-bit RGB; else
    // the device's full format. Never blocks. kOk; kInvalidMediaType for a format without a
    // picture; kPointer without the slot's grabber.
    virtual HResult SetGrabberMediaType(GrabberSlot slot, const CaptureSettings* format) = 0;
    // Puts the slot's grabber into the graph under `name`. Never blocks. kOk, also when it is
    // in already; a failure when another filter has that name or there is no grabber or graph.
    virtual HResult AddGrabberToGraph(GrabberSlot slot, const char* name) = 0;
    // Connects the capture filter's output pin `pinNumber` (counting output pins only) to
    // the grabber's input. `pinsExist` is false when either pin is missing; then nothing
    // was tried and the result means nothing. The two pin ids are for traces. Stops the
    // graph first. kOk when connected; kAlreadyConnected when either pin is taken;
    // kNoAcceptableTypes when the two cannot agree on a format.
    virtual HResult ConnectOutputPin(int pinNumber, GrabberSlot slot, bool& pinsExist,
                                     PinId& outputPin, PinId& grabberPin) = 0;
    // Adds the renderer behind the slot's grabber and connects it; `grabberOutputPin` is the
    // grabber's output pin, for traces. Stops the graph first. kOk when connected; a failure
    // when the grabber is not in the graph, is rendered already, or the renderer cannot be
    // made or linked.
    virtual HResult RenderGrabberOutput(GrabberSlot slot, PinId& grabberOutputPin) = 0;
    // From the next frame on, the slot's grabber hands frames to `callback` without
    // buffering; a one-shot grabber delivers one frame, and again after each Run. The
    // callback outlives the graph. Never blocks.
    virtual void ConfigureGrabber(GrabberSlot slot, bool oneShot, GrabberCallback* callback) = 0;
    // Takes the slot's grabber and its renderer out of the graph and drops them. Stops the
    // graph first; after it returns the slot's callback is not called any more.
    virtual void ReleaseGrabber(GrabberSlot slot) = 0;

    // Graph events: once set up, each event posts EngineMessage::GraphEvent to `target` (from
    // any thread) and waits to be fetched. `target` may be nullptr: events then only queue.
    // Never blocks. kOk; a failure without a graph.
    virtual HResult SetUpGraphEvents(EngineMessageTarget* target) = 0;
    // Takes the oldest pending event. Never blocks. kOk with the event; a failure when none
    // waits.
    virtual HResult GetGraphEvent(long& code, std::intptr_t& param1, std::intptr_t& param2) = 0;

    // Running.

    // Starts the graph streaming. Blocks while the device is opened for streaming and started
    // (milliseconds; seconds for a USB device that does not answer), not for a first frame.
    // kOk when streaming, also when it ran already; a failure when the device cannot start
    // (gone, taken by another program) or there is no graph. After a failure the caller
    // calls Stop to put the graph back at rest.
    virtual HResult Run() = 0;
    // Stops the graph. Returns once no grabber callback runs any more, so it waits for a
    // frame being handed over and for the device to stop streaming; never call it from a
    // callback. kOk, also when the graph was not running or there is none; a failure when
    // the graph refuses to stop.
    virtual HResult Stop() = 0;

    // The graph downstream of a filter, for tearing it down.

    // The connections from `filter`'s output pins, in pin order. Never blocks.
    virtual std::vector<PinConnection> DownstreamConnections(FilterId filter) = 0;
    // Undoes the connection at `pin` (either end). Stops the graph first. kOk; kFalse when
    // the pin is not connected (the other end was undone already); kInvalidArgument for a
    // pin the graph does not have.
    virtual HResult Disconnect(PinId pin) = 0;
    // Takes `filter` out of the graph. Stops the graph first. kOk; kNotFound when the graph
    // does not hold it.
    virtual HResult RemoveFilter(FilterId filter) = 0;

    // Stops the graph (blocking as Stop does) and releases everything it holds: filters,
    // grabbers, the bound device and pending events.
    virtual void ReleaseGraph() = 0;

    // Picture properties (0 brightness, 1 contrast, 2 hue, 3 saturation, 4 sharpness,
    // 5 gamma) and the analog norm (1 NTSC M, 16 PAL B) of the bound device. Each is one or
    // a few requests to the device: on a USB device, control transfers of milliseconds, at
    // worst the driver's timeout (seconds). kOk; a failure when nothing is bound, the device
    // lacks the property or norms (kNotFound, kNoInterface), or refuses the value.
    virtual HResult GetPropertyRange(int property, PropertyRange& range) = 0;
    virtual HResult GetProperty(int property, int& value, int& flags) = 0;
    virtual HResult SetProperty(int property, int value, int flags) = 0;
    virtual HResult GetNorm(int& norm) = 0;
    virtual HResult SetNorm(int norm) = 0;

    // A handle of its own on the controls of `device` (see DeviceControls), bound or not.
    // Opens the device (milliseconds). nullptr when the device is gone or cannot be opened.
    virtual std::unique_ptr<DeviceControls> OpenControls(const DeviceMoniker& device) = 0;
};
