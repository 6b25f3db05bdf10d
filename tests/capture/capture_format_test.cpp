#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "app/debug_trace.h"
#include "capture/capture_engine.h"
#include "capture/capture_settings.h"
#include "fake_media_backend.h"
#include "support/temp_dir.h"

namespace {

using testsupport::FakeMediaBackend;

CaptureSettings SampleRecord() {
    CaptureSettings record;
    record.rcSource = {1, 2, 3, 4};
    record.rcTarget = {-5, 6, -7, 8};
    record.dwBitRate = 0x01020304;
    record.dwBitErrorRate = 9;
    record.AvgTimePerFrame = 0x0102030405060708;
    record.biSize = 40;
    record.biWidth = 640;
    record.biHeight = 480;
    record.biPlanes = 1;
    record.biBitCount = 16;
    record.biCompression = kFourccYuy2;
    record.biSizeImage = 614400;
    record.biXPelsPerMeter = -11;
    record.biYPelsPerMeter = 12;
    record.biClrUsed = 13;
    record.biClrImportant = 14;
    return record;
}

template <typename T>
T At(const CaptureSettingsBytes& bytes, std::size_t offset) {
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof value);  // the tests run little-endian
    return value;
}

TEST(CaptureSettingsRecordTest, FieldsSitAtTheirLittleEndianOffsets) {
    const CaptureSettingsBytes bytes = SerializeCaptureSettings(SampleRecord());
    EXPECT_EQ(At<std::int32_t>(bytes, 0), 1);
    EXPECT_EQ(At<std::int32_t>(bytes, 16), -5);
    EXPECT_EQ(At<std::int32_t>(bytes, 28), 8);
    EXPECT_EQ(At<std::uint32_t>(bytes, 32), 0x01020304u);
    EXPECT_EQ(bytes[32], 0x04);
    EXPECT_EQ(At<std::uint32_t>(bytes, 36), 9u);
    EXPECT_EQ(At<std::int64_t>(bytes, 40), 0x0102030405060708);
    EXPECT_EQ(At<std::uint32_t>(bytes, 48), 40u);
    EXPECT_EQ(At<std::int32_t>(bytes, 52), 640);
    EXPECT_EQ(At<std::int32_t>(bytes, 56), 480);
    EXPECT_EQ(At<std::uint16_t>(bytes, 60), 1);
    EXPECT_EQ(At<std::uint16_t>(bytes, 62), 16);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + 64, 4), "YUY2");
    EXPECT_EQ(At<std::uint32_t>(bytes, 68), 614400u);
    EXPECT_EQ(At<std::int32_t>(bytes, 72), -11);
    EXPECT_EQ(At<std::uint32_t>(bytes, 84), 14u);
    EXPECT_EQ(ParseCaptureSettings(bytes), SampleRecord());
}

TEST(CaptureSettingsRecordTest, RatesAndSizes) {
    EXPECT_EQ(RoundedFrameRate(333333), 30u);
    EXPECT_EQ(RoundedFrameRate(666666), 15u);
    EXPECT_EQ(RoundedFrameRate(0), 30u);
    EXPECT_EQ(RoundedFrameRate(-5), 30u);
    EXPECT_EQ(RoundedFrameRate(std::numeric_limits<std::int64_t>::max()), 1u);
    EXPECT_EQ(BitRateFor(691200, 333333), 165888000u);
    EXPECT_EQ(BitRateFor(0xFFFFFFFFu, 1), 0xFFFFFFFFu);
    EXPECT_EQ(FrameBytesFor(640, 480, 16), 614400u);
    EXPECT_EQ(FrameBytesFor(640, 480, 24), 921600u);
    EXPECT_EQ(FrameBytesFor(640, 480, 12), 307200u);
    EXPECT_EQ(FrameBytesFor(0, 480, 16), 0u);
    EXPECT_EQ(FrameBytesFor(640, -480, 16), 0u);
    EXPECT_EQ(FrameBytesFor(1 << 30, 1 << 30, 24), 0xFFFFFFFFu);
}

class CapConfigFileTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    std::string path = dir / "CapConfig.dat";
};

TEST_F(CapConfigFileTest, SaveWritesExactly88BytesAndLoadReadsThemBack) {
    ASSERT_TRUE(SaveCapConfig(path, SampleRecord()));
    const std::string bytes = testsupport::ReadFile(path);
    ASSERT_EQ(bytes.size(), 88u);
    const CaptureSettingsBytes expected = SerializeCaptureSettings(SampleRecord());
    EXPECT_EQ(bytes, std::string(expected.begin(), expected.end()));
    CaptureSettings loaded;
    EXPECT_TRUE(LoadCapConfig(path, loaded));
    EXPECT_EQ(loaded, SampleRecord());
}

TEST_F(CapConfigFileTest, ALongerFileIsReadFromItsFirst88BytesAndKeepsItsTailOnSave) {
    const CaptureSettingsBytes record = SerializeCaptureSettings(SampleRecord());
    std::string bytes(record.begin(), record.end());
    bytes += "twelve bytes";
    testsupport::WriteFile(path, bytes);
    CaptureSettings loaded;
    ASSERT_TRUE(LoadCapConfig(path, loaded));
    EXPECT_EQ(loaded, SampleRecord());

    CaptureSettings changed = SampleRecord();
    changed.biWidth = 320;
    ASSERT_TRUE(SaveCapConfig(path, changed));
    const std::string saved = testsupport::ReadFile(path);
    ASSERT_EQ(saved.size(), 100u);
    EXPECT_EQ(saved.substr(88), "twelve bytes");
}

TEST_F(CapConfigFileTest, MissingShortOrOddFilesLeaveTheRecordAlone) {
    CaptureSettings record = SampleRecord();
    {
        TraceRecorder traces;
        EXPECT_EQ(LoadCapConfig(path, record).error(), ENOENT);
        EXPECT_TRUE(traces.Contains("Open config file failed(0x00000002)\n"));
    }
    testsupport::WriteFile(path, std::string(87, 'x'));
    {
        TraceRecorder traces;
        EXPECT_EQ(LoadCapConfig(path, record).error(), EBADMSG);
        ASSERT_EQ(traces.Lines().size(), 1u);
        EXPECT_EQ(traces.Lines()[0].rfind("Read config file failed(0x", 0), 0u);
    }
    EXPECT_EQ(testsupport::ReadFile(path), std::string(87, 'x'));
    ::mkdir((dir / "folder").c_str(), 0755);
    EXPECT_EQ(LoadCapConfig(dir / "folder", record).error(), EINVAL);
    ::mkfifo((dir / "fifo").c_str(), 0644);
    EXPECT_EQ(LoadCapConfig(dir / "fifo", record).error(), EINVAL);  // never blocks on a pipe
    EXPECT_EQ(record, SampleRecord());
}

TEST_F(CapConfigFileTest, SavingIntoAFolderThatCannotBeWrittenFailsCleanly) {
    EXPECT_EQ(SaveCapConfig((dir / "missing") + "/CapConfig.dat", SampleRecord()).error(), ENOENT);
    EXPECT_FALSE(testsupport::Exists(dir / "missing"));
}

TEST_F(CapConfigFileTest, TheProgramFolderIsUsedWhenWritableAndNotTheInstalledOne) {
    EXPECT_EQ(CapConfigPath(dir.path()), dir / "CapConfig.dat");
    // A folder that cannot take the file, or the folder the program is installed to (even
    // writable, as it is for root), sends it to the user's configuration folder.
    for (const std::string& fallback :
         {CapConfigPath(dir / "gone"), CapConfigPath(dir.path(), dir.path())}) {
        EXPECT_NE(fallback.find("/CapConfig.dat"), std::string::npos);
        EXPECT_EQ(fallback.find(dir.path() + "/CapConfig.dat"), std::string::npos) << fallback;
    }
}

class FormatTest : public ::testing::Test {
protected:
    FormatTest() : engine(backend) {
        engine.SetCapConfigPath(path);
        engine.CreateDeviceEnumerator();
    }

    void Start(int row) {
        backend.devices = {FakeMediaBackend::Device(
            row == 0 ? "usb#vid_eb1a&pid_1860#x" : "usb#vid_eb1a&pid_1760&mi_00#x", "D", "d")};
        ASSERT_EQ(engine.DiscoverDevices(), 1);
        ASSERT_EQ(engine.BuildGraph(), 1);
        ASSERT_EQ(engine.PreparePreview(), 1);
        ASSERT_EQ(engine.RunGraph(), 1);
    }

    testsupport::TempDir dir;
    std::string path = dir / "CapConfig.dat";
    FakeMediaBackend backend;
    CaptureEngine engine;
};

TEST_F(FormatTest, WithoutAFileEachKindStartsFromItsDefaults) {
    backend.deviceFormat.biBitCount = 24;
    backend.deviceFormat.biCompression = 0x12345678;
    Start(0);
    const CaptureSettings& settings = engine.Settings();
    EXPECT_EQ(settings.biWidth, 720);
    EXPECT_EQ(settings.biHeight, 480);
    EXPECT_EQ(settings.biSizeImage, 691200u);  // two bytes a pixel whatever the device says
    EXPECT_EQ(settings.dwBitRate, 165888000u);
    EXPECT_EQ(settings.biBitCount, 24);
    EXPECT_EQ(settings.biCompression, 0x12345678u);
    EXPECT_EQ(backend.deviceFormat, settings);
    EXPECT_FALSE(testsupport::Exists(path));  // preparing never writes the file
}

TEST_F(FormatTest, CameraDefaultsAre1280By1024) {
    Start(1);
    EXPECT_EQ(engine.Settings().biWidth, 1280);
    EXPECT_EQ(engine.Settings().biHeight, 1024);
    EXPECT_EQ(engine.Settings().biSizeImage, 1280u * 1024u * 2u);
}

TEST_F(FormatTest, AStoredFormatIsAppliedUnchanged) {
    CaptureSettings stored = FakeMediaBackend::DefaultDeviceFormat();
    stored.biWidth = 320;
    stored.biHeight = 240;
    stored.biSizeImage = 1;  // odd, but applied as it stands
    ASSERT_TRUE(SaveCapConfig(path, stored));
    Start(1);
    EXPECT_EQ(engine.Settings(), stored);
    EXPECT_EQ(backend.formatsSet.front(), stored);
    EXPECT_EQ(engine.frameCallback().width(), 320);
}

TEST_F(FormatTest, AStoredFormatTheDeviceRefusesFallsBackToTheDefaultsOnce) {
    CaptureSettings stored = FakeMediaBackend::DefaultDeviceFormat();
    stored.biWidth = 333;
    ASSERT_TRUE(SaveCapConfig(path, stored));
    backend.refusedFormats = {stored};
    Start(1);
    ASSERT_EQ(backend.formatsSet.size(), 2u);
    EXPECT_EQ(backend.formatsSet[1].biWidth, 1280);
    EXPECT_TRUE(engine.running());
}

TEST_F(FormatTest, ADeviceRefusingEveryFormatStillPreviewsInItsOwn) {
    backend.refuseEveryFormat = true;
    TraceRecorder traces;
    Start(1);
    EXPECT_EQ(backend.formatsSet.size(), 2u);
    EXPECT_TRUE(traces.Contains("80040200: Cannot set frame rate for preview\n"));
    EXPECT_EQ(engine.frameCallback().width(), 640);  // what the device holds
}

// A frame size whose 24-bit frame does not fit in 32 bits (0x55555555 squared made the
// padded row wrap to 0 bytes), or with a side that is not positive, is no format: the file
// is refused as a short one is, the device starts from its defaults, and frames of that
// size are never asked for. Sizes just inside 32 bits still load.
TEST_F(FormatTest, AFileWithoutAUsableFrameSizeIsRefusedLikeAMissingOne) {
    const struct {
        std::int32_t width;
        std::int32_t height;
        bool usable;
    } cases[] = {
        {0x55555555, 0x55555555, false},
        {0x7FFFFFFF, 0x7FFFFFFF, false},
        {21845, 65536, false},  // rows of 65536 bytes: exactly 2^32
        {0, 0, false},
        {-640, -480, false},
        {640, 0, false},
        {21845, 65535, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        CaptureSettings stored = FakeMediaBackend::DefaultDeviceFormat();
        stored.biWidth = c.width;
        stored.biHeight = c.height;
        ASSERT_TRUE(SaveCapConfig(path, stored));
        CaptureSettings loaded = SampleRecord();
        {
            TraceRecorder traces;
            EXPECT_EQ(LoadCapConfig(path, loaded).error(), c.usable ? 0 : EINVAL);
            EXPECT_EQ(loaded, c.usable ? stored : SampleRecord());
            EXPECT_EQ(traces.Contains("Read config file failed(0x00000016)\n"), !c.usable);
        }
        if (c.usable) {
            continue;  // frames of 4 GB are not made here
        }

        Start(1);
        EXPECT_EQ(engine.Settings().biWidth, 1280);
        EXPECT_EQ(engine.Settings().biHeight, 1024);
        EXPECT_EQ(engine.frameCallback().width(), 1280);

        // Nor is such a size taken as a new resolution.
        backend.formatsSet.clear();
        EXPECT_EQ(engine.SetResolution(c.width, c.height), hr::kInvalidArgument);
        EXPECT_TRUE(backend.formatsSet.empty());
        EXPECT_TRUE(engine.running());
        const CaptureSettingsBytes record = SerializeCaptureSettings(stored);
        EXPECT_EQ(testsupport::ReadFile(path), std::string(record.begin(), record.end()));
        EXPECT_EQ(engine.SetResolution(640, 480), hr::kOk);
        EXPECT_EQ(engine.Settings().biWidth, 640);
        engine.StopGraph();
        engine.TearDownGraph();
        backend.formatsSet.clear();
    }
}

TEST_F(FormatTest, SetResolutionStoresAppliesAndRestarts) {
    Start(1);
    TraceRecorder traces;
    EXPECT_EQ(engine.SetResolution(640, 480), hr::kOk);
    EXPECT_EQ(engine.Settings().biSizeImage, 614400u);
    EXPECT_EQ(engine.Settings().dwBitRate, 30u * 614400u * 8u);
    EXPECT_TRUE(engine.running());
    EXPECT_TRUE(engine.prepared());
    EXPECT_EQ(engine.frameCallback().width(), 640);
    CaptureSettings stored;
    ASSERT_TRUE(LoadCapConfig(path, stored));
    EXPECT_EQ(stored.biWidth, 640);
    EXPECT_EQ(stored, engine.Settings());
    EXPECT_EQ(backend.deviceFormat.biWidth, 640);

    backend.deviceFormat.biBitCount = 24;
    engine.SetResolution(640, 480);
    EXPECT_EQ(engine.Settings().biSizeImage, 921600u);
    backend.deviceFormat.biBitCount = 12;
    engine.SetResolution(640, 480);
    EXPECT_EQ(engine.Settings().biSizeImage, 307200u);
}

TEST_F(FormatTest, SetResolutionOnAStoppedGraphLeavesItStopped) {
    Start(1);
    engine.StopGraph();
    engine.SetResolution(320, 240);
    EXPECT_FALSE(engine.running());
    EXPECT_TRUE(engine.prepared());
}

TEST_F(FormatTest, ARefusedResolutionIsTracedAndReturned) {
    Start(1);
    CaptureSettings wanted = backend.deviceFormat;
    wanted.biWidth = 720;
    wanted.biHeight = 576;
    wanted.biSizeImage = FrameBytesFor(720, 576, 16);
    wanted.dwBitRate = BitRateFor(wanted.biSizeImage, wanted.AvgTimePerFrame);
    backend.refusedFormats = {wanted};
    TraceRecorder traces;
    EXPECT_EQ(engine.SetResolution(720, 576), hr::kInvalidMediaType);
    EXPECT_TRUE(traces.Contains("80040200: Cannot set frame rate for preview\n"));
    EXPECT_TRUE(engine.running());
}

TEST_F(FormatTest, TheRecordingRateGoesToTheGrabberOnly) {
    Start(1);
    const CaptureSettings before = engine.Settings();
    backend.grabberTypes[0].clear();
    engine.SetGrabberFrameRate(15);
    ASSERT_EQ(backend.grabberTypes[0].size(), 1u);
    ASSERT_TRUE(backend.grabberTypes[0][0].has_value());
    EXPECT_EQ(backend.grabberTypes[0][0]->AvgTimePerFrame, 666666);
    EXPECT_EQ(backend.grabberTypes[0][0]->dwBitRate, before.biSizeImage * 15u * 8u);
    EXPECT_EQ(engine.Settings(), before);
    EXPECT_FALSE(testsupport::Exists(path));
    engine.SetGrabberFrameRate(0);
    engine.SetGrabberFrameRate(-3);
    EXPECT_EQ(backend.grabberTypes[0].size(), 1u);
}

}  // namespace
