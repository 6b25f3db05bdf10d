#include "sim/field_of_view.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sim/slide.h"

namespace sim {
namespace {

// The frame width that shows 640 slide units, the reference magnification.
constexpr double kReferenceWidth = 640.0;
// Frames per cycle of the window's drift across the slide (30 and 43 s at 30 fps) and of the
// rows' wobble.
constexpr std::uint64_t kDriftPeriodX = 900;
constexpr std::uint64_t kDriftPeriodY = 1300;
constexpr std::uint64_t kWobblePeriod = 96;
constexpr std::size_t kNoiseTableSize = std::size_t{1} << 16;

std::uint64_t Mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Phase(std::uint64_t index, std::uint64_t period) {
    return 2.0 * std::numbers::pi * static_cast<double>(index % period) /
           static_cast<double>(period);
}

// `value` rounded half away from zero and clamped to 0..255 (as std::lround would round it;
// a float plus 0.5 is exact in double).
std::uint8_t ToByte(float value) {
    if (!(value > 0.0f)) {
        return 0;
    }
    if (value >= 255.0f) {
        return 255;
    }
    return static_cast<std::uint8_t>(static_cast<double>(value) + 0.5);
}

int Clamp255(int value) {
    return std::clamp(value, 0, 255);
}

std::uint8_t ClampChroma(int value) {
    return static_cast<std::uint8_t>(std::clamp(value, 16, 240));
}

// Illumination of the round field: brightest in the middle, falling off gently and then
// steeply at the field stop, so the corners of the frame stay dark. The field is symmetric
// about both middle lines: the top left quarter is worked out and mirrored.
std::vector<std::uint8_t> MakeVignette(FrameSize size) {
    const auto width = static_cast<std::size_t>(size.width);
    std::vector<std::uint8_t> vignette(width * static_cast<std::size_t>(size.height));
    const double fieldRadius = 0.45 * std::hypot(size.width, size.height);
    for (int y = 0; y < (size.height + 1) / 2; ++y) {
        const auto top = static_cast<std::size_t>(y) * width;
        const auto bottom = static_cast<std::size_t>(size.height - 1 - y) * width;
        for (int x = 0; x < (size.width + 1) / 2; ++x) {
            const double r =
                std::hypot(x + 0.5 - size.width / 2.0, y + 0.5 - size.height / 2.0) / fieldRadius;
            const double stop = std::clamp((r - 0.84) / 0.16, 0.0, 1.0);
            const double edge = 1.0 - stop * stop * (3.0 - 2.0 * stop);
            const double light = (1.0 - 0.2 * r * r) * edge;
            const auto value =
                static_cast<std::uint8_t>(std::lround(255.0 * std::clamp(light, 0.0, 1.0)));
            const auto left = static_cast<std::size_t>(x);
            const auto right = width - 1 - left;
            vignette[top + left] = vignette[top + right] = value;
            vignette[bottom + left] = vignette[bottom + right] = value;
        }
    }
    return vignette;
}

// Small sensor noise, -3..3 with a triangular distribution.
std::vector<std::int8_t> MakeNoise(int width) {
    std::vector<std::int8_t> noise(kNoiseTableSize + static_cast<std::size_t>(width));
    for (std::size_t i = 0; i < noise.size(); ++i) {
        const std::uint64_t h = Mix(i + 0x51CEull);
        noise[i] = static_cast<std::int8_t>(static_cast<int>(h & 3u) +
                                            static_cast<int>((h >> 2) & 3u) - 3);
    }
    return noise;
}

}  // namespace

Specimen::Specimen(FrameSize size) : size_(size) {
    const double scale = size.width / kReferenceWidth;
    driftPixels_ = std::max(2, static_cast<int>(std::lround(40.0 * scale)));
    wobblePixels_ = std::max(1, static_cast<int>(std::lround(1.2 * scale)));
    textureWidth_ = size.width + 2 * driftPixels_ + 2 * wobblePixels_;
    textureHeight_ = size.height + 2 * driftPixels_;

    const SlidePlanes slide = PaintSlide(textureWidth_, textureHeight_, scale);
    const auto width = static_cast<std::size_t>(textureWidth_);
    const auto height = static_cast<std::size_t>(textureHeight_);
    luma_.resize(width * height);
    std::transform(slide.luma.begin(), slide.luma.end(), luma_.begin(), ToByte);

    chromaU_.resize(width / 2 * height);
    chromaV_.resize(width / 2 * height);
    for (std::size_t i = 0; i < chromaU_.size(); ++i) {
        chromaU_[i] = ToByte(128.0f + 0.5f * (slide.u[2 * i] + slide.u[2 * i + 1]));
        chromaV_[i] = ToByte(128.0f + 0.5f * (slide.v[2 * i] + slide.v[2 * i + 1]));
    }

    // Detail for the sharpness control: luma minus the mean of its 3 x 3 neighbourhood (the
    // edge samples repeated beyond the edges), from sums of three along the rows above, at and
    // below each row.
    detail_.resize(width * height);
    const auto sumsOfRow = [&](std::size_t y, std::vector<int>& sums) {
        const std::uint8_t* row = luma_.data() + y * width;
        for (std::size_t x = 0; x < width; ++x) {
            sums[x] = row[x == 0 ? 0 : x - 1] + row[x] + row[x + 1 == width ? x : x + 1];
        }
    };
    std::vector<int> above(width);
    std::vector<int> middle(width);
    std::vector<int> below(width);
    sumsOfRow(0, middle);
    above = middle;
    for (std::size_t y = 0; y < height; ++y) {
        if (y + 1 < height) {
            sumsOfRow(y + 1, below);
        } else {
            below = middle;
        }
        const std::uint8_t* row = luma_.data() + y * width;
        std::uint8_t* out = detail_.data() + y * width;
        for (std::size_t x = 0; x < width; ++x) {
            const int detail = row[x] - (above[x] + middle[x] + below[x] + 4) / 9;
            out[x] = static_cast<std::uint8_t>(std::clamp(detail + 128, 0, 255));
        }
        std::swap(above, middle);
        std::swap(middle, below);
    }

    vignette_ = MakeVignette(size);
    noise_ = MakeNoise(size.width);
}

std::size_t Specimen::FrameBytes() const {
    return 2 * static_cast<std::size_t>(size_.width) * static_cast<std::size_t>(size_.height);
}

Specimen::WindowOrigin Specimen::OriginOf(std::uint64_t index) const {
    const double x = std::sin(Phase(index, kDriftPeriodX));
    const double y = std::sin(Phase(index, kDriftPeriodY) + 1.3);
    return {driftPixels_ + static_cast<int>(std::lround(driftPixels_ * x)),
            driftPixels_ + static_cast<int>(std::lround(driftPixels_ * y))};
}

int Specimen::RowWobble(int row, std::uint64_t index) const {
    const double wave = 2.0 * std::numbers::pi * row / (0.45 * size_.height);
    return static_cast<int>(
        std::lround(wobblePixels_ * std::sin(wave + Phase(index, kWobblePeriod))));
}

void Specimen::Compose(std::uint64_t index, const PictureTables& tables, std::uint8_t* yuy2) const {
    const WindowOrigin origin = OriginOf(index);
    const std::size_t rowBytes = 2 * static_cast<std::size_t>(size_.width);
    for (int row = 0; row < size_.height; ++row) {
        ComposeRow(row, origin, index, tables, yuy2 + static_cast<std::size_t>(row) * rowBytes);
    }
}

void Specimen::ComposeRow(int row, const WindowOrigin& origin, std::uint64_t index,
                          const PictureTables& tables, std::uint8_t* out) const {
    const auto textureRow = static_cast<std::size_t>(origin.y + row);
    const auto textureColumn =
        static_cast<std::size_t>(origin.x + wobblePixels_ + RowWobble(row, index));
    const std::size_t textureStart =
        textureRow * static_cast<std::size_t>(textureWidth_) + textureColumn;
    const std::size_t chromaStart =
        textureRow * static_cast<std::size_t>(textureWidth_ / 2) + textureColumn / 2;
    const std::uint8_t* luma = luma_.data() + textureStart;
    const std::uint8_t* detail = detail_.data() + textureStart;
    const std::uint8_t* u = chromaU_.data() + chromaStart;
    const std::uint8_t* v = chromaV_.data() + chromaStart;
    const std::uint8_t* light =
        vignette_.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(size_.width);
    const std::int8_t* noise =
        noise_.data() +
        (Mix(index * 0x10000ull + static_cast<std::uint64_t>(row)) & (kNoiseTableSize - 1));

    for (int x = 0, pair = 0; x < size_.width; x += 2, ++pair) {
        int y0 = luma[x] + tables.sharpen[detail[x]];
        int y1 = luma[x + 1] + tables.sharpen[detail[x + 1]];
        y0 = 16 + (((y0 - 16) * light[x]) >> 8) + noise[x];
        y1 = 16 + (((y1 - 16) * light[x + 1]) >> 8) + noise[x + 1];
        // Chroma fades with the light; the shift keeps the deviation within -128..127.
        const int du = ((u[pair] - 128) * light[x]) >> 8;
        const int dv = ((v[pair] - 128) * light[x]) >> 8;
        out[0] = tables.luma[static_cast<std::size_t>(Clamp255(y0))];
        out[1] = ClampChroma(128 + tables.uFromU[static_cast<std::size_t>(du + 128)] +
                             tables.uFromV[static_cast<std::size_t>(dv + 128)]);
        out[2] = tables.luma[static_cast<std::size_t>(Clamp255(y1))];
        out[3] = ClampChroma(128 + tables.vFromU[static_cast<std::size_t>(du + 128)] +
                             tables.vFromV[static_cast<std::size_t>(dv + 128)]);
        out += 4;
    }
}

}  // namespace sim
