#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// What the command line of digital-microscope-cli asks for:
//   [--simulate[=KIND]] list
//   [--simulate[=KIND]] snap [--count N] [--interval SECONDS]
//   [--simulate[=KIND]] resolution WIDTHxHEIGHT
//   to-jpeg INPUT.bmp OUTPUT.jpg
// and --help (anywhere, for the command named before it) and --version.

enum class Command { None, List, Snap, Resolution, ToJpeg };

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
    // resolution
    int width = 0;
    int height = 0;
    // to-jpeg
    std::string inputPath;
    std::string outputPath;
};

inline constexpr std::int64_t kMaxIntervalSeconds = 7 * 24 * 60 * 60;
inline constexpr int kMaxFrameSide = 65535;

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
