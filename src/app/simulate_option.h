#pragma once

#include <optional>
#include <string>
#include <string_view>

// Choosing the simulated device instead of the system's devices: the option
// --simulate[=KIND] or the environment variable DIGITAL_MICROSCOPE_SIMULATE. A kind is the
// row of the device kind (0 the microscope, 1 the camera); -1 asks for none.

inline constexpr const char* kSimulateVariable = "DIGITAL_MICROSCOPE_SIMULATE";
inline constexpr int kNoSimulatedDevice = -1;

// The kind named by an option value or the variable: "", "microscope" and "1" give 0,
// "camera" 1; any other text nothing.
std::optional<int> SimulatedKindFromText(std::string_view text);

// What one command-line argument says: whether it is the option at all, and the kind it
// names (nothing for an unknown kind).
struct SimulateArgument {
    bool isSimulateOption = false;
    std::optional<int> kind;
};
SimulateArgument ParseSimulateArgument(std::string_view argument);

// The kind the variable asks for: kNoSimulatedDevice when it is unset or empty, nothing
// when it names no kind. Any thread.
std::optional<int> SimulatedKindFromEnvironment();

// The simulated device's frames carry their index as a code in their top rows (for tests
// that check which frame a still or a recording holds) only when this variable is "1".
inline constexpr const char* kFrameCodeVariable = "DIGITAL_MICROSCOPE_FRAME_CODE";
// Whether the variable asks for the frame index code. Any thread.
bool FrameCodeFromEnvironment();

// Where the simulated device of `kind` keeps its controls while it stays plugged in:
// "$XDG_RUNTIME_DIR/digital-microscope/simulated-microscope.state" (kind 0) or
// ".../simulated-camera.state" (kind 1), a folder the system empties at every boot, as a real
// device forgets its controls when it loses power. "" when XDG_RUNTIME_DIR is unset or not an
// absolute path, or for kNoSimulatedDevice. Any thread.
std::string SimulatedStateFile(int kind);
