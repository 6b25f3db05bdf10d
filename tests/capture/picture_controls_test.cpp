#include "capture/picture_controls.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "media/video_norms.h"

namespace {

// Controls whose transfers wait at a gate the test opens, and which note every transfer and
// how many ran at once.
class GatedControls final : public DeviceControls {
public:
    struct Log {
        std::mutex mutex;
        std::condition_variable changed;
        bool gateOpen = false;
        int started = 0;
        int inFlight = 0;
        int mostInFlight = 0;
        std::vector<std::pair<int, int>> sets;  // property, value
        int refuse = -1;                        // a property whose sets fail
        std::array<int, kPicturePropertyRows> held{};
    };
    explicit GatedControls(Log& log) : log_(log) {}

    HResult GetPropertyRange(int, PropertyRange& range) override {
        range = {0, 100, 1, 50, 2};
        return hr::kOk;
    }
    HResult GetProperty(int property, int& value) override {
        std::lock_guard lock(log_.mutex);
        value = log_.held[static_cast<std::size_t>(property)];
        return hr::kOk;
    }
    HResult SetProperty(int property, int value) override {
        std::unique_lock lock(log_.mutex);
        ++log_.started;
        log_.mostInFlight = std::max(log_.mostInFlight, ++log_.inFlight);
        log_.changed.notify_all();
        log_.changed.wait(lock, [&] { return log_.gateOpen; });
        --log_.inFlight;
        log_.sets.emplace_back(property, value);
        if (property == log_.refuse) {
            return hr::kFail;
        }
        log_.held[static_cast<std::size_t>(property)] = value;
        return hr::kOk;
    }
    HResult GetNorm(int&) override { return hr::kNoInterface; }
    HResult SetNorm(int) override { return hr::kNoInterface; }

private:
    Log& log_;
};

TEST(PictureControlChannel, ADraggedSliderSendsTheFirstAndTheLastValueOneTransferAtATime) {
    GatedControls::Log log;
    log.refuse = kContrast;
    log.held[kContrast] = 30;
    std::vector<SentPictureProperty> reports;
    std::atomic<int> wakes{0};
    {
        PictureControlChannel channel(std::make_unique<GatedControls>(log), [&] { ++wakes; });
        channel.Send(kBrightness, 1);
        {
            // The first value is in flight; the slider goes on moving meanwhile.
            std::unique_lock lock(log.mutex);
            log.changed.wait(lock, [&] { return log.started == 1; });
        }
        for (int value = 2; value <= 60; ++value) {
            channel.Send(kBrightness, value);
        }
        channel.Send(kContrast, 40);
        channel.Send(kHue, 7);
        {
            std::lock_guard lock(log.mutex);
            log.gateOpen = true;
        }
        log.changed.notify_all();
        while (reports.size() < 4) {
            const std::vector<SentPictureProperty> answers = channel.TakeSent();
            reports.insert(reports.end(), answers.begin(), answers.end());
            std::this_thread::yield();
        }
    }
    EXPECT_EQ(wakes.load(), 4);
    EXPECT_EQ(log.mostInFlight, 1);
    ASSERT_EQ(log.sets.size(), 4u);
    EXPECT_EQ(log.sets[0], std::make_pair(int{kBrightness}, 1));
    // Waiting values of different properties take turns; each only its newest value.
    std::vector<std::pair<int, int>> rest(log.sets.begin() + 1, log.sets.end());
    std::sort(rest.begin(), rest.end());
    EXPECT_EQ(rest,
              (std::vector<std::pair<int, int>>{{kBrightness, 60}, {kContrast, 40}, {kHue, 7}}));
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[0].requested, 1);
    for (const SentPictureProperty& sent : reports) {
        SCOPED_TRACE(sent.property);
        EXPECT_TRUE(sent.readBack);
        if (sent.property == kContrast) {
            // Refused: what the device still holds comes back.
            EXPECT_FALSE(Succeeded(sent.result));
            EXPECT_EQ(sent.value, 30);
        } else {
            EXPECT_TRUE(Succeeded(sent.result));
            EXPECT_EQ(sent.value, sent.requested);
        }
    }
    // A value still waiting when the channel goes is sent before it goes.
    {
        PictureControlChannel channel(std::make_unique<GatedControls>(log), {});
        channel.Send(kGamma, 9);
    }
    EXPECT_EQ(log.sets.back(), std::make_pair(int{kGamma}, 9));
}

TEST(PicturePropertyTable, RowsAreFoundByNameInAnyCaseAndResolutionsFollowTheKind) {
    const PicturePropertyTable table = MakePicturePropertyTable();
    EXPECT_EQ(FindPicturePropertyRow(table, "brightness"), 0);
    EXPECT_EQ(FindPicturePropertyRow(table, "HUE"), 5);
    EXPECT_EQ(table[5].property, kHue);
    EXPECT_EQ(FindPicturePropertyRow(table, "bright"), -1);

    struct Case {
        bool library;
        int norm;
        int width;
        int item;
        FrameSize largest;
    };
    for (const Case& c :
         {Case{true, kNormNtscM, 640, 1, {720, 480}}, Case{true, kNormPalB, 720, 2, {720, 576}},
          Case{true, kNormPalB, 352, 2, {720, 576}}, Case{false, kNormNone, 352, 1, {1280, 1024}},
          Case{false, kNormNone, 160, 0, {1280, 1024}}}) {
        SCOPED_TRACE(c.width);
        EXPECT_EQ(ResolutionChoiceFor(c.width, c.library), c.item);
        EXPECT_EQ(ResolutionChoiceSize(2, c.library, c.norm), c.largest);
        EXPECT_EQ(ResolutionChoiceSize(0, c.library, c.norm), (FrameSize{320, 240}));
        EXPECT_EQ(ResolutionChoiceTexts(c.library, c.norm).size(), 3u);
    }
}

}  // namespace
