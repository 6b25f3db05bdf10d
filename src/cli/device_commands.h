#pragma once

#include <cstdint>
#include <string>

#include "cli/command_session.h"
#include "cli/console.h"

class StillWriter;

// The commands that use a device. Each works on a session made for it, writes its results
// to the console and returns the exit code; the caller stops the session afterwards.
// Every failure is reported in one line on the console's error stream:
//   kExitNoDevice  no supported device, it cannot be started, or it delivers no picture or
//                  no still within the session's frame timeout;
//   kExitUsage     a frame size the device refuses;
//   kExitFile      a still or CapConfig.dat that could not be written (a picture folder that
//                  cannot be made or written into is reported before RunSnap);
//   ExitCodeForSignal(n) when the session was interrupted by signal n.

// One line per device discovery lists: index, friendly name ("-" when it has none), the
// row of its identity or "-", and "*" on the one selected, separated by tabs.
int RunList(CommandSession& session, const Console& console);

struct SnapOptions {
    int count = 1;
    std::int64_t intervalMs = 0;  // between requests; 0 takes each on the next new frame
};

// Starts the graph, waits for the first frame, then takes `count` stills through the
// Camera command's request into `writer`'s folder and prints the full path of each. A
// still that cannot be written leaves no file and ends the series.
int RunSnap(CommandSession& session, StillWriter& writer, const SnapOptions& options,
            const Console& console);

// Starts the graph and sets the frame size as the settings dialog does (which writes it to
// `capConfigPath`), then prints the size of the frames that follow, as WIDTHxHEIGHT.
int RunResolution(CommandSession& session, const std::string& capConfigPath, int width, int height,
                  const Console& console);
