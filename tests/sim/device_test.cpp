#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/simulated_microscope.h"

namespace {

using sim::Kind;
using sim::SimulatedMicroscope;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(SimulatedDeviceTest, MicroscopeKindOffersAnalogSizesNormsAndTwoInputs) {
    SimulatedMicroscope device({Kind::Microscope, false});
    EXPECT_EQ(device.kind(), Kind::Microscope);
    EXPECT_FALSE(device.hasStillPin());
    EXPECT_EQ(device.friendlyName(), "Simulated Microscope");
    EXPECT_EQ(device.devicePath(), "usb#vid_eb1a&pid_1860&mi_00#simulated/video0");
    EXPECT_THAT(
        device.HardwareIds(),
        ElementsAre("USB\\VID_EB1A&PID_1860&REV_0100", "USB\\VID_EB1A&PID_1860",
                    "USB\\VID_EB1A&PID_1860&REV_0100&MI_00", "USB\\VID_EB1A&PID_1860&MI_00"));
    EXPECT_EQ(device.FrameSizes(),
              (std::vector<FrameSize>{{320, 240}, {640, 480}, {720, 480}, {720, 576}}));
    EXPECT_TRUE(device.SupportsSize(720, 576));
    EXPECT_FALSE(device.SupportsSize(1280, 1024));
    EXPECT_THAT(device.Inputs(), ElementsAre("Composite", "S-Video"));

    EXPECT_THAT(device.Norms(), ElementsAre(kNormNtscM, kNormPalB));
    int norm = 0;
    ASSERT_TRUE(device.GetNorm(norm));
    EXPECT_EQ(norm, kNormNtscM);
    EXPECT_TRUE(device.SetNorm(kNormPalB));
    EXPECT_FALSE(device.SetNorm(2)) << "only the offered norms";
    ASSERT_TRUE(device.GetNorm(norm));
    EXPECT_EQ(norm, kNormPalB);
}

TEST(SimulatedDeviceTest, CameraKindOffersLargeSizesNoNormsAndOneInput) {
    SimulatedMicroscope device({Kind::Camera, true});
    EXPECT_EQ(device.kind(), Kind::Camera);
    EXPECT_TRUE(device.hasStillPin());
    EXPECT_EQ(device.devicePath(), "usb#vid_eb1a&pid_1760&mi_00#simulated/video0");
    EXPECT_THAT(
        device.HardwareIds(),
        ElementsAre("USB\\VID_EB1A&PID_1760&REV_0100", "USB\\VID_EB1A&PID_1760",
                    "USB\\VID_EB1A&PID_1760&REV_0100&MI_00", "USB\\VID_EB1A&PID_1760&MI_00"));
    EXPECT_EQ(device.FrameSizes(), (std::vector<FrameSize>{{320, 240}, {640, 480}, {1280, 1024}}));
    EXPECT_TRUE(device.SupportsSize(1280, 1024));
    EXPECT_FALSE(device.SupportsSize(720, 480));
    EXPECT_THAT(device.Inputs(), ElementsAre("Camera"));

    EXPECT_THAT(device.Norms(), IsEmpty());
    int norm = -5;
    EXPECT_FALSE(device.GetNorm(norm));
    EXPECT_EQ(norm, -5);
    EXPECT_FALSE(device.SetNorm(kNormNtscM));
}

TEST(SimulatedDeviceTest, ReplugGivesANewIdentityAndUnplugHidesTheHardware) {
    SimulatedMicroscope device({Kind::Microscope, false});
    ASSERT_TRUE(device.plugged());
    const std::string first = device.identity();
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(device.identity(), first);

    device.Unplug();
    EXPECT_FALSE(device.plugged());
    EXPECT_THAT(device.HardwareIds(), IsEmpty());
    EXPECT_THAT(device.identity(), IsEmpty());
    // The description of the device stays readable while it is away.
    EXPECT_EQ(device.devicePath(), "usb#vid_eb1a&pid_1860&mi_00#simulated/video0");

    device.Plug();
    EXPECT_TRUE(device.plugged());
    EXPECT_EQ(device.HardwareIds().size(), 4u);
    const std::string second = device.identity();
    EXPECT_FALSE(second.empty());
    EXPECT_NE(second, first);

    // Plugging a plugged device changes nothing.
    device.Plug();
    EXPECT_EQ(device.identity(), second);
}

TEST(SimulatedDeviceTest, ThePlugObserverHearsEachRealChangeOfThePlugState) {
    SimulatedMicroscope device({Kind::Camera, false});
    std::vector<bool> heard;
    device.SetPlugObserver([&](bool plugged) {
        // The state has changed by the time the observer hears of it.
        EXPECT_EQ(device.plugged(), plugged);
        heard.push_back(plugged);
    });
    device.Plug();
    device.Unplug();
    device.Unplug();
    device.Plug();
    EXPECT_EQ(heard, (std::vector<bool>{false, true}));
    device.SetPlugObserver({});
    device.Unplug();
    EXPECT_EQ(heard.size(), 2u);
}

TEST(SimulatedDeviceTest, ButtonPressIsLatchedUntilTaken) {
    SimulatedMicroscope device({Kind::Microscope, false});
    EXPECT_EQ(device.TakeButtonPress(), 0);
    device.PressButton();
    EXPECT_EQ(device.TakeButtonPress(), 1);
    EXPECT_EQ(device.TakeButtonPress(), 0);

    // A latch: two presses before a read count once.
    device.PressButton();
    device.PressButton();
    EXPECT_EQ(device.TakeButtonPress(), 1);
    EXPECT_EQ(device.TakeButtonPress(), 0);

    // Unplugging drops a pending press; an unplugged device has no button to press.
    device.PressButton();
    device.Unplug();
    EXPECT_EQ(device.TakeButtonPress(), 0);
    device.PressButton();
    EXPECT_EQ(device.TakeButtonPress(), 0);
}

}  // namespace
