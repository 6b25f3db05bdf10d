// The capture engine driving GStreamer and the simulated microscope, as the program runs it.
#include <gtest/gtest.h>

#include <string>

#include "app/debug_trace.h"
#include "gst_test_rig.h"

namespace gsttest {
namespace {

bool IsStill(const Posted& post) {
    return post.message == EngineMessage::StillArrived;
}
bool IsArmedStill(const Posted& post) {
    return post.message == EngineMessage::StillArrived && post.value == 1;
}
bool IsGraphEvent(const Posted& post) {
    return post.message == EngineMessage::GraphEvent;
}

FrameSize DefaultSizeOf(sim::Kind kind) {
    return kind == sim::Kind::Microscope ? FrameSize{720, 480} : FrameSize{1280, 1024};
}

// Every frame drawn from `first` on has `size`, a full 24-bit buffer and a readable index,
// and the indices increase.
void ExpectFramesOf(const std::vector<DrawnFrame>& frames, std::size_t first, FrameSize size) {
    ASSERT_LT(first, frames.size());
    std::optional<std::uint32_t> previous;
    for (std::size_t i = first; i < frames.size(); ++i) {
        const DrawnFrame& frame = frames[i];
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_EQ(frame.width, size.width);
        EXPECT_EQ(frame.height, size.height);
        EXPECT_EQ(frame.lengthBytes, static_cast<std::size_t>(BgrRowBytes(size.width)) *
                                         static_cast<std::size_t>(size.height));
        ASSERT_TRUE(frame.index.has_value());
        if (previous) {
            EXPECT_GT(*frame.index, *previous);
        }
        previous = frame.index;
    }
}

class EngineOnGst : public ::testing::TestWithParam<sim::Kind> {};

TEST_P(EngineOnGst, DiscoveryFindsTheDeviceWhilePluggedAndAgainAfterReplug) {
    EngineRig rig(sim::Options{.kind = GetParam(), .frameIndexCode = true});
    ASSERT_TRUE(Succeeded(rig.engine.CreateDeviceEnumerator()));
    ASSERT_EQ(rig.engine.DiscoverDevices(), 1);
    EXPECT_EQ(rig.engine.deviceCount(), 1);
    const CaptureDeviceEntry* current = rig.engine.CurrentEntry();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->identityRow, static_cast<int>(GetParam()));
    EXPECT_EQ(current->friendlyName, "Simulated Microscope");
    EXPECT_TRUE(rig.engine.IsDevicePresent());

    rig.microscope.Unplug();
    EXPECT_FALSE(rig.engine.IsDevicePresent());
    EXPECT_EQ(rig.engine.DiscoverDevices(), 0);

    rig.microscope.Plug();
    ASSERT_EQ(rig.engine.DiscoverDevices(), 1);
    EXPECT_TRUE(rig.engine.IsDevicePresent());
}

// Frames are drawn with their rows top-down (the index code is read from the first row); the
// copy kept for a still has them bottom-up (the code is in its last row).
TEST_P(EngineOnGst, StreamsTopDownFramesAndKeepsTheLatestBottomUpForAStill) {
    EngineRig rig(sim::Options{.kind = GetParam(), .frameIndexCode = true});
    ASSERT_TRUE(rig.Start());
    const FrameSize size = DefaultSizeOf(GetParam());
    ASSERT_TRUE(rig.frames.WaitForFrames(5));
    ExpectFramesOf(rig.frames.Frames(), 0, size);

    // A snapshot request: the callback leaves the frame copy alone and tells the window.
    rig.session.RequestStill(StillSource::CameraButton);
    ASSERT_TRUE(rig.target.WaitFor(IsStill));
    rig.engine.latestFrame().AcquireCopy();
    const BitmapInfoHeader header = rig.engine.latestFrame().Header();
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biWidth, size.width);
    EXPECT_EQ(header.biHeight, size.height);
    EXPECT_EQ(header.biSizeImage,
              BgrRowBytes(size.width) * static_cast<std::uint32_t>(size.height));
    EXPECT_TRUE(TopRowIndex(rig.engine.latestFrame().BottomUpBytes(header.biSizeImage).data(),
                            size.width, size.height));
    rig.session.DropStill();

    EXPECT_EQ(rig.engine.StopGraph(), 1);
}

TEST_P(EngineOnGst, NewResolutionStreamsFramesOfThatSize) {
    EngineRig rig(sim::Options{.kind = GetParam(), .frameIndexCode = true});
    ASSERT_TRUE(rig.Start());
    ASSERT_TRUE(rig.frames.WaitForFrames(2));

    ASSERT_EQ(rig.engine.SetResolution(320, 240), hr::kOk);
    EXPECT_TRUE(rig.engine.running());
    const std::size_t before = rig.frames.size();
    ASSERT_TRUE(rig.frames.WaitForFrames(4, before));
    ExpectFramesOf(rig.frames.Frames(), before, FrameSize{320, 240});

    // A size the device does not offer is refused; the preview falls back to the kind's
    // default size.
    const FrameSize unsupported =
        GetParam() == sim::Kind::Microscope ? FrameSize{1280, 1024} : FrameSize{720, 576};
    EXPECT_TRUE(Failed(rig.engine.SetResolution(unsupported.width, unsupported.height)));
    const std::size_t after = rig.frames.size();
    ASSERT_TRUE(rig.frames.WaitForFrames(2, after));
    ExpectFramesOf(rig.frames.Frames(), after, DefaultSizeOf(GetParam()));
}

TEST_P(EngineOnGst, UnplugWithoutStillPinEndsTheStreamAndTheGraphStops) {
    EngineRig rig(sim::Options{.kind = GetParam(), .frameIndexCode = true});
    ASSERT_TRUE(rig.Start());
    ASSERT_TRUE(rig.frames.WaitForFrames(2));
    rig.microscope.Unplug();
    EXPECT_EQ(rig.engine.StopGraph(), 1);
    rig.engine.TearDownDownstream();
    rig.engine.TearDownGraph();
    // Without the device the graph cannot be built again.
    EXPECT_EQ(rig.engine.BuildGraph(), 0);
}

INSTANTIATE_TEST_SUITE_P(Gst, EngineOnGst,
                         ::testing::Values(sim::Kind::Microscope, sim::Kind::Camera));

class EngineOnGstWithStillPin : public ::testing::TestWithParam<sim::Kind> {};

TEST_P(EngineOnGstWithStillPin, ButtonPressTakesOneStillUntilTheGraphRestarts) {
    TraceRecorder traces;
    EngineRig rig(sim::Options{.kind = GetParam(), .stillPin = true, .frameIndexCode = true});
    ASSERT_TRUE(rig.Start());
    EXPECT_EQ(rig.engine.stillPinExists(), 1);
    ASSERT_TRUE(rig.frames.WaitForFrames(2));
    const auto stillCallbacks = [&traces] {
        int count = 0;
        for (const std::string& line : traces.Lines()) {
            count += line.rfind("Still Buffer CB(", 0) == 0 ? 1 : 0;
        }
        return count;
    };

    // The still pin's frame asks for a still: one frame is skipped, the next one is kept.
    rig.microscope.PressButton();
    ASSERT_TRUE(rig.target.WaitFor(IsArmedStill));
    EXPECT_EQ(stillCallbacks(), 1);
    rig.engine.latestFrame().AcquireCopy();
    const BitmapInfoHeader header = rig.engine.latestFrame().Header();
    EXPECT_TRUE(TopRowIndex(rig.engine.latestFrame().BottomUpBytes(header.biSizeImage).data(),
                            header.biWidth, header.biHeight));
    rig.session.DropStill();

    // The still grabber is one-shot: a second press goes unseen until the graph restarts.
    rig.microscope.PressButton();
    ASSERT_TRUE(rig.frames.WaitForFrames(15, rig.frames.size()));
    EXPECT_EQ(stillCallbacks(), 1);
    EXPECT_EQ(rig.target.Count(IsArmedStill), 1);

    rig.engine.RestartGraph();
    ASSERT_TRUE(rig.frames.WaitForFrames(2, rig.frames.size()));
    rig.microscope.PressButton();
    ASSERT_TRUE(rig.target.WaitFor(IsArmedStill, 2));
    EXPECT_EQ(stillCallbacks(), 2);
}

TEST_P(EngineOnGstWithStillPin, UnplugWhileStreamingPostsAGraphEventAndReplugStreamsAgain) {
    EngineRig rig(sim::Options{.kind = GetParam(), .stillPin = true, .frameIndexCode = true});
    ASSERT_TRUE(rig.Start());
    ASSERT_TRUE(rig.frames.WaitForFrames(2));

    rig.microscope.Unplug();
    ASSERT_TRUE(rig.target.WaitFor(IsGraphEvent));
    long code = 0;
    std::intptr_t param1 = 0;
    std::intptr_t param2 = 0;
    ASSERT_EQ(rig.backend.GetGraphEvent(code, param1, param2), hr::kOk);
    EXPECT_EQ(code, gstcapture::kEventDeviceLost);
    // The unplug queued that one event: the engine finds none left.
    EXPECT_FALSE(rig.engine.DrainGraphEvent());

    // What the main window does on removal, then on the device's return.
    EXPECT_FALSE(rig.engine.IsDevicePresent());
    EXPECT_EQ(rig.engine.StopGraph(), 1);
    rig.engine.TearDownDownstream();
    rig.engine.TearDownGraph();
    EXPECT_FALSE(rig.engine.hasGraph());

    rig.microscope.Plug();
    ASSERT_EQ(rig.engine.DiscoverDevices(), 1);
    ASSERT_EQ(rig.engine.BuildGraph(), 1);
    ASSERT_EQ(rig.engine.PreparePreview(), 1);
    ASSERT_EQ(rig.engine.RunGraph(), 1);
    const std::size_t before = rig.frames.size();
    ASSERT_TRUE(rig.frames.WaitForFrames(3, before));
    ExpectFramesOf(rig.frames.Frames(), before, DefaultSizeOf(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Gst, EngineOnGstWithStillPin,
                         ::testing::Values(sim::Kind::Microscope, sim::Kind::Camera));

}  // namespace
}  // namespace gsttest
