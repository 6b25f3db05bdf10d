// Stills end to end: the simulated microscope streams through the GStreamer graph, requests
// come as the Camera button and the device's button make them, the main window's handling
// saves them, and the files are checked by the frame number in their pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "capture/capture_settings.h"
#include "gst_test_rig.h"
#include "harness/engine_harness.h"
#include "support/temp_dir.h"

namespace {

using testsupport::EngineHarness;
using testsupport::StillArrival;

constexpr int kWidth = 640;
constexpr int kHeight = 480;

class StillOnGst : public ::testing::Test {
protected:
    StillOnGst() {
        // Two frames a second leave ample time between a frame and the request that follows
        // it, so "the frame before the request" is well defined.
        CaptureSettings format;
        format.AvgTimePerFrame = 5000000;
        format.biSize = 40;
        format.biWidth = kWidth;
        format.biHeight = kHeight;
        format.biPlanes = 1;
        format.biBitCount = 16;
        format.biCompression = kFourccYuy2;
        format.biSizeImage = FrameBytesFor(kWidth, kHeight, 16);
        EXPECT_TRUE(SaveCapConfig(config, format));
    }

    bool Start() {
        harness.engine().frameCallback().SetDrawer(&frames);
        return harness.Start();
    }

    // Waits for the next frame to be drawn and returns its number.
    std::uint32_t NextFrame() {
        const std::size_t seen = frames.size();
        EXPECT_TRUE(frames.WaitForFrames(1, seen));
        const std::optional<std::uint32_t> index = frames.Frames().back().index;
        EXPECT_TRUE(index.has_value());
        return index.value_or(0);
    }

    // The frame number in a still file's top picture row (its last stored row).
    std::optional<std::uint32_t> StillIndex(int number) {
        const std::string file =
            testsupport::ReadFile(pictures / ("StillCap" + std::to_string(number) + ".bmp"));
        const std::size_t row = BgrRowBytes(kWidth);
        if (file.size() != 54 + row * kHeight) {
            ADD_FAILURE() << "still " << number << " has " << file.size() << " bytes";
            return std::nullopt;
        }
        return sim::ReadFrameIndexBgr(
            reinterpret_cast<const std::uint8_t*>(file.data()) + 54 + row * (kHeight - 1), kWidth);
    }

    testsupport::TempDir pictures;
    testsupport::TempDir configFolder;
    std::string config = configFolder / "CapConfig.dat";
    sim::SimulatedMicroscope microscope{
        sim::Options{.kind = sim::Kind::Camera, .frameIndexCode = true}};
    gstcapture::SimulatedDeviceRegistry registry{microscope};
    gstcapture::GstMediaBackend backend{registry, &microscope};
    gsttest::FrameRecorder frames;
    EngineHarness harness{backend, pictures.path(), config};
};

TEST_F(StillOnGst, TheCameraButtonSavesExactlyTheFrameShownBeforeIt) {
    ASSERT_TRUE(Start());
    NextFrame();
    const std::uint32_t shown = NextFrame();
    harness.RequestStill(false);
    StillArrival still;
    ASSERT_TRUE(harness.WaitForStill(&still));
    EXPECT_FALSE(still.armed);
    ASSERT_EQ(still.written, 1);
    EXPECT_EQ(testsupport::ReadFile(pictures / "StillCap0.bmp").size(), 921654u);
    EXPECT_EQ(StillIndex(0), shown);
}

// The still's pixels are the graph's conversion of the frame stored as a bottom-up DIB: byte
// for byte what GStreamer's videoconvert and videoflip make of the same simulated frame.
TEST_F(StillOnGst, AStillHoldsTheConvertedFrameBottomUpByteForByte) {
    ASSERT_TRUE(Start());
    NextFrame();
    harness.RequestStill(false);
    StillArrival still;
    ASSERT_TRUE(harness.WaitForStill(&still));
    ASSERT_EQ(still.written, 1);
    const std::optional<std::uint32_t> index = StillIndex(0);
    ASSERT_TRUE(index.has_value());

    std::vector<std::uint8_t> yuy2(2u * kWidth * kHeight);
    microscope.RenderFrame(*index, FrameSize{kWidth, kHeight}, yuy2.data());
    const std::vector<std::uint8_t> expected = gsttest::BottomUpBgrOf(yuy2.data(), kWidth, kHeight);
    const std::string file = testsupport::ReadFile(pictures / "StillCap0.bmp");
    const std::size_t rowBytes = BgrRowBytes(kWidth);
    ASSERT_EQ(expected.size(), rowBytes * kHeight);
    ASSERT_EQ(file.size(), 54 + expected.size());
    for (std::size_t row = 0; row < kHeight; ++row) {
        const auto* stored =
            reinterpret_cast<const std::uint8_t*>(file.data()) + 54 + row * rowBytes;
        ASSERT_TRUE(std::equal(stored, stored + rowBytes, expected.data() + row * rowBytes))
            << "stored row " << row << " of frame " << *index;
    }
}

TEST_F(StillOnGst, TheDeviceButtonSkipsOneFrameAndSavesTheSecond) {
    ASSERT_TRUE(Start());
    const std::uint32_t pressed = NextFrame();
    harness.RequestStill(true);
    StillArrival still;
    ASSERT_TRUE(harness.WaitForStill(&still));
    EXPECT_TRUE(still.armed);
    ASSERT_EQ(still.written, 1);
    EXPECT_EQ(StillIndex(0), pressed + 2);
    // The graph was restarted and streams again.
    EXPECT_TRUE(harness.engine().running());
    NextFrame();
}

TEST_F(StillOnGst, RequestsThatPileUpGiveOneFileAndLaterOnesGetTheNextNumber) {
    ASSERT_TRUE(Start());
    NextFrame();
    harness.RequestStill(false);
    NextFrame();
    harness.RequestStill(false);
    NextFrame();
    EXPECT_EQ(harness.HandlePendingStills(std::chrono::milliseconds(300)), 1);
    EXPECT_FALSE(testsupport::Exists(pictures / "StillCap1.bmp"));
    const std::uint32_t shown = NextFrame();
    harness.RequestStill(false);
    EXPECT_EQ(harness.HandlePendingStills(std::chrono::milliseconds(1500)), 1);
    EXPECT_EQ(StillIndex(1), shown);
}

}  // namespace
