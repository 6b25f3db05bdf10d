// The GStreamer backend's own contract: formats, pins, graph walking, events, controls.
#include <gst/app/gstappsrc.h>
#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <atomic>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/gst/grabber_chain.h"
#include "capture/gst/gst_media_backend.h"
#include "capture/gst/simulated_device_registry.h"
#include "gst_test_rig.h"
#include "support/wait.h"

namespace gsttest {
namespace {

using gstcapture::GstMediaBackend;

// A backend with the simulated device bound and added, as BuildGraph leaves it.
struct BoundBackend {
    explicit BoundBackend(sim::Options options) : microscope(options) {
        std::vector<DeviceMoniker> devices;
        if (backend.CreateDeviceEnumerator() == hr::kOk &&
            backend.EnumerateVideoInputDevices(devices) == hr::kOk && devices.size() == 1) {
            moniker = devices.front();
            bound = backend.CreateFilterGraph() == hr::kOk &&
                    backend.BindDevice(moniker) == hr::kOk && backend.AddCaptureFilter() == hr::kOk;
        }
    }

    // Creates the slot's grabber, adds it and connects it to `pin`.
    HResult Connect(GrabberSlot slot, int pin, bool& pinsExist) {
        PinId output = 0;
        PinId input = 0;
        if (Failed(backend.CreateGrabber(slot)) ||
            Failed(backend.AddGrabberToGraph(
                slot, slot == GrabberSlot::Frame ? "SampleGrabber" : "StillGrabber"))) {
            return hr::kFail;
        }
        return backend.ConnectOutputPin(pin, slot, pinsExist, output, input);
    }

    sim::SimulatedMicroscope microscope;
    gstcapture::SimulatedDeviceRegistry registry{microscope};
    GstMediaBackend backend{registry, &microscope};
    DeviceMoniker moniker;
    bool bound = false;
};

TEST(GstBackendDevices, ListsTheSimulatedDeviceOnlyWhilePlugged) {
    BoundBackend rig(sim::Options{sim::Kind::Camera, false});
    ASSERT_TRUE(rig.bound);
    EXPECT_EQ(rig.moniker.nodePath, gstcapture::kSimulatedNodePath);
    EXPECT_EQ(DeviceDiscovery::MatchIdentity(rig.moniker.devicePath), 1);
    std::vector<std::vector<std::string>> ids;
    ASSERT_TRUE(rig.backend.ListPresentHardwareIds(ids));
    ASSERT_EQ(ids.size(), 1u);

    rig.microscope.Unplug();
    std::vector<DeviceMoniker> devices;
    EXPECT_EQ(rig.backend.EnumerateVideoInputDevices(devices), hr::kFalse);
    EXPECT_TRUE(rig.backend.ListPresentHardwareIds(ids));
    EXPECT_TRUE(ids.empty());

    // After a replug the old moniker names a device that is gone.
    rig.microscope.Plug();
    EXPECT_TRUE(Failed(rig.backend.BindDevice(rig.moniker)));
    ASSERT_EQ(rig.backend.EnumerateVideoInputDevices(devices), hr::kOk);
    EXPECT_FALSE(rig.backend.IsSameDevice(devices.front(), rig.moniker));
    EXPECT_EQ(rig.backend.BindDevice(devices.front()), hr::kOk);
}

TEST(GstBackendDevices, NodeThatCannotBeOpenedFailsToBind) {
    BoundBackend rig(sim::Options{sim::Kind::Camera, false});
    ASSERT_TRUE(rig.bound);
    DeviceMoniker missing;
    missing.nodePath = "/nonexistent/video99";
    missing.identity = "missing";
    EXPECT_TRUE(Failed(rig.backend.BindDevice(missing)));
    // The device bound before is let go.
    CaptureSettings format;
    bool isVideoInfo = false;
    EXPECT_TRUE(Failed(rig.backend.GetFormat(format, isVideoInfo)));
    EXPECT_TRUE(Failed(rig.backend.AddCaptureFilter()));
}

TEST(GstBackendFormat, ReportsYuy2AndRefusesSizesTheDeviceLacks) {
    BoundBackend rig(sim::Options{sim::Kind::Microscope, false});
    ASSERT_TRUE(rig.bound);
    CaptureSettings format;
    bool isVideoInfo = false;
    ASSERT_EQ(rig.backend.GetFormat(format, isVideoInfo), hr::kOk);
    EXPECT_TRUE(isVideoInfo);
    EXPECT_EQ(format.biBitCount, 16);
    EXPECT_EQ(format.biCompression, kFourccYuy2);
    EXPECT_EQ(format.AvgTimePerFrame, 333333);
    EXPECT_EQ(format.biSizeImage, static_cast<std::uint32_t>(format.biWidth * format.biHeight * 2));

    CaptureSettings wanted = format;
    wanted.biWidth = 1280;
    wanted.biHeight = 1024;
    EXPECT_TRUE(Failed(rig.backend.SetFormat(wanted)));
    wanted.biWidth = 720;
    wanted.biHeight = 576;
    wanted.biCompression = MakeFourcc('M', 'J', 'P', 'G');
    EXPECT_TRUE(Failed(rig.backend.SetFormat(wanted)));

    // A record without a frame duration streams at 30 frames per second.
    wanted.biCompression = kFourccYuy2;
    wanted.AvgTimePerFrame = 0;
    ASSERT_EQ(rig.backend.SetFormat(wanted), hr::kOk);
    ASSERT_EQ(rig.backend.GetFormat(format, isVideoInfo), hr::kOk);
    EXPECT_EQ(format.biWidth, 720);
    EXPECT_EQ(format.biHeight, 576);
    EXPECT_EQ(format.AvgTimePerFrame, 333333);
    EXPECT_EQ(format.biSizeImage, 720u * 576u * 2u);
}

TEST(GstBackendPins, EachPinConnectsOnceAndOnlyExistingPinsCount) {
    BoundBackend rig(sim::Options{sim::Kind::Camera, false});
    ASSERT_TRUE(rig.bound);
    EXPECT_TRUE(Failed(rig.backend.FindStillPin()));
    bool pinsExist = true;
    EXPECT_EQ(rig.Connect(GrabberSlot::Frame, 0, pinsExist), hr::kOk);
    EXPECT_TRUE(pinsExist);
    // Pin 0 is taken and there is no pin 1.
    EXPECT_EQ(rig.Connect(GrabberSlot::Still, 0, pinsExist), hr::kAlreadyConnected);
    EXPECT_TRUE(pinsExist);
    PinId output = 0;
    PinId input = 0;
    rig.backend.ConnectOutputPin(1, GrabberSlot::Still, pinsExist, output, input);
    EXPECT_FALSE(pinsExist);
}

TEST(GstBackendPins, DownstreamWalkDisconnectsAndRemovesEveryFilter) {
    BoundBackend rig(sim::Options{sim::Kind::Camera, true});
    ASSERT_TRUE(rig.bound);
    ASSERT_EQ(rig.backend.FindStillPin(), hr::kOk);
    bool pinsExist = false;
    ASSERT_EQ(rig.Connect(GrabberSlot::Still, 0, pinsExist), hr::kOk);
    ASSERT_EQ(rig.Connect(GrabberSlot::Frame, 1, pinsExist), hr::kOk);
    PinId rendered = 0;
    ASSERT_EQ(rig.backend.RenderGrabberOutput(GrabberSlot::Still, rendered), hr::kOk);
    ASSERT_EQ(rig.backend.RenderGrabberOutput(GrabberSlot::Frame, rendered), hr::kOk);
    EXPECT_EQ(rig.backend.DownstreamConnections(gstcapture::kFrameGrabberFilterId).size(), 1u);

    const std::vector<PinConnection> fromCapture =
        rig.backend.DownstreamConnections(rig.backend.CaptureFilter());
    ASSERT_EQ(fromCapture.size(), 2u);
    EXPECT_NE(fromCapture[0].downstreamFilter, fromCapture[1].downstreamFilter);

    // The engine's walk: depth first, both pin ends, then the filter.
    std::function<void(FilterId)> nuke = [&](FilterId filter) {
        for (const PinConnection& connection : rig.backend.DownstreamConnections(filter)) {
            EXPECT_NE(connection.downstreamFilter, filter);
            nuke(connection.downstreamFilter);
            EXPECT_EQ(rig.backend.Disconnect(connection.downstreamPin), hr::kOk);
            EXPECT_EQ(rig.backend.Disconnect(connection.pin), hr::kFalse);  // already undone
            EXPECT_EQ(rig.backend.RemoveFilter(connection.downstreamFilter), hr::kOk);
        }
    };
    nuke(rig.backend.CaptureFilter());
    EXPECT_TRUE(rig.backend.DownstreamConnections(rig.backend.CaptureFilter()).empty());
    EXPECT_TRUE(rig.backend.DownstreamConnections(gstcapture::kFrameGrabberFilterId).empty());

    // The pins are free again for a rebuilt chain, and the graph still runs.
    ASSERT_EQ(rig.Connect(GrabberSlot::Frame, 0, pinsExist), hr::kOk);
    ASSERT_EQ(rig.backend.RenderGrabberOutput(GrabberSlot::Frame, rendered), hr::kOk);
    EXPECT_EQ(rig.backend.Run(), hr::kOk);
    EXPECT_EQ(rig.backend.Stop(), hr::kOk);
    EXPECT_EQ(rig.backend.Disconnect(0xFFu), hr::kInvalidArgument);
}

TEST(GstBackendControls, PropertiesNormsAndInputsFollowTheDevice) {
    BoundBackend microscope(sim::Options{sim::Kind::Microscope, false});
    ASSERT_TRUE(microscope.bound);
    PropertyRange range;
    ASSERT_EQ(microscope.backend.GetPropertyRange(1, range), hr::kOk);
    PropertyRange expected;
    ASSERT_TRUE(microscope.microscope.GetPropertyRange(1, expected));
    EXPECT_EQ(range.minimum, expected.minimum);
    EXPECT_EQ(range.maximum, expected.maximum);
    EXPECT_EQ(range.defaultValue, expected.defaultValue);
    EXPECT_EQ(microscope.backend.SetProperty(1, expected.minimum, range.flags), hr::kOk);
    int value = 0;
    int flags = 0;
    ASSERT_EQ(microscope.backend.GetProperty(1, value, flags), hr::kOk);
    EXPECT_EQ(value, expected.minimum);
    EXPECT_TRUE(Failed(microscope.backend.GetPropertyRange(6, range)));

    ASSERT_EQ(microscope.backend.SetNorm(kNormPalB), hr::kOk);
    int norm = 0;
    ASSERT_EQ(microscope.backend.GetNorm(norm), hr::kOk);
    EXPECT_EQ(norm, kNormPalB);
    int routes = 0;
    ASSERT_EQ(microscope.backend.CountVideoRoutes(routes), hr::kOk);
    EXPECT_EQ(routes, 2);

    BoundBackend camera(sim::Options{sim::Kind::Camera, false});
    ASSERT_TRUE(camera.bound);
    EXPECT_TRUE(Failed(camera.backend.GetNorm(norm)));
    EXPECT_TRUE(Failed(camera.backend.SetNorm(kNormNtscM)));
    ASSERT_EQ(camera.backend.CountVideoRoutes(routes), hr::kOk);
    EXPECT_EQ(routes, 0);
}

// Warnings of the GStreamer backend's logging category; the bus messages are handed over on
// the test's thread.
std::vector<std::string> gstWarnings;
void RecordGstWarning(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && context.category == std::string_view("microscope.capture.gst")) {
        gstWarnings.push_back(message.toStdString());
    }
}

TEST(GstGraphEvents, BusErrorsAndEndOfStreamBecomeEventsThatPostAMessage) {
    ASSERT_TRUE(gstcapture::EnsureGstInitialized());
    gstcapture::GraphEventQueue queue;
    RecordingTarget target;
    queue.SetTarget(&target);
    gstcapture::GraphEvent event;
    EXPECT_FALSE(queue.Pop(event));

    gstcapture::ElementPtr source = gstcapture::MakeElement("fakesrc");
    ASSERT_TRUE(source);
    gstWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(RecordGstWarning);
    const auto deliver = [&](GstMessage* message) {
        EXPECT_EQ(gstcapture::GraphEventQueue::OnBusMessage(nullptr, message, &queue),
                  GST_BUS_DROP);
        gst_message_unref(message);
    };
    GError* lost = g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ, "gone");
    deliver(gst_message_new_error(GST_OBJECT(source.get()), lost, "unplugged"));
    g_error_free(lost);
    GError* broken = g_error_new_literal(GST_STREAM_ERROR, GST_STREAM_ERROR_FORMAT, "bad caps");
    deliver(gst_message_new_error(GST_OBJECT(source.get()), broken, nullptr));
    g_error_free(broken);
    deliver(gst_message_new_eos(GST_OBJECT(source.get())));
    deliver(gst_message_new_latency(GST_OBJECT(source.get())));  // not an event
    qInstallMessageHandler(previous);

    // The trace names the error; the logging category also carries GStreamer's details.
    ASSERT_EQ(gstWarnings.size(), 2u);
    EXPECT_NE(gstWarnings[0].find(": gone (unplugged)"), std::string::npos) << gstWarnings[0];
    EXPECT_NE(gstWarnings[1].find(": bad caps (no details)"), std::string::npos) << gstWarnings[1];

    EXPECT_EQ(
        target.Count([](const Posted& post) { return post.message == EngineMessage::GraphEvent; }),
        3);
    ASSERT_TRUE(queue.Pop(event));
    EXPECT_EQ(event.code, gstcapture::kEventDeviceLost);
    ASSERT_TRUE(queue.Pop(event));
    EXPECT_EQ(event.code, gstcapture::kEventErrorAbort);
    EXPECT_TRUE(Failed(static_cast<HResult>(event.param1)));
    ASSERT_TRUE(queue.Pop(event));
    EXPECT_EQ(event.code, gstcapture::kEventComplete);
    EXPECT_FALSE(queue.Pop(event));
}

TEST(GstGraphEvents, GetGraphEventWithoutAnEventFailsAtOnce) {
    BoundBackend rig(sim::Options{sim::Kind::Camera, false});
    ASSERT_TRUE(rig.bound);
    long code = 0;
    std::intptr_t param1 = 0;
    std::intptr_t param2 = 0;
    EXPECT_EQ(rig.backend.GetGraphEvent(code, param1, param2), gstcapture::kNoEventPending);
}

TEST(GstRepack, StridedRowsArePackedToFourBytesWithZeroPadding) {
    // Two rows of 3 pixels (9 bytes) 16 bytes apart become rows of 12 bytes.
    std::vector<std::uint8_t> source(32, 0xEE);
    for (std::size_t i = 0; i < 9; ++i) {
        source[i] = static_cast<std::uint8_t>(i + 1);
        source[16 + i] = static_cast<std::uint8_t>(i + 101);
    }
    std::vector<std::uint8_t> packed;
    ASSERT_TRUE(gstcapture::RepackBgrRows(source.data(), 16, 3, 2, packed));
    ASSERT_EQ(packed.size(), 24u);
    for (std::size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(packed[i], i + 1);
        EXPECT_EQ(packed[12 + i], i + 101);
    }
    for (std::size_t i = 9; i < 12; ++i) {
        EXPECT_EQ(packed[i], 0);
        EXPECT_EQ(packed[12 + i], 0);
    }
    // A stride shorter than a row's pixels makes no sense.
    EXPECT_FALSE(gstcapture::RepackBgrRows(source.data(), 8, 3, 2, packed));
    EXPECT_EQ(packed.size(), 24u);
}

// The live grabber's rate cap keeps a steady source at the chosen rate, thins a faster one
// evenly, and does not lose frames of a source that already sends that rate with jitter.
TEST(GstRateCap, PassesOneFramePerSlotOfTheChosenRate) {
    struct Case {
        int sourceRate;
        double jitterSeconds;  // added to every odd frame, taken from every even one
        int cap;
        int passedInTenSeconds;
    };
    const Case cases[] = {
        {30, 0.0, 0, 300},    {30, 0.0, 15, 150}, {30, 0.004, 15, 150},
        {15, 0.015, 15, 150}, {25, 0.0, 15, 150}, {10, 0.0, 15, 100},
        {30, 0.008, 30, 300}, {60, 0.002, 5, 51},  // the last frame is within a quarter slot of 110
                                                   // s
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sourceRate << " fps capped at " << c.cap);
        gstcapture::FrameRateCap cap;
        cap.SetRate(c.cap);
        int passed = 0;
        for (int i = 0; i < c.sourceRate * 10; ++i) {
            const double jitter = (i % 2 == 1 ? 1 : -1) * c.jitterSeconds;
            passed += cap.Pass(100.0 + i / static_cast<double>(c.sourceRate) + jitter) ? 1 : 0;
        }
        EXPECT_EQ(passed, c.passedInTenSeconds);
    }
    // A restart (the graph runs again) lets the next frame through even at an earlier time.
    gstcapture::FrameRateCap cap;
    cap.SetRate(15);
    EXPECT_TRUE(cap.Pass(5.0));
    EXPECT_FALSE(cap.Pass(1.0));
    cap.Restart();
    EXPECT_TRUE(cap.Pass(1.0));
}

// Frames a source numbered but never delivered count as dropped, through the conversion; a
// number that goes back is a new stream, and frames without a number count nothing.
TEST(GstGrabberDrops, GapsInTheFrameNumbersCountAsDropped) {
    struct Counter : GrabberCallback {
        void BufferCB(double, const std::uint8_t*, std::size_t, const FrameKeeper&) override {
            frames.fetch_add(1);
        }
        std::atomic<int> frames{0};
    } counter;
    ASSERT_TRUE(gstcapture::EnsureGstInitialized());
    gstcapture::ElementPtr pipeline(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
    gstcapture::ElementPtr source = gstcapture::MakeElement("appsrc");
    ASSERT_TRUE(pipeline && source);
    gstcapture::CapsPtr caps(
        gst_caps_from_string("video/x-raw,format=YUY2,width=4,height=2,framerate=30/1"));
    g_object_set(source.get(), "caps", caps.get(), "format", GST_FORMAT_TIME, nullptr);
    gstcapture::GrabberChain chain;
    ASSERT_TRUE(chain.Create());
    ASSERT_TRUE(gst_bin_add(GST_BIN(pipeline.get()), GST_ELEMENT(gst_object_ref(source.get()))));
    ASSERT_EQ(chain.AddGrabberTo(*GST_BIN(pipeline.get()), "SampleGrabber"), hr::kOk);
    ASSERT_TRUE(gst_element_link(source.get(), chain.grabber()));
    ASSERT_EQ(chain.Render(*GST_BIN(pipeline.get())), hr::kOk);
    chain.Configure(false, &counter);
    ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    const std::optional<std::uint64_t> numbers[] = {0, 1, 2, 5, 6, std::nullopt, 9, 0, 1, 3};
    for (std::size_t i = 0; i < std::size(numbers); ++i) {
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, 4 * 2 * 2, nullptr);
        GST_BUFFER_PTS(buffer) = i * GST_SECOND / 30;
        if (numbers[i]) {
            GST_BUFFER_OFFSET(buffer) = *numbers[i];
        }
        ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(source.get()), buffer), GST_FLOW_OK);
        // One at a time: the grabber's queue keeps only the newest frame.
        ASSERT_TRUE(testsupport::WaitUntil(
            [&] { return counter.frames.load() == static_cast<int>(i) + 1; }));
    }
    gst_app_src_end_of_stream(GST_APP_SRC(source.get()));
    gstcapture::BusPtr bus(gst_element_get_bus(pipeline.get()));
    gst_message_unref(gst_bus_timed_pop_filtered(bus.get(), 5 * GST_SECOND, GST_MESSAGE_EOS));
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    EXPECT_EQ(chain.Stats().dropped, 2u + 2u + 1u);  // 3 and 4; 7 and 8; 2
    chain.RemoveFrom(*GST_BIN(pipeline.get()));
}

}  // namespace
}  // namespace gsttest
