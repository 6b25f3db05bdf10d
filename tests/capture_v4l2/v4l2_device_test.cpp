#include "capture/v4l2/v4l2_device.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "fake_v4l2_device.h"
#include "support/temp_dir.h"

namespace {

using fakev4l2::OpenFake;
using fakev4l2::State;
using testing::ElementsAre;

std::shared_ptr<State> Camera() {
    return std::make_shared<State>();
}

v4l2_input MakeInput(std::uint32_t index, const char* name, std::uint32_t type) {
    v4l2_input input{};
    input.index = index;
    input.type = type;
    std::strncpy(reinterpret_cast<char*>(input.name), name, sizeof(input.name));
    return input;
}

TEST(V4l2DeviceOpen, RefusesNodesThatDoNotCaptureVideo) {
    EXPECT_EQ(v4l2::Device::OpenWith(nullptr), nullptr);

    auto output = Camera();
    output->deviceCaps = V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_STREAMING;
    EXPECT_EQ(OpenFake(output), nullptr);

    // A camera's second node: the physical device captures, this node only carries metadata.
    auto metadata = Camera();
    metadata->capabilities |= V4L2_CAP_META_CAPTURE;
    metadata->deviceCaps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
    EXPECT_EQ(OpenFake(metadata), nullptr);

    auto broken = Camera();
    broken->failures[VIDIOC_QUERYCAP] = EIO;
    EXPECT_EQ(OpenFake(broken), nullptr);

    EXPECT_NE(OpenFake(Camera()), nullptr);
}

TEST(V4l2DeviceOpen, MultiPlanarNodeIsAskedWithItsBufferType) {
    auto state = Camera();
    state->deviceCaps = V4L2_CAP_VIDEO_CAPTURE_MPLANE | V4L2_CAP_STREAMING;
    state->current.fmt.pix_mp.width = 640;
    state->current.fmt.pix_mp.height = 480;
    state->current.fmt.pix_mp.pixelformat = V4L2_PIX_FMT_NV12;
    state->current.fmt.pix_mp.num_planes = 2;
    state->current.fmt.pix_mp.plane_fmt[0].bytesperline = 640;
    state->current.fmt.pix_mp.plane_fmt[0].sizeimage = 640 * 480;
    state->current.fmt.pix_mp.plane_fmt[1].sizeimage = 640 * 240;
    auto device = OpenFake(state);
    ASSERT_NE(device, nullptr);

    v4l2::CurrentFormat format;
    ASSERT_TRUE(device->GetCurrentFormat(format));
    EXPECT_EQ(format.width, 640);
    EXPECT_EQ(format.bytesPerLine, 640);
    EXPECT_EQ(format.sizeImageBytes, 640u * 480 + 640 * 240);
    device->Formats();
    EXPECT_THAT(state->sentBufferTypes, testing::Each(V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE));
}

TEST(V4l2DeviceOpen, RealOpenRefusesWhatIsNoVideoNode) {
    const testsupport::TempDir dir;
    testsupport::WriteFile(dir / "file", "not a device");
    EXPECT_EQ(v4l2::Device::Open(""), nullptr);
    EXPECT_EQ(v4l2::Device::Open(dir / "missing"), nullptr);
    EXPECT_EQ(v4l2::Device::Open(dir.path()), nullptr);
    EXPECT_EQ(v4l2::Device::Open(dir / "file"), nullptr);
    EXPECT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(v4l2::Device::Open(dir / "fifo"), nullptr);
    // A character device that does not speak V4L2.
    EXPECT_EQ(v4l2::Device::Open("/dev/null"), nullptr);
}

TEST(V4l2DeviceControls, RangesCarryManualAndAutoFlags) {
    auto state = Camera();
    state->AddControl(V4L2_CID_BRIGHTNESS, -64, 64, 1, 0);
    state->AddControl(V4L2_CID_AUTOBRIGHTNESS, 0, 1, 1, 1, 0, V4L2_CTRL_TYPE_BOOLEAN);
    state->AddControl(V4L2_CID_CONTRAST, 0, 95, 5, 32);
    state->AddControl(V4L2_CID_HUE, -2000, 2000, 100, 0, V4L2_CTRL_FLAG_READ_ONLY);
    state->AddControl(V4L2_CID_HUE_AUTO, 0, 1, 1, 1, V4L2_CTRL_FLAG_DISABLED,
                      V4L2_CTRL_TYPE_BOOLEAN);
    state->AddControl(V4L2_CID_GAIN, 0, 255, 1, 16);
    state->AddControl(V4L2_CID_AUTOGAIN, 0, 1, 1, 0, V4L2_CTRL_FLAG_READ_ONLY,
                      V4L2_CTRL_TYPE_BOOLEAN);
    auto device = OpenFake(state);
    ASSERT_NE(device, nullptr);

    PropertyRange range;
    ASSERT_TRUE(device->GetRange(kBrightness, range));
    EXPECT_EQ(range.minimum, -64);
    EXPECT_EQ(range.maximum, 64);
    EXPECT_EQ(range.step, 1);
    EXPECT_EQ(range.defaultValue, 0);
    EXPECT_EQ(range.flags, kControlFlagManual | kControlFlagAuto);

    ASSERT_TRUE(device->GetRange(kContrast, range));
    EXPECT_EQ(range.step, 5);
    EXPECT_EQ(range.defaultValue, 32);
    EXPECT_EQ(range.flags, kControlFlagManual);

    // Read-only: no manual flag; a disabled or read-only automatic control is no auto mode.
    ASSERT_TRUE(device->GetRange(kHue, range));
    EXPECT_EQ(range.flags, 0);
    ASSERT_TRUE(device->GetRange(kGain, range));
    EXPECT_EQ(range.flags, kControlFlagManual);

    // The partner controls that were missing are no failure of the caller's request.
    EXPECT_EQ(device->LastError(), 0);
}

TEST(V4l2DeviceControls, MissingDisabledAndUnknownControlsFailAndLeaveTheRange) {
    auto state = Camera();
    state->AddControl(V4L2_CID_SHARPNESS, 0, 7, 1, 3, V4L2_CTRL_FLAG_DISABLED);
    state->AddControl(V4L2_CID_GAMMA, 0, 0, 0, 0, 0, V4L2_CTRL_TYPE_CTRL_CLASS);
    auto device = OpenFake(state);
    ASSERT_NE(device, nullptr);

    const PropertyRange untouched{1, 2, 3, 4, 5};
    PropertyRange range = untouched;
    for (const int property : {int{kSaturation}, int{kSharpness}, int{kGamma}}) {
        EXPECT_FALSE(device->GetRange(property, range)) << property;
        EXPECT_EQ(device->LastError(), EINVAL) << property;
    }
    const int requestsBefore = static_cast<int>(state->requests.size());
    EXPECT_FALSE(device->GetRange(6, range));  // colour enable has no V4L2 control
    EXPECT_FALSE(device->GetRange(-1, range));
    EXPECT_EQ(static_cast<int>(state->requests.size()), requestsBefore);
    EXPECT_EQ(range.minimum, untouched.minimum);
    EXPECT_EQ(range.maximum, untouched.maximum);
    EXPECT_EQ(range.flags, untouched.flags);
}

TEST(V4l2DeviceControls, GetAndSetLeaveClampingToTheDriver) {
    auto state = Camera();
    state->AddControl(V4L2_CID_SATURATION, 0, 100, 1, 50);
    auto device = OpenFake(state);
    ASSERT_NE(device, nullptr);

    int value = -1;
    ASSERT_TRUE(device->Get(kSaturation, value));
    EXPECT_EQ(value, 50);
    ASSERT_TRUE(device->Set(kSaturation, 250));
    EXPECT_THAT(state->receivedValues, ElementsAre(250));
    ASSERT_TRUE(device->Get(kSaturation, value));
    EXPECT_EQ(value, 100);

    state->failures[VIDIOC_G_CTRL] = EIO;
    state->failures[VIDIOC_S_CTRL] = EBUSY;
    value = 7;
    EXPECT_FALSE(device->Get(kSaturation, value));
    EXPECT_EQ(value, 7);
    EXPECT_EQ(device->LastError(), EIO);
    EXPECT_FALSE(device->Set(kSaturation, 10));
    EXPECT_EQ(device->LastError(), EBUSY);
    EXPECT_FALSE(device->Set(kContrast, 10));  // not offered: the driver refuses
}

TEST(V4l2DeviceRequests, InterruptedRequestsAreRepeated) {
    auto state = Camera();
    state->AddControl(V4L2_CID_CONTRAST, 0, 10, 1, 4);
    auto device = OpenFake(state);
    ASSERT_NE(device, nullptr);

    state->interruptions = 3;
    int value = 0;
    ASSERT_TRUE(device->Get(kContrast, value));
    EXPECT_EQ(value, 4);
    EXPECT_EQ(state->Count(VIDIOC_G_CTRL), 4);
    EXPECT_EQ(device->LastError(), 0);

    // A request that never gets through gives up instead of hanging.
    state->interruptions = 1'000'000;
    value = 0;
    EXPECT_FALSE(device->Get(kContrast, value));
    EXPECT_EQ(value, 0);
    EXPECT_EQ(device->LastError(), EINTR);
}

TEST(V4l2DeviceNorms, StandardsReadAsTheProgramsNorms) {
    auto state = Camera();
    state->supportedStandards = V4L2_STD_NTSC | V4L2_STD_PAL | V4L2_STD_SECAM;
    state->standard = V4L2_STD_PAL;
    auto device = OpenFake(state);
    ASSERT_NE(device, nullptr);

    int norm = -1;
    ASSERT_TRUE(device->GetNorm(norm));
    EXPECT_EQ(norm, kNormPalB);
    EXPECT_EQ(norm, 16);

    ASSERT_TRUE(device->SetNorm(kNormNtscM));
    EXPECT_THAT(state->receivedStandards, ElementsAre(V4L2_STD_NTSC_M));
    ASSERT_TRUE(device->GetNorm(norm));
    EXPECT_EQ(norm, 1);

    ASSERT_TRUE(device->SetNorm(kNormPalB));
    EXPECT_EQ(state->receivedStandards.back(), V4L2_STD_PAL_B | V4L2_STD_PAL_B1);
}

TEST(V4l2DeviceNorms, RefusesNormsWithoutStandardAndDevicesWithoutNorms) {
    auto state = Camera();
    state->supportedStandards = V4L2_STD_PAL_B;
    state->standard = V4L2_STD_PAL_B;
    auto device = OpenFake(state);
    ASSERT_NE(device, nullptr);

    EXPECT_FALSE(device->SetNorm(kNormNone));
    EXPECT_FALSE(device->SetNorm(kNormPalB | 0x200000));  // a bit no norm has
    EXPECT_EQ(device->LastError(), EINVAL);
    EXPECT_EQ(state->Count(VIDIOC_S_STD), 0);
    EXPECT_FALSE(device->SetNorm(kNormSecamL));  // the device refuses it
    EXPECT_EQ(state->Count(VIDIOC_S_STD), 1);

    auto camera = Camera();  // no analog standards at all
    auto cameraDevice = OpenFake(camera);
    ASSERT_NE(cameraDevice, nullptr);
    int norm = 42;
    EXPECT_FALSE(cameraDevice->GetNorm(norm));
    EXPECT_EQ(norm, 42);
    EXPECT_EQ(cameraDevice->LastError(), ENODATA);
}

TEST(V4l2DeviceInputs, ListsVideoInputsWithTheirIndex) {
    auto state = Camera();
    state->inputs.push_back(MakeInput(0, "Composite1", V4L2_INPUT_TYPE_CAMERA));
    state->inputs.push_back(MakeInput(1, "Touch", V4L2_INPUT_TYPE_TOUCH));
    state->inputs.push_back(
        MakeInput(2, "S-Video with a very long name.!", V4L2_INPUT_TYPE_CAMERA));
    state->inputs.push_back(MakeInput(3, "Television", V4L2_INPUT_TYPE_TUNER));
    // A name that fills its field has no terminating zero.
    std::memset(state->inputs[2].name, 'x', sizeof(state->inputs[2].name));
    auto device = OpenFake(state);
    ASSERT_NE(device, nullptr);

    const std::vector<v4l2::Input> inputs = device->VideoInputs();
    ASSERT_EQ(inputs.size(), 3u);
    EXPECT_EQ(inputs[0].index, 0);
    EXPECT_EQ(inputs[0].name, "Composite1");
    EXPECT_EQ(inputs[1].index, 2);
    EXPECT_EQ(inputs[1].name, std::string(32, 'x'));
    EXPECT_EQ(inputs[2].index, 3);
    EXPECT_EQ(device->LastError(), 0);  // the end of the list is no error
}

TEST(V4l2DeviceInputs, AFailureMidwayGivesNoList) {
    auto state = Camera();
    state->inputs.push_back(MakeInput(0, "Camera 1", V4L2_INPUT_TYPE_CAMERA));
    state->inputs.push_back(MakeInput(1, "Camera 2", V4L2_INPUT_TYPE_CAMERA));
    state->failures[VIDIOC_ENUMINPUT] = ENODEV;
    state->failFromCall[VIDIOC_ENUMINPUT] = 1;
    auto device = OpenFake(state);
    ASSERT_NE(device, nullptr);

    EXPECT_TRUE(device->VideoInputs().empty());
    EXPECT_EQ(device->LastError(), ENODEV);
}

TEST(V4l2DeviceFormats, DiscreteAndStepwiseSizes) {
    auto state = Camera();
    fakev4l2::Format yuyv;
    yuyv.fourcc = V4L2_PIX_FMT_YUYV;
    yuyv.description = "YUYV 4:2:2";
    yuyv.discreteSizes = {{640, 480}, {320, 240}, {640, 480}, {0, 0}, {1280, 1024}};
    fakev4l2::Format mjpeg;
    mjpeg.fourcc = V4L2_PIX_FMT_MJPEG;
    mjpeg.description = "Motion-JPEG";
    mjpeg.stepwise = v4l2_frmsize_stepwise{320, 800, 16, 240, 600, 8};
    fakev4l2::Format grey;  // enumerates no sizes
    grey.fourcc = V4L2_PIX_FMT_GREY;
    grey.description = std::string(40, 'G');
    state->formats = {yuyv, mjpeg, grey};
    auto device = OpenFake(state);
    ASSERT_NE(device, nullptr);

    const std::vector<v4l2::PixelFormat> formats = device->Formats();
    ASSERT_EQ(formats.size(), 3u);
    EXPECT_EQ(formats[0].fourcc, V4L2_PIX_FMT_YUYV);
    EXPECT_EQ(formats[0].description, "YUYV 4:2:2");
    EXPECT_THAT(formats[0].sizes,
                ElementsAre(FrameSize{640, 480}, FrameSize{320, 240}, FrameSize{1280, 1024}));
    EXPECT_THAT(formats[1].sizes,
                ElementsAre(FrameSize{320, 240}, FrameSize{352, 288}, FrameSize{640, 480},
                            FrameSize{720, 480}, FrameSize{720, 576}, FrameSize{800, 600}));
    EXPECT_TRUE(formats[2].sizes.empty());
    EXPECT_EQ(formats[2].description, std::string(32, 'G'));
    EXPECT_EQ(device->LastError(), 0);
}

TEST(V4l2DeviceFormats, AFailingEnumerationGivesNoList) {
    auto state = Camera();
    state->formats.push_back(fakev4l2::Format{V4L2_PIX_FMT_YUYV, "YUYV", {{320, 240}}, {}, false});
    state->failures[VIDIOC_ENUM_FMT] = EIO;
    auto device = OpenFake(state);
    ASSERT_NE(device, nullptr);

    EXPECT_TRUE(device->Formats().empty());
    EXPECT_EQ(device->LastError(), EIO);
}

TEST(V4l2DeviceFormats, CurrentFormatWithAndWithoutFrameInterval) {
    auto state = Camera();
    state->current.fmt.pix.width = 720;
    state->current.fmt.pix.height = 576;
    state->current.fmt.pix.pixelformat = V4L2_PIX_FMT_YUYV;
    state->current.fmt.pix.bytesperline = 1440;
    state->current.fmt.pix.sizeimage = 1440 * 576;
    auto device = OpenFake(state);
    ASSERT_NE(device, nullptr);

    v4l2::CurrentFormat format;
    format.intervalNumerator = 9;  // overwritten: the driver does not tell
    ASSERT_TRUE(device->GetCurrentFormat(format));
    EXPECT_EQ(format.width, 720);
    EXPECT_EQ(format.height, 576);
    EXPECT_EQ(format.fourcc, V4L2_PIX_FMT_YUYV);
    EXPECT_EQ(format.bytesPerLine, 1440);
    EXPECT_EQ(format.sizeImageBytes, 1440u * 576);
    EXPECT_EQ(format.intervalNumerator, 0u);
    EXPECT_EQ(format.intervalDenominator, 0u);
    EXPECT_EQ(device->LastError(), 0);
    EXPECT_THAT(state->sentBufferTypes, testing::Each(V4L2_BUF_TYPE_VIDEO_CAPTURE));

    state->interval = v4l2_fract{1, 25};
    ASSERT_TRUE(device->GetCurrentFormat(format));
    EXPECT_EQ(format.intervalNumerator, 1u);
    EXPECT_EQ(format.intervalDenominator, 25u);

    state->failures[VIDIOC_G_FMT] = EBUSY;
    v4l2::CurrentFormat untouched;
    untouched.width = 12;
    EXPECT_FALSE(device->GetCurrentFormat(untouched));
    EXPECT_EQ(untouched.width, 12);
    EXPECT_EQ(untouched.intervalDenominator, 0u);
    EXPECT_EQ(device->LastError(), EBUSY);
}

}  // namespace
