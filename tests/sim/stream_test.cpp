#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulated_microscope.h"
#include "yuy2_picture.h"

namespace {

using sim::Kind;
using sim::SimulatedMicroscope;
using sim::Stream;

constexpr auto kPatience = std::chrono::seconds(5);

struct DeliveredFrame {
    std::uint64_t index = 0;
    std::int64_t timestampNanoseconds = 0;
    int width = 0;
    int height = 0;
    std::size_t sizeBytes = 0;
    std::uint32_t codedIndex = 0;  // read back from the picture's top row
    bool codeReadable = false;
    double middleRowLuma = 0.0;  // mean luma of the middle half of the middle row
};

// Records what a stream delivers and lets the test wait for it.
class RecordingSink : public sim::FrameSink {
public:
    void OnFrame(const std::uint8_t* yuy2, std::size_t sizeBytes, int width, int height,
                 std::uint64_t index, std::int64_t timestampNanoseconds) override {
        const DeliveredFrame frame =
            Describe(yuy2, sizeBytes, width, height, index, timestampNanoseconds);
        {
            std::lock_guard lock(mutex_);
            frames_.push_back(frame);
            callAfterUnplug_ = callAfterUnplug_ || unplugs_ > 0;
            changed_.notify_all();
        }
        if (afterFrame) {
            afterFrame(index);
        }
    }
    void OnStillFrame(const std::uint8_t* yuy2, std::size_t sizeBytes, int width, int height,
                      std::uint64_t index, std::int64_t timestampNanoseconds) override {
        const DeliveredFrame frame =
            Describe(yuy2, sizeBytes, width, height, index, timestampNanoseconds);
        std::lock_guard lock(mutex_);
        stills_.push_back(frame);
        callAfterUnplug_ = callAfterUnplug_ || unplugs_ > 0;
        changed_.notify_all();
    }
    void OnUnplugged() override {
        std::lock_guard lock(mutex_);
        callAfterUnplug_ = callAfterUnplug_ || unplugs_ > 0;
        ++unplugs_;
        changed_.notify_all();
    }

    // Waits until `ready` holds for the recorded calls; false after the patience runs out.
    bool WaitFor(const std::function<bool(const RecordingSink&)>& ready) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return ready(*this); });
    }
    bool WaitForFrames(std::size_t count) {
        return WaitFor([count](const RecordingSink& sink) { return sink.frames_.size() >= count; });
    }

    std::vector<DeliveredFrame> frames() const {
        std::lock_guard lock(mutex_);
        return frames_;
    }
    std::vector<DeliveredFrame> stills() const {
        std::lock_guard lock(mutex_);
        return stills_;
    }
    int unplugs() const {
        std::lock_guard lock(mutex_);
        return unplugs_;
    }
    bool callAfterUnplug() const {
        std::lock_guard lock(mutex_);
        return callAfterUnplug_;
    }
    // Runs on the stream thread after each recorded frame; set before the stream starts.
    std::function<void(std::uint64_t index)> afterFrame;

    std::size_t frameCountLocked() const { return frames_.size(); }
    std::size_t stillCountLocked() const { return stills_.size(); }
    int unplugsLocked() const { return unplugs_; }

private:
    static DeliveredFrame Describe(const std::uint8_t* yuy2, std::size_t sizeBytes, int width,
                                   int height, std::uint64_t index,
                                   std::int64_t timestampNanoseconds) {
        DeliveredFrame frame{index, timestampNanoseconds, width, height, sizeBytes, 0, false, 0.0};
        const std::uint8_t* middle = yuy2 + std::size_t(height / 2) * 2 * std::size_t(width);
        for (int x = width / 4; x < width * 3 / 4; ++x) {
            frame.middleRowLuma += middle[2 * x];
        }
        frame.middleRowLuma /= width / 2;
        simtest::Yuy2Frame top{width, 1,
                               std::vector<std::uint8_t>(yuy2, yuy2 + 2 * std::size_t(width))};
        const std::vector<std::uint8_t> bgr = simtest::RowToBgr(top, 0);
        if (const auto coded = sim::ReadFrameIndexBgr(bgr.data(), width)) {
            frame.codedIndex = *coded;
            frame.codeReadable = true;
        }
        return frame;
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<DeliveredFrame> frames_;
    std::vector<DeliveredFrame> stills_;
    int unplugs_ = 0;
    bool callAfterUnplug_ = false;
};

TEST(SimulatedStreamTest, StartRefusesWhatTheDeviceCannotDo) {
    SimulatedMicroscope device({Kind::Microscope, false});
    RecordingSink sink;
    EXPECT_EQ(device.Start({1280, 1024}, 30, sink), nullptr) << "size of the other kind";
    EXPECT_EQ(device.Start({641, 480}, 30, sink), nullptr);
    EXPECT_EQ(device.Start({320, 240}, 0, sink), nullptr);
    EXPECT_EQ(device.Start({320, 240}, 61, sink), nullptr);

    std::unique_ptr<Stream> stream = device.Start({320, 240}, 30, sink);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(device.Start({640, 480}, 30, sink), nullptr) << "one stream at a time";
    stream.reset();
    stream = device.Start({640, 480}, 30, sink);
    EXPECT_NE(stream, nullptr) << "a stopped stream frees the device";
    stream.reset();

    device.Unplug();
    EXPECT_EQ(device.Start({320, 240}, 30, sink), nullptr);
    EXPECT_EQ(sink.unplugs(), 0) << "the streams ended before the unplug";
}

// Tools and the live path benchmark tell the device's own work apart by its thread's name.
TEST(SimulatedStreamTest, RunsOnAThreadOfItsOwnNamedForTheStream) {
    SimulatedMicroscope device({Kind::Camera, false});
    RecordingSink sink;
    std::vector<std::string> names;  // the stream thread's; read once it has been joined
    sink.afterFrame = [&names](std::uint64_t) {
        char name[16] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        names.emplace_back(name);
    };
    std::unique_ptr<Stream> stream = device.Start({320, 240}, 60, sink);
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(sink.WaitForFrames(2));
    stream.reset();
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.front(), sim::kStreamThreadName);
}

TEST(SimulatedStreamTest, DeliversNumberedFramesAndCountsOverTheDeviceLife) {
    SimulatedMicroscope device({.kind = Kind::Camera, .frameIndexCode = true});
    RecordingSink sink;
    {
        std::unique_ptr<Stream> stream = device.Start({1280, 1024}, 60, sink);
        ASSERT_NE(stream, nullptr);
        ASSERT_TRUE(sink.WaitForFrames(4));
    }
    const std::size_t firstStreamFrames = sink.frames().size();
    {
        std::unique_ptr<Stream> stream = device.Start({320, 240}, 30, sink);
        ASSERT_NE(stream, nullptr);
        ASSERT_TRUE(sink.WaitForFrames(firstStreamFrames + 3));
    }
    const std::vector<DeliveredFrame> frames = sink.frames();
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const DeliveredFrame& frame = frames[i];
        const bool first = i < firstStreamFrames;
        // Indices follow each other within a stream and count on across streams (a frame in
        // the making when a stream stops is dropped with its index).
        if (i == 0) {
            EXPECT_EQ(frame.index, 0u);
        } else if (i == firstStreamFrames) {
            EXPECT_GT(frame.index, frames[i - 1].index);
        } else {
            EXPECT_EQ(frame.index, frames[i - 1].index + 1);
        }
        EXPECT_EQ(frame.width, first ? 1280 : 320);
        EXPECT_EQ(frame.height, first ? 1024 : 240);
        EXPECT_EQ(frame.sizeBytes, 2u * static_cast<std::size_t>(frame.width * frame.height));
        EXPECT_TRUE(frame.codeReadable);
        EXPECT_EQ(frame.codedIndex, frame.index);
        if (i == 0 || i == firstStreamFrames) {
            EXPECT_EQ(frame.timestampNanoseconds, 0) << "timestamps start with the stream";
        } else {
            EXPECT_GT(frame.timestampNanoseconds, frames[i - 1].timestampNanoseconds);
        }
    }
    EXPECT_TRUE(sink.stills().empty());
}

TEST(SimulatedStreamTest, UnplugEndsTheStreamWithOneNoticeAndReplugAllowsANewOne) {
    SimulatedMicroscope device({Kind::Microscope, true});
    RecordingSink sink;
    std::unique_ptr<Stream> stream = device.Start({640, 480}, 30, sink);
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(sink.WaitForFrames(2));
    const std::string before = device.identity();

    device.Unplug();
    ASSERT_TRUE(sink.WaitFor([](const RecordingSink& s) { return s.unplugsLocked() > 0; }));
    device.PressButton();
    device.Unplug();

    // The old stream object still exists; after a replug the device streams again.
    device.Plug();
    EXPECT_NE(device.identity(), before);
    RecordingSink secondSink;
    std::unique_ptr<Stream> second = device.Start({640, 480}, 30, secondSink);
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(secondSink.WaitForFrames(2));

    stream.reset();  // must return although its thread ended long ago
    second.reset();
    EXPECT_EQ(sink.unplugs(), 1);
    EXPECT_FALSE(sink.callAfterUnplug()) << "no frame after the unplug notice";
    EXPECT_TRUE(sink.stills().empty());
    EXPECT_EQ(secondSink.unplugs(), 0);
    EXPECT_GT(secondSink.frames().front().index, sink.frames().back().index);
}

TEST(SimulatedStreamTest, UnplugFromInsideAFrameCallbackEndsTheStreamAfterThatFrame) {
    SimulatedMicroscope device({Kind::Camera, false});
    RecordingSink sink;
    sink.afterFrame = [&device](std::uint64_t index) {
        if (index == 3) {
            device.Unplug();
        }
    };
    std::unique_ptr<Stream> stream = device.Start({320, 240}, 60, sink);
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(sink.WaitFor([](const RecordingSink& s) { return s.unplugsLocked() > 0; }));
    stream.reset();
    EXPECT_EQ(sink.frames().size(), 4u);
    EXPECT_EQ(sink.unplugs(), 1);
    EXPECT_FALSE(sink.callAfterUnplug());
}

TEST(SimulatedStreamTest, StillPinDeliversOneStillFramePerPress) {
    SimulatedMicroscope device({.kind = Kind::Camera, .stillPin = true, .frameIndexCode = true});
    RecordingSink sink;
    std::unique_ptr<Stream> stream = device.Start({320, 240}, 60, sink);
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(sink.WaitForFrames(1));

    device.PressButton();
    ASSERT_TRUE(sink.WaitFor([](const RecordingSink& s) { return s.stillCountLocked() >= 1; }));
    device.PressButton();
    device.PressButton();
    ASSERT_TRUE(sink.WaitFor([](const RecordingSink& s) { return s.stillCountLocked() >= 3; }));
    // A few more frames show that no further still follows.
    const std::size_t seen = sink.frames().size();
    ASSERT_TRUE(sink.WaitForFrames(seen + 4));
    stream.reset();

    const std::vector<DeliveredFrame> stills = sink.stills();
    const std::vector<DeliveredFrame> frames = sink.frames();
    ASSERT_EQ(stills.size(), 3u);
    for (const DeliveredFrame& still : stills) {
        EXPECT_EQ(still.codedIndex, still.index);
        EXPECT_EQ(still.width, 320);
        // The still is a frame of the main output too, with the same index and time.
        bool alsoMain = false;
        for (const DeliveredFrame& frame : frames) {
            alsoMain = alsoMain || (frame.index == still.index &&
                                    frame.timestampNanoseconds == still.timestampNanoseconds);
        }
        EXPECT_TRUE(alsoMain) << still.index;
    }
    EXPECT_NE(stills[1].index, stills[2].index) << "two presses give two stills";
    EXPECT_EQ(device.TakeButtonPress(), 1) << "the still pin leaves the button latch alone";
}

TEST(SimulatedStreamTest, WithoutStillPinAPressGivesNoStillFrame) {
    SimulatedMicroscope device({Kind::Microscope, false});
    RecordingSink sink;
    std::unique_ptr<Stream> stream = device.Start({320, 240}, 60, sink);
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(sink.WaitForFrames(1));
    device.PressButton();
    const std::size_t seen = sink.frames().size();
    ASSERT_TRUE(sink.WaitForFrames(seen + 4));
    stream.reset();
    EXPECT_TRUE(sink.stills().empty());
    EXPECT_EQ(device.TakeButtonPress(), 1);
}

TEST(SimulatedStreamTest, ControlsFromOtherThreadsWhileStreaming) {
    SimulatedMicroscope device({Kind::Microscope, true});
    RecordingSink sink;
    std::unique_ptr<Stream> stream = device.Start({720, 576}, 60, sink);
    ASSERT_NE(stream, nullptr);
    std::atomic<bool> done{false};
    std::thread fiddler([&] {
        for (int round = 0; !done.load(); ++round) {
            device.SetProperty(round % sim::kPropertyCount, round % 40 - 20);
            device.SetNorm(round % 2 == 0 ? kNormPalB : kNormNtscM);
            device.PressButton();
            device.TakeButtonPress();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const bool arrived = sink.WaitForFrames(10);
    done = true;
    fiddler.join();
    ASSERT_TRUE(arrived);

    // A property change reaches every frame from the next but one on (one may be in the
    // making while the value changes).
    for (int property = 0; property < sim::kPropertyCount; ++property) {
        PropertyRange range;
        ASSERT_TRUE(device.GetPropertyRange(property, range));
        ASSERT_TRUE(device.SetProperty(property, range.defaultValue));
    }
    std::size_t seen = sink.frames().size();
    ASSERT_TRUE(sink.WaitForFrames(seen + 2));
    const double standardLuma = sink.frames().back().middleRowLuma;
    ASSERT_TRUE(device.SetProperty(0, -64));
    seen = sink.frames().size();
    ASSERT_TRUE(sink.WaitForFrames(seen + 2));
    stream.reset();
    EXPECT_LT(sink.frames()[seen + 1].middleRowLuma, standardLuma - 30.0);
}

TEST(SimulatedStreamTest, StreamOutlivingItsDeviceStopsQuietly) {
    RecordingSink sink;
    std::unique_ptr<Stream> stream;
    {
        SimulatedMicroscope device({Kind::Camera, false});
        stream = device.Start({640, 480}, 30, sink);
        ASSERT_NE(stream, nullptr);
        ASSERT_TRUE(sink.WaitForFrames(1));
    }
    stream.reset();
    EXPECT_EQ(sink.unplugs(), 0);
}

// Destroys its stream from inside OnFrame once it holds one.
class SelfStoppingSink : public sim::FrameSink {
public:
    void Hold(std::unique_ptr<Stream> stream) {
        std::lock_guard lock(mutex_);
        stream_ = std::move(stream);
    }
    void OnFrame(const std::uint8_t*, std::size_t, int, int, std::uint64_t, std::int64_t) override {
        std::unique_ptr<Stream> stream;
        {
            std::lock_guard lock(mutex_);
            callAfterStop_ = callAfterStop_ || stopped_;
            stream = std::move(stream_);
        }
        if (stream) {
            stream.reset();
            std::lock_guard lock(mutex_);
            stopped_ = true;
            changed_.notify_all();
        }
    }
    void OnStillFrame(const std::uint8_t*, std::size_t, int, int, std::uint64_t,
                      std::int64_t) override {
        std::lock_guard lock(mutex_);
        callAfterStop_ = callAfterStop_ || stopped_;
    }
    void OnUnplugged() override {
        std::lock_guard lock(mutex_);
        callAfterStop_ = callAfterStop_ || stopped_;
    }
    bool WaitForStop() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, [this] { return stopped_; });
    }
    bool callAfterStop() {
        std::lock_guard lock(mutex_);
        return callAfterStop_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::unique_ptr<Stream> stream_;
    bool stopped_ = false;
    bool callAfterStop_ = false;
};

TEST(SimulatedStreamTest, StreamDestroyedFromItsOwnCallbackEndsWithoutFurtherCalls) {
    // The stream's thread may still be returning from the call that destroyed the stream when
    // the test ends, so the sinks outlive the test (one per run when the test repeats).
    static std::list<SelfStoppingSink> sinks;
    SelfStoppingSink& sink = sinks.emplace_back();
    SimulatedMicroscope device({Kind::Camera, true});
    std::unique_ptr<Stream> stream = device.Start({320, 240}, 60, sink);
    ASSERT_NE(stream, nullptr);
    device.PressButton();  // a still due with the frame that stops the stream
    sink.Hold(std::move(stream));
    ASSERT_TRUE(sink.WaitForStop());

    // The device is free for a new stream at once.
    RecordingSink next;
    std::unique_ptr<Stream> again = device.Start({320, 240}, 60, next);
    ASSERT_NE(again, nullptr);
    ASSERT_TRUE(next.WaitForFrames(3));
    again.reset();
    EXPECT_FALSE(sink.callAfterStop());
}

}  // namespace
