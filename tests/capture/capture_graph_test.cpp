#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/debug_trace.h"
#include "capture/capture_engine.h"
#include "fake_media_backend.h"
#include "support/temp_dir.h"

namespace {

using testsupport::FakeMediaBackend;

constexpr const char* kRow0Path = "usb#vid_eb1a&pid_1860&mi_00#/devices/usb1/1-2/video0";
constexpr const char* kRow1Path = "usb#vid_eb1a&pid_1760&mi_00#/devices/usb1/1-3/video2";

class GraphTest : public ::testing::Test {
protected:
    GraphTest() : engine(backend) {
        engine.SetCapConfigPath(dir / "CapConfig.dat");
        engine.CreateDeviceEnumerator();
    }

    // Discovers one device of the given identity row and builds the graph on it.
    void Discover(int row) {
        backend.devices = {
            FakeMediaBackend::Device(row == 0 ? kRow0Path : kRow1Path, "Device", "d")};
        ASSERT_EQ(engine.DiscoverDevices(), 1);
    }

    void Start(int row) {
        Discover(row);
        ASSERT_EQ(engine.BuildGraph(), 1);
        ASSERT_EQ(engine.PreparePreview(), 1);
        ASSERT_EQ(engine.RunGraph(), 1);
    }

    testsupport::TempDir dir;
    FakeMediaBackend backend;
    CaptureEngine engine;
};

// Each step of the build that ends it: the trace it leaves and that everything is released.
// Adding the capture filter must give kOk; a mere success code ends the build too.
struct BuildFailure {
    const char* step;
    HResult result;
    const char* trace;
};

class BuildFailureTest : public GraphTest, public ::testing::WithParamInterface<BuildFailure> {};

TEST_P(BuildFailureTest, TracesAndTearsTheGraphDown) {
    Discover(1);
    backend.results[GetParam().step] = GetParam().result;
    TraceRecorder traces;
    EXPECT_EQ(engine.BuildGraph(), 0);
    EXPECT_TRUE(traces.Contains(GetParam().trace)) << GetParam().trace;
    EXPECT_FALSE(traces.Contains("CCrossbar Constructor\n"));
    EXPECT_TRUE(backend.Called("ReleaseGraph"));
    EXPECT_FALSE(engine.hasGraph());
    EXPECT_EQ(engine.PreparePreview(), 0);
    EXPECT_EQ(engine.RunGraph(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, BuildFailureTest,
    ::testing::Values(BuildFailure{"CreateFilterGraph", hr::kFail,
                                   "Cannot instantiate filtergraph\n"},
                      BuildFailure{"BindDevice", hr::kFail, "bind device fail(80004005)\n"},
                      BuildFailure{"AddCaptureFilter", hr::kFail,
                                   "Error 80004005: Cannot add vidcap to filtergraph\n"},
                      BuildFailure{"AddCaptureFilter", hr::kFalse,
                                   "Error 1: Cannot add vidcap to filtergraph\n"}));

TEST_F(GraphTest, BuildingWithoutACurrentDeviceFailsAtTheBind) {
    TraceRecorder traces;
    EXPECT_EQ(engine.BuildGraph(), 0);
    EXPECT_TRUE(traces.Contains("bind device fail(80004003)\n"));
    EXPECT_FALSE(backend.Called("BindDevice"));
}

TEST_F(GraphTest, BuildReReadsTheFriendlyNameAndCountsRoutesAndStillPin) {
    // Listed without a readable name; the build asks for it again.
    DeviceMoniker nameless = FakeMediaBackend::Device(kRow0Path, "Microscope", "d");
    nameless.nameReadable = false;
    backend.devices = {nameless};
    ASSERT_EQ(engine.DiscoverDevices(), 1);
    ASSERT_EQ(engine.CurrentEntry()->friendlyName, "");
    TraceRecorder traces;
    EXPECT_EQ(engine.BuildGraph(), 1);
    EXPECT_EQ(engine.CurrentEntry()->friendlyName, "Microscope");
    EXPECT_TRUE(traces.Contains("CCrossbar Constructor\n"));
    EXPECT_EQ(engine.routeCount(), 2);
    EXPECT_EQ(engine.stillPinExists(), 0);

    // A name that cannot be read leaves the entry's, and routes that cannot be counted are
    // none; neither stops the build.
    engine.StopGraph();
    engine.TearDownGraph();
    backend.unreadableNames = {"d"};
    backend.results["CountVideoRoutes"] = hr::kFail;
    backend.stillPin = true;
    EXPECT_EQ(engine.BuildGraph(), 1);
    EXPECT_EQ(engine.CurrentEntry()->friendlyName, "Microscope");
    EXPECT_EQ(engine.routeCount(), 0);
    EXPECT_EQ(engine.stillPinExists(), 1);
}

// A bound device whose format cannot be read: the build goes on, the format is left alone,
// the live grabber takes the pin's format as it comes, and a new resolution or recording rate
// has nothing to start from.
TEST_F(GraphTest, WithoutAReadableFormatTheBuildGoesOnAndTheFormatIsLeftAlone) {
    Discover(1);
    EXPECT_EQ(engine.SetResolution(640, 480), hr::kOk);  // nothing bound: nothing to do
    EXPECT_FALSE(backend.Called("Stop"));
    backend.results["GetFormat"] = hr::kNoInterface;
    TraceRecorder traces;
    ASSERT_EQ(engine.BuildGraph(), 1);
    ASSERT_EQ(engine.PreparePreview(), 1);
    ASSERT_EQ(engine.RunGraph(), 1);
    EXPECT_TRUE(backend.formatsSet.empty());
    EXPECT_EQ(backend.grabberTypes[0].size(), 1u);  // only the plain RGB request
    EXPECT_FALSE(traces.Contains("Sample Format(640,480)\n"));

    EXPECT_EQ(engine.SetResolution(640, 480), hr::kNoInterface);
    EXPECT_TRUE(engine.running());
    EXPECT_TRUE(backend.formatsSet.empty());
    EXPECT_FALSE(testsupport::Exists(dir / "CapConfig.dat"));
    const std::size_t types = backend.grabberTypes[0].size();
    engine.SetGrabberFrameRate(15);
    EXPECT_EQ(backend.grabberTypes[0].size(), types);
}

// The whole trace of a start and a tear-down, in order: the order of the steps is what
// the trace tells, so a step moved or lost shows here.
struct TraceSequence {
    const char* name;
    int row;
    bool stillPin;
    std::vector<std::string> lines;
};

class TraceSequenceTest : public GraphTest, public ::testing::WithParamInterface<TraceSequence> {};

TEST_P(TraceSequenceTest, StartAndTearDownTraceEveryStepInOrder) {
    backend.stillPin = GetParam().stillPin;
    TraceRecorder traces;
    Start(GetParam().row);
    engine.StopGraph();
    engine.TearDownDownstream();
    engine.TearDownGraph();
    EXPECT_EQ(traces.Lines(), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, TraceSequenceTest,
    ::testing::Values(
        TraceSequence{
            "LibraryWithStillPin",
            0,
            true,
            {"Find video capture device : Device\n", "CCrossbar Constructor\n",
             "Open config file failed(0x00000002)\n", "Sample Format(720,480)\n",
             "Simple Connect(00000100:00000200)\n", "Could not connect sample pin #0 to grabber\n",
             "Still Connect(00000210:00000101)\n", "GrabOut(00000211:00000001)\n",
             "Start capture1 (00000000)\n", "NukeDownstream(00000200:00000100)\n",
             "NukeDownstream(00000300:00000201)\n", "NukeDownstream(00000210:00000101)\n",
             "NukeDownstream(00000310:00000211)\n"}},
        TraceSequence{
            "CameraWithStillPin",
            1,
            true,
            {"Find video capture device : Device\n", "CCrossbar Constructor\n",
             "Open config file failed(0x00000002)\n", "Still Connect(00000210:00000100)\n",
             "GrabOut(00000211:00000001)\n", "Start capture1 (00000000)\n",
             "Sample Format(1280,1024)\n", "Could not connect sample pin #0 to grabber\n",
             "Simple Connect(00000101:00000200)\n", "NukeDownstream(00000210:00000100)\n",
             "NukeDownstream(00000310:00000211)\n", "NukeDownstream(00000200:00000101)\n",
             "NukeDownstream(00000300:00000201)\n"}},
        TraceSequence{"CameraWithoutStillPin",
                      1,
                      false,
                      {"Find video capture device : Device\n", "CCrossbar Constructor\n",
                       "Open config file failed(0x00000002)\n", "Sample Format(1280,1024)\n",
                       "Simple Connect(00000100:00000200)\n", "NukeDownstream(00000200:00000100)\n",
                       "NukeDownstream(00000300:00000201)\n"}}),
    [](const ::testing::TestParamInfo<TraceSequence>& sequence) { return sequence.param.name; });

TEST_F(GraphTest, LibraryModeWithoutStillPinBuildsOnlyTheLiveChain) {
    TraceRecorder traces;
    Start(0);
    EXPECT_EQ(backend.grabberNames[0], "SampleGrabber");
    EXPECT_EQ(backend.grabberNames[1], "");
    EXPECT_FALSE(backend.Called("SetUpGraphEvents"));
    EXPECT_EQ(backend.callback[0], &engine.frameCallback());
    EXPECT_FALSE(backend.oneShot[0]);
    EXPECT_TRUE(traces.Contains("Sample Format(720,480)\n"));
    EXPECT_TRUE(traces.Contains("Simple Connect(00000100:00000200)\n"));
    EXPECT_TRUE(backend.runningGraph);
    // The grabber gets the device's full type first, then plain RGB.
    ASSERT_EQ(backend.grabberTypes[0].size(), 2u);
    EXPECT_TRUE(backend.grabberTypes[0][0].has_value());
    EXPECT_FALSE(backend.grabberTypes[0][1].has_value());
    EXPECT_EQ(engine.frameCallback().width(), 720);
    EXPECT_EQ(engine.frameCallback().height(), 480);
}

TEST_F(GraphTest, LibraryModeWithStillPinFeedsTheLiveCallbackFromTheFirstPin) {
    backend.stillPin = true;
    TraceRecorder traces;
    Start(0);
    EXPECT_EQ(backend.connectedPin[0], 0);
    EXPECT_EQ(backend.connectedPin[1], 1);
    EXPECT_EQ(backend.callback[0], &engine.frameCallback());
    EXPECT_FALSE(backend.oneShot[0]);
    EXPECT_NE(backend.callback[1], nullptr);
    EXPECT_NE(backend.callback[1], &engine.frameCallback());
    EXPECT_TRUE(backend.oneShot[1]);
    EXPECT_TRUE(traces.Contains("Still Connect(00000210:00000101)\n"));
    EXPECT_TRUE(traces.Contains("Could not connect sample pin #0 to grabber\n"));
    EXPECT_TRUE(traces.Contains("GrabOut(00000211:00000001)\n"));
    EXPECT_TRUE(traces.Contains("Start capture1 (00000000)\n"));
    EXPECT_EQ(backend.eventTarget, nullptr);  // no window was given
    EXPECT_TRUE(backend.Called("SetUpGraphEvents"));
}

TEST_F(GraphTest, CameraModeWithStillPinBuildsTheStillChainFirstOnTheLivePin) {
    backend.stillPin = true;
    Start(1);
    ASSERT_EQ(backend.configureOrder.size(), 2u);
    EXPECT_EQ(backend.configureOrder[0], GrabberSlot::Still);
    // Whichever chain took the first pin streams every frame into the live callback.
    EXPECT_EQ(backend.connectedPin[1], 0);
    EXPECT_EQ(backend.callback[1], &engine.frameCallback());
    EXPECT_FALSE(backend.oneShot[1]);
    EXPECT_EQ(backend.connectedPin[0], 1);
    EXPECT_TRUE(backend.oneShot[0]);
    EXPECT_NE(backend.callback[0], &engine.frameCallback());
}

TEST_F(GraphTest, CameraModeWithoutStillPinStreamsIntoTheLiveCallback) {
    Start(1);
    EXPECT_EQ(backend.callback[0], &engine.frameCallback());
    EXPECT_FALSE(backend.oneShot[0]);
    EXPECT_EQ(engine.frameCallback().width(), 1280);
}

TEST_F(GraphTest, LibraryModeIgnoresAFailingStillChain) {
    backend.stillPin = true;
    backend.results["RenderGrabberOutput(Still)"] = hr::kFail;
    Discover(0);
    ASSERT_EQ(engine.BuildGraph(), 1);
    TraceRecorder traces;
    EXPECT_EQ(engine.PreparePreview(), 1);
    EXPECT_TRUE(engine.prepared());
    EXPECT_TRUE(traces.Contains("Could not render still grabber output pin(0x80004005)\n"));
    EXPECT_TRUE(backend.Called("ReleaseGrabber(Still)"));
}

// A failing step of either chain in camera mode: its trace, the chain given back (unless it
// was never made), and the preparation fails; a failing still chain, built first, keeps the
// live chain from being built. Once the step works again the preview prepares.
struct ChainFailure {
    const char* step;
    const char* trace;
    bool stillPin;
};

class ChainFailureTest : public GraphTest, public ::testing::WithParamInterface<ChainFailure> {};

TEST_P(ChainFailureTest, FailsThePreparationInCameraMode) {
    const ChainFailure& failure = GetParam();
    const GrabberSlot slot = std::string(failure.step).find("(Still)") != std::string::npos
                                 ? GrabberSlot::Still
                                 : GrabberSlot::Frame;
    const std::string slotName = slot == GrabberSlot::Frame ? "(Frame)" : "(Still)";
    backend.stillPin = failure.stillPin;
    Discover(1);
    ASSERT_EQ(engine.BuildGraph(), 1);
    backend.results[failure.step] = hr::kFail;
    TraceRecorder traces;
    EXPECT_EQ(engine.PreparePreview(), 0);
    EXPECT_TRUE(traces.Contains(failure.trace)) << failure.trace;
    EXPECT_FALSE(engine.prepared());
    EXPECT_EQ(engine.RunGraph(), 0);
    const bool made = std::string(failure.step).rfind("CreateGrabber", 0) != 0;
    EXPECT_EQ(backend.Called("ReleaseGrabber" + slotName), made);
    if (slot == GrabberSlot::Still) {
        EXPECT_FALSE(backend.Called("CreateGrabber(Frame)"));
    }

    backend.results.erase(failure.step);
    engine.TearDownDownstream();
    EXPECT_EQ(engine.PreparePreview(), 1);
    EXPECT_EQ(engine.RunGraph(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, ChainFailureTest,
    ::testing::Values(
        ChainFailure{"CreateGrabber(Frame)",
                     "Could not create SampleGrabber (is qedit.dll registered?)\n", false},
        ChainFailure{"SetGrabberMediaType(full)(Frame)", "Could not set the media type\n", false},
        ChainFailure{"SetGrabberMediaType(rgb)(Frame)", "Could not set media type\n", false},
        ChainFailure{"AddGrabberToGraph(Frame)", "Could not put sample grabber in graph\n", false},
        ChainFailure{"RenderGrabberOutput(Frame)",
                     "Could not render sample grabber output pin(0x80004005)\n", false},
        ChainFailure{"CreateGrabber(Still)",
                     "Could not create SampleGrabber (is qedit.dll registered?)\n", true},
        ChainFailure{"SetGrabberMediaType(rgb)(Still)", "Could not set media type\n", true},
        ChainFailure{"AddGrabberToGraph(Still)", "Could not put sample grabber in graph\n", true},
        ChainFailure{"RenderGrabberOutput(Still)",
                     "Could not render still grabber output pin(0x80004005)\n", true}));

TEST_F(GraphTest, APinThatRefusesIsPassedOverAndFourRefusalsFailTheChain) {
    backend.outputPins = 3;
    backend.refusingPins = {0};
    Discover(1);
    ASSERT_EQ(engine.BuildGraph(), 1);
    {
        TraceRecorder traces;
        ASSERT_EQ(engine.PreparePreview(), 1);
        EXPECT_TRUE(traces.Contains("Could not connect sample pin #0 to grabber\n"));
        EXPECT_TRUE(traces.Contains("Simple Connect(00000101:00000200)\n"));
        EXPECT_EQ(backend.connectedPin[0], 1);
    }
    engine.StopGraph();
    engine.TearDownDownstream();
    backend.refusingPins = {0, 1, 2};
    TraceRecorder traces;
    EXPECT_EQ(engine.PreparePreview(), 0);
    for (int pin = 0; pin < 4; ++pin) {
        EXPECT_TRUE(traces.Contains("Could not connect sample pin #" + std::to_string(pin) +
                                    " to grabber\n"));
    }
    EXPECT_TRUE(traces.Contains("Could not connect sample pin #4 to grabber.\n"));
    EXPECT_TRUE(backend.Called("ReleaseGrabber(Frame)"));
}

TEST_F(GraphTest, AStillChainThatConnectsNowhereSaysSo) {
    backend.stillPin = true;
    backend.refusingPins = {1};
    Discover(0);
    ASSERT_EQ(engine.BuildGraph(), 1);
    TraceRecorder traces;
    EXPECT_EQ(engine.PreparePreview(), 1);
    EXPECT_TRUE(traces.Contains("Could not connect still pin #4 to grabber.\n"));
    EXPECT_FALSE(backend.Called("SetUpGraphEvents"));
}

TEST_F(GraphTest, AStillChainWhoseEventsCannotBeSetUpStandsButDrainsNothing) {
    backend.stillPin = true;
    backend.results["SetUpGraphEvents"] = hr::kFail;
    Discover(0);
    ASSERT_EQ(engine.BuildGraph(), 1);
    TraceRecorder traces;
    EXPECT_EQ(engine.PreparePreview(), 1);
    EXPECT_TRUE(traces.Contains("Start capture1 (00000000)\n"));
    EXPECT_TRUE(backend.oneShot[1]);
    backend.events = {0x1F};
    EXPECT_FALSE(engine.DrainGraphEvent());
    EXPECT_FALSE(backend.Called("GetGraphEvent"));
}

TEST_F(GraphTest, RunAndStopKeepTheirStatesAndTraces) {
    Discover(1);
    ASSERT_EQ(engine.BuildGraph(), 1);
    EXPECT_EQ(engine.RunGraph(), 0);  // not prepared
    ASSERT_EQ(engine.PreparePreview(), 1);
    ASSERT_EQ(engine.PreparePreview(), 1);  // already prepared
    ASSERT_EQ(engine.RunGraph(), 1);
    EXPECT_EQ(engine.PreparePreview(), 1);
    const int runs = backend.CallCount("Run");
    EXPECT_EQ(engine.RunGraph(), 1);
    EXPECT_EQ(backend.CallCount("Run"), runs);
    EXPECT_EQ(engine.StopGraph(), 1);
    EXPECT_FALSE(engine.running());

    backend.results["Stop"] = hr::kFail;
    {
        TraceRecorder traces;
        EXPECT_EQ(engine.StopGraph(), 0);
        EXPECT_TRUE(traces.Contains("Error(80004005): Cannot stop preview graph\n"));
        EXPECT_FALSE(engine.running());
    }
    backend.results.erase("Stop");

    backend.results["Run"] = hr::kFail;
    {
        TraceRecorder traces;
        const int stops = backend.CallCount("Stop");
        EXPECT_EQ(engine.RunGraph(), 0);
        EXPECT_TRUE(traces.Contains("Error(80004005): Cannot run preview graph\n"));
        EXPECT_EQ(backend.CallCount("Stop"), stops + 1);
        EXPECT_FALSE(engine.running());
    }
    backend.results.erase("Run");
    EXPECT_EQ(engine.RunGraph(), 1);

    // Without a graph there is nothing to stop, and nothing to run.
    engine.StopGraph();
    engine.TearDownGraph();
    const int stops = backend.CallCount("Stop");
    EXPECT_EQ(engine.StopGraph(), 1);
    EXPECT_EQ(backend.CallCount("Stop"), stops);
    EXPECT_EQ(engine.RunGraph(), 0);
}

TEST_F(GraphTest, PreparingWhileRunningIsRefused) {
    Start(1);
    engine.TearDownDownstream();  // running, but no longer prepared
    EXPECT_EQ(engine.PreparePreview(), 0);
}

TEST_F(GraphTest, NukeDownstreamLeavesOnlyTheCaptureFilter) {
    backend.stillPin = true;
    Start(0);
    ASSERT_EQ(backend.Filters().size(), 5u);
    engine.StopGraph();
    TraceRecorder traces;
    engine.TearDownDownstream();
    EXPECT_EQ(backend.Filters(), std::set<FilterId>{FakeMediaBackend::kCaptureFilter});
    EXPECT_FALSE(engine.prepared());
    EXPECT_TRUE(traces.Contains("NukeDownstream(00000200:00000100)\n"));
    EXPECT_TRUE(traces.Contains("NukeDownstream(00000300:00000201)\n"));
    EXPECT_TRUE(traces.Contains("NukeDownstream(00000210:00000101)\n"));
    EXPECT_TRUE(traces.Contains("NukeDownstream(00000310:00000211)\n"));
    // The chains can be built again on the same capture filter.
    EXPECT_EQ(engine.PreparePreview(), 1);
    EXPECT_EQ(backend.callback[0], &engine.frameCallback());
    EXPECT_EQ(engine.RunGraph(), 1);
}

TEST_F(GraphTest, RestartRebuildsAndRunsAgain) {
    backend.stillPin = true;
    Start(0);
    engine.StopGraph();
    engine.TearDownDownstream();
    const int runs = backend.CallCount("Run");
    EXPECT_EQ(engine.RestartGraph(), 0);
    EXPECT_TRUE(engine.running());
    EXPECT_TRUE(engine.prepared());
    EXPECT_EQ(backend.CallCount("Run"), runs + 1);
}

TEST_F(GraphTest, GraphEventsAreDrainedOnlyWhenSetUp) {
    // Without a still chain no events were set up: none is fetched.
    Start(1);
    backend.events = {0x1F};
    EXPECT_FALSE(engine.DrainGraphEvent());
    EXPECT_FALSE(backend.Called("GetGraphEvent"));

    engine.StopGraph();
    engine.TearDownGraph();
    backend.stillPin = true;
    Start(1);
    EXPECT_EQ(backend.eventTarget, nullptr);  // no window was given
    backend.events = {0x1F, 0x01};
    EXPECT_TRUE(engine.DrainGraphEvent());
    EXPECT_TRUE(engine.DrainGraphEvent());
    EXPECT_TRUE(backend.events.empty());
    EXPECT_FALSE(engine.DrainGraphEvent());

    // Tearing the chains down ends the events until the still chain is built again.
    engine.StopGraph();
    engine.TearDownDownstream();
    backend.events = {0x1F};
    EXPECT_FALSE(engine.DrainGraphEvent());
    ASSERT_EQ(engine.PreparePreview(), 1);
    EXPECT_TRUE(engine.DrainGraphEvent());
}

TEST_F(GraphTest, TearDownReleasesEverythingAndFreesTheFrameCopy) {
    Start(1);
    const std::uint8_t frame[12] = {};
    auto kept = std::make_shared<int>(0);
    ASSERT_TRUE(engine.latestFrame().KeepFrame(0.0, frame, sizeof frame, 12, 1, kept));
    engine.StopGraph();
    engine.TearDownGraph();
    EXPECT_FALSE(engine.hasGraph());
    EXPECT_FALSE(engine.prepared());
    EXPECT_EQ(engine.latestFrame().frameBytes(), 0u);
    EXPECT_EQ(kept.use_count(), 1);
    // A new build makes the graph again.
    const int graphs = backend.CallCount("CreateFilterGraph");
    EXPECT_EQ(engine.BuildGraph(), 1);
    EXPECT_EQ(backend.CallCount("CreateFilterGraph"), graphs + 1);
}

}  // namespace
