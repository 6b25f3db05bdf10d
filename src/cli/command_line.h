#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "output/avi_recorder.h"
#include "output/picture_formats.h"

struct PicturePropertyRow;

// What the command line of digital-microscope-cli asks for:
//   [--simulate[=KIND]] list
//   [--simulate[=KIND]] snap [--count N] [--interval SECONDS] [--start "YYYY-MM-DD HH:MM:SS"]
//                            [--format bmp|png|tiff]
//   [--simulate[=KIND]] resolution WIDTHxHEIGHT
//   [--simulate[=KIND]] record [--seconds N] [--fps F] [--codec NAME] [--quality Q]
//   [--simulate[=KIND]] properties [NAME=VALUE]...
//   [--simulate[=KIND]] norm [ntsc|pal]
//   to-jpeg INPUT.bmp OUTPUT.jpg
// and --help (anywhere, for the command named before it) and --version.

enum class Command { None, List, Snap, Resolution, Record, ToJpeg, Properties, Norm };

// One NAME=VALUE of the properties command: the property's row in the PicturePropertyTable
// and the value asked for. A value beyond long long is kept as its nearest end, so that the
// device's range still refuses it; `text` is the value as given.
struct PropertySetting {
    int row = 0;
    long long value = 0;
    std::string text;
    bool operator==(const PropertySetting&) const = default;
};

struct CommandLine {
    Command command = Command::None;
    bool help = false;
    bool version = false;
    // From --simulate[=KIND]; nothing when the option was not given (the environment
    // variable may still ask for a simulated device).
    std::optional<int> simulatedKind;

    // snap
    int count = 1;
    std::int64_t intervalMs = 0;
    // When the first still is due, read as a local time; nothing takes it at once.
    std::optional<std::chrono::system_clock::time_point> start;
    // kBmp, kPng or kTiff
    PictureFormat stillFormat = PictureFormat::kBmp;
    // resolution
    int width = 0;
    int height = 0;
    // record: the recorder dialog's defaults, and Microsoft Video 1 at its own quality
    int recordSeconds = 10;
    int framesPerSecond = 15;
    RecorderCompressOptions compression;
    // to-jpeg
    std::string inputPath;
    std::string outputPath;
    // properties: the values to set, in the order given, each property at most once; none
    // lists them
    std::vector<PropertySetting> propertySettings;
    // norm: kNormNtscM or kNormPalB to set; nothing shows the norm in force
    std::optional<int> norm;
};

inline constexpr std::int64_t kMaxIntervalSeconds = 7 * 24 * 60 * 60;
// The years --start takes: a later one is far more likely a slip of the finger than a plan.
inline constexpr int kFirstStartYear = 1970;
inline constexpr int kLastStartYear = 2099;
inline constexpr int kMaxFrameSide = 65535;
// The ranges of the recorder dialog, and the quality scale of the codecs that have one.
inline constexpr int kMaxRecordSeconds = 99999;
inline constexpr int kMaxRecordFramesPerSecond = 30;
inline constexpr int kMaxRecordQuality = 100;

struct ParsedCommandLine {
    CommandLine commandLine;
    std::string error;  // empty when the command line is usable
};

// Reads the arguments after the program's name. Options of a command may come in any order
// among its operands; "--" ends the options. The first --help or --version ends the reading,
// so what follows it is not checked.
ParsedCommandLine ParseCommandLine(std::span<const std::string_view> arguments);

// The name a command is given on the command line ("" for none).
const char* CommandName(Command command);

// The name the properties command gives the property of `row`: its name in lower case
// ("brightness").
std::string PropertyOptionName(const PicturePropertyRow& row);

// The name --codec gives `codec`: its four-character code in lower case ("msvc", "dib").
std::string CodecOptionName(RecorderCodec codec);
