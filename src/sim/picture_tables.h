#pragma once

#include <array>
#include <cstdint>

#include "sim/simulated_microscope.h"

namespace sim {

// The six picture properties of the simulated device: their ranges, and the look-up tables
// that apply a set of values to a frame. Tables are built once per change of a value and are
// immutable afterwards, so a stream can keep using one set while another is being built.

// A value for each of the properties 0..kPropertyCount-1, indexed by PictureProperty.
using PropertyValues = std::array<int, kPropertyCount>;

// The range of `property` (0..5); the caller checks the number.
PropertyRange PropertyRangeOf(int property);
// Every property at its default value.
PropertyValues DefaultPropertyValues();
// `value` clamped to the range of `property`.
int ClampPropertyValue(int property, int value);

struct PictureTables {
    // Luma after sharpening, vignetting and noise (clamped to 0..255) -> output luma:
    // gamma curve, contrast about mid-grey, brightness offset, clamped to 16..235.
    std::array<std::uint8_t, 256> luma{};
    // Detail (luma minus its local mean, offset by 128) -> luma added by the sharpness boost.
    std::array<std::int16_t, 256> sharpen{};
    // Chroma deviation from neutral (offset by 128) -> contribution to the output deviation:
    // saturation gain and hue rotation. u' = uFromU[u] + uFromV[v], v' = vFromU[u] + vFromV[v].
    std::array<std::int16_t, 256> uFromU{};
    std::array<std::int16_t, 256> uFromV{};
    std::array<std::int16_t, 256> vFromU{};
    std::array<std::int16_t, 256> vFromV{};
};

// Builds the tables for `values` (each already within its range).
PictureTables BuildPictureTables(const PropertyValues& values);

}  // namespace sim
