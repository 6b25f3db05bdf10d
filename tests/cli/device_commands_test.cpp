// The device commands on a scripted backend whose frames come from a timer on the test's
// thread, so what the device delivers, and when it stops, is up to each test.
#include "cli/device_commands.h"

#include <gtest/gtest.h>

#include <QTimer>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <utility>
#include <vector>

#include "capture/capture_settings.h"
#include "capture/fake_media_backend.h"
#include "cli/command_line.h"
#include "media/picture_properties.h"
#include "output/still_file.h"
#include "support/temp_dir.h"

namespace {

using testsupport::FakeMediaBackend;
using testsupport::ReadFile;
using testsupport::TempDir;

// Delivers frames of the device's current size while the graph runs; each frame's bytes
// all hold its number (modulo 256).
class StreamingBackend : public FakeMediaBackend {
public:
    StreamingBackend() {
        devices = {Device("usb#vid_eb1a&pid_1860&mi_00#1", "Microscope", "m")};
        QObject::connect(&timer_, &QTimer::timeout, [this] { Deliver(); });
    }

    int framesPerRun = -1;  // -1: no end

    HResult Run() override {
        const HResult result = FakeMediaBackend::Run();
        if (Succeeded(result)) {
            framesLeft_ = framesPerRun;
            timer_.start(2);
        }
        return result;
    }
    HResult Stop() override {
        timer_.stop();
        return FakeMediaBackend::Stop();
    }
    void ReleaseGraph() override {
        timer_.stop();
        FakeMediaBackend::ReleaseGraph();
    }

private:
    void Deliver() {
        if (framesLeft_ == 0 || callback[0] == nullptr) {
            timer_.stop();
            return;
        }
        if (framesLeft_ > 0) {
            --framesLeft_;
        }
        const std::size_t sizeBytes =
            BgrRowBytes(deviceFormat.biWidth) * static_cast<std::size_t>(deviceFormat.biHeight);
        const std::vector<std::uint8_t> frame(sizeBytes, static_cast<std::uint8_t>(number_));
        callback[0]->BufferCB(number_ / 30.0, frame.data(), frame.size());
        ++number_;
    }

    QTimer timer_;
    int framesLeft_ = 0;
    int number_ = 0;
};

class FakeSide : public CaptureSide {
public:
    explicit FakeSide(MediaBackend& backend) : engine_(backend), session_(engine_) {}

    CaptureSession& session() override { return session_; }

private:
    CaptureEngine engine_;
    CaptureSession session_;
};

// What a command wrote to its console.
class CapturedConsole {
public:
    CapturedConsole() { console_ = {std::tmpfile(), std::tmpfile()}; }
    ~CapturedConsole() {
        std::fclose(console_.out);
        std::fclose(console_.err);
    }
    const Console& console() const { return console_; }
    std::string Out() const { return Read(console_.out); }
    std::string Err() const { return Read(console_.err); }

private:
    static std::string Read(std::FILE* file) {
        std::fflush(file);
        std::rewind(file);
        std::string text;
        for (int c = 0; (c = std::fgetc(file)) != EOF;) {
            text.push_back(static_cast<char>(c));
        }
        return text;
    }
    Console console_;
};

class DeviceCommands : public ::testing::Test {
protected:
    std::unique_ptr<CommandSession> MakeSession(std::chrono::milliseconds frameTimeout) {
        return std::make_unique<CommandSession>(
            [this] { return std::make_unique<FakeSide>(backend); }, frameTimeout);
    }
    int Snap(const SnapOptions& options, std::chrono::milliseconds frameTimeout) {
        auto session = MakeSession(frameTimeout);
        StillWriter writer(pictures.path());
        const int code = RunSnap(*session, writer, options, output.console());
        session->Stop();
        return code;
    }
    std::vector<std::string> Pictures() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(pictures.path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // Everything the graph held is released and nothing runs.
    void ExpectGraphTornDown() const {
        EXPECT_FALSE(backend.runningGraph);
        EXPECT_TRUE(backend.Called("ReleaseGraph"));
        EXPECT_TRUE(backend.Filters().empty());
    }

    StreamingBackend backend;
    TempDir pictures;
    CapturedConsole output;
};

TEST_F(DeviceCommands, EveryStillHoldsAFrameNewerThanTheOneBefore) {
    ASSERT_EQ(Snap({.count = 3, .intervalMs = 0}, std::chrono::seconds(10)), kExitSuccess)
        << output.Err();
    ASSERT_EQ(Pictures(),
              (std::vector<std::string>{"StillCap0.bmp", "StillCap1.bmp", "StillCap2.bmp"}));
    EXPECT_EQ(output.Out(), pictures / "StillCap0.bmp\n" + pictures / "StillCap1.bmp\n" +
                                pictures / "StillCap2.bmp\n");
    const std::size_t frameBytes = BgrRowBytes(backend.deviceFormat.biWidth) *
                                   static_cast<std::size_t>(backend.deviceFormat.biHeight);
    int previous = -1;
    for (const std::string& name : Pictures()) {
        const std::string file = ReadFile(pictures / name);
        ASSERT_EQ(file.size(), kBmpHeaderBytes + frameBytes) << name;
        const int frame = static_cast<unsigned char>(file[kBmpHeaderBytes]);
        EXPECT_GT(frame, previous) << name;
        previous = frame;
    }
    ExpectGraphTornDown();
}

TEST_F(DeviceCommands, ADeviceThatFallsSilentIsAnErrorAndLeavesNoFile) {
    backend.framesPerRun = 0;
    EXPECT_EQ(Snap({}, std::chrono::milliseconds(100)), kExitNoDevice);
    EXPECT_NE(output.Err().find("delivered no picture within 0.1 seconds"), std::string::npos)
        << output.Err();
    EXPECT_TRUE(Pictures().empty());
    ExpectGraphTornDown();

    // One frame, then nothing: the still is never answered.
    backend.framesPerRun = 1;
    EXPECT_EQ(Snap({}, std::chrono::milliseconds(100)), kExitNoDevice);
    EXPECT_NE(output.Err().find("delivered no still"), std::string::npos) << output.Err();
    EXPECT_TRUE(Pictures().empty());
    EXPECT_EQ(output.Out(), "");
}

TEST_F(DeviceCommands, AStillThatCannotBeWrittenEndsTheSeriesWithTheFileCode) {
    auto session = MakeSession(std::chrono::seconds(10));
    // A file where the folder should be: the folder cannot be made.
    const TempDir elsewhere;
    std::ofstream(elsewhere / "plain") << "not a folder";
    StillWriter writer(elsewhere / "plain/Picture");
    EXPECT_EQ(RunSnap(*session, writer, {.count = 3, .intervalMs = 0}, output.console()),
              kExitFile);
    session->Stop();
    EXPECT_NE(output.Err().find("cannot write " + elsewhere / "plain/Picture/StillCap0.bmp" +
                                ": Not a directory"),
              std::string::npos)
        << output.Err();
    EXPECT_EQ(output.Out(), "");
    EXPECT_TRUE(Pictures().empty());
    ExpectGraphTornDown();
}

TEST_F(DeviceCommands, AnInterruptedSeriesEndsWithTheSignalsCode) {
    auto session = MakeSession(std::chrono::seconds(10));
    StillWriter writer(pictures.path());
    // Stops the series at its first still: one a minute would take an hour.
    QTimer::singleShot(0, [&session] { session->Interrupt(SIGTERM); });
    EXPECT_EQ(RunSnap(*session, writer, {.count = 60, .intervalMs = 60000}, output.console()),
              128 + SIGTERM);
    session->Stop();
    EXPECT_NE(output.Err().find("stopped by a signal"), std::string::npos) << output.Err();
    EXPECT_LE(Pictures().size(), 1u);
    ExpectGraphTornDown();
}

// The wall clock is the test's: it gives its readings in turn and then keeps the last.
TEST_F(DeviceCommands, AStartIsKeptOnTheWallClockToTheSecond) {
    using namespace std::chrono_literals;
    using Time = std::chrono::system_clock::time_point;
    const Time second = std::chrono::system_clock::from_time_t(1'900'000'000);
    const Time now = second + 700ms;
    const struct {
        const char* name;
        Time start;
        std::vector<Time> readings;
        int exitCode;
    } cases[] = {
        {"a second ago", second - 1s, {now}, kExitUsage},
        {"earlier in the clock's second", second, {now}, kExitSuccess},
        // While it waits, the machine sleeps, or the clock is set, from before the start to
        // long after it.
        {"passed while waiting", now + 10min, {now, now, now + 1h}, kExitSuccess},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        backend.calls.clear();
        const TempDir folder;
        CapturedConsole console;
        std::size_t read = 0;
        const std::vector<Time>& readings = c.readings;
        const WallClock clock = [&read, &readings] {
            return readings[std::min(read++, readings.size() - 1)];
        };
        auto session = MakeSession(std::chrono::seconds(10));
        // A wait for the start that does not follow the wall clock ends here, not in minutes.
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&session] { session->Interrupt(SIGTERM); });
        watchdog.start(30000);
        StillWriter writer(folder.path());
        EXPECT_EQ(
            RunSnap(*session, writer, {.start = c.start, .wallClock = clock}, console.console()),
            c.exitCode)
            << console.Err();
        session->Stop();
        const bool taken = c.exitCode == kExitSuccess;
        EXPECT_EQ(console.Err(), taken ? ""
                                       : "digital-microscope-cli: The time of your setting "
                                         "must be should be a future time!\n");
        EXPECT_EQ(console.Out(), taken ? folder / "StillCap0.bmp\n" : "");
        EXPECT_EQ(std::filesystem::exists(folder / "StillCap0.bmp"), taken);
        // A start refused leaves the device alone.
        EXPECT_EQ(backend.Called("BindDevice"), taken);
    }
}

TEST_F(DeviceCommands, DevicesThatCannotBeUsedExitWithTheDeviceCode) {
    backend.devices = {FakeMediaBackend::Device("usb#vid_046d&pid_0825#1", "Webcam", "w")};
    EXPECT_EQ(Snap({}, std::chrono::seconds(1)), kExitNoDevice);
    EXPECT_NE(output.Err().find("no supported microscope"), std::string::npos) << output.Err();

    backend.devices = {FakeMediaBackend::Device("usb#vid_eb1a&pid_1860&mi_00#1", "Scope", "m")};
    backend.results["BindDevice"] = hr::kFail;
    EXPECT_EQ(Snap({}, std::chrono::seconds(1)), kExitNoDevice);
    EXPECT_NE(output.Err().find("\"Scope\" was found but could not be started"), std::string::npos)
        << output.Err();
    EXPECT_TRUE(Pictures().empty());
}

TEST_F(DeviceCommands, ListShowsEveryDeviceAndMarksTheOneDiscoveryChose) {
    backend.devices = {FakeMediaBackend::Device("usb#vid_046d&pid_0825#1", "Webcam", "w"),
                       FakeMediaBackend::Device("usb#vid_eb1a&pid_1760&mi_00#2", "Camera", "c"),
                       FakeMediaBackend::Device("usb#vid_eb1a&pid_1860&mi_00#3", "", "m")};
    {
        auto session = MakeSession(std::chrono::seconds(1));
        EXPECT_EQ(RunList(*session, output.console()), kExitSuccess);
    }
    EXPECT_EQ(output.Out(), "0\tWebcam\t-\n1\tCamera\t1\n2\t-\t0\t*\n");
    EXPECT_FALSE(backend.Called("BindDevice"));

    backend.devices.resize(1);
    CapturedConsole webcamOnly;
    auto session = MakeSession(std::chrono::seconds(1));
    EXPECT_EQ(RunList(*session, webcamOnly.console()), kExitNoDevice);
    EXPECT_EQ(webcamOnly.Out(), "0\tWebcam\t-\n");
    EXPECT_NE(webcamOnly.Err().find("none of these is a supported microscope"), std::string::npos);
}

TEST_F(DeviceCommands, ResolutionKeepsTheSizeAndReportsWhatTheDeviceDelivers) {
    const std::string capConfig = pictures / "CapConfig.dat";
    {
        auto session = MakeSession(std::chrono::seconds(10));
        session->engine().SetCapConfigPath(capConfig);
        EXPECT_EQ(RunResolution(*session, capConfig, 320, 240, output.console()), kExitSuccess)
            << output.Err();
    }
    EXPECT_EQ(output.Out(), "320x240\n");
    CaptureSettings stored;
    ASSERT_TRUE(LoadCapConfig(capConfig, stored));
    EXPECT_EQ(stored.biWidth, 320);
    EXPECT_EQ(stored.biHeight, 240);

    // A size the settings would not offer is refused before anything changes.
    CapturedConsole notOffered;
    {
        auto session = MakeSession(std::chrono::seconds(10));
        session->engine().SetCapConfigPath(capConfig);
        EXPECT_EQ(RunResolution(*session, capConfig, 1600, 1200, notOffered.console()), kExitUsage);
    }
    EXPECT_NE(notOffered.Err().find("does not offer 1600x1200"), std::string::npos)
        << notOffered.Err();

    // A size the device refuses: it goes on with the one it had, and that one stays kept.
    backend.refuseEveryFormat = true;
    CapturedConsole refused;
    {
        auto session = MakeSession(std::chrono::seconds(10));
        session->engine().SetCapConfigPath(capConfig);
        EXPECT_EQ(RunResolution(*session, capConfig, 640, 480, refused.console()), kExitUsage);
    }
    EXPECT_NE(refused.Err().find("does not take 640x480; it delivers 320x240"), std::string::npos)
        << refused.Err();
    EXPECT_EQ(refused.Out(), "");
    ASSERT_TRUE(LoadCapConfig(capConfig, stored));
    EXPECT_EQ(stored.biWidth, 320);
    EXPECT_EQ(stored.biHeight, 240);
}

TEST_F(DeviceCommands, ResolutionFailsWhenItsChoiceCannotBeKept) {
    const std::string capConfig = pictures / "no such folder/CapConfig.dat";
    auto session = MakeSession(std::chrono::seconds(10));
    session->engine().SetCapConfigPath(capConfig);
    EXPECT_EQ(RunResolution(*session, capConfig, 320, 240, output.console()), kExitFile);
    EXPECT_NE(output.Err().find("cannot write " + capConfig + ": No such file or directory"),
              std::string::npos)
        << output.Err();
}

TEST_F(DeviceCommands, ARecordingEndsByTimeSignalSilenceOrUnplugAndKeepsItsFile) {
    using std::chrono::milliseconds;
    const struct {
        const char* name;
        int seconds;
        int framesPerRun;  // after the rate is set: -1 for no end
        milliseconds frameTimeout;
        int interruptAfterMs;  // -1: no signal
        int exitCode;
        const char* error;  // "" for none
    } cases[] = {
        {"time up", 1, -1, milliseconds(10000), -1, kExitSuccess, ""},
        {"signal", 60, -1, milliseconds(10000), 300, kExitSuccess, ""},
        {"silence", 60, 50, milliseconds(300), -1, kExitNoDevice,
         "delivered no picture within 0.3 seconds"},
        // The fake lists no hardware: the device is gone once asked.
        {"unplugged", 60, 50, milliseconds(10000), -1, kExitNoDevice,
         "the microscope was unplugged during the recording"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        backend.framesPerRun = c.framesPerRun;
        const TempDir videos;
        CapturedConsole console;
        auto session = MakeSession(c.frameTimeout);
        if (c.interruptAfterMs >= 0) {
            QTimer::singleShot(c.interruptAfterMs, [&session] { session->Interrupt(SIGINT); });
        }
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(RunRecord(*session, videos.path(),
                            {.seconds = c.seconds, .framesPerSecond = 30, .compression = {}},
                            console.console()),
                  c.exitCode)
            << console.Err();
        // Neither a signal nor a silent device waits for the time limit; the time limit is
        // kept.
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took, std::chrono::seconds(5));
        if (c.seconds == 1) {
            EXPECT_GE(took, std::chrono::seconds(1));
        }
        const std::string file = videos / "VCap0000.avi";
        const std::string out = console.Out();
        EXPECT_EQ(out.rfind(file + "\nframes written: ", 0), 0u) << out;
        EXPECT_EQ(out.find("frames written: 0,"), std::string::npos) << out;
        EXPECT_EQ(ReadFile(file).rfind("RIFF", 0), 0u);
        if (*c.error == '\0') {
            EXPECT_EQ(console.Err(), "");
        } else {
            EXPECT_NE(console.Err().find(c.error), std::string::npos) << console.Err();
        }
        ExpectGraphTornDown();
    }
}

TEST_F(DeviceCommands, ARecordingThatCannotBeOpenedSaysWhyAndPrintsNothing) {
    const TempDir videos;
    const struct {
        const char* name;
        std::string folder;
        int width;
        int exitCode;
        std::string error;
    } cases[] = {
        {"no folder", videos / "missing", 640, kExitFile,
         "Open avi file failed(0x00000002:0): " + videos / "missing/VCap0000.avi" +
             ": No such file or directory"},
        {"a width MSVC cannot take", videos.path(), 322, kExitUsage,
         "Unsupport compressed format: MSVC needs a width and height that are multiples of 4: "
         "Invalid argument"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // A device that keeps its own format whatever it is given.
        backend.deviceFormat.biWidth = c.width;
        backend.refuseEveryFormat = true;
        CapturedConsole console;
        auto session = MakeSession(std::chrono::seconds(10));
        EXPECT_EQ(RunRecord(*session, c.folder, {}, console.console()), c.exitCode);
        EXPECT_EQ(console.Err(), "digital-microscope-cli: " + c.error + "\n");
        EXPECT_EQ(console.Out(), "");
        EXPECT_FALSE(std::filesystem::exists(videos / "VCap0000.avi"));
    }
}

// Picture controls with brightness -64..64 and gamma 72..500 (refusing 150), and no other.
class ScriptedControls : public DeviceControls {
public:
    std::map<int, std::pair<PropertyRange, int>> properties = {
        {kBrightness, {{-64, 64, 1, 0, kControlFlagManual}, 0}},
        {kGamma, {{72, 500, 1, 100, kControlFlagManual}, 100}}};
    std::vector<std::pair<int, int>>* sets = nullptr;

    HResult GetPropertyRange(int property, PropertyRange& range) override {
        if (properties.count(property) == 0) {
            return hr::kNotFound;
        }
        range = properties[property].first;
        return hr::kOk;
    }
    HResult GetProperty(int property, int& value) override {
        if (properties.count(property) == 0) {
            return hr::kNotFound;
        }
        value = properties[property].second;
        return hr::kOk;
    }
    HResult SetProperty(int property, int value) override {
        sets->emplace_back(property, value);
        if (property == kGamma && value == 150) {
            return hr::kInvalidArgument;
        }
        properties[property].second = value;
        return hr::kOk;
    }
    HResult GetNorm(int&) override { return hr::kNoInterface; }
    HResult SetNorm(int) override { return hr::kNoInterface; }
};

// What the simulated device cannot show: properties it lacks, and a value it refuses.
TEST_F(DeviceCommands, PropertiesLeaveOutWhatTheDeviceLacksAndReportWhatItRefuses) {
    const struct {
        std::vector<std::string_view> arguments;
        int exitCode;
        std::vector<std::pair<int, int>> sets;
        std::string out;
        std::string err;
    } cases[] = {
        {{"properties"},
         kExitSuccess,
         {},
         "name\tminimum\tmaximum\tdefault\tvalue\nbrightness\t-64\t64\t0\t0\n"
         "gamma\t72\t500\t100\t100\n",
         ""},
        {{"properties", "brightness=10", "hue=0"},
         kExitUsage,
         {},
         "",
         "the microscope has no hue\n"},
        {{"properties", "gamma=150", "brightness=5"},
         kExitUsage,
         {{kGamma, 150}, {kBrightness, 5}},
         "name\tminimum\tmaximum\tdefault\tvalue\ngamma\t72\t500\t100\t100\n"
         "brightness\t-64\t64\t0\t5\n",
         "the microscope refused gamma 150; it holds 100\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        std::vector<std::pair<int, int>> sets;
        backend.openControls = [&sets](const DeviceMoniker&) {
            auto controls = std::make_unique<ScriptedControls>();
            controls->sets = &sets;
            return controls;
        };
        CapturedConsole console;
        auto session = MakeSession(std::chrono::seconds(1));
        const ParsedCommandLine parsed = ParseCommandLine(c.arguments);
        EXPECT_EQ(RunProperties(*session, parsed.commandLine.propertySettings, console.console()),
                  c.exitCode);
        EXPECT_EQ(sets, c.sets);
        EXPECT_EQ(console.Out(), c.out);
        EXPECT_EQ(console.Err(), c.err.empty() ? "" : "digital-microscope-cli: " + c.err);
    }
}

}  // namespace
