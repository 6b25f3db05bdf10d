#include "mainwindow/device_presence.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <functional>

#include "app/debug_trace.h"
#include "capture/fake_media_backend.h"
#include "capture/queued_message_target.h"
#include "support/wait.h"

namespace {

using testsupport::FakeMediaBackend;
using testsupport::WaitUntil;

constexpr const char* kRow0Path = "usb#vid_eb1a&pid_1860&mi_00#/devices/usb1/1-2/video0";
constexpr const char* kRow1Path = "usb#vid_eb1a&pid_1760&mi_00#/devices/usb1/1-3/video2";

// A snapshot button whose presses and results the test sets.
class ScriptedButton : public platform::SnapshotButtonLibrary {
public:
    struct Log {
        int created = 0;
        int opened = 0;
        int closed = 0;
        int destroyed = 0;
        int polled = 0;
        int keys = 0;
        int openResult = 1;
        int pendingPresses = 0;
    };
    explicit ScriptedButton(Log& log) : log_(log) { ++log_.created; }
    ~ScriptedButton() override { ++log_.destroyed; }
    int OpenInterface() override {
        ++log_.opened;
        return log_.openResult;
    }
    void CloseInterface() override { ++log_.closed; }
    int IsButtonPressed() override {
        ++log_.polled;
        if (log_.pendingPresses > 0) {
            --log_.pendingPresses;
            return 1;
        }
        return 0;
    }
    void NoteCameraKey() override { ++log_.keys; }

private:
    Log& log_;
};

class DevicePresenceTest : public ::testing::Test {
protected:
    DevicePresenceTest()
        : engine(backend),
          session(engine),
          presence(
              session,
              [this]() -> std::unique_ptr<platform::SnapshotButtonLibrary> {
                  if (!buttonsAvailable) {
                      return nullptr;
                  }
                  return std::make_unique<ScriptedButton>(button);
              },
              Hooks()) {}

    PresenceHooks Hooks() {
        PresenceHooks hooks;
        hooks.showConnected = [this](bool connected) { shown.push_back(connected); };
        hooks.repaintDisplay = [this] { ++repaints; };
        hooks.refreshSettingsDialog = [this](bool now) { refreshes.push_back(now); };
        hooks.deviceLost = [this] { ++devicesLost; };
        return hooks;
    }

    void PlugRow(const char* path, const std::string& hardwareId) {
        backend.devices = {FakeMediaBackend::Device(path, "Microscope", "m")};
        backend.hardwareIds = {{hardwareId}};
    }
    void Unplug() {
        backend.devices.clear();
        backend.hardwareIds.clear();
    }
    int Binds() const { return backend.CallCount("BindDevice"); }

    FakeMediaBackend backend;
    CaptureEngine engine;
    CaptureSession session;
    ScriptedButton::Log button;
    bool buttonsAvailable = true;
    std::vector<bool> shown;
    std::vector<bool> refreshes;
    int repaints = 0;
    int devicesLost = 0;
    DevicePresence presence;
};

TEST_F(DevicePresenceTest, FirstConnectionToTheMicroscopeRunsTheGraphAndOpensTheButton) {
    PlugRow(kRow0Path, "USB\\VID_EB1A&PID_1860");
    EXPECT_EQ(presence.FirstConnection(), 1);
    EXPECT_EQ(presence.deviceConnected(), 1);
    EXPECT_TRUE(engine.running());
    EXPECT_EQ(shown, std::vector<bool>{true});
    EXPECT_EQ(engine.libraryDeviceMode(), 1);
    ASSERT_NE(presence.buttonLibrary(), nullptr);
    EXPECT_EQ(button.opened, 1);
    EXPECT_TRUE(presence.buttonPollTimer().isActive());
    EXPECT_EQ(presence.buttonPollTimer().interval(), 1000);
    EXPECT_EQ(presence.buttonPollTimer().objectName(), QStringLiteral("timer1000"));
    EXPECT_FALSE(presence.connectionTimer().isActive());
}

TEST_F(DevicePresenceTest, NoDeviceAtStartUpShowsTheConnectTextWithoutARetry) {
    EXPECT_EQ(presence.FirstConnection(), 0);
    EXPECT_EQ(presence.deviceConnected(), 0);
    EXPECT_EQ(shown, std::vector<bool>{false});
    EXPECT_FALSE(engine.running());
    EXPECT_FALSE(presence.connectionTimer().isActive());
    EXPECT_EQ(button.created, 0);
}

TEST_F(DevicePresenceTest, AFormatThatCannotBeSetAtStartUpIsTriedOnceMoreAfter100Ms) {
    PlugRow(kRow1Path, "USB\\VID_EB1A&PID_1760&MI_00");
    backend.results["AddGrabberToGraph(Frame)"] = hr::kFail;
    EXPECT_EQ(presence.FirstConnection(), 0);
    EXPECT_EQ(shown, std::vector<bool>{false});
    EXPECT_FALSE(engine.hasGraph());
    ASSERT_TRUE(presence.connectionTimer().isActive());
    EXPECT_EQ(presence.connectionTimer().interval(), 100);

    backend.results.erase("AddGrabberToGraph(Frame)");
    ASSERT_TRUE(WaitUntil([&] { return presence.deviceConnected() == 1; }));
    EXPECT_TRUE(engine.running());
    EXPECT_EQ(shown, (std::vector<bool>{false, true}));
    // The tick killed the timer: one retry only.
    EXPECT_FALSE(presence.connectionTimer().isActive());
}

TEST_F(DevicePresenceTest, ADeviceThatWillNotStreamIsNotConnectedAndIsTriedAgainOnAChange) {
    PlugRow(kRow0Path, "USB\\VID_EB1A&PID_1860");
    backend.results["Run"] = hr::kFail;
    EXPECT_EQ(presence.FirstConnection(), 0);
    EXPECT_EQ(shown, std::vector<bool>{false});
    EXPECT_FALSE(engine.hasGraph());
    // Once it is free, the next device change connects.
    backend.results.erase("Run");
    presence.OnDeviceEvent(platform::DeviceEvent::NodeRemoved);
    EXPECT_EQ(presence.deviceConnected(), 1);
    EXPECT_TRUE(engine.running());
}

TEST_F(DevicePresenceTest, ACheckWhileConnectedOnlyRediscoversAndRefreshesTheSettings) {
    PlugRow(kRow0Path, "USB\\VID_EB1A&PID_1860");
    ASSERT_EQ(presence.FirstConnection(), 1);
    const int binds = Binds();
    EXPECT_EQ(presence.ConnectionCheck(), 1);
    EXPECT_EQ(Binds(), binds);
    EXPECT_TRUE(engine.running());
    EXPECT_EQ(refreshes, std::vector<bool>{true});
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_EQ(repaints, 0);
    EXPECT_EQ(devicesLost, 0);
}

TEST_F(DevicePresenceTest, ACheckAfterTheDeviceWentShutsDownAndShowsNoDevice) {
    PlugRow(kRow0Path, "USB\\VID_EB1A&PID_1860");
    ASSERT_EQ(presence.FirstConnection(), 1);
    Unplug();
    EXPECT_EQ(presence.ConnectionCheck(), 0);
    EXPECT_EQ(presence.deviceConnected(), 0);
    EXPECT_FALSE(engine.running());
    EXPECT_FALSE(engine.hasGraph());
    EXPECT_EQ(engine.libraryDeviceMode(), 0);
    EXPECT_EQ(shown, (std::vector<bool>{true, false}));
    EXPECT_EQ(refreshes, std::vector<bool>{false});
    EXPECT_EQ(repaints, 1);
    EXPECT_EQ(devicesLost, 1);
    // The button was closed once before it went.
    EXPECT_EQ(button.closed, 1);
    EXPECT_EQ(button.destroyed, button.created);

    // Nothing more is lost while nothing is connected.
    EXPECT_EQ(presence.ConnectionCheck(), 0);
    EXPECT_EQ(devicesLost, 1);
}

TEST_F(DevicePresenceTest, ADeviceThatCameBackIsConnectedAgainInLive) {
    PlugRow(kRow0Path, "USB\\VID_EB1A&PID_1860");
    ASSERT_EQ(presence.FirstConnection(), 1);
    Unplug();
    ASSERT_EQ(presence.ConnectionCheck(), 0);
    PlugRow(kRow0Path, "USB\\VID_EB1A&PID_1860");
    EXPECT_EQ(presence.ConnectionCheck(), 1);
    EXPECT_TRUE(engine.running());
    EXPECT_EQ(shown, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(engine.libraryDeviceMode(), 1);
    EXPECT_NE(presence.buttonLibrary(), nullptr);
}

TEST_F(DevicePresenceTest, DeviceChangesCheckAtOnceOrOnceAfterABurst) {
    PlugRow(kRow0Path, "USB\\VID_EB1A&PID_1860");
    ASSERT_EQ(presence.FirstConnection(), 1);
    Unplug();

    // A removed node checks at once.
    presence.OnDeviceEvent(platform::DeviceEvent::NodeRemoved);
    EXPECT_EQ(presence.deviceConnected(), 0);
    PlugRow(kRow0Path, "USB\\VID_EB1A&PID_1860");
    presence.OnDeviceEvent(platform::DeviceEvent::NodeRemoved);
    EXPECT_EQ(presence.deviceConnected(), 1);

    // A burst of node changes: the timer starts over with each, and one check follows.
    Unplug();
    const std::size_t checks = refreshes.size();
    for (int i = 0; i < 3; ++i) {
        presence.OnDeviceEvent(platform::DeviceEvent::NodesChanged);
        ASSERT_TRUE(presence.connectionTimer().isActive());
        EXPECT_EQ(presence.connectionTimer().interval(), 1000);
        EXPECT_GT(presence.connectionTimer().remainingTime(), 500);
    }
    EXPECT_EQ(refreshes.size(), checks);
    ASSERT_TRUE(WaitUntil([&] { return presence.deviceConnected() == 0; }));
    EXPECT_FALSE(presence.connectionTimer().isActive());
    QCoreApplication::processEvents();
    EXPECT_EQ(refreshes.size(), checks + 1);
}

TEST_F(DevicePresenceTest, ResumeAlwaysTearsDownAndReconnects) {
    PlugRow(kRow0Path, "USB\\VID_EB1A&PID_1860");
    ASSERT_EQ(presence.FirstConnection(), 1);
    for (int wake = 0; wake < 2; ++wake) {
        const int binds = Binds();
        const int lost = devicesLost;
        presence.OnResumed();
        EXPECT_EQ(Binds(), binds + 1) << wake;
        EXPECT_EQ(devicesLost, lost + 1) << wake;
        EXPECT_TRUE(engine.running());
        EXPECT_EQ(presence.deviceConnected(), 1);
    }
}

TEST_F(DevicePresenceTest, ShutdownClosesTheButtonAndDropsWhatTheOldGraphWasAskedFor) {
    PlugRow(kRow0Path, "USB\\VID_EB1A&PID_1860");
    ASSERT_EQ(presence.FirstConnection(), 1);
    session.RequestStill(StillSource::DeviceButton);
    const EngineMessageEvent stale(EngineMessage::StillArrived, 1,
                                   session.messageTarget().generation());

    presence.CaptureShutdown();
    EXPECT_EQ(button.closed, 1);
    EXPECT_EQ(presence.buttonLibrary(), nullptr);
    EXPECT_EQ(engine.libraryDeviceMode(), 0);
    EXPECT_FALSE(engine.hasGraph());
    EXPECT_FALSE(session.StillPending());
    EXPECT_FALSE(session.messageTarget().IsCurrent(stale));
    // Twice in a row closes nothing twice.
    presence.CaptureShutdown();
    EXPECT_EQ(button.closed, 1);
}

TEST_F(DevicePresenceTest, TheOpenerReplacesAnOpenButtonAndDropsOneThatDoesNotOpen) {
    EXPECT_EQ(presence.Open(), 1);
    EXPECT_EQ(presence.Open(), 1);
    EXPECT_EQ(button.created, 2);
    EXPECT_EQ(button.closed, 1);
    EXPECT_EQ(button.destroyed, 1);

    button.openResult = 0;
    engine.SetLibraryDeviceMode(0);
    EXPECT_EQ(presence.Open(), 0);
    EXPECT_EQ(presence.buttonLibrary(), nullptr);
    // A button that never opened is not closed.
    EXPECT_EQ(button.closed, 2);
    EXPECT_EQ(button.destroyed, 3);
    EXPECT_EQ(engine.libraryDeviceMode(), 0);

    buttonsAvailable = false;
    EXPECT_EQ(presence.Open(), 0);
}

TEST_F(DevicePresenceTest, APressBecomesAStillRequestThatSkipsOneFrame) {
    // Nothing is polled outside library mode or without a button.
    presence.PollButton();
    EXPECT_EQ(button.polled, 0);
    ASSERT_EQ(presence.Open(), 1);
    engine.SetLibraryDeviceMode(0);
    presence.PollButton();
    EXPECT_EQ(button.polled, 0);
    engine.SetLibraryDeviceMode(1);

    presence.PollButton();
    EXPECT_EQ(button.polled, 1);
    EXPECT_FALSE(session.StillPending());

    button.pendingPresses = 2;
    presence.PollButton();
    EXPECT_EQ(session.PendingStill(), StillSource::DeviceButton);
    // While that still is pending the button is not even asked: the next press waits, and a
    // Camera request made meanwhile stays as it is.
    session.RequestStill(StillSource::CameraButton);
    presence.PollButton();
    EXPECT_EQ(button.polled, 2);
    EXPECT_EQ(session.PendingStill(), StillSource::CameraButton);
    session.DropStill();
    presence.PollButton();
    EXPECT_EQ(button.polled, 3);
    EXPECT_EQ(session.PendingStill(), StillSource::DeviceButton);
}

TEST_F(DevicePresenceTest, TheCameraKeyGoesToTheOpenButton) {
    presence.NoteCameraKey();
    ASSERT_EQ(presence.Open(), 1);
    presence.NoteCameraKey();
    EXPECT_EQ(button.keys, 1);
}

}  // namespace
