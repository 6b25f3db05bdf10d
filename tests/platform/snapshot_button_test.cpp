#include "platform/snapshot_button.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "fake_sysfs.h"
#include "platform/unique_fd.h"

namespace {
namespace fs = std::filesystem;

using fakesysfs::FakeSysfs;
using fakesysfs::UsbDevice;
using platform::EvdevSnapshotButton;
using platform::UniqueFd;

constexpr const char* kCameraKeyOnly = "100000 0 0 0";  // bit 212, KEY_CAMERA

std::string Record(unsigned short type, unsigned short code, int value) {
    input_event event = {};
    event.type = type;
    event.code = code;
    event.value = value;
    return std::string(reinterpret_cast<const char*>(&event), sizeof(event));
}

const std::string kPress = Record(EV_KEY, KEY_CAMERA, 1) + Record(EV_SYN, SYN_REPORT, 0);
const std::string kRelease = Record(EV_KEY, KEY_CAMERA, 0) + Record(EV_SYN, SYN_REPORT, 0);
const std::string kRepeat = Record(EV_KEY, KEY_CAMERA, 2) + Record(EV_SYN, SYN_REPORT, 0);

// A USB device with one interface; the interface's path.
std::string AddUsb(FakeSysfs& sysfs, const UsbDevice& usb) {
    const std::string device = sysfs.AddUsbDevice(usb);
    return sysfs.AddUsbInterface(device, usb.port + ":1.0", "00");
}

// A USB device whose input device `eventName` has the key bitmap `keys`; its node is an empty
// file. Returns the node's path.
std::string AddButton(FakeSysfs& sysfs, const UsbDevice& usb, const std::string& eventName,
                      const std::string& keys) {
    sysfs.AddInputNode(AddUsb(sysfs, usb), "input7", eventName, keys);
    fs::create_directories(sysfs.Full("/dev/input"));
    testsupport::WriteFile(sysfs.Full("/dev/input/" + eventName), "");
    return sysfs.Full("/dev/input/" + eventName);
}

class SnapshotButtonTest : public testing::Test {
protected:
    std::string Node(const std::string& eventName) const {
        return sysfs_.Full("/dev/input/" + eventName);
    }
    // The microscope at 1-2 whose button is event5, a FIFO the test writes events into.
    void AddMicroscopeWithButton() {
        const std::string node = AddButton(sysfs_, UsbDevice{}, "event5", kCameraKeyOnly);
        fs::remove(node);
        ASSERT_EQ(::mkfifo(node.c_str(), 0600), 0);
        writer_ = UniqueFd(::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
        ASSERT_TRUE(writer_.valid());
    }
    void Write(const std::string& bytes) {
        ASSERT_EQ(
            platform::WriteAll(writer_.get(), reinterpret_cast<const std::uint8_t*>(bytes.data()),
                               bytes.size()),
            0);
    }

    FakeSysfs sysfs_;
    UniqueFd writer_;
};

TEST_F(SnapshotButtonTest, TakesOnlyTheMicroscopeWhateverTheCaseOfItsIds) {
    EvdevSnapshotButton button(sysfs_.root());
    EXPECT_EQ(button.OpenInterface(), 0);

    UsbDevice other;  // same vendor, other product, first on the bus
    other.port = "1-1";
    other.productId = "1760";
    AddButton(sysfs_, other, "event3", kCameraKeyOnly);
    EXPECT_EQ(button.OpenInterface(), 0);
    button.NoteCameraKey();
    EXPECT_EQ(button.IsButtonPressed(), 0);

    UsbDevice microscope;
    microscope.vendorId = "EB1A";
    const std::string node = AddButton(sysfs_, microscope, "event5", kCameraKeyOnly);
    EXPECT_EQ(button.OpenInterface(), 1);
    EXPECT_EQ(button.inputNode(), node);
}

TEST_F(SnapshotButtonTest, WithoutInputNodeEachCameraKeyCountsOnce) {
    AddUsb(sysfs_, UsbDevice{});
    EvdevSnapshotButton button(sysfs_.root());
    button.NoteCameraKey();
    EXPECT_EQ(button.IsButtonPressed(), 0);  // not open yet

    ASSERT_EQ(button.OpenInterface(), 1);
    EXPECT_EQ(button.inputNode(), "");
    EXPECT_EQ(button.IsButtonPressed(), 0);
    button.NoteCameraKey();
    button.NoteCameraKey();
    EXPECT_EQ(button.IsButtonPressed(), 1);
    EXPECT_EQ(button.IsButtonPressed(), 0);

    button.NoteCameraKey();
    button.CloseInterface();
    EXPECT_EQ(button.IsButtonPressed(), 0);
    ASSERT_EQ(button.OpenInterface(), 1);
    EXPECT_EQ(button.IsButtonPressed(), 0);  // the key noted before closing is gone
}

// The kernel prints the key bitmap in words of a long, most significant first.
TEST(SnapshotButton, UsesOnlyInputDevicesWithTheCameraKey) {
    const struct {
        const char* bitmap;
        bool camera;
    } cases[] = {
        {"100000 0 0 0", true},
        {"1 100000 0 0 0", true},
        {"fffffffffff00000 0 0 0", true},
        {"100000 0 0", false},  // bit 148
        {"ffffffffffefffff ffffffffffffffff ffffffffffffffff ffffffffffffffff", false},
        {"0", false},
        {"", false},
        {"100000 0 0 0x0", false},
        {"100000 0 0 10000000000000000", false},  // a word wider than a long
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bitmap);
        FakeSysfs sysfs;
        AddButton(sysfs, UsbDevice{}, "event5", c.bitmap);
        EvdevSnapshotButton button(sysfs.root());
        ASSERT_EQ(button.OpenInterface(), 1);
        EXPECT_EQ(button.inputNode().empty(), !c.camera);
        button.NoteCameraKey();
        EXPECT_EQ(button.IsButtonPressed(), c.camera ? 0 : 1);
    }
}

TEST_F(SnapshotButtonTest, CountsPressesFromTheNodeOncePerPoll) {
    AddMicroscopeWithButton();
    EvdevSnapshotButton button(sysfs_.root());
    ASSERT_EQ(button.OpenInterface(), 1);
    ASSERT_EQ(button.inputNode(), Node("event5"));
    EXPECT_EQ(button.IsButtonPressed(), 0);

    Write(kPress);
    EXPECT_EQ(button.IsButtonPressed(), 1);
    EXPECT_EQ(button.IsButtonPressed(), 0);

    Write(kRepeat + kRepeat + kRelease + Record(EV_KEY, KEY_A, 1));
    EXPECT_EQ(button.IsButtonPressed(), 0);

    Write(kPress + kRelease + kPress + kRelease);
    EXPECT_EQ(button.IsButtonPressed(), 1);
    EXPECT_EQ(button.IsButtonPressed(), 0);

    button.NoteCameraKey();  // the node brings the same press
    EXPECT_EQ(button.IsButtonPressed(), 0);

    // More than one read's worth of records, the press last.
    std::string burst;
    for (int i = 0; i < 50; ++i) {
        burst += kRepeat;
    }
    Write(burst + kPress);
    EXPECT_EQ(button.IsButtonPressed(), 1);
}

TEST_F(SnapshotButtonTest, RecordSplitAcrossPollsIsReadWhole) {
    AddMicroscopeWithButton();
    EvdevSnapshotButton button(sysfs_.root());
    ASSERT_EQ(button.OpenInterface(), 1);

    const std::size_t cut = sizeof(input_event) / 2 + 1;
    Write(kPress.substr(0, cut));
    EXPECT_EQ(button.IsButtonPressed(), 0);
    Write(kPress.substr(cut) + kRelease.substr(0, 5));
    EXPECT_EQ(button.IsButtonPressed(), 1);
    Write(kRelease.substr(5) + kRepeat);
    EXPECT_EQ(button.IsButtonPressed(), 0);
    Write(kPress);
    EXPECT_EQ(button.IsButtonPressed(), 1);
}

TEST_F(SnapshotButtonTest, NodeThatCannotBeOpenedLeavesTheCameraKey) {
    const std::string node = AddButton(sysfs_, UsbDevice{}, "event5", kCameraKeyOnly);
    fs::remove(node);
    for (const bool directory : {false, true}) {
        SCOPED_TRACE(directory ? "a directory" : "missing");
        if (directory) {
            fs::create_directory(node);
        }
        EvdevSnapshotButton button(sysfs_.root());
        ASSERT_EQ(button.OpenInterface(), 1);
        EXPECT_EQ(button.inputNode(), "");
        button.NoteCameraKey();
        EXPECT_EQ(button.IsButtonPressed(), 1);
        EXPECT_EQ(button.IsButtonPressed(), 0);
    }
}

TEST_F(SnapshotButtonTest, ReadErrorClosesTheNodeAndLeavesTheCameraKey) {
    if (!testsupport::Exists("/proc/self/mem")) {
        GTEST_SKIP() << "no /proc";
    }
    const std::string node = AddButton(sysfs_, UsbDevice{}, "event5", kCameraKeyOnly);
    fs::remove(node);
    // Reading a process's memory at address 0 fails with EIO, as a gone device does.
    fs::create_symlink("/proc/self/mem", node);
    EvdevSnapshotButton button(sysfs_.root());
    ASSERT_EQ(button.OpenInterface(), 1);
    ASSERT_EQ(button.inputNode(), Node("event5"));
    button.NoteCameraKey();  // ignored: the node is still in use

    EXPECT_EQ(button.IsButtonPressed(), 0);
    EXPECT_EQ(button.inputNode(), "");
    EXPECT_EQ(button.IsButtonPressed(), 0);
    button.NoteCameraKey();
    EXPECT_EQ(button.IsButtonPressed(), 1);
}

TEST_F(SnapshotButtonTest, OpensAgainAfterClosing) {
    AddMicroscopeWithButton();
    EvdevSnapshotButton button(sysfs_.root());
    ASSERT_EQ(button.OpenInterface(), 1);
    ASSERT_EQ(button.OpenInterface(), 1);  // starts over with the same node
    Write(kPress);
    EXPECT_EQ(button.IsButtonPressed(), 1);

    button.CloseInterface();
    EXPECT_EQ(button.inputNode(), "");
    button.NoteCameraKey();
    EXPECT_EQ(button.IsButtonPressed(), 0);

    ASSERT_EQ(button.OpenInterface(), 1);
    EXPECT_EQ(button.inputNode(), Node("event5"));
    EXPECT_EQ(button.IsButtonPressed(), 0);
    Write(kPress);
    EXPECT_EQ(button.IsButtonPressed(), 1);

    // Unplugged: the next open finds nothing and nothing counts.
    fs::remove(sysfs_.Full("/sys/bus/usb/devices/1-2"));
    EXPECT_EQ(button.OpenInterface(), 0);
    EXPECT_EQ(button.inputNode(), "");
    Write(kPress);
    button.NoteCameraKey();
    EXPECT_EQ(button.IsButtonPressed(), 0);
}

}  // namespace
