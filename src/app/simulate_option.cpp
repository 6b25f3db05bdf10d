#include "app/simulate_option.h"

#include <cstdlib>

std::optional<int> SimulatedKindFromText(std::string_view text) {
    if (text.empty() || text == "microscope" || text == "1") {
        return 0;
    }
    if (text == "camera") {
        return 1;
    }
    return std::nullopt;
}

SimulateArgument ParseSimulateArgument(std::string_view argument) {
    constexpr std::string_view kOption = "--simulate";
    if (argument == kOption) {
        return {true, 0};
    }
    if (argument.size() > kOption.size() && argument.starts_with(kOption) &&
        argument[kOption.size()] == '=') {
        return {true, SimulatedKindFromText(argument.substr(kOption.size() + 1))};
    }
    return {};
}

bool FrameCodeFromEnvironment() {
    const char* value = std::getenv(kFrameCodeVariable);
    return value != nullptr && std::string_view(value) == "1";
}

std::optional<int> SimulatedKindFromEnvironment() {
    const char* value = std::getenv(kSimulateVariable);
    if (value == nullptr || *value == '\0') {
        return kNoSimulatedDevice;
    }
    return SimulatedKindFromText(value);
}

std::string SimulatedStateFile(int kind) {
    const char* runtimeFolder = std::getenv("XDG_RUNTIME_DIR");
    if (kind < 0 || runtimeFolder == nullptr || runtimeFolder[0] != '/') {
        return {};
    }
    std::string path(runtimeFolder);
    if (path.back() != '/') {
        path += '/';
    }
    return path + "digital-microscope/" +
           (kind == 1 ? "simulated-camera.state" : "simulated-microscope.state");
}
