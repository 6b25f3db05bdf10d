#pragma once

#include <cstdint>

// Result codes of media operations, in the framework's convention: 0 and other
// non-negative values succeed, negative values fail. The values are the ones the
// trace texts print.
using HResult = std::int32_t;

namespace hr {
inline constexpr HResult kOk = 0;
inline constexpr HResult kFalse = 1;
inline constexpr HResult kFail = static_cast<HResult>(0x80004005);
inline constexpr HResult kNoInterface = static_cast<HResult>(0x80004002);
inline constexpr HResult kPointer = static_cast<HResult>(0x80004003);
inline constexpr HResult kOutOfMemory = static_cast<HResult>(0x8007000E);
inline constexpr HResult kInvalidArgument = static_cast<HResult>(0x80070057);
inline constexpr HResult kNotFound = static_cast<HResult>(0x80070490);
inline constexpr HResult kInvalidMediaType = static_cast<HResult>(0x80040200);
inline constexpr HResult kAlreadyConnected = static_cast<HResult>(0x80040204);
inline constexpr HResult kNotConnected = static_cast<HResult>(0x80040209);
inline constexpr HResult kNoAcceptableTypes = static_cast<HResult>(0x80040207);
inline constexpr HResult kDeviceRemoved = static_cast<HResult>(0x8007048F);
inline constexpr HResult kWrongState = static_cast<HResult>(0x80040227);
}  // namespace hr

constexpr bool Succeeded(HResult result) {
    return result >= 0;
}
constexpr bool Failed(HResult result) {
    return result < 0;
}

// For printing with %08X / %x.
constexpr unsigned HexOf(HResult result) {
    return static_cast<unsigned>(result);
}
