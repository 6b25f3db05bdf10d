#include "gst_test_rig.h"

#include <algorithm>

namespace gsttest {

void RecordingTarget::Post(EngineMessage message, int value) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        posts_.push_back(Posted{message, value});
    }
    changed_.notify_all();
}

bool RecordingTarget::WaitFor(const std::function<bool(const Posted&)>& match, int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] {
        return std::count_if(posts_.begin(), posts_.end(), match) >= count;
    });
}

int RecordingTarget::Count(const std::function<bool(const Posted&)>& match) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count_if(posts_.begin(), posts_.end(), match));
}

std::optional<std::uint32_t> TopRowIndex(const std::uint8_t* bottomUp, int width, int height) {
    if (bottomUp == nullptr || width <= 0 || height <= 0) {
        return std::nullopt;
    }
    return sim::ReadFrameIndexBgr(
        bottomUp + static_cast<std::size_t>(height - 1) * BgrRowBytes(width), width);
}

int FrameRecorder::DrawFrame(const std::uint8_t* buffer, std::size_t lengthBytes, int width,
                             int height) {
    DrawnFrame frame{width, height, lengthBytes, std::nullopt};
    if (lengthBytes >=
        static_cast<std::size_t>(BgrRowBytes(width)) * static_cast<std::size_t>(height)) {
        frame.index = TopRowIndex(buffer, width, height);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        frames_.push_back(frame);
    }
    changed_.notify_all();
    return 1;
}

bool FrameRecorder::WaitForFrames(std::size_t count, std::size_t after) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return frames_.size() >= after + count; });
}

std::vector<DrawnFrame> FrameRecorder::Frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
}

std::size_t FrameRecorder::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_.size();
}

EngineRig::EngineRig(sim::Options options) : microscope(options) {
    engine.SetMessageTarget(&target);  // after the session pointed them at itself
    engine.SetCapConfigPath(folder / "CapConfig.dat");
    engine.frameCallback().SetDrawer(&frames);
}

EngineRig::~EngineRig() {
    engine.StopGraph();
    engine.TearDownGraph();
}

bool EngineRig::Start() {
    return Succeeded(engine.CreateDeviceEnumerator()) && engine.DiscoverDevices() == 1 &&
           engine.BuildGraph() == 1 && engine.PreparePreview() == 1 && engine.RunGraph() == 1;
}

}  // namespace gsttest
