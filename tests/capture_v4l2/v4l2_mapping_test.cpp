#include "capture/v4l2/v4l2_mapping.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using testing::ElementsAre;

constexpr int kEveryNorm[] = {
    kNormNtscM,  kNormNtscMJapan, kNormNtsc443, kNormPalB,    kNormPalD,
    kNormPalG,   kNormPalH,       kNormPalI,    kNormPalM,    kNormPalN,
    kNormPal60,  kNormSecamB,     kNormSecamD,  kNormSecamG,  kNormSecamH,
    kNormSecamK, kNormSecamK1,    kNormSecamL,  kNormSecamL1, kNormPalNCombo,
};

TEST(V4l2NormMapping, EveryNormSurvivesTheWayThereAndBack) {
    v4l2_std_id seen = 0;
    for (const int norm : kEveryNorm) {
        const std::optional<v4l2_std_id> standard = v4l2::StandardFromNorm(norm);
        ASSERT_TRUE(standard.has_value()) << norm;
        EXPECT_EQ(v4l2::NormFromStandard(*standard), norm) << norm;
        EXPECT_EQ(seen & *standard, 0u) << "two norms share a standard: " << norm;
        seen |= *standard;
    }
}

TEST(V4l2NormMapping, StandardSetsReduceToOneNorm) {
    EXPECT_EQ(v4l2::NormFromStandard(V4L2_STD_NTSC), kNormNtscM);
    EXPECT_EQ(v4l2::NormFromStandard(V4L2_STD_PAL), kNormPalB);
    EXPECT_EQ(v4l2::NormFromStandard(V4L2_STD_PAL | V4L2_STD_NTSC), kNormNtscM);
    EXPECT_EQ(v4l2::NormFromStandard(V4L2_STD_PAL_B1), kNormPalB);
    EXPECT_EQ(v4l2::NormFromStandard(V4L2_STD_PAL_K), kNormPalD);
    EXPECT_EQ(v4l2::NormFromStandard(V4L2_STD_SECAM), kNormSecamB);
    EXPECT_EQ(v4l2::NormFromStandard(V4L2_STD_NTSC_M_KR), kNormNone);
    EXPECT_EQ(v4l2::NormFromStandard(V4L2_STD_ATSC), kNormNone);
    EXPECT_EQ(v4l2::NormFromStandard(0), kNormNone);
}

TEST(V4l2NormMapping, CombinedNormsAndUnknownBits) {
    EXPECT_EQ(v4l2::StandardFromNorm(kNormNtscM | kNormPalB),
              V4L2_STD_NTSC_M | V4L2_STD_PAL_B | V4L2_STD_PAL_B1);
    EXPECT_EQ(v4l2::StandardFromNorm(kNormNone), std::nullopt);
    EXPECT_EQ(v4l2::StandardFromNorm(0x200000), std::nullopt);
    EXPECT_EQ(v4l2::StandardFromNorm(kNormPalB | 0x8), std::nullopt);
    EXPECT_EQ(v4l2::StandardFromNorm(-1), std::nullopt);
}

TEST(V4l2ControlMapping, PropertiesAndTheirAutomaticModes) {
    EXPECT_EQ(v4l2::ControlIdOf(kBrightness), V4L2_CID_BRIGHTNESS);
    EXPECT_EQ(v4l2::ControlIdOf(kHue), V4L2_CID_HUE);
    EXPECT_EQ(v4l2::ControlIdOf(kGamma), V4L2_CID_GAMMA);
    EXPECT_EQ(v4l2::ControlIdOf(6), std::nullopt);
    EXPECT_EQ(v4l2::ControlIdOf(10), std::nullopt);
    EXPECT_EQ(v4l2::AutoControlIdOf(kWhiteBalance), V4L2_CID_AUTO_WHITE_BALANCE);
    EXPECT_EQ(v4l2::AutoControlIdOf(kContrast), std::nullopt);
}

TEST(V4l2ControlMapping, OnlyPlainValueControlsHaveARange) {
    v4l2_queryctrl query{};
    query.type = V4L2_CTRL_TYPE_MENU;
    query.minimum = 0;
    query.maximum = 3;
    query.step = 1;
    query.default_value = 2;
    const auto menu = v4l2::RangeFromQuery(query, v4l2::AutoPartner::Absent);
    ASSERT_TRUE(menu.has_value());
    EXPECT_EQ(menu->maximum, 3);
    EXPECT_EQ(menu->defaultValue, 2);
    EXPECT_EQ(menu->flags, kControlFlagManual);

    for (const std::uint32_t type :
         {std::uint32_t{V4L2_CTRL_TYPE_BUTTON}, std::uint32_t{V4L2_CTRL_TYPE_INTEGER64},
          std::uint32_t{V4L2_CTRL_TYPE_CTRL_CLASS}, std::uint32_t{V4L2_CTRL_TYPE_STRING}}) {
        query.type = type;
        EXPECT_EQ(v4l2::RangeFromQuery(query, v4l2::AutoPartner::Present), std::nullopt) << type;
    }
    query.type = V4L2_CTRL_TYPE_INTEGER;
    query.flags = V4L2_CTRL_FLAG_DISABLED;
    EXPECT_EQ(v4l2::RangeFromQuery(query, v4l2::AutoPartner::Present), std::nullopt);
}

TEST(V4l2SizeMapping, CommonSizesOnTheRangesSteps) {
    // Continuous ranges come with step 1.
    EXPECT_THAT(v4l2::CommonSizesWithin({100, 700, 1, 100, 500, 1}),
                ElementsAre(FrameSize{160, 120}, FrameSize{176, 144}, FrameSize{320, 240},
                            FrameSize{352, 288}, FrameSize{640, 480}));
    // Width steps of 64 from 128: 320 and 640 lie on them, 176 and 352 do not.
    EXPECT_THAT(v4l2::CommonSizesWithin({128, 1280, 64, 96, 1024, 8}),
                ElementsAre(FrameSize{320, 240}, FrameSize{640, 480}, FrameSize{1024, 768},
                            FrameSize{1280, 720}, FrameSize{1280, 960}, FrameSize{1280, 1024}));
    // Step 0 is taken as "any value" rather than dividing by it.
    EXPECT_THAT(v4l2::CommonSizesWithin({640, 640, 0, 480, 480, 0}),
                ElementsAre(FrameSize{640, 480}));
}

TEST(V4l2SizeMapping, RangeWithoutACommonSizeGivesItsLargest) {
    EXPECT_THAT(v4l2::CommonSizesWithin({100, 150, 2, 50, 90, 2}), ElementsAre(FrameSize{150, 90}));
    EXPECT_TRUE(v4l2::CommonSizesWithin({0, 0, 0, 0, 0, 0}).empty());
    // Sizes beyond int are kept within it.
    const auto huge = v4l2::CommonSizesWithin({0xFFFFFFF0u, 0xFFFFFFFFu, 1, 1, 2, 1});
    ASSERT_EQ(huge.size(), 1u);
    EXPECT_GT(huge[0].width, 0);
}

TEST(V4l2FormatMapping, BitsPerPixelAndBufferType) {
    EXPECT_EQ(v4l2::BitsPerPixel(V4L2_PIX_FMT_YUYV), 16);
    EXPECT_EQ(v4l2::BitsPerPixel(v4l2_fourcc('Y', 'U', 'Y', '2')), 16);
    EXPECT_EQ(v4l2::BitsPerPixel(V4L2_PIX_FMT_NV12), 12);
    EXPECT_EQ(v4l2::BitsPerPixel(V4L2_PIX_FMT_MJPEG), 24);
    EXPECT_EQ(v4l2::BitsPerPixel(V4L2_PIX_FMT_H264), 0);

    // device_caps describe this node only when the driver says it filled them.
    EXPECT_EQ(v4l2::CaptureBufferType(V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_DEVICE_CAPS,
                                      V4L2_CAP_META_CAPTURE),
              std::nullopt);
    EXPECT_EQ(v4l2::CaptureBufferType(V4L2_CAP_VIDEO_CAPTURE, V4L2_CAP_META_CAPTURE),
              V4L2_BUF_TYPE_VIDEO_CAPTURE);
    EXPECT_EQ(v4l2::CaptureBufferType(V4L2_CAP_DEVICE_CAPS, V4L2_CAP_VIDEO_CAPTURE_MPLANE),
              V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE);
    EXPECT_EQ(v4l2::CaptureBufferType(V4L2_CAP_DEVICE_CAPS,
                                      V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE),
              V4L2_BUF_TYPE_VIDEO_CAPTURE);
    EXPECT_EQ(v4l2::CaptureBufferType(V4L2_CAP_DEVICE_CAPS, V4L2_CAP_VIDEO_OUTPUT), std::nullopt);
}

}  // namespace
