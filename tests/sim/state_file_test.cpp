// The simulated device keeps its controls in a file while it stays plugged in.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <iterator>
#include <string>

#include "sim/simulated_microscope.h"
#include "support/temp_dir.h"

namespace {

using sim::SimulatedMicroscope;
using testsupport::Exists;
using testsupport::TempDir;

// Brightness, contrast, hue, saturation, sharpness and gamma (property numbers 0..5), then the
// norm.
using Controls = std::array<int, sim::kPropertyCount + 1>;
constexpr Controls kDefaults = {0, 32, 0, 64, 2, 100, kNormNtscM};

Controls Read(const SimulatedMicroscope& device) {
    Controls controls{};
    for (int property = 0; property < sim::kPropertyCount; ++property) {
        EXPECT_TRUE(device.GetProperty(property, controls[std::size_t(property)]));
    }
    EXPECT_TRUE(device.GetNorm(controls.back()));
    return controls;
}

TEST(SimulatedStateFileTest, ControlsOutliveTheObjectUntilTheDeviceIsUnplugged) {
    const TempDir runtime;
    const std::string folder = runtime / "digital-microscope";
    const std::string file = folder + "/simulated.state";
    const Controls changed = {-20, 40, 90, 0, 15, 72, kNormPalB};
    {
        SimulatedMicroscope device(sim::Options{.stateFile = file});
        EXPECT_FALSE(Exists(folder)) << "nothing to keep yet";
        for (int property = 0; property < sim::kPropertyCount; ++property) {
            EXPECT_TRUE(device.SetProperty(property, changed[std::size_t(property)]));
        }
        EXPECT_TRUE(device.SetNorm(kNormPalB));
    }
    // The folder is made for the user alone; no temporary file is left in it.
    struct stat folderStatus {};
    ASSERT_EQ(::stat(folder.c_str(), &folderStatus), 0);
    EXPECT_EQ(folderStatus.st_mode & 0777, 0700u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);

    SimulatedMicroscope again(sim::Options{.stateFile = file});
    EXPECT_EQ(Read(again), changed);
    again.Unplug();
    EXPECT_FALSE(Exists(file));
    again.Plug();
    EXPECT_EQ(Read(again), kDefaults);
    EXPECT_EQ(Read(SimulatedMicroscope(sim::Options{.stateFile = file})), kDefaults);
}

TEST(SimulatedStateFileTest, AFileItDidNotWriteWholeIsSurvived) {
    static constexpr char kGarbage[] =
        "\x7f"
        "ELF\0\xff\n\n brightness\t3\n=\n";
    const struct {
        const char* what;
        std::string text;
        Controls expected;
    } cases[] = {
        {"garbage", std::string(kGarbage, sizeof kGarbage - 1), kDefaults},
        {"beyond int", "brightness 99999999999999999999\ncontrast -9999999999\n", kDefaults},
        {"out of range", "brightness 65\ngamma 71\nhue -181\nnorm 2\n", kDefaults},
        {"a last line cut short", "contrast 40\nbrightness 1", {0, 40, 0, 64, 2, 100, kNormNtscM}},
        {"good lines among bad ones",
         "sharpness 7 8\nnorm 16\nHUE 5\nhue -180\nsaturation 0x10\n",
         {0, 32, -180, 64, 2, 100, kNormPalB}},
        {"larger than any it writes", std::string(5000, '\n') + "brightness 10\n", kDefaults},
    };
    const TempDir runtime;
    const std::string file = runtime / "simulated.state";
    for (const auto& hostile : cases) {
        SCOPED_TRACE(hostile.what);
        testsupport::WriteFile(file, hostile.text);
        EXPECT_EQ(Read(SimulatedMicroscope(sim::Options{.stateFile = file})), hostile.expected);
    }
    // A FIFO is neither waited on nor read; a folder is not replaced.
    std::filesystem::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    EXPECT_EQ(Read(SimulatedMicroscope(sim::Options{.stateFile = file})), kDefaults);
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);
    EXPECT_TRUE(SimulatedMicroscope(sim::Options{.stateFile = file}).SetProperty(0, 5));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(runtime.path()), {}), 1);
}

}  // namespace
