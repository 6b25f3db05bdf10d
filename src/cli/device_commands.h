#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/command_session.h"
#include "cli/console.h"
#include "output/avi_recorder.h"

class StillWriter;

// The commands that use a device. Each works on a session made for it, writes its results
// to the console and returns the exit code; the caller stops the session afterwards.
// Every failure is reported in one line on the console's error stream:
//   kExitNoDevice  no supported device, it cannot be started or its controls cannot be
//                  opened, or it delivers no picture or no still within the session's frame
//                  timeout, or it is unplugged while recording or stops answering;
//   kExitUsage     a frame size the device refuses, a codec this system cannot record with
//                  or that does not take the frame size, a start time already past, a
//                  property value outside the device's range or refused by it, a property
//                  or a norm the device does not have;
//   kExitFile      a still, a recording or CapConfig.dat that could not be written (a
//                  picture or video folder that cannot be made or written into is reported
//                  before RunSnap or RunRecord);
//   ExitCodeForSignal(n) when the session was interrupted by signal n.

// One line per device discovery lists: index, friendly name ("-" when it has none), the
// row of its identity or "-", and "*" on the one selected, separated by tabs.
int RunList(CommandSession& session, const Console& console);

// Reads the time of day; the program's is std::chrono::system_clock::now.
using WallClock = std::function<std::chrono::system_clock::time_point()>;

struct SnapOptions {
    int count = 1;
    std::int64_t intervalMs = 0;  // between requests; 0 takes each on the next new frame
    // When the first still is due on `wallClock`; nothing takes it at once.
    std::optional<std::chrono::system_clock::time_point> start = std::nullopt;
    WallClock wallClock = [] { return std::chrono::system_clock::now(); };
    // The stills' format (kBmp, kPng or kTiff) and what their files record; see
    // StillOutput.
    StillOutput output = {};
};

// Starts the graph, waits for the first frame, then takes `count` stills through the
// Camera command's request into `writer`'s folder, in the options' format, and prints the
// full path of each. A still that cannot be written leaves no file and ends the series.
// With a start, a start in an earlier second than the wall clock's is refused with the
// time-lapse dialog's words for it (SET_TIMER_FAIL) before the device is opened; otherwise the
// first still waits until the wall clock reaches the start, however the clock gets there (a clock
// set forward, or a machine that slept through the start, lets it go at once).
int RunSnap(CommandSession& session, StillWriter& writer, const SnapOptions& options,
            const Console& console);

// Starts the graph and sets the frame size as the settings dialog does (which writes it to
// `capConfigPath`), then prints the size of the frames that follow, as WIDTHxHEIGHT.
int RunResolution(CommandSession& session, const std::string& capConfigPath, int width, int height,
                  const Console& console);

// The picture properties of the settings dialog, without streaming. With no settings, prints
// the properties the device offers (the others are left out), one a line after the header
// line "name\tminimum\tmaximum\tdefault\tvalue", separated by tabs, in the dialog's order:
//   brightness\t-64\t64\t0\t10
// With settings, checks every one against the device's range first and sets none when one is
// outside it or the device lacks the property; otherwise sets each in turn, reads it back and
// prints the header and one such line for each, in the order given. A value the device
// refuses is reported with the value it holds (kExitUsage), and the others are still set.
int RunProperties(CommandSession& session, const std::vector<PropertySetting>& settings,
                  const Console& console);

// The analog video norm of a microscope of the library kind (the camera kind has none). Opens
// the device without streaming, sets `norm` when given as the settings dialog does, and
// prints the norm in force: "ntsc" (NTSC M), "pal" (PAL B), or any other as its number in
// hex ("0x20"). A camera, a device without norms, or a norm the device refuses is
// kExitUsage.
int RunNorm(CommandSession& session, std::optional<int> norm, const Console& console);

struct RecordOptions {
    int seconds = 10;
    int framesPerSecond = 15;
    RecorderCompressOptions compression;
};

// Records as the main window does: starts the graph, runs it at `framesPerSecond`, waits
// for a frame, opens the next VCap<nnnn>.avi in `videoFolder` and lets the frames flow into
// it for `seconds` of wall time; the recorder's notes go to the program's trace. A write
// failure, a device that falls silent or is unplugged, or SIGINT, SIGTERM or SIGHUP
// (Interrupt) end it early. The recording is closed and the graph stopped before it
// returns. Once the file was opened, its full path is printed on a line of its own, then
// "frames written: N, dropped: M"; an ending by a signal is a success, the others exit with
// their code after that.
int RunRecord(CommandSession& session, const std::string& videoFolder, const RecordOptions& options,
              const Console& console);
