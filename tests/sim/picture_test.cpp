#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "sim/simulated_microscope.h"
#include "yuy2_picture.h"

namespace {

using sim::Kind;
using sim::SimulatedMicroscope;
using simtest::CentreStats;
using simtest::MeasureCentre;
using simtest::Render;
using simtest::Yuy2Frame;

constexpr FrameSize kVga{640, 480};

PropertyRange RangeOf(const SimulatedMicroscope& device, int property) {
    PropertyRange range;
    EXPECT_TRUE(device.GetPropertyRange(property, range));
    return range;
}

struct Setting {
    int property = 0;
    int value = 0;
};

// The centre statistics of frame 10 with the given settings (others at their defaults).
CentreStats MeasureWith(std::initializer_list<Setting> settings) {
    SimulatedMicroscope device({Kind::Microscope, false});
    for (const Setting& setting : settings) {
        EXPECT_TRUE(device.SetProperty(setting.property, setting.value));
    }
    return MeasureCentre(Render(device, 10, kVga));
}

TEST(SimulatedPictureTest, SameIndexGivesSameBytesOnAnyDevice) {
    SimulatedMicroscope first({Kind::Camera, false});
    SimulatedMicroscope second({Kind::Camera, true});
    for (const FrameSize size : first.FrameSizes()) {
        const Yuy2Frame a = Render(first, 77, size);
        EXPECT_EQ(a.bytes, Render(first, 77, size).bytes);
        EXPECT_EQ(a.bytes, Render(second, 77, size).bytes);
    }
}

TEST(SimulatedPictureTest, LooksLikeALitRoundFieldWithStructure) {
    SimulatedMicroscope device({Kind::Camera, false});
    const Yuy2Frame frame = Render(device, 0, {1280, 1024});
    const CentreStats centre = MeasureCentre(frame);
    EXPECT_GT(centre.meanLuma, 140.0);
    EXPECT_GT(centre.lumaDeviation, 8.0) << "cells and fibres, not a flat field";
    EXPECT_GT(centre.chromaMagnitude, 3.0) << "a stained specimen has colour";
    // The corners lie outside the field stop.
    EXPECT_LT(frame.Luma(frame.width - 3, frame.height - 3), 30);
    EXPECT_LT(frame.Luma(2, frame.height - 3), 30);
    // Every byte is a legal studio-range sample.
    for (std::size_t i = 0; i < frame.bytes.size(); i += 2) {
        ASSERT_GE(frame.bytes[i], 16);
        ASSERT_LE(frame.bytes[i], 235);
        ASSERT_GE(frame.bytes[i + 1], 16);
        ASSERT_LE(frame.bytes[i + 1], 240);
    }
}

TEST(SimulatedPictureTest, DriftsSlowlyFromFrameToFrame) {
    SimulatedMicroscope device({Kind::Microscope, false});
    const Yuy2Frame frame0 = Render(device, 1000, kVga);
    const Yuy2Frame frame1 = Render(device, 1001, kVga);
    const Yuy2Frame frameLater = Render(device, 1150, kVga);
    const double neighbour = simtest::MeanLumaDifference(frame0, frame1);
    const double later = simtest::MeanLumaDifference(frame0, frameLater);
    EXPECT_GT(neighbour, 0.0);
    EXPECT_LT(neighbour, 8.0) << "consecutive frames should look nearly the same";
    EXPECT_GT(later, 2.0 * neighbour) << "over five seconds the specimen should move";
}

TEST(SimulatedPictureTest, EachPropertyChangesThePictureTheExpectedWay) {
    SimulatedMicroscope device({Kind::Microscope, false});
    auto low = [&](int property) {
        return MeasureWith({{property, RangeOf(device, property).minimum}});
    };
    auto high = [&](int property) {
        return MeasureWith({{property, RangeOf(device, property).maximum}});
    };
    const CentreStats standard = MeasureCentre(Render(device, 10, kVga));

    EXPECT_GT(high(kBrightness).meanLuma, standard.meanLuma + 20.0);
    EXPECT_LT(low(kBrightness).meanLuma, standard.meanLuma - 20.0);

    // The bright field clips at high contrast; a darker setting keeps the spread measurable.
    const double darkerSpread = MeasureWith({{kBrightness, -40}}).lumaDeviation;
    EXPECT_GT(MeasureWith({{kBrightness, -40}, {kContrast, 48}}).lumaDeviation, 1.3 * darkerSpread);
    EXPECT_LT(low(kContrast).lumaDeviation, 0.5 * standard.lumaDeviation);

    EXPECT_GT(high(kSaturation).chromaMagnitude, 1.5 * standard.chromaMagnitude);
    EXPECT_EQ(low(kSaturation).chromaMagnitude, 0.0) << "no saturation leaves grey";

    // The pink stain turns green when the hue turns half way round.
    ASSERT_GT(standard.meanV, 2.0);
    EXPECT_LT(MeasureWith({{kHue, 180}}).meanV, -2.0);
    EXPECT_LT(MeasureWith({{kHue, -180}}).meanV, -2.0);

    EXPECT_GT(high(kSharpness).edgeEnergy, 2.0 * low(kSharpness).edgeEnergy);

    // A larger gamma value lifts the mid-tones.
    EXPECT_GT(high(kGamma).meanLuma, standard.meanLuma + 5.0);
    EXPECT_LT(low(kGamma).meanLuma, standard.meanLuma - 5.0);
}

TEST(SimulatedPictureTest, PropertiesHavePlausibleRangesAndSetClamps) {
    SimulatedMicroscope device({Kind::Camera, false});
    for (int property = 0; property < sim::kPropertyCount; ++property) {
        const PropertyRange range = RangeOf(device, property);
        EXPECT_LT(range.minimum, range.maximum) << property;
        EXPECT_GE(range.defaultValue, range.minimum) << property;
        EXPECT_LE(range.defaultValue, range.maximum) << property;
        EXPECT_GE(range.step, 1) << property;

        int value = 0;
        ASSERT_TRUE(device.GetProperty(property, value));
        EXPECT_EQ(value, range.defaultValue) << property;
        ASSERT_TRUE(device.SetProperty(property, range.maximum + 1000));
        ASSERT_TRUE(device.GetProperty(property, value));
        EXPECT_EQ(value, range.maximum) << property;
        ASSERT_TRUE(device.SetProperty(property, range.minimum - 1000));
        ASSERT_TRUE(device.GetProperty(property, value));
        EXPECT_EQ(value, range.minimum) << property;
    }
    PropertyRange range;
    int value = 0;
    for (const int unknown : {-1, sim::kPropertyCount}) {
        EXPECT_FALSE(device.GetPropertyRange(unknown, range));
        EXPECT_FALSE(device.GetProperty(unknown, value));
        EXPECT_FALSE(device.SetProperty(unknown, 0));
    }
}

TEST(SimulatedPictureTest, RenderFrameIgnoresSizesTheDeviceDoesNotOffer) {
    SimulatedMicroscope device({Kind::Microscope, false});
    std::vector<std::uint8_t> buffer(2 * 1280 * 1024, 7);
    device.RenderFrame(0, {1280, 1024}, buffer.data());
    device.RenderFrame(0, {0, 0}, buffer.data());
    device.RenderFrame(0, {-640, 480}, buffer.data());
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(2 * 1280 * 1024, 7));
    device.RenderFrame(0, kVga, nullptr);
}

}  // namespace
