#pragma once

#include <string>

#include "cli/console.h"

// Converts the bitmap file `inputPath` to a JPEG file at `outputPath`, quality 100, a few
// rows at a time. Returns kExitSuccess, or kExitFile with one line on the console when the
// bitmap cannot be read or the JPEG cannot be written (then no JPEG file is left, and an
// older file of that name is kept; a device, FIFO, folder or the input itself at
// `outputPath` is never written). SIGINT, SIGTERM or SIGHUP stop it the same way, with
// ExitCodeForSignal. Prints nothing on success.
int RunToJpeg(const std::string& inputPath, const std::string& outputPath, const Console& console);
