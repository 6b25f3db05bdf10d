#include "sim/picture_tables.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sim {
namespace {

// Ranges in the style of a UVC camera: brightness an offset in luma steps, contrast and
// saturation gains with the default at unity, hue in degrees, sharpness a boost level, gamma
// in hundredths (100 = linear).
constexpr std::array<PropertyRange, kPropertyCount> kRanges = {{
    {-64, 64, 1, 0},    // brightness
    {0, 64, 1, 32},     // contrast: gain value / 32
    {-180, 180, 1, 0},  // hue: degrees of chroma rotation
    {0, 128, 1, 64},    // saturation: gain value / 64
    {0, 15, 1, 2},      // sharpness: detail boost value / 2
    {72, 500, 1, 100},  // gamma: exponent 100 / value on luma
}};

constexpr int kLumaBlack = 16;
constexpr int kLumaWhite = 235;
constexpr double kLumaMidGrey = (kLumaBlack + kLumaWhite) / 2.0;

std::uint8_t LumaFor(int input, const PropertyValues& values) {
    double level = std::clamp((input - kLumaBlack) / double(kLumaWhite - kLumaBlack), 0.0, 1.0);
    level = std::pow(level, 100.0 / values[kGamma]);
    double luma = kLumaBlack + level * (kLumaWhite - kLumaBlack);
    luma = kLumaMidGrey + (luma - kLumaMidGrey) * values[kContrast] / 32.0;
    luma += values[kBrightness];
    return static_cast<std::uint8_t>(std::lround(std::clamp(luma, 16.0, 235.0)));
}

}  // namespace

PropertyRange PropertyRangeOf(int property) {
    return kRanges[static_cast<std::size_t>(property)];
}

PropertyValues DefaultPropertyValues() {
    PropertyValues values{};
    for (int property = 0; property < kPropertyCount; ++property) {
        values[static_cast<std::size_t>(property)] = PropertyRangeOf(property).defaultValue;
    }
    return values;
}

int ClampPropertyValue(int property, int value) {
    const PropertyRange range = PropertyRangeOf(property);
    return std::clamp(value, range.minimum, range.maximum);
}

PictureTables BuildPictureTables(const PropertyValues& values) {
    PictureTables tables;
    for (int i = 0; i < 256; ++i) {
        const auto slot = static_cast<std::size_t>(i);
        tables.luma[slot] = LumaFor(i, values);
        tables.sharpen[slot] = static_cast<std::int16_t>((i - 128) * values[kSharpness] / 2);
    }
    const double gain = values[kSaturation] / 64.0;
    const double angle = values[kHue] * std::numbers::pi / 180.0;
    const double cosGain = gain * std::cos(angle);
    const double sinGain = gain * std::sin(angle);
    for (int i = 0; i < 256; ++i) {
        const auto slot = static_cast<std::size_t>(i);
        const int deviation = i - 128;
        tables.uFromU[slot] = static_cast<std::int16_t>(std::lround(cosGain * deviation));
        tables.uFromV[slot] = static_cast<std::int16_t>(std::lround(-sinGain * deviation));
        tables.vFromU[slot] = static_cast<std::int16_t>(std::lround(sinGain * deviation));
        tables.vFromV[slot] = static_cast<std::int16_t>(std::lround(cosGain * deviation));
    }
    return tables;
}

}  // namespace sim
