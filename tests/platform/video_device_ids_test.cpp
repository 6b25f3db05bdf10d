#include "platform/video_device_ids.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using platform::CaptureSupport;
using platform::VideoNodeRecord;

TEST(VideoDeviceIds, HexAttributes) {
    EXPECT_EQ(platform::ParseHexAttribute(" eb1a\n", 0xFFFF), 0xEB1Au);
    EXPECT_EQ(platform::ParseHexAttribute("EB1A", 0xFFFF), 0xEB1Au);
    EXPECT_EQ(platform::ParseHexAttribute("00", 0xFF), 0u);
    EXPECT_EQ(platform::ParseHexAttribute("", 0xFFFF), std::nullopt);
    EXPECT_EQ(platform::ParseHexAttribute(" \n", 0xFFFF), std::nullopt);
    EXPECT_EQ(platform::ParseHexAttribute("0x12", 0xFFFF), std::nullopt);
    EXPECT_EQ(platform::ParseHexAttribute("eb 1a", 0xFFFF), std::nullopt);
    EXPECT_EQ(platform::ParseHexAttribute("10000", 0xFFFF), std::nullopt);
    EXPECT_EQ(platform::ParseHexAttribute("fffffffff", 0xFFFFFFFF), std::nullopt);
}

TEST(VideoDeviceIds, DevicePathMatchesTheIdentityStrings) {
    platform::UsbId id;
    id.vendorId = 0xEB1A;
    id.productId = 0x1760;
    EXPECT_EQ(platform::UsbDevicePath(id, "/devices/x/video0"),
              "usb#vid_eb1a&pid_1760#/devices/x/video0");
    id.interfaceNumber = 0x0A;
    EXPECT_EQ(platform::UsbDevicePath(id, "/d"), "usb#vid_eb1a&pid_1760&mi_0a#/d");
}

TEST(VideoDeviceIds, HardwareIdsLeaveOutWhatIsUnknown) {
    platform::UsbNodeAttributes attributes;
    attributes.vendorId = "0c45";
    attributes.productId = "6366";
    attributes.revision = "junk";
    attributes.interfaceNumber = "300";  // beyond a byte
    const auto id = platform::ParseUsbId(attributes);
    ASSERT_TRUE(id.has_value());
    EXPECT_THAT(platform::UsbHardwareIds(*id), testing::ElementsAre("USB\\VID_0C45&PID_6366"));
    attributes.productId = "";
    EXPECT_EQ(platform::ParseUsbId(attributes), std::nullopt);
}

TEST(VideoDeviceIds, CaptureSupport) {
    EXPECT_EQ(platform::CaptureSupportFromUdev(":capture:video_overlay:"), CaptureSupport::Capture);
    EXPECT_EQ(platform::CaptureSupportFromUdev(":video_output:"), CaptureSupport::NoCapture);
    EXPECT_EQ(platform::CaptureSupportFromUdev(":"), CaptureSupport::NoCapture);  // metadata
    EXPECT_EQ(platform::CaptureSupportFromUdev(":capture_x:"), CaptureSupport::NoCapture);
    EXPECT_EQ(platform::CaptureSupportFromUdev(""), CaptureSupport::Unknown);

    // What udev or the node told wins over the guess from the index.
    VideoNodeRecord record;
    record.sysfsIndex = "1";
    record.capture = CaptureSupport::Capture;
    EXPECT_EQ(platform::EffectiveCaptureSupport(record), CaptureSupport::Capture);
    record.capture = CaptureSupport::Unknown;
    EXPECT_EQ(platform::EffectiveCaptureSupport(record), CaptureSupport::NoCapture);
    record.sysfsIndex = "00";
    EXPECT_EQ(platform::EffectiveCaptureSupport(record), CaptureSupport::Capture);
    record.sysfsIndex = "-1";
    EXPECT_EQ(platform::EffectiveCaptureSupport(record), CaptureSupport::Unknown);
}

TEST(VideoDeviceIds, VideoNodeNumbers) {
    EXPECT_EQ(platform::VideoNodeNumber("video0"), 0);
    EXPECT_EQ(platform::VideoNodeNumber("video10"), 10);
    EXPECT_EQ(platform::VideoNodeNumber("video"), std::nullopt);
    EXPECT_EQ(platform::VideoNodeNumber("video1a"), std::nullopt);
    EXPECT_EQ(platform::VideoNodeNumber("video-1"), std::nullopt);
    EXPECT_EQ(platform::VideoNodeNumber("vbi0"), std::nullopt);
    EXPECT_EQ(platform::VideoNodeNumber("video12345678901"), std::nullopt);
}

TEST(VideoDeviceIds, FriendlyNameFallsBackInOrder) {
    VideoNodeRecord record;
    EXPECT_EQ(platform::FriendlyNameOf(record), "");
    record.sysfsName = " Sysfs Name\n";
    EXPECT_EQ(platform::FriendlyNameOf(record), "Sysfs Name");
    record.cardName = "Card";
    EXPECT_EQ(platform::FriendlyNameOf(record), "Card");
    record.udevProduct = "   ";  // blank counts as missing
    EXPECT_EQ(platform::FriendlyNameOf(record), "Card");
    record.udevProduct = "USB Microscope";
    EXPECT_EQ(platform::FriendlyNameOf(record), "USB Microscope");
}

TEST(VideoDeviceIds, NodesWithoutDeviceFileAreNotListed) {
    VideoNodeRecord record;
    record.sysName = "video0";
    record.capture = CaptureSupport::Capture;
    EXPECT_TRUE(platform::BuildVideoInputs({record}).empty());
    record.nodePath = "/dev/video0";
    EXPECT_EQ(platform::BuildVideoInputs({record}).size(), 1u);
}

}  // namespace
