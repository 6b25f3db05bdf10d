#include "capture/capture_discovery.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "app/debug_trace.h"
#include "capture/capture_engine.h"
#include "fake_media_backend.h"

namespace {

using testsupport::FakeMediaBackend;

constexpr const char* kRow0Path = "usb#vid_eb1a&pid_1860&mi_00#/devices/usb1/1-2/video0";
constexpr const char* kRow1Path = "usb#vid_eb1a&pid_1760&mi_00#/devices/usb1/1-3/video2";
constexpr const char* kOtherPath = "usb#vid_046d&pid_0825&mi_00#/devices/usb1/1-4/video4";

class CountingLibrary : public DeviceLibrary {
public:
    int Open() override {
        ++opened;
        return openResult;
    }
    void Close() override { ++closed; }
    int openResult = 1;
    int opened = 0;
    int closed = 0;
};

class DiscoveryTest : public ::testing::Test {
protected:
    DiscoveryTest() : engine(backend) {
        engine.SetDeviceLibrary(&library);
        engine.CreateDeviceEnumerator();
    }

    FakeMediaBackend backend;
    CountingLibrary library;
    CaptureEngine engine;
};

TEST(MatchIdentityTest, FindsEitherRowAnywhereInThePathIgnoringCase) {
    EXPECT_EQ(DeviceDiscovery::MatchIdentity(kRow0Path), 0);
    EXPECT_EQ(DeviceDiscovery::MatchIdentity(kRow1Path), 1);
    EXPECT_EQ(DeviceDiscovery::MatchIdentity("USB#VID_EB1A&PID_1860&MI_00#X"), 0);
    EXPECT_EQ(DeviceDiscovery::MatchIdentity(kOtherPath), -1);
    // A camera's second interface is not the microscope.
    EXPECT_EQ(DeviceDiscovery::MatchIdentity("usb#vid_eb1a&pid_1760&mi_01#x"), -1);
    EXPECT_EQ(DeviceDiscovery::MatchIdentity(""), -1);
    EXPECT_EQ(DeviceDiscovery::MatchIdentity("vid_eb1a&pid_186"), -1);
    // The identity may end the path (and may be all of it).
    EXPECT_EQ(DeviceDiscovery::MatchIdentity("usb#vid_eb1a&pid_1860"), 0);
    EXPECT_EQ(DeviceDiscovery::MatchIdentity("Vid_eb1a&Pid_1860"), 0);
}

// Discovery on its own, without an engine or a graph: what each pass makes of the current
// device, and what a selection hands over to be bound.
TEST(DeviceDiscoveryTest, EachPassSettlesTheCurrentDeviceAndASelectionHandsItOver) {
    FakeMediaBackend backend;
    DeviceDiscovery discovery(backend);
    EXPECT_EQ(discovery.Discover(), DiscoveryOutcome::NoDevice);  // no enumerator yet
    ASSERT_EQ(discovery.CreateEnumerator(), hr::kOk);

    const auto camera = FakeMediaBackend::Device(kRow1Path, "Camera", "c");
    const auto microscope = FakeMediaBackend::Device(kRow0Path, "Microscope", "a");
    const auto webcam = FakeMediaBackend::Device(kOtherPath, "Webcam", "w");
    const struct {
        std::vector<DeviceMoniker> devices;
        HResult enumerateResult;
        DiscoveryOutcome outcome;
        const char* current;  // friendly name, nullptr for none
        const char* identity;
    } passes[] = {
        {{webcam, camera},
         hr::kOk,
         DiscoveryOutcome::ChoseDevice,
         "Camera",
         kDeviceIdentityTable[1]},
        {{microscope, camera},
         hr::kOk,
         DiscoveryOutcome::KeptCurrent,
         "Camera",
         kDeviceIdentityTable[1]},
        {{}, hr::kFalse, DiscoveryOutcome::NoDevice, "Camera", kDeviceIdentityTable[1]},
        {{webcam}, hr::kOk, DiscoveryOutcome::NoDevice, nullptr, ""},
        {{webcam, microscope},
         hr::kOk,
         DiscoveryOutcome::ChoseDevice,
         "Microscope",
         kDeviceIdentityTable[0]},
    };
    for (const auto& pass : passes) {
        SCOPED_TRACE(::testing::Message() << "pass with " << pass.devices.size() << " devices");
        backend.devices = pass.devices;
        backend.enumerateResult = pass.enumerateResult;
        EXPECT_EQ(discovery.Discover(), pass.outcome);
        const std::optional<DeviceChoice> choice = discovery.CurrentChoice();
        ASSERT_EQ(choice.has_value(), pass.current != nullptr);
        if (choice) {
            EXPECT_EQ(choice->moniker.friendlyName, pass.current);
            EXPECT_EQ(choice->identityRow,
                      DeviceDiscovery::MatchIdentity(choice->moniker.devicePath));
        }
        EXPECT_EQ(discovery.deviceIdentity(), pass.identity);
    }

    // The webcam can be selected; it has no identity to test its presence by.
    EXPECT_FALSE(discovery.Select(1).has_value());  // current already
    EXPECT_FALSE(discovery.Select(2).has_value());  // empty slot
    const std::optional<DeviceChoice> chosen = discovery.Select(0);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(chosen->moniker.identity, "w");
    EXPECT_EQ(chosen->identityRow, -1);
    EXPECT_EQ(discovery.CurrentEntry(), &discovery.devices()[0]);
    EXPECT_EQ(discovery.deviceIdentity(), "");
    EXPECT_FALSE(discovery.IsDevicePresent());
    EXPECT_FALSE(backend.Called("ListPresentHardwareIds"));
}

TEST_F(DiscoveryTest, WithoutAnEnumeratorNothingIsListed) {
    FakeMediaBackend other;
    other.results["CreateDeviceEnumerator"] = hr::kFail;
    other.devices = {FakeMediaBackend::Device(kRow0Path, "Microscope", "a")};
    CaptureEngine fresh(other);
    TraceRecorder traces;
    EXPECT_LT(fresh.CreateDeviceEnumerator(), 0);
    EXPECT_TRUE(traces.Contains("Error Creating Device Enumerator\n"));
    EXPECT_EQ(fresh.DiscoverDevices(), 0);
    EXPECT_FALSE(other.Called("EnumerateVideoInputDevices"));
}

TEST_F(DiscoveryTest, RowZeroWinsOverAnEarlierRowOneAndTiesGoToTheEarlier) {
    backend.devices = {FakeMediaBackend::Device(kOtherPath, "Webcam", "w"),
                       FakeMediaBackend::Device(kRow1Path, "Camera", "c"),
                       FakeMediaBackend::Device(kRow0Path, "Microscope A", "a"),
                       FakeMediaBackend::Device(kRow0Path, "Microscope B", "b")};
    TraceRecorder traces;
    ASSERT_EQ(engine.DiscoverDevices(), 1);
    EXPECT_EQ(engine.deviceCount(), 4);
    ASSERT_NE(engine.CurrentEntry(), nullptr);
    EXPECT_EQ(engine.CurrentEntry()->friendlyName, "Microscope A");
    EXPECT_EQ(engine.deviceIdentity(), "Vid_eb1a&Pid_1860");
    EXPECT_EQ(engine.libraryDeviceMode(), 1);
    EXPECT_EQ(library.opened, 1);
    EXPECT_TRUE(traces.Contains("Find video capture device : Webcam\n"));

    const auto& list = engine.DeviceList();
    EXPECT_EQ(list[0].identityRow, -1);
    EXPECT_EQ(list[1].identityRow, 1);
    EXPECT_EQ(list[2].identityRow, 0);
    EXPECT_EQ(list[2].isCurrent, 1);
    EXPECT_EQ(list[3].isCurrent, 0);
    EXPECT_FALSE(list[4].moniker.has_value());
    EXPECT_EQ(list[4].identityRow, -1);
}

TEST_F(DiscoveryTest, CameraKindDoesNotOpenTheLibrary) {
    backend.devices = {FakeMediaBackend::Device(kRow1Path, "Camera", "c")};
    engine.SetLibraryDeviceMode(1);
    ASSERT_EQ(engine.DiscoverDevices(), 1);
    EXPECT_EQ(engine.libraryDeviceMode(), 0);
    EXPECT_EQ(library.opened, 0);
    EXPECT_EQ(engine.deviceIdentity(), "Vid_eb1a&Pid_1760&MI_00");
}

TEST_F(DiscoveryTest, ALibraryThatDoesNotOpenLeavesLibraryModeOff) {
    library.openResult = 0;
    backend.devices = {FakeMediaBackend::Device(kRow0Path, "Microscope", "a")};
    ASSERT_EQ(engine.DiscoverDevices(), 1);
    EXPECT_EQ(engine.libraryDeviceMode(), 0);
    EXPECT_EQ(engine.deviceIdentity(), "Vid_eb1a&Pid_1860");
}

TEST_F(DiscoveryTest, NoSupportedDeviceClearsTheIdentity) {
    backend.devices = {FakeMediaBackend::Device(kRow0Path, "Microscope", "a")};
    ASSERT_EQ(engine.DiscoverDevices(), 1);
    engine.TearDownGraph();
    backend.devices = {FakeMediaBackend::Device(kOtherPath, "Webcam", "w")};
    EXPECT_EQ(engine.DiscoverDevices(), 0);
    EXPECT_EQ(engine.deviceIdentity(), "");
    EXPECT_EQ(engine.CurrentEntry(), nullptr);
    EXPECT_EQ(engine.deviceCount(), 1);
}

TEST_F(DiscoveryTest, AnEmptyOrFailingCategoryLeavesTheListAsItWas) {
    backend.devices = {FakeMediaBackend::Device(kRow1Path, "Camera", "c")};
    ASSERT_EQ(engine.DiscoverDevices(), 1);
    for (HResult result : {hr::kFalse, hr::kFail}) {
        backend.enumerateResult = result;
        TraceRecorder traces;
        EXPECT_EQ(engine.DiscoverDevices(), 0);
        EXPECT_TRUE(traces.Contains("Sorry, you have no video capture hardware\n"));
        EXPECT_EQ(engine.DeviceList()[0].friendlyName, "Camera");
        EXPECT_EQ(engine.CurrentEntry(), &engine.DeviceList()[0]);
    }
}

TEST_F(DiscoveryTest, ADeviceWithoutAReadableNameIsCountedAndSelected) {
    DeviceMoniker nameless = FakeMediaBackend::Device(kRow1Path, "", "c");
    nameless.nameReadable = false;
    backend.devices = {nameless};
    TraceRecorder traces;
    ASSERT_EQ(engine.DiscoverDevices(), 1);
    EXPECT_EQ(engine.deviceCount(), 1);
    EXPECT_EQ(engine.CurrentEntry()->friendlyName, "");
    EXPECT_TRUE(traces.Lines().empty());
}

TEST_F(DiscoveryTest, RediscoveryKeepsTheCurrentDeviceWhereverItMoved) {
    backend.devices = {FakeMediaBackend::Device(kRow1Path, "Camera", "c"),
                       FakeMediaBackend::Device(kOtherPath, "Webcam", "w")};
    ASSERT_EQ(engine.DiscoverDevices(), 1);
    ASSERT_EQ(engine.CurrentEntry()->friendlyName, "Camera");

    // A microscope of the preferred kind appears before it: the camera stays current.
    backend.devices = {FakeMediaBackend::Device(kRow0Path, "Microscope", "a"),
                       FakeMediaBackend::Device(kOtherPath, "Webcam", "w"),
                       FakeMediaBackend::Device(kRow1Path, "Camera (renamed)", "c")};
    ASSERT_EQ(engine.DiscoverDevices(), 1);
    EXPECT_EQ(engine.CurrentEntry(), &engine.DeviceList()[2]);
    // The carried entry keeps what it had.
    EXPECT_EQ(engine.CurrentEntry()->friendlyName, "Camera");
    EXPECT_EQ(engine.deviceIdentity(), "Vid_eb1a&Pid_1760&MI_00");
    int current = 0;
    for (const auto& entry : engine.DeviceList()) {
        current += entry.isCurrent;
    }
    EXPECT_EQ(current, 1);
    EXPECT_EQ(library.opened, 0);
}

TEST_F(DiscoveryTest, ACarriedRowZeroDeviceReopensTheLibraryAndStaysInLibraryMode) {
    backend.devices = {FakeMediaBackend::Device(kRow0Path, "Microscope", "a")};
    ASSERT_EQ(engine.DiscoverDevices(), 1);
    library.openResult = 0;
    ASSERT_EQ(engine.DiscoverDevices(), 1);
    EXPECT_EQ(library.opened, 2);
    EXPECT_EQ(engine.libraryDeviceMode(), 1);
}

TEST_F(DiscoveryTest, MoreThanTenDevicesKeepTheMicroscopesFirst) {
    for (int i = 0; i < 12; ++i) {
        backend.devices.push_back(FakeMediaBackend::Device(
            kOtherPath, "Webcam " + std::to_string(i), "w" + std::to_string(i)));
    }
    backend.devices.push_back(FakeMediaBackend::Device(kRow1Path, "Camera", "c"));
    ASSERT_EQ(engine.DiscoverDevices(), 1);
    EXPECT_EQ(engine.deviceCount(), CaptureEngine::kMaxDevices);
    EXPECT_EQ(engine.CurrentEntry()->friendlyName, "Camera");
    // The others keep their enumeration order.
    EXPECT_EQ(engine.DeviceList()[0].friendlyName, "Webcam 0");
    EXPECT_EQ(engine.DeviceList()[8].friendlyName, "Webcam 8");
    EXPECT_EQ(engine.DeviceList()[9].friendlyName, "Camera");
}

TEST_F(DiscoveryTest, SelectDeviceRebuildsOnTheChosenDevice) {
    backend.devices = {FakeMediaBackend::Device(kRow0Path, "Microscope", "a"),
                       FakeMediaBackend::Device(kRow1Path, "Camera", "c")};
    ASSERT_EQ(engine.DiscoverDevices(), 1);
    ASSERT_EQ(engine.BuildGraph(), 1);
    ASSERT_EQ(engine.PreparePreview(), 1);
    ASSERT_EQ(engine.RunGraph(), 1);
    ASSERT_EQ(backend.boundIdentity, "a");

    backend.calls.clear();
    engine.SelectDevice(0);  // already current: nothing happens
    engine.SelectDevice(5);  // empty slot
    engine.SelectDevice(-1);
    engine.SelectDevice(42);
    EXPECT_TRUE(backend.calls.empty());

    engine.SelectDevice(1);
    EXPECT_EQ(backend.boundIdentity, "c");
    EXPECT_EQ(engine.libraryDeviceMode(), 0);
    EXPECT_EQ(engine.deviceIdentity(), "Vid_eb1a&Pid_1760&MI_00");
    EXPECT_EQ(engine.CurrentEntry(), &engine.DeviceList()[1]);
    EXPECT_EQ(engine.DeviceList()[0].isCurrent, 0);
    EXPECT_TRUE(engine.running());
    EXPECT_EQ(library.closed, 1);  // the whole tear-down closes the library
    // Stop, tear down, then build anew.
    const auto stop = std::find(backend.calls.begin(), backend.calls.end(), "Stop");
    const auto release = std::find(backend.calls.begin(), backend.calls.end(), "ReleaseGraph");
    const auto bind = std::find(backend.calls.begin(), backend.calls.end(), "BindDevice");
    EXPECT_LT(stop, release);
    EXPECT_LT(release, bind);
}

TEST_F(DiscoveryTest, PresenceTestComparesTheHardwareIdsIgnoringCase) {
    backend.devices = {FakeMediaBackend::Device(kRow1Path, "Camera", "c")};
    ASSERT_EQ(engine.DiscoverDevices(), 1);
    backend.hardwareIds = {
        {"USB\\VID_046D&PID_0825&REV_0012", "USB\\VID_046D&PID_0825"},
        {"USB\\VID_EB1A&PID_1760&REV_0100&MI_00", "USB\\VID_EB1A&PID_1760&MI_00"}};
    EXPECT_TRUE(engine.IsDevicePresent());
    EXPECT_EQ(engine.deviceIdentity(), "Vid_eb1a&Pid_1760&MI_00");

    // Only the whole id counts, not a prefix of a longer one.
    backend.hardwareIds = {{"USB\\VID_EB1A&PID_1760&MI_001"}};
    EXPECT_FALSE(engine.IsDevicePresent());
    EXPECT_EQ(engine.deviceIdentity(), "");

    // With no identity the system is not asked.
    backend.calls.clear();
    EXPECT_FALSE(engine.IsDevicePresent());
    EXPECT_FALSE(backend.Called("ListPresentHardwareIds"));
}

TEST_F(DiscoveryTest, PresenceTestThatCannotListDevicesSaysAbsentButKeepsTheIdentity) {
    backend.devices = {FakeMediaBackend::Device(kRow0Path, "Microscope", "a")};
    ASSERT_EQ(engine.DiscoverDevices(), 1);
    backend.hardwareListWorks = false;
    TraceRecorder traces;
    EXPECT_FALSE(engine.IsDevicePresent());
    EXPECT_TRUE(traces.Contains("GetClassDevs(All Present Devices)\n"));
    EXPECT_EQ(engine.deviceIdentity(), "Vid_eb1a&Pid_1860");
}

}  // namespace
