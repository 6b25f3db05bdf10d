#include "capture/grabber_callbacks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "app/debug_trace.h"

namespace {

struct Posted {
    EngineMessage message;
    int value;
};

class RecordingTarget : public EngineMessageTarget {
public:
    void Post(EngineMessage message, int value) override {
        std::lock_guard<std::mutex> lock(mutex);
        posted.push_back({message, value});
    }
    std::mutex mutex;
    std::vector<Posted> posted;
};

class FrameTest : public ::testing::Test {
protected:
    FrameTest() : callback(frame, flags, recording) { callback.SetTarget(&target, 4, 2); }

    // A 4 x 2 frame (two rows of 12 bytes) filled with one value.
    static std::vector<std::uint8_t> Frame(std::uint8_t value, std::size_t bytes = 24) {
        return std::vector<std::uint8_t>(bytes, value);
    }
    void Deliver(const std::vector<std::uint8_t>& bytes, double time = 0.0) {
        callback.BufferCB(time, bytes.data(), bytes.size());
    }
    std::uint8_t Held() const {
        const std::vector<std::uint8_t> first = frame.BottomUpBytes(1);
        return first.empty() ? 0 : first[0];
    }

    LatestFrame frame;
    StillFlags flags;
    std::atomic<int> recording{0};
    FrameCallback callback;
    RecordingTarget target;
};

// A frame handed over without a keeper is copied, since its bytes are gone after the call;
// one with a keeper is held by reference until the next frame or Free lets it go.
TEST_F(FrameTest, FramesAreCopiedUnlessTheirBytesAreKeptAlive) {
    std::vector<std::uint8_t> bytes = Frame(1);
    callback.BufferCB(0.5, bytes.data(), bytes.size());
    bytes.assign(bytes.size(), 9);
    EXPECT_EQ(Held(), 1);
    EXPECT_DOUBLE_EQ(frame.sampleTime(), 0.5);

    auto kept = std::make_shared<std::vector<std::uint8_t>>(Frame(2));
    callback.BufferCB(1.0, kept->data(), kept->size(), kept);
    EXPECT_EQ(kept.use_count(), 2);
    (*kept)[12] = 7;  // the first byte of the bottom row
    EXPECT_EQ(Held(), 7);

    callback.BufferCB(1.5, bytes.data(), bytes.size());
    EXPECT_EQ(kept.use_count(), 1);
    EXPECT_EQ(Held(), 9);
    callback.BufferCB(2.0, kept->data(), kept->size(), kept);
    frame.Free();
    EXPECT_EQ(kept.use_count(), 1);
    EXPECT_EQ(frame.frameBytes(), 0u);
    EXPECT_TRUE(frame.BottomUpBytes(24).empty());
}

// Frames arrive with their rows top-down; a still takes them bottom-up, as a bitmap (and a
// still file) stores them, padding included, whether the frame was copied or kept. Bytes past
// the last row are left out, and a still may ask for fewer bytes than the frame has.
TEST_F(FrameTest, StillsTakeTheRowsBottomUp) {
    const struct {
        int width;
        int height;
        std::size_t extraBytes;
    } cases[] = {{4, 2, 0}, {3, 5, 0}, {1, 1, 0}, {5, 3, 7}, {2, 4, 16}};
    for (const auto& c : cases) {
        for (const bool keep : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "+" << c.extraBytes
                                            << (keep ? " kept" : " copied"));
            const std::size_t rowBytes = BgrRowBytes(c.width);
            const std::size_t frameBytes = rowBytes * static_cast<std::size_t>(c.height);
            // Byte i of row y holds 16 * y + i (padding bytes too), and the extra bytes 0xEE.
            auto topDown =
                std::make_shared<std::vector<std::uint8_t>>(frameBytes + c.extraBytes, 0xEE);
            std::vector<std::uint8_t> bottomUp;
            for (std::size_t y = static_cast<std::size_t>(c.height); y-- > 0;) {
                for (std::size_t i = 0; i < rowBytes; ++i) {
                    (*topDown)[y * rowBytes + i] = static_cast<std::uint8_t>(16 * y + i);
                    bottomUp.push_back(static_cast<std::uint8_t>(16 * y + i));
                }
            }
            LatestFrame latest;
            FrameCallback frameCallback(latest, flags, recording);
            frameCallback.SetTarget(nullptr, c.width, c.height);
            frameCallback.BufferCB(0.0, topDown->data(), topDown->size(),
                                   keep ? FrameKeeper(topDown) : FrameKeeper());
            ASSERT_EQ(latest.AcquireCopy(), 1u);
            ASSERT_EQ(latest.frameBytes(), frameBytes);
            EXPECT_EQ(latest.BottomUpBytes(frameBytes + 100), bottomUp);
            const std::size_t part = frameBytes - rowBytes / 2;
            EXPECT_EQ(latest.BottomUpBytes(part),
                      std::vector<std::uint8_t>(
                          bottomUp.begin(), bottomUp.begin() + static_cast<std::ptrdiff_t>(part)));
        }
    }
}

TEST_F(FrameTest, TheHeaderDescribesPaddedBottomUpRows) {
    callback.SetTarget(&target, 3, 5);
    Deliver(Frame(1, 60));
    const BitmapInfoHeader header = frame.Header();
    EXPECT_EQ(header.biWidth, 3);
    EXPECT_EQ(header.biHeight, 5);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biSizeImage, 12u * 5u);
}

// Rows are counted in 64 bits (in 32, a width of 0x55555555 wrapped to rows of 0 bytes); a
// frame whose bytes do not fit in 32 bits, or with a side that is not positive, has size 0.
TEST(FrameSizeTest, RowAndFrameBytesNeverWrap) {
    const struct {
        std::int32_t width;
        std::int32_t height;
        std::uint64_t rowBytes;
        std::uint32_t imageBytes;
    } cases[] = {
        {1, 1, 4, 4},
        {640, 480, 1920, 921600},
        {-4, 5, 0, 0},
        {4, 0, 12, 0},
        {0x55555555, 0x55555555, 0x100000000, 0},
        {21845, 65535, 65536, 4294901760u},  // the largest frame of 65536-byte rows
        {21845, 65536, 65536, 0},
        {0x7FFFFFFF, 0x7FFFFFFF, 0x180000000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        EXPECT_EQ(BgrRowBytes(c.width), c.rowBytes);
        EXPECT_EQ(BgrImageBytes(c.width, c.height), c.imageBytes);
        LatestFrame frame;
        frame.SetHeader(c.width, c.height);
        EXPECT_EQ(frame.Header().biSizeImage, c.imageBytes);
    }
}

TEST_F(FrameTest, AFrameWithoutAllItsRowsIsNotCopied) {
    LatestFrame empty;
    EXPECT_FALSE(empty.KeepFrame(1.0, nullptr, 0, 12, 2));
    EXPECT_EQ(empty.AcquireCopy(), 0u);

    Deliver(Frame(1), 0.5);
    const std::vector<std::uint8_t> bytes = Frame(9);
    EXPECT_FALSE(frame.KeepFrame(1.0, nullptr, 0, 12, 2));
    EXPECT_FALSE(frame.KeepFrame(1.0, bytes.data(), 0, 12, 2));
    EXPECT_FALSE(frame.KeepFrame(1.0, bytes.data(), 23, 12, 2));
    EXPECT_FALSE(frame.KeepFrame(1.0, bytes.data(), 24, 0, 2));
    EXPECT_FALSE(frame.KeepFrame(1.0, bytes.data(), 24, 12, 0));
    Deliver(Frame(9, 23));
    EXPECT_EQ(frame.AcquireCopy(), 1u);
    EXPECT_EQ(Held(), 1);
    EXPECT_DOUBLE_EQ(frame.sampleTime(), 0.5);
}

TEST_F(FrameTest, ASnapshotKeepsTheFrameCopiedBeforeTheRequest) {
    Deliver(Frame(1));
    Deliver(Frame(2));
    flags.stillRequested = 1;
    TraceRecorder traces;
    Deliver(Frame(3));
    EXPECT_EQ(Held(), 2);
    ASSERT_EQ(target.posted.size(), 1u);
    EXPECT_EQ(target.posted[0].message, EngineMessage::StillArrived);
    EXPECT_EQ(target.posted[0].value, 0);
    EXPECT_TRUE(traces.Contains("********* Save to buffer0(24:4:2)\n"));
    // Until the request is taken up every frame posts again and leaves the copy alone.
    Deliver(Frame(4));
    EXPECT_EQ(Held(), 2);
    EXPECT_EQ(target.posted.size(), 2u);
    flags.stillRequested = 0;
    Deliver(Frame(5));
    EXPECT_EQ(Held(), 5);
    EXPECT_EQ(target.posted.size(), 2u);
}

TEST_F(FrameTest, AButtonTriggerSkipsOneFrameAndTakesTheNext) {
    Deliver(Frame(1));
    flags.stillRequested = 1;
    flags.skipNextFrame = 1;
    Deliver(Frame(2));
    EXPECT_EQ(Held(), 1);
    EXPECT_TRUE(target.posted.empty());
    EXPECT_EQ(flags.stillArmed.load(), 1);
    EXPECT_EQ(flags.skipNextFrame.load(), 0);
    Deliver(Frame(3), 2.0);
    EXPECT_EQ(Held(), 3);
    EXPECT_DOUBLE_EQ(frame.sampleTime(), 2.0);
    ASSERT_EQ(target.posted.size(), 1u);
    EXPECT_EQ(target.posted[0].value, 1);
    EXPECT_EQ(flags.stillArmed.load(), 0);
    // A further frame before the still is saved posts with 0 and keeps the still.
    Deliver(Frame(4));
    EXPECT_EQ(Held(), 3);
    EXPECT_EQ(target.posted.back().value, 0);
}

TEST_F(FrameTest, OnlyTheValueOneCountsAsARequest) {
    Deliver(Frame(1));
    flags.stillRequested = 2;
    Deliver(Frame(2));
    EXPECT_EQ(Held(), 2);
    EXPECT_TRUE(target.posted.empty());
}

TEST_F(FrameTest, TheStillPinTriggersLikeTheButton) {
    StillPinCallback still(flags);
    TraceRecorder traces;
    const std::vector<std::uint8_t> bytes = Frame(9);
    still.BufferCB(0.0, bytes.data(), bytes.size());
    EXPECT_EQ(flags.stillRequested.load(), 1);
    EXPECT_EQ(flags.skipNextFrame.load(), 1);
    EXPECT_TRUE(traces.Contains("Still Buffer CB(24)\n"));
}

class CountingSink : public RecordingSink, public FrameDrawer {
public:
    void WriteRecordingFrame(double time, const std::uint8_t*, std::size_t length) override {
        recorded.push_back({time, length});
    }
    int DrawFrame(const std::uint8_t* buffer, std::size_t, int width, int height) override {
        drawn.push_back(buffer[0]);
        size = {width, height};
        return 1;
    }
    std::vector<std::pair<double, std::size_t>> recorded;
    std::vector<std::uint8_t> drawn;
    std::pair<int, int> size;
};

TEST_F(FrameTest, FramesGoToTheRecorderWhileRecordingAndAreAlwaysDrawn) {
    CountingSink sink;
    callback.SetRecordingSink(&sink);
    callback.SetDrawer(&sink);
    Deliver(Frame(1));
    recording = 1;
    Deliver(Frame(2), 0.5);
    flags.stillRequested = 1;
    Deliver(Frame(3), 0.75);
    using Recorded = std::vector<std::pair<double, std::size_t>>;
    EXPECT_EQ(sink.recorded, Recorded({{0.5, 24}, {0.75, 24}}));
    EXPECT_EQ(sink.drawn, std::vector<std::uint8_t>({1, 2, 3}));
    EXPECT_EQ(sink.size, std::make_pair(4, 2));
}

TEST_F(FrameTest, NoTargetMeansNoPostButNoCrash) {
    callback.SetTarget(nullptr, 4, 2);
    flags.stillRequested = 1;
    Deliver(Frame(1));
    EXPECT_TRUE(target.posted.empty());
}

}  // namespace
