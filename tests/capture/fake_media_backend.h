#pragma once

// A scripted media backend: every step succeeds unless a test sets its result, every call
// is logged, and the graph is modelled just enough (pins, grabbers, renderers, links) for
// the engine's tear-down walk to be checked.

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "capture/media_backend.h"

namespace testsupport {

class FakeMediaBackend : public MediaBackend {
public:
    // Filter ids of the modelled graph.
    static constexpr FilterId kCaptureFilter = 1;
    static constexpr FilterId GrabberFilter(GrabberSlot slot) {
        return slot == GrabberSlot::Frame ? 2 : 3;
    }
    static constexpr FilterId RendererFilter(GrabberSlot slot) {
        return slot == GrabberSlot::Frame ? 4 : 5;
    }
    static constexpr PinId CaptureOutputPin(int number) {
        return 0x100u + static_cast<PinId>(number);
    }
    static constexpr PinId GrabberInputPin(GrabberSlot slot) {
        return 0x200u + 16u * SlotIndex(slot);
    }
    static constexpr PinId GrabberOutputPin(GrabberSlot slot) {
        return 0x201u + 16u * SlotIndex(slot);
    }
    static constexpr PinId RendererInputPin(GrabberSlot slot) {
        return 0x300u + 16u * SlotIndex(slot);
    }
    static constexpr unsigned SlotIndex(GrabberSlot slot) {
        return slot == GrabberSlot::Frame ? 0 : 1;
    }

    // The result of an operation, by method name; kOk when not set.
    std::map<std::string, HResult> results;
    std::vector<std::string> calls;

    int CallCount(const std::string& name) const {
        return static_cast<int>(std::count(calls.begin(), calls.end(), name));
    }
    bool Called(const std::string& name) const { return CallCount(name) > 0; }

    // Devices.
    HResult enumerateResult = hr::kOk;
    std::vector<DeviceMoniker> devices;
    std::set<std::string> unreadableNames;  // identities whose name cannot be read
    bool hardwareListWorks = true;
    std::vector<std::vector<std::string>> hardwareIds;

    static DeviceMoniker Device(const std::string& devicePath, const std::string& name,
                                const std::string& identity) {
        DeviceMoniker device;
        device.devicePath = devicePath;
        device.friendlyName = name;
        device.identity = identity;
        device.nodePath = "/dev/" + identity;
        return device;
    }

    // The device's format and what it accepts.
    CaptureSettings deviceFormat = DefaultDeviceFormat();
    bool isVideoInfo = true;
    std::vector<CaptureSettings> refusedFormats;  // SetFormat fails for these
    bool refuseEveryFormat = false;
    std::vector<CaptureSettings> formatsSet;  // every SetFormat, accepted or not
    std::vector<std::optional<CaptureSettings>> grabberTypes[2];

    static CaptureSettings DefaultDeviceFormat() {
        CaptureSettings format;
        format.AvgTimePerFrame = 333333;
        format.biSize = 40;
        format.biWidth = 640;
        format.biHeight = 480;
        format.biPlanes = 1;
        format.biBitCount = 16;
        format.biCompression = kFourccYuy2;
        format.biSizeImage = 640 * 480 * 2;
        return format;
    }

    // Pins: the capture filter's output pins, in order; pin 1 is the still pin when present.
    int outputPins = 1;
    bool stillPin = false;
    std::set<int> refusingPins;  // Connect fails on these output pins
    int videoRoutes = 2;

    // What the grabbers were given.
    GrabberCallback* callback[2] = {nullptr, nullptr};
    bool oneShot[2] = {false, false};
    std::vector<GrabberSlot> configureOrder;

    // Graph events.
    EngineMessageTarget* eventTarget = nullptr;
    std::deque<long> events;

    bool runningGraph = false;

    // The filters in the modelled graph.
    std::set<FilterId> Filters() const { return filters_; }

    // MediaBackend.
    HResult CreateDeviceEnumerator() override { return Result("CreateDeviceEnumerator"); }
    HResult EnumerateVideoInputDevices(std::vector<DeviceMoniker>& list) override {
        calls.push_back("EnumerateVideoInputDevices");
        if (enumerateResult == hr::kOk) {
            list = devices;
        }
        return enumerateResult;
    }
    bool IsSameDevice(const DeviceMoniker& a, const DeviceMoniker& b) override {
        return a.identity == b.identity;
    }
    HResult ReadFriendlyName(const DeviceMoniker& device, std::string& name) override {
        calls.push_back("ReadFriendlyName");
        if (unreadableNames.count(device.identity) != 0) {
            return hr::kFail;
        }
        name = device.friendlyName;
        return hr::kOk;
    }
    bool ListPresentHardwareIds(std::vector<std::vector<std::string>>& list) override {
        calls.push_back("ListPresentHardwareIds");
        if (!hardwareListWorks) {
            return false;
        }
        list = hardwareIds;
        return true;
    }

    HResult CreateFilterGraph() override { return Result("CreateFilterGraph"); }
    HResult BindDevice(const DeviceMoniker& device) override {
        boundIdentity = device.identity;
        return Result("BindDevice");
    }
    std::string boundIdentity;
    HResult AddCaptureFilter() override {
        const HResult result = Result("AddCaptureFilter");
        if (Succeeded(result)) {
            filters_.insert(kCaptureFilter);
        }
        return result;
    }
    HResult CountVideoRoutes(int& routes) override {
        routes = videoRoutes;
        return Result("CountVideoRoutes");
    }
    HResult FindStillPin() override {
        calls.push_back("FindStillPin");
        auto it = results.find("FindStillPin");
        if (it != results.end()) {
            return it->second;
        }
        return stillPin ? hr::kOk : hr::kNotFound;
    }
    FilterId CaptureFilter() override { return kCaptureFilter; }

    HResult GetFormat(CaptureSettings& format, bool& videoInfo) override {
        const HResult result = Result("GetFormat");
        if (Succeeded(result)) {
            format = deviceFormat;
            videoInfo = isVideoInfo;
        }
        return result;
    }
    HResult SetFormat(const CaptureSettings& format) override {
        formatsSet.push_back(format);
        HResult result = Result("SetFormat");
        if (refuseEveryFormat || std::find(refusedFormats.begin(), refusedFormats.end(), format) !=
                                     refusedFormats.end()) {
            result = hr::kInvalidMediaType;
        }
        if (Succeeded(result)) {
            deviceFormat = format;
        }
        return result;
    }

    HResult CreateGrabber(GrabberSlot slot) override {
        return Result(Named("CreateGrabber", slot));
    }
    HResult SetGrabberMediaType(GrabberSlot slot, const CaptureSettings* format) override {
        grabberTypes[SlotIndex(slot)].push_back(format ? std::optional(*format) : std::nullopt);
        return Result(
            Named(format ? "SetGrabberMediaType(full)" : "SetGrabberMediaType(rgb)", slot));
    }
    HResult AddGrabberToGraph(GrabberSlot slot, const char* name) override {
        grabberNames[SlotIndex(slot)] = name;
        const HResult result = Result(Named("AddGrabberToGraph", slot));
        if (Succeeded(result)) {
            filters_.insert(GrabberFilter(slot));
        }
        return result;
    }
    std::string grabberNames[2];
    HResult ConnectOutputPin(int pinNumber, GrabberSlot slot, bool& pinsExist, PinId& outputPin,
                             PinId& grabberPin) override {
        calls.push_back(Named("ConnectOutputPin", slot) + "#" + std::to_string(pinNumber));
        const int pins = outputPins + (stillPin ? 1 : 0);
        pinsExist = pinNumber < pins;
        if (!pinsExist) {
            return hr::kFail;
        }
        outputPin = CaptureOutputPin(pinNumber);
        grabberPin = GrabberInputPin(slot);
        if (links_.count(outputPin) != 0) {
            return hr::kAlreadyConnected;
        }
        if (refusingPins.count(pinNumber) != 0) {
            return hr::kNoAcceptableTypes;
        }
        links_[outputPin] = {grabberPin, GrabberFilter(slot)};
        connectedPin[SlotIndex(slot)] = pinNumber;
        return hr::kOk;
    }
    int connectedPin[2] = {-1, -1};
    HResult RenderGrabberOutput(GrabberSlot slot, PinId& grabberOutputPin) override {
        const HResult result = Result(Named("RenderGrabberOutput", slot));
        if (Succeeded(result)) {
            grabberOutputPin = GrabberOutputPin(slot);
            filters_.insert(RendererFilter(slot));
            links_[GrabberOutputPin(slot)] = {RendererInputPin(slot), RendererFilter(slot)};
        }
        return result;
    }
    void ConfigureGrabber(GrabberSlot slot, bool shot, GrabberCallback* grabberCallback) override {
        configureOrder.push_back(slot);
        oneShot[SlotIndex(slot)] = shot;
        callback[SlotIndex(slot)] = grabberCallback;
    }
    void ReleaseGrabber(GrabberSlot slot) override {
        calls.push_back(Named("ReleaseGrabber", slot));
        filters_.erase(GrabberFilter(slot));
        callback[SlotIndex(slot)] = nullptr;
        for (auto it = links_.begin(); it != links_.end();) {
            it = it->second.filter == GrabberFilter(slot) ? links_.erase(it) : std::next(it);
        }
    }

    HResult SetUpGraphEvents(EngineMessageTarget* target) override {
        const HResult result = Result("SetUpGraphEvents");
        if (Succeeded(result)) {
            eventTarget = target;
        }
        return result;
    }
    HResult GetGraphEvent(long& code, std::intptr_t& param1, std::intptr_t& param2) override {
        calls.push_back("GetGraphEvent");
        if (events.empty()) {
            return hr::kFail;
        }
        code = events.front();
        param1 = param2 = 0;
        events.pop_front();
        return hr::kOk;
    }

    HResult Run() override {
        const HResult result = Result("Run");
        runningGraph = Succeeded(result);
        return result;
    }
    HResult Stop() override {
        runningGraph = false;
        return Result("Stop");
    }

    std::vector<PinConnection> DownstreamConnections(FilterId filter) override {
        std::vector<PinConnection> connections;
        for (const auto& [pin, link] : links_) {
            if (OwnerOf(pin) == filter) {
                connections.push_back({pin, link.pin, link.filter});
            }
        }
        return connections;
    }
    HResult Disconnect(PinId pin) override {
        calls.push_back("Disconnect");
        links_.erase(pin);
        return hr::kOk;
    }
    HResult RemoveFilter(FilterId filter) override {
        calls.push_back("RemoveFilter");
        filters_.erase(filter);
        return hr::kOk;
    }
    void ReleaseGraph() override {
        calls.push_back("ReleaseGraph");
        filters_.clear();
        links_.clear();
        runningGraph = false;
    }

    PropertyRange range;
    int propertyValue = 0;
    int norm = 1;
    HResult GetPropertyRange(int, PropertyRange& out) override {
        out = range;
        return Result("GetPropertyRange");
    }
    HResult GetProperty(int, int& value, int& flags) override {
        value = propertyValue;
        flags = 2;
        return Result("GetProperty");
    }
    HResult SetProperty(int, int value, int) override {
        propertyValue = value;
        return Result("SetProperty");
    }
    HResult GetNorm(int& out) override {
        out = norm;
        return Result("GetNorm");
    }
    HResult SetNorm(int value) override {
        norm = value;
        return Result("SetNorm");
    }
    // What OpenControls hands out; none unless a test sets it.
    std::function<std::unique_ptr<DeviceControls>(const DeviceMoniker&)> openControls;
    std::unique_ptr<DeviceControls> OpenControls(const DeviceMoniker& device) override {
        calls.push_back("OpenControls");
        return openControls ? openControls(device) : nullptr;
    }

private:
    struct Link {
        PinId pin;
        FilterId filter;
    };

    HResult Result(const std::string& name) {
        calls.push_back(name);
        auto it = results.find(name);
        return it == results.end() ? hr::kOk : it->second;
    }
    static std::string Named(const std::string& name, GrabberSlot slot) {
        return name + (slot == GrabberSlot::Frame ? "(Frame)" : "(Still)");
    }
    static FilterId OwnerOf(PinId pin) {
        if (pin >= 0x300) {
            return pin < 0x310 ? RendererFilter(GrabberSlot::Frame)
                               : RendererFilter(GrabberSlot::Still);
        }
        if (pin >= 0x200) {
            return pin < 0x210 ? GrabberFilter(GrabberSlot::Frame)
                               : GrabberFilter(GrabberSlot::Still);
        }
        return kCaptureFilter;
    }

    std::set<FilterId> filters_;
    std::map<PinId, Link> links_;  // output pin -> the input pin and filter it feeds
};

}  // namespace testsupport
