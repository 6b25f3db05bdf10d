// The road of a still from the request to the file, on the scripted backend: frames are
// handed to the grabber's callback from a streaming thread of the test's own.
#include <gtest/gtest.h>

#include <thread>

#include "fake_media_backend.h"
#include "harness/engine_harness.h"
#include "support/temp_dir.h"

namespace {

using testsupport::EngineHarness;
using testsupport::FakeMediaBackend;
using testsupport::StillArrival;

constexpr int kWidth = 8;
constexpr int kHeight = 4;
constexpr std::size_t kFrameBytes = 24 * 4;

class StillProtocolTest : public ::testing::Test {
protected:
    StillProtocolTest() {
        backend.devices = {FakeMediaBackend::Device("usb#vid_eb1a&pid_1760&mi_00#x", "Cam", "c")};
        CaptureSettings stored = FakeMediaBackend::DefaultDeviceFormat();
        stored.biWidth = kWidth;
        stored.biHeight = kHeight;
        EXPECT_TRUE(SaveCapConfig(config, stored));
    }

    // Delivers frame `index` (every byte holds it) on a thread of its own, as the
    // framework's streaming thread would.
    void Deliver(std::uint8_t index) {
        std::thread streaming([&] {
            const std::vector<std::uint8_t> frame(kFrameBytes, index);
            backend.callback[0]->BufferCB(index / 30.0, frame.data(), frame.size());
        });
        streaming.join();
    }

    std::string StillBytes(int number) {
        return testsupport::ReadFile(pictures / ("StillCap" + std::to_string(number) + ".bmp"));
    }

    testsupport::TempDir pictures;
    testsupport::TempDir configFolder;
    std::string config = configFolder / "CapConfig.dat";
    FakeMediaBackend backend;
    EngineHarness harness{backend, pictures.path(), config};
};

TEST_F(StillProtocolTest, TheCameraButtonSavesTheFrameCopiedBeforeTheRequest) {
    ASSERT_TRUE(harness.Start());
    Deliver(1);
    Deliver(2);
    harness.RequestStill(false);
    Deliver(3);
    const int runs = backend.CallCount("Run");
    StillArrival still;
    ASSERT_TRUE(harness.WaitForStill(&still));
    EXPECT_FALSE(still.armed);
    ASSERT_EQ(still.written, 1);
    EXPECT_EQ(backend.CallCount("Run"), runs);  // no rebuild after a Camera-button still
    const std::string file = StillBytes(0);
    ASSERT_EQ(file.size(), 54 + kFrameBytes);
    EXPECT_EQ(file.substr(54), std::string(kFrameBytes, '\2'));
}

TEST_F(StillProtocolTest, TheDeviceButtonSkipsAFrameSavesTheNextAndRearms) {
    ASSERT_TRUE(harness.Start());
    Deliver(1);
    harness.RequestStill(true);
    Deliver(2);
    EXPECT_FALSE(harness.WaitForStill(nullptr, std::chrono::milliseconds(50)));
    const int runs = backend.CallCount("Run");
    Deliver(3);
    StillArrival still;
    ASSERT_TRUE(harness.WaitForStill(&still));
    EXPECT_TRUE(still.armed);
    ASSERT_EQ(still.written, 1);
    EXPECT_EQ(StillBytes(0).substr(54), std::string(kFrameBytes, '\3'));
    EXPECT_EQ(backend.CallCount("Run"), runs + 1);
    EXPECT_TRUE(harness.engine().running());
}

TEST_F(StillProtocolTest, TwoRequestsBeforeTheMessageIsHandledGiveOneFile) {
    ASSERT_TRUE(harness.Start());
    Deliver(1);
    harness.RequestStill(false);
    Deliver(2);
    harness.RequestStill(false);
    Deliver(3);
    EXPECT_EQ(harness.HandlePendingStills(std::chrono::milliseconds(100)), 1);
    EXPECT_EQ(StillBytes(0).substr(54), std::string(kFrameBytes, '\1'));
    EXPECT_FALSE(testsupport::Exists(pictures / "StillCap1.bmp"));
    // The next frames are copied again.
    Deliver(4);
    harness.RequestStill(false);
    Deliver(5);
    EXPECT_EQ(harness.HandlePendingStills(std::chrono::milliseconds(100)), 1);
    EXPECT_EQ(StillBytes(1).substr(54), std::string(kFrameBytes, '\4'));
}

TEST_F(StillProtocolTest, MessagesQueuedBeforeATearDownAreDropped) {
    ASSERT_TRUE(harness.Start());
    Deliver(1);
    harness.RequestStill(false);
    Deliver(2);
    harness.Stop();
    EXPECT_FALSE(harness.WaitForStill(nullptr, std::chrono::milliseconds(50)));
}

TEST_F(StillProtocolTest, EachRequestIsTakenOnceWhoeverMadeIt) {
    ASSERT_TRUE(harness.Start());
    CaptureSession& session = harness.session();
    Deliver(1);
    EXPECT_FALSE(session.TakeStill().has_value());  // nothing asked for, nothing taken
    for (const StillSource source :
         {StillSource::CameraButton, StillSource::DeviceButton, StillSource::TimeLapse}) {
        ASSERT_TRUE(session.RequestStill(source));
        EXPECT_EQ(session.PendingStill(), source);
        // The device's button does not stack a second request on a pending one.
        EXPECT_FALSE(session.RequestStill(StillSource::DeviceButton));
        const std::optional<KeptStill> kept = session.TakeStill();
        ASSERT_TRUE(kept.has_value());
        Deliver(9);  // the callback copies frames again; the kept still is the session's own
        EXPECT_EQ(kept->pixels, std::vector<std::uint8_t>(kFrameBytes, 1));
        Deliver(1);
        EXPECT_EQ(kept->View().sizeBytes, kFrameBytes);
        EXPECT_FALSE(session.StillPending());
        EXPECT_FALSE(session.TakeStill().has_value());  // a later answer finds nothing
    }
    session.RequestStill(StillSource::CameraButton);
    session.DropStill();
    EXPECT_FALSE(session.TakeStill().has_value());
}

}  // namespace
