#include "sim/simulated_microscope.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <utility>

#include "sim/field_of_view.h"
#include "sim/frame_stream.h"
#include "sim/picture_tables.h"
#include "sim/state_file.h"

namespace sim {
namespace {

struct KindTraits {
    const char* usbInterface;  // lower case, as the device path carries it
    const char* hardwareBase;  // upper case, as the hardware ids carry it
    std::vector<FrameSize> sizes;
    std::vector<int> norms;
    std::vector<std::string> inputs;
};

const KindTraits& TraitsOf(Kind kind) {
    static const KindTraits kMicroscope{"vid_eb1a&pid_1860&mi_00",
                                        "USB\\VID_EB1A&PID_1860",
                                        {{320, 240}, {640, 480}, {720, 480}, {720, 576}},
                                        {kNormNtscM, kNormPalB},
                                        {"Composite", "S-Video"}};
    static const KindTraits kCamera{"vid_eb1a&pid_1760&mi_00",
                                    "USB\\VID_EB1A&PID_1760",
                                    {{320, 240}, {640, 480}, {1280, 1024}},
                                    {},
                                    {"Camera"}};
    return kind == Kind::Camera ? kCamera : kMicroscope;
}

}  // namespace

struct SimulatedMicroscope::State final : StreamHost {
    explicit State(Options chosen) : options(std::move(chosen)), traits(TraitsOf(options.kind)) {
        RememberedState remembered = Defaults();
        LoadRememberedState(options.stateFile, traits.norms, remembered);
        Apply(remembered);
    }

    // What a device just plugged in holds.
    RememberedState Defaults() const {
        RememberedState defaults;
        if (!traits.norms.empty()) {
            defaults.norm = kNormNtscM;
        }
        return defaults;
    }

    // Takes `remembered` as the current values. Needs `mutex` once other threads may see the
    // device.
    void Apply(const RememberedState& remembered) {
        values = remembered.values;
        norm = remembered.norm.value_or(kNormNtscM);
        // A stream holding the old tables finishes its frame with them.
        tables = std::make_shared<const PictureTables>(BuildPictureTables(values));
    }

    // Writes `changed` to the state file; the caller holds stateFileMutex.
    void Remember(const RememberedState& changed) const {
        if (!options.stateFile.empty()) {
            // A file that cannot be written leaves the device forgetful, nothing worse.
            static_cast<void>(SaveRememberedState(options.stateFile, changed));
        }
    }

    // What the state file should hold now; needs `mutex`.
    RememberedState Current() const {
        RememberedState current{values, std::nullopt};
        if (!traits.norms.empty()) {
            current.norm = norm;
        }
        return current;
    }

    FrameTicket NextFrame() override {
        std::lock_guard lock(mutex);
        return {nextIndex++, tables, options.frameIndexCode};
    }

    void Release(const StreamControl& control) override {
        std::lock_guard lock(mutex);
        if (activeStream.get() == &control) {
            activeStream.reset();
        }
    }

    bool Supports(FrameSize size) const {
        return std::find(traits.sizes.begin(), traits.sizes.end(), size) != traits.sizes.end();
    }

    // The rendered slide for `size` (one of the kind's sizes), made on first use.
    std::shared_ptr<const Specimen> SpecimenFor(FrameSize size) {
        std::lock_guard lock(specimenMutex);
        auto& cached = specimens[{size.width, size.height}];
        if (!cached) {
            cached = std::make_shared<const Specimen>(size);
        }
        return cached;
    }

    const Options options;
    const KindTraits& traits;

    // Held while the state file is written or removed, and while the change it records is
    // made, so that the file's changes come in the order of the device's. Taken before
    // `mutex`, never after it.
    std::mutex stateFileMutex;

    mutable std::mutex mutex;  // guards everything below up to specimenMutex
    bool plugged = true;
    std::uint64_t plugGeneration = 1;
    int norm = kNormNtscM;
    PropertyValues values;
    std::shared_ptr<const PictureTables> tables;
    bool buttonLatched = false;
    std::uint64_t nextIndex = 0;
    std::shared_ptr<StreamControl> activeStream;

    // Held while the plug observer is replaced or called: never together with `mutex`.
    std::mutex observerMutex;
    std::function<void(bool)> plugObserver;

    std::mutex specimenMutex;  // guards specimens; held while a new size is rendered
    std::map<std::pair<int, int>, std::shared_ptr<const Specimen>> specimens;
};

SimulatedMicroscope::SimulatedMicroscope(Options options)
    : state_(std::make_shared<State>(std::move(options))) {}

SimulatedMicroscope::~SimulatedMicroscope() {
    // A stream that outlives its device stops quietly; its object can still be destroyed.
    std::shared_ptr<StreamControl> stream;
    {
        std::lock_guard lock(state_->mutex);
        stream = std::move(state_->activeStream);
    }
    if (stream) {
        stream->Stop(StreamControl::End::Quietly);
    }
}

Kind SimulatedMicroscope::kind() const {
    return state_->options.kind;
}

bool SimulatedMicroscope::hasStillPin() const {
    return state_->options.stillPin;
}

std::string SimulatedMicroscope::friendlyName() const {
    return "Simulated Microscope";
}

std::string SimulatedMicroscope::devicePath() const {
    return std::string("usb#") + state_->traits.usbInterface + "#simulated/video0";
}

std::string SimulatedMicroscope::identity() const {
    std::lock_guard lock(state_->mutex);
    if (!state_->plugged) {
        return {};
    }
    return devicePath() + "#plug" + std::to_string(state_->plugGeneration);
}

std::vector<std::string> SimulatedMicroscope::HardwareIds() const {
    if (!plugged()) {
        return {};
    }
    const std::string base = state_->traits.hardwareBase;
    return {base + "&REV_0100", base, base + "&REV_0100&MI_00", base + "&MI_00"};
}

bool SimulatedMicroscope::plugged() const {
    std::lock_guard lock(state_->mutex);
    return state_->plugged;
}

void SimulatedMicroscope::Plug() {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->plugged) {
            return;
        }
        state_->plugged = true;
        ++state_->plugGeneration;
    }
    NotifyPlugState(true);
}

void SimulatedMicroscope::SetPlugObserver(std::function<void(bool plugged)> observer) {
    std::lock_guard lock(state_->observerMutex);
    state_->plugObserver = std::move(observer);
}

void SimulatedMicroscope::NotifyPlugState(bool plugged) {
    std::lock_guard lock(state_->observerMutex);
    if (state_->plugObserver) {
        state_->plugObserver(plugged);
    }
}

void SimulatedMicroscope::Unplug() {
    std::shared_ptr<StreamControl> stream;
    {
        std::lock_guard fileLock(state_->stateFileMutex);
        {
            std::lock_guard lock(state_->mutex);
            if (!state_->plugged) {
                return;
            }
            state_->plugged = false;
            state_->buttonLatched = false;
            state_->Apply(state_->Defaults());
            // The stream is over for the device; its object may live on until its owner
            // drops it.
            stream = std::move(state_->activeStream);
        }
        ForgetRememberedState(state_->options.stateFile);
    }
    if (stream) {
        stream->Stop(StreamControl::End::Unplugged);
    }
    NotifyPlugState(false);
}

std::vector<FrameSize> SimulatedMicroscope::FrameSizes() const {
    return state_->traits.sizes;
}

bool SimulatedMicroscope::SupportsSize(int width, int height) const {
    return state_->Supports({width, height});
}

std::vector<int> SimulatedMicroscope::Norms() const {
    return state_->traits.norms;
}

bool SimulatedMicroscope::GetNorm(int& norm) const {
    if (state_->traits.norms.empty()) {
        return false;
    }
    std::lock_guard lock(state_->mutex);
    norm = state_->norm;
    return true;
}

bool SimulatedMicroscope::SetNorm(int norm) {
    const std::vector<int>& norms = state_->traits.norms;
    if (std::find(norms.begin(), norms.end(), norm) == norms.end()) {
        return false;
    }
    std::lock_guard fileLock(state_->stateFileMutex);
    RememberedState changed;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->norm == norm) {
            return true;
        }
        state_->norm = norm;
        if (!state_->plugged) {
            return true;
        }
        changed = state_->Current();
    }
    state_->Remember(changed);
    return true;
}

std::vector<std::string> SimulatedMicroscope::Inputs() const {
    return state_->traits.inputs;
}

bool SimulatedMicroscope::GetPropertyRange(int property, PropertyRange& range) const {
    if (property < 0 || property >= kPropertyCount) {
        return false;
    }
    range = PropertyRangeOf(property);
    return true;
}

bool SimulatedMicroscope::GetProperty(int property, int& value) const {
    if (property < 0 || property >= kPropertyCount) {
        return false;
    }
    std::lock_guard lock(state_->mutex);
    value = state_->values[static_cast<std::size_t>(property)];
    return true;
}

bool SimulatedMicroscope::SetProperty(int property, int value) {
    if (property < 0 || property >= kPropertyCount) {
        return false;
    }
    const int clamped = ClampPropertyValue(property, value);
    std::lock_guard fileLock(state_->stateFileMutex);
    RememberedState changed;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->values[static_cast<std::size_t>(property)] == clamped) {
            return true;
        }
        changed = state_->Current();
        changed.values[static_cast<std::size_t>(property)] = clamped;
        state_->Apply(changed);
        if (!state_->plugged) {
            return true;
        }
    }
    state_->Remember(changed);
    return true;
}

void SimulatedMicroscope::PressButton() {
    std::lock_guard lock(state_->mutex);
    if (!state_->plugged) {
        return;
    }
    state_->buttonLatched = true;
    if (state_->options.stillPin && state_->activeStream) {
        state_->activeStream->RequestStill();
    }
}

int SimulatedMicroscope::TakeButtonPress() {
    std::lock_guard lock(state_->mutex);
    return std::exchange(state_->buttonLatched, false) ? 1 : 0;
}

std::unique_ptr<Stream> SimulatedMicroscope::Start(FrameSize size, int framesPerSecond,
                                                   FrameSink& sink) {
    if (framesPerSecond < 1 || framesPerSecond > 60 || !state_->Supports(size)) {
        return nullptr;
    }
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->plugged || state_->activeStream) {
            return nullptr;
        }
    }
    // Rendering a new size takes a moment; do it before the stream's clock starts.
    std::shared_ptr<const Specimen> specimen = state_->SpecimenFor(size);

    auto control = std::make_shared<StreamControl>();
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->plugged || state_->activeStream) {
            return nullptr;
        }
        // Claimed before the thread runs: an Unplug from now on reaches this stream.
        state_->activeStream = control;
    }
    std::unique_ptr<Stream> stream =
        StartFrameStream(control, state_, std::move(specimen), framesPerSecond, sink);
    if (!stream) {
        state_->Release(*control);
    }
    return stream;
}

void SimulatedMicroscope::RenderFrame(std::uint64_t index, FrameSize size,
                                      std::uint8_t* yuy2) const {
    if (yuy2 == nullptr || !state_->Supports(size)) {
        return;
    }
    std::shared_ptr<const PictureTables> tables;
    {
        std::lock_guard lock(state_->mutex);
        tables = state_->tables;
    }
    RenderSpecimenFrame(*state_->SpecimenFor(size), *tables, index, state_->options.frameIndexCode,
                        yuy2);
}

}  // namespace sim
