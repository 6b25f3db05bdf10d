#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/picture_tables.h"

// What the simulated device remembers while it stays plugged in, kept in a small text file so
// that it outlives the process, as a real device keeps its controls from one program run to
// the next. One setting a line, "<name> <value>\n":
//   brightness 0
//   contrast 32
//   hue 0
//   saturation 64
//   sharpness 2
//   gamma 100
//   norm 1            (only for a kind with norms)
// Any thread; they block on file-system calls only.
namespace sim {

struct RememberedState {
    PropertyValues values = DefaultPropertyValues();
    std::optional<int> norm;  // nothing for a kind without norms
};

// Reads `path` over `state`. Only whole lines (ending in a newline) of a known name and a
// value in its range (a norm in `norms`) count; anything else in the file is passed over,
// as is a file that cannot be read, is not a regular file, or is larger than any the device
// writes.
void LoadRememberedState(const std::string& path, const std::vector<int>& norms,
                         RememberedState& state);

// Replaces `path` with `state`: written to a new file in the same folder and renamed over
// it, so that a reader sees the old file or the new one, never part of one. The folder is
// made (mode 0700) when it is missing; the folder above it must exist. False when the file
// could not be written (nothing is left behind then).
bool SaveRememberedState(const std::string& path, const RememberedState& state);

// Removes `path`; a missing file is no error.
void ForgetRememberedState(const std::string& path);

}  // namespace sim
