#include <gtest/gtest.h>

#include <algorithm>

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
struct BuildFailure {
    const char* step;
    const char* trace;
};

class BuildFailureTest : public GraphTest, public ::testing::WithParamInterface<BuildFailure> {};

TEST_P(BuildFailureTest, TracesAndTearsTheGraphDown) {
    Discover(1);
    backend.results[GetParam().step] = hr::kFail;
    TraceRecorder traces;
    EXPECT_EQ(engine.BuildGraph(), 0);
    const std::string expected = std::string(GetParam().trace) == "vidcap"
                                     ? "Error 80004005: Cannot add vidcap to filtergraph\n"
                                     : GetParam().trace;
    EXPECT_TRUE(traces.Contains(expected)) << expected;
    EXPECT_TRUE(backend.Called("ReleaseGraph"));
    EXPECT_FALSE(engine.hasGraph());
    EXPECT_EQ(engine.PreparePreview(), 0);
    EXPECT_EQ(engine.RunGraph(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, BuildFailureTest,
    ::testing::Values(BuildFailure{"CreateFilterGraph", "Cannot instantiate filtergraph\n"},
                      BuildFailure{"BindDevice", "bind device fail(80004005)\n"},
                      BuildFailure{"SetFilterGraph", "Cannot give graph to builder\n"},
                      BuildFailure{"AddCaptureFilter", "vidcap"}));

TEST_F(GraphTest, AGraphBuilderThatCannotBeMadeFailsWithoutTraceOrTearDown) {
    Discover(1);
    backend.results["CreateGraphBuilder"] = hr::kFail;
    TraceRecorder traces;
    EXPECT_EQ(engine.BuildGraph(), 0);
    EXPECT_TRUE(traces.Lines().empty());
    EXPECT_FALSE(backend.Called("ReleaseGraph"));
    EXPECT_FALSE(backend.Called("CreateFilterGraph"));
}

TEST_F(GraphTest, BuildingWithoutACurrentDeviceFailsAtTheBind) {
    TraceRecorder traces;
    EXPECT_EQ(engine.BuildGraph(), 0);
    EXPECT_TRUE(traces.Contains("bind device fail(80004003)\n"));
    EXPECT_FALSE(backend.Called("BindDevice"));
}

TEST_F(GraphTest, ACaptureFilterThatAddsWithOnlyASuccessCodeStillFails) {
    Discover(1);
    backend.results["AddCaptureFilter"] = hr::kFalse;
    TraceRecorder traces;
    EXPECT_EQ(engine.BuildGraph(), 0);
    EXPECT_TRUE(traces.Contains("Error 1: Cannot add vidcap to filtergraph\n"));
}

TEST_F(GraphTest, BuildReReadsTheFriendlyNameAndFindsTheDevicesInterfaces) {
    Discover(0);
    backend.devices[0].friendlyName = "Renamed";
    // The engine keeps its own moniker copy; the fake reads the name from it.
    EXPECT_EQ(engine.BuildGraph(), 1);
    EXPECT_TRUE(backend.Called("ReadFriendlyName"));
    EXPECT_EQ(engine.routeCount(), 2);
    EXPECT_EQ(engine.stillPinExists(), 0);
    EXPECT_TRUE(backend.Called("FindCrossbar(Video)"));
}

TEST_F(GraphTest, WithoutAFormatInterfaceTheBuildGoesOnAndTheFormatIsLeftAlone) {
    Discover(1);
    backend.results["FindStreamConfig(Video)"] = hr::kNoInterface;
    backend.results["FindStreamConfig(Interleaved)"] = hr::kNoInterface;
    TraceRecorder traces;
    ASSERT_EQ(engine.BuildGraph(), 1);
    EXPECT_TRUE(traces.Contains("Error 80004002: Cannot find VCapture:IAMStreamConfig"));
    ASSERT_EQ(engine.PreparePreview(), 1);
    EXPECT_TRUE(backend.formatsSet.empty());
    EXPECT_EQ(engine.SetResolution(640, 480), 0);
    engine.SetGrabberFrameRate(15);
    EXPECT_EQ(backend.grabberTypes[0].size(), 1u);  // only the plain RGB request
}

TEST_F(GraphTest, InterleavedFormatInterfaceIsTheFallback) {
    Discover(1);
    backend.results["FindStreamConfig(Video)"] = hr::kNoInterface;
    TraceRecorder traces;
    ASSERT_EQ(engine.BuildGraph(), 1);
    EXPECT_FALSE(traces.Contains("Error 80004002: Cannot find VCapture:IAMStreamConfig"));
    ASSERT_EQ(engine.PreparePreview(), 1);
    EXPECT_FALSE(backend.formatsSet.empty());
}

TEST_F(GraphTest, RoutesAreCountedOnlyWithCaptureDialogs) {
    Discover(0);
    backend.results["FindCaptureDialogs"] = hr::kNoInterface;
    ASSERT_EQ(engine.BuildGraph(), 1);
    EXPECT_EQ(engine.routeCount(), 0);
    EXPECT_FALSE(backend.Called("CountVideoRoutes"));
}

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
    EXPECT_TRUE(backend.Called("HideVideoWindow(Frame)"));
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

TEST_F(GraphTest, CameraModeStopsAtAFailingStillChainBeforeTheLiveChain) {
    backend.stillPin = true;
    backend.results["AddGrabberToGraph(Still)"] = hr::kFail;
    Discover(1);
    ASSERT_EQ(engine.BuildGraph(), 1);
    TraceRecorder traces;
    EXPECT_EQ(engine.PreparePreview(), 0);
    EXPECT_FALSE(engine.prepared());
    EXPECT_TRUE(traces.Contains("Could not put sample grabber in graph\n"));
    EXPECT_FALSE(backend.Called("CreateGrabber(Frame)"));
    EXPECT_EQ(engine.RunGraph(), 0);
}

// A failing step of the live chain: its trace, and the chain (so the preparation) fails.
struct ChainFailure {
    const char* step;
    const char* trace;
};

class ChainFailureTest : public GraphTest, public ::testing::WithParamInterface<ChainFailure> {};

TEST_P(ChainFailureTest, FailsThePreparationInCameraMode) {
    Discover(1);
    ASSERT_EQ(engine.BuildGraph(), 1);
    backend.results[GetParam().step] = hr::kFail;
    TraceRecorder traces;
    EXPECT_EQ(engine.PreparePreview(), 0);
    EXPECT_TRUE(traces.Contains(GetParam().trace)) << GetParam().trace;
    EXPECT_FALSE(engine.prepared());
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, ChainFailureTest,
    ::testing::Values(
        ChainFailure{"CreateGrabber(Frame)",
                     "Could not create SampleGrabber (is qedit.dll registered?)\n"},
        ChainFailure{"SetGrabberMediaType(full)(Frame)", "Could not set the media type\n"},
        ChainFailure{"SetGrabberMediaType(rgb)(Frame)", "Could not set media type\n"},
        ChainFailure{"AddGrabberToGraph(Frame)", "Could not put sample grabber in graph\n"},
        ChainFailure{"RenderGrabberOutput(Frame)",
                     "Could not render sample grabber output pin(0x80004005)\n"},
        ChainFailure{"GetVideoWindow(Frame)", "This graph cann't get video windows(80004005)\n"}));

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

TEST_F(GraphTest, StillWindowFailureEndsTheStillChainWithoutEvents) {
    backend.stillPin = true;
    backend.results["GetVideoWindow(Still)"] = hr::kFail;
    Discover(0);
    ASSERT_EQ(engine.BuildGraph(), 1);
    TraceRecorder traces;
    EXPECT_EQ(engine.PreparePreview(), 1);
    EXPECT_TRUE(traces.Contains("This graph cann't get video windows(80004005) for still\n"));
    EXPECT_FALSE(backend.Called("SetUpGraphEvents"));
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
    engine.StopGraph();
    backend.results["QueryMediaControl"] = hr::kNoInterface;
    TraceRecorder traces;
    EXPECT_EQ(engine.RunGraph(), 0);
    EXPECT_TRUE(traces.Contains("Error(80004002): Cannot query media control\n"));
    EXPECT_FALSE(engine.running());
    EXPECT_EQ(engine.StopGraph(), 0);
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
    Start(1);
    EXPECT_EQ(engine.DrainGraphEvent(), hr::kOk);
    EXPECT_FALSE(backend.Called("GetGraphEvent"));

    engine.StopGraph();
    engine.TearDownGraph();
    backend.stillPin = true;
    backend.results["FreeEventParams"] = hr::kFalse;
    Start(1);
    backend.events = {0x1F};
    EXPECT_EQ(engine.DrainGraphEvent(), hr::kFalse);
    EXPECT_TRUE(backend.events.empty());
}

TEST_F(GraphTest, TearDownReleasesEverythingAndFreesTheFrameCopy) {
    Start(1);
    const std::uint8_t frame[12] = {};
    ASSERT_TRUE(engine.latestFrame().CopyFrame(0.0, frame, sizeof frame, 12, 1));
    engine.StopGraph();
    engine.TearDownGraph();
    EXPECT_FALSE(engine.hasGraph());
    EXPECT_FALSE(engine.prepared());
    EXPECT_EQ(engine.latestFrame().capacity, 0u);
    EXPECT_EQ(engine.latestFrame().pixels, nullptr);
    // A new build starts from the graph builder again.
    const int builders = backend.CallCount("CreateGraphBuilder");
    EXPECT_EQ(engine.BuildGraph(), 1);
    EXPECT_EQ(backend.CallCount("CreateGraphBuilder"), builders + 1);
}

}  // namespace
