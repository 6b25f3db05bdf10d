#include "platform/device_change_monitor.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>

namespace platform {
namespace {

constexpr DeviceEvent kNodesChanged = DeviceEvent::NodesChanged;
constexpr DeviceEvent kInterfaceRemoved = DeviceEvent::NodeRemoved;

TEST(ClassifyUeventTest, OnlyARemovedCaptureNodeIsReportedAsARemoval) {
    struct Case {
        const char* subsystem;
        const char* action;
        std::optional<DeviceEvent> expected;
    };
    const Case cases[] = {
        {"video4linux", "remove", kInterfaceRemoved},
        // A new capture node is only a node change: the check runs once the whole device is in.
        {"video4linux", "add", kNodesChanged},
        {"video4linux", "change", kNodesChanged},
        {"video4linux", "move", kNodesChanged},
        {"video4linux", "bind", kNodesChanged},
        {"video4linux", "unbind", kNodesChanged},
        {"video4linux", "online", kNodesChanged},
        {"video4linux", "offline", kNodesChanged},
        // USB devices and interfaces are node changes, even when they go.
        {"usb", "add", kNodesChanged},
        {"usb", "remove", kNodesChanged},
        {"usb", "bind", kNodesChanged},
        {"usb", "unbind", kNodesChanged},
        {"usb", "change", kNodesChanged},
        // Other subsystems do not matter, whatever happens to them.
        {"input", "add", std::nullopt},
        {"input", "remove", std::nullopt},
        {"block", "remove", std::nullopt},
        {"", "remove", std::nullopt},
        {"", "add", std::nullopt},
        // Names are compared exactly.
        {"video4linux2", "remove", std::nullopt},
        {"usb_device", "add", std::nullopt},
        {"Video4Linux", "remove", std::nullopt},
        {"video4linux", "Remove", kNodesChanged},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClassifyUevent(c.subsystem, c.action), c.expected)
            << "subsystem \"" << c.subsystem << "\", action \"" << c.action << "\"";
    }
}

TEST(UdevDeviceChangeMonitorTest, LivesAndDiesInAnEventLoopWithOrWithoutUdev) {
    // Whether or not this machine lets the netlink socket open, a monitor comes back, runs
    // through the event loop and closes cleanly, twice over (the socket is released).
    for (int round = 0; round < 2; ++round) {
        QObject owner;
        std::unique_ptr<DeviceChangeMonitor> monitor = CreateUdevDeviceChangeMonitor(&owner);
        ASSERT_NE(monitor, nullptr);
        EXPECT_EQ(monitor->parent(), &owner);
        bool ticked = false;
        QTimer::singleShot(50, [&ticked] { ticked = true; });
        ASSERT_TRUE(QTest::qWaitFor([&ticked] { return ticked; }, 10000));
        monitor.reset();
        QTest::qWait(0);
    }
}

}  // namespace
}  // namespace platform
