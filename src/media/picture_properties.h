#pragma once

// The program's picture properties: their numbers and the range a device offers for each.

// Property numbers. 0-5 are the picture properties every device kind may have; 6 (colour
// enable) has no control on Linux; 7-9 are camera controls.
enum PictureProperty : int {
    kBrightness = 0,
    kContrast = 1,
    kHue = 2,
    kSaturation = 3,
    kSharpness = 4,
    kGamma = 5,
    kWhiteBalance = 7,
    kBacklightCompensation = 8,
    kGain = 9,
};

// PropertyRange::flags bits.
inline constexpr int kControlFlagAuto = 1;    // the device has a working automatic mode for it
inline constexpr int kControlFlagManual = 2;  // the value can be set by hand (not read-only)

struct PropertyRange {
    int minimum = 0;
    int maximum = 0;
    int step = 0;
    int defaultValue = 0;
    int flags = 0;  // kControlFlagAuto | kControlFlagManual
};
