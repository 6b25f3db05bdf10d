#include "sim/slide.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace sim {
namespace {

// The slide's extent in slide units around its origin; planes never reach beyond it.
constexpr double kSlideHalfWidth = 470.0;
constexpr double kSlideHalfHeight = 420.0;
constexpr std::uint64_t kSlideSeed = 0x5EED'0F'5A'11DEull;

// splitmix64: small, fast and the same on every platform (unlike the standard distributions).
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double Uniform(double low, double high) {
        return low + (high - low) * static_cast<double>(Next() >> 11) * 0x1.0p-53;
    }

private:
    std::uint64_t state_;
};

std::uint32_t HashLattice(int x, int y, std::uint32_t seed) {
    std::uint32_t h = seed ^ (static_cast<std::uint32_t>(x) * 0x8DA6B343u) ^
                      (static_cast<std::uint32_t>(y) * 0xD8163841u);
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

float LatticeValue(int x, int y, std::uint32_t seed) {
    return static_cast<float>(HashLattice(x, y, seed) & 0xFFFFu) / 32767.5f - 1.0f;
}

// Smooth value noise in -1..1 with features about one unit across.
float ValueNoise(double x, double y, std::uint32_t seed) {
    const double fx = std::floor(x);
    const double fy = std::floor(y);
    const int ix = static_cast<int>(fx);
    const int iy = static_cast<int>(fy);
    const auto tx = static_cast<float>(x - fx);
    const auto ty = static_cast<float>(y - fy);
    const float sx = tx * tx * (3.0f - 2.0f * tx);
    const float sy = ty * ty * (3.0f - 2.0f * ty);
    const float top = std::lerp(LatticeValue(ix, iy, seed), LatticeValue(ix + 1, iy, seed), sx);
    const float bottom =
        std::lerp(LatticeValue(ix, iy + 1, seed), LatticeValue(ix + 1, iy + 1, seed), sx);
    return std::lerp(top, bottom, sy);
}

struct Colour {
    float luma = 0.0f;
    float u = 0.0f;  // deviation from neutral
    float v = 0.0f;
};

// Stain colours of a brightfield slide: pink cytoplasm and fibres, blue-violet nuclei.
constexpr Colour kCytoplasm{172.0f, -4.0f, 14.0f};
constexpr Colour kMembrane{128.0f, -2.0f, 20.0f};
constexpr Colour kNucleus{92.0f, 20.0f, 12.0f};
constexpr Colour kNucleolus{58.0f, 22.0f, 16.0f};
constexpr Colour kFibre{158.0f, -6.0f, 24.0f};
constexpr Colour kDebris{96.0f, 4.0f, 6.0f};

struct Cell {
    double x = 0.0;
    double y = 0.0;
    double radius = 0.0;
    // Outline r(theta) = radius * (1 + lobes2 cos(2 theta + phase2) + lobes3 cos(3 theta +
    // phase3)).
    double lobes2 = 0.0;
    double phase2 = 0.0;
    double lobes3 = 0.0;
    double phase3 = 0.0;
    double nucleusX = 0.0;  // relative to the cell's centre
    double nucleusY = 0.0;
    double nucleusRadius = 0.0;
    double nucleolusX = 0.0;  // relative to the nucleus' centre
    double nucleolusY = 0.0;
    float stain = 1.0f;  // how strongly this cell took up the stain
    std::uint32_t seed = 0;
};

struct Point {
    double x = 0.0;
    double y = 0.0;
};

struct Fibre {
    std::vector<Point> points;
    double width = 0.0;
};

struct Speck {
    Point centre;
    double radius = 0.0;
};

struct SlideContent {
    std::vector<Cell> cells;
    std::vector<Fibre> fibres;
    std::vector<Speck> specks;
};

std::vector<Cell> PlaceCells(Random& random) {
    std::vector<Cell> cells;
    for (int attempt = 0; attempt < 1500 && cells.size() < 120; ++attempt) {
        Cell cell;
        cell.x = random.Uniform(-kSlideHalfWidth, kSlideHalfWidth);
        cell.y = random.Uniform(-kSlideHalfHeight, kSlideHalfHeight);
        cell.radius = random.Uniform(13.0, 30.0);
        const bool crowded = std::any_of(cells.begin(), cells.end(), [&](const Cell& other) {
            return std::hypot(other.x - cell.x, other.y - cell.y) <
                   0.8 * (other.radius + cell.radius);
        });
        if (crowded) {
            continue;
        }
        cell.lobes2 = random.Uniform(0.0, 0.16);
        cell.phase2 = random.Uniform(0.0, 6.2832);
        cell.lobes3 = random.Uniform(0.0, 0.07);
        cell.phase3 = random.Uniform(0.0, 6.2832);
        const double offsetAngle = random.Uniform(0.0, 6.2832);
        const double offset = random.Uniform(0.0, 0.25) * cell.radius;
        cell.nucleusX = offset * std::cos(offsetAngle);
        cell.nucleusY = offset * std::sin(offsetAngle);
        cell.nucleusRadius = random.Uniform(0.3, 0.42) * cell.radius;
        cell.nucleolusX = random.Uniform(-0.3, 0.3) * cell.nucleusRadius;
        cell.nucleolusY = random.Uniform(-0.3, 0.3) * cell.nucleusRadius;
        cell.stain = static_cast<float>(random.Uniform(0.7, 1.25));
        cell.seed = static_cast<std::uint32_t>(random.Next());
        cells.push_back(cell);
    }
    return cells;
}

std::vector<Fibre> LayFibres(Random& random) {
    std::vector<Fibre> fibres(16);
    for (Fibre& fibre : fibres) {
        Point at{random.Uniform(-kSlideHalfWidth, kSlideHalfWidth),
                 random.Uniform(-kSlideHalfHeight, kSlideHalfHeight)};
        double heading = random.Uniform(0.0, 6.2832);
        double bend = random.Uniform(-0.01, 0.01);
        const int steps = static_cast<int>(random.Uniform(120.0, 380.0));
        fibre.width = random.Uniform(0.8, 2.4);
        for (int step = 0; step < steps; ++step) {
            fibre.points.push_back(at);
            bend = std::clamp(bend + random.Uniform(-0.004, 0.004), -0.02, 0.02);
            heading += bend;
            at.x += 2.0 * std::cos(heading);
            at.y += 2.0 * std::sin(heading);
        }
    }
    return fibres;
}

SlideContent MakeSlideContent() {
    Random random(kSlideSeed);
    SlideContent content;
    content.cells = PlaceCells(random);
    content.fibres = LayFibres(random);
    content.specks.resize(90);
    for (Speck& speck : content.specks) {
        speck.centre = {random.Uniform(-kSlideHalfWidth, kSlideHalfWidth),
                        random.Uniform(-kSlideHalfHeight, kSlideHalfHeight)};
        speck.radius = random.Uniform(0.6, 2.0);
    }
    return content;
}

// Paints slide content into planes; pixel (px, py) shows the slide at
// ((px + 0.5 - width / 2) / scale, (py + 0.5 - height / 2) / scale).
class Painter {
public:
    Painter(SlidePlanes& planes, double scale) : planes_(planes), scale_(scale) {}

    void Background() {
        for (int py = 0; py < planes_.height; ++py) {
            for (int px = 0; px < planes_.width; ++px) {
                const Point at = SlideAt(px, py);
                const std::size_t i = Index(px, py);
                const float wash = ValueNoise(at.x / 170.0, at.y / 170.0, 11);
                const float mottle = ValueNoise(at.x / 35.0, at.y / 35.0, 12);
                planes_.luma[i] = 204.0f + 8.0f * wash + 3.0f * mottle;
                planes_.u[i] = -2.0f + 2.0f * mottle;
                planes_.v[i] = 4.0f + 4.0f * wash;
            }
        }
    }

    void Fibres(const std::vector<Fibre>& fibres) {
        std::vector<float> coverage(planes_.luma.size(), 0.0f);
        for (const Fibre& fibre : fibres) {
            const double radius = std::max(0.7, fibre.width * scale_);
            for (const Point& point : fibre.points) {
                ForDisk(point, radius / scale_ + 1.0 / scale_, [&](std::size_t i, double d) {
                    const auto edge = static_cast<float>(std::clamp(radius + 0.5 - d, 0.0, 1.0));
                    coverage[i] = std::max(coverage[i], edge);
                });
            }
        }
        for (std::size_t i = 0; i < coverage.size(); ++i) {
            if (coverage[i] > 0.0f) {
                Blend(i, kFibre, 0.6f * coverage[i]);
            }
        }
    }

    void Specks(const std::vector<Speck>& specks) {
        for (const Speck& speck : specks) {
            const double radius = std::max(0.7, speck.radius * scale_);
            ForDisk(speck.centre, radius / scale_ + 1.0 / scale_, [&](std::size_t i, double d) {
                const auto edge = static_cast<float>(std::clamp(radius + 0.5 - d, 0.0, 1.0));
                Blend(i, kDebris, 0.7f * edge);
            });
        }
    }

    void Cells(const std::vector<Cell>& cells) {
        for (const Cell& cell : cells) {
            PaintCell(cell);
        }
    }

private:
    Point SlideAt(int px, int py) const {
        return {(px + 0.5 - planes_.width / 2.0) / scale_,
                (py + 0.5 - planes_.height / 2.0) / scale_};
    }
    std::size_t Index(int px, int py) const {
        return static_cast<std::size_t>(py) * static_cast<std::size_t>(planes_.width) +
               static_cast<std::size_t>(px);
    }

    void Blend(std::size_t i, const Colour& colour, float alpha) {
        planes_.luma[i] += (colour.luma - planes_.luma[i]) * alpha;
        planes_.u[i] += (colour.u - planes_.u[i]) * alpha;
        planes_.v[i] += (colour.v - planes_.v[i]) * alpha;
    }

    // Calls visit(index, distance in pixels) for every pixel within `radiusUnits` of `centre`.
    template <typename Visit>
    void ForBox(const Point& centre, double radiusUnits, Visit visit) {
        const double cx = centre.x * scale_ + planes_.width / 2.0;
        const double cy = centre.y * scale_ + planes_.height / 2.0;
        const double reach = radiusUnits * scale_;
        const int x0 = std::max(0, static_cast<int>(std::floor(cx - reach)));
        const int x1 = std::min(planes_.width - 1, static_cast<int>(std::ceil(cx + reach)));
        const int y0 = std::max(0, static_cast<int>(std::floor(cy - reach)));
        const int y1 = std::min(planes_.height - 1, static_cast<int>(std::ceil(cy + reach)));
        for (int py = y0; py <= y1; ++py) {
            for (int px = x0; px <= x1; ++px) {
                visit(px, py, Index(px, py));
            }
        }
    }

    template <typename Visit>
    void ForDisk(const Point& centre, double radiusUnits, Visit visit) {
        const double cx = centre.x * scale_ + planes_.width / 2.0;
        const double cy = centre.y * scale_ + planes_.height / 2.0;
        const double reach = radiusUnits * scale_;
        ForBox(centre, radiusUnits, [&](int px, int py, std::size_t i) {
            const double d = std::hypot(px + 0.5 - cx, py + 0.5 - cy);
            if (d <= reach) {
                visit(i, d);
            }
        });
    }

    void PaintCell(const Cell& cell) {
        const double reach = cell.radius * (1.0 + cell.lobes2 + cell.lobes3) * 1.2;
        ForBox({cell.x, cell.y}, reach, [&](int px, int py, std::size_t i) {
            const Point at = SlideAt(px, py);
            const double dx = at.x - cell.x;
            const double dy = at.y - cell.y;
            const double theta = std::atan2(dy, dx);
            const double outline =
                cell.radius * (1.0 + cell.lobes2 * std::cos(2 * theta + cell.phase2) +
                               cell.lobes3 * std::cos(3 * theta + cell.phase3));
            const double q = std::hypot(dx, dy) / outline;
            if (q >= 1.15) {
                return;
            }
            if (q >= 1.0) {
                // Bright halo around the membrane, as refraction gives in brightfield.
                planes_.luma[i] += static_cast<float>(14.0 * (1.15 - q) / 0.15);
                return;
            }
            const float granules = ValueNoise(at.x / 3.0, at.y / 3.0, cell.seed);
            Colour cytoplasm = kCytoplasm;
            cytoplasm.luma += 7.0f * granules;
            Blend(i, cytoplasm, 0.32f * cell.stain);
            const double ring = (q - 0.93) / 0.05;
            Blend(i, kMembrane, static_cast<float>(0.55 * std::exp(-ring * ring)) * cell.stain);
            PaintNucleus(cell, dx, dy, i);
        });
    }

    void PaintNucleus(const Cell& cell, double dx, double dy, std::size_t i) {
        const double nx = dx - cell.nucleusX;
        const double ny = dy - cell.nucleusY;
        const double wobble = 1.0 + 0.08 * std::cos(2 * std::atan2(ny, nx) + cell.phase3);
        const double q = std::hypot(nx, ny) / (cell.nucleusRadius * wobble);
        if (q >= 1.0) {
            return;
        }
        const float chromatin = ValueNoise(nx / 1.6, ny / 1.6, cell.seed ^ 0xC0FFEEu);
        Colour nucleus = kNucleus;
        nucleus.luma += 16.0f * chromatin;
        const float edge = static_cast<float>(std::clamp((1.0 - q) * 6.0, 0.0, 1.0));
        Blend(i, nucleus, std::min(0.95f, 0.72f * edge * cell.stain));
        const double ring = (q - 0.9) / 0.08;
        Blend(i, kNucleolus, static_cast<float>(0.25 * std::exp(-ring * ring)));
        const double d = std::hypot(nx - cell.nucleolusX, ny - cell.nucleolusY);
        const double nucleolus = 0.22 * cell.nucleusRadius;
        if (d < nucleolus) {
            Blend(i, kNucleolus, static_cast<float>(0.8 * (1.0 - d / nucleolus)));
        }
    }

    SlidePlanes& planes_;
    double scale_;
};

// One pass of a box filter of `radius` along a line of `count` samples `stride` apart;
// samples beyond the ends repeat the end samples.
void BoxLine(float* data, int count, std::ptrdiff_t stride, int radius, std::vector<float>& copy) {
    copy.resize(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) {
        copy[static_cast<std::size_t>(k)] = data[k * stride];
    }
    auto at = [&](int k) { return copy[static_cast<std::size_t>(std::clamp(k, 0, count - 1))]; };
    float sum = 0.0f;
    for (int k = -radius; k <= radius; ++k) {
        sum += at(k);
    }
    const float norm = 1.0f / static_cast<float>(2 * radius + 1);
    for (int k = 0; k < count; ++k) {
        data[k * stride] = sum * norm;
        sum += at(k + radius + 1) - at(k - radius);
    }
}

// Two box passes in each direction: close to a Gaussian of sigma ~ radius.
void Defocus(std::vector<float>& plane, int width, int height, int radius) {
    std::vector<float> copy;
    for (int pass = 0; pass < 2; ++pass) {
        for (int y = 0; y < height; ++y) {
            BoxLine(plane.data() + static_cast<std::ptrdiff_t>(y) * width, width, 1, radius, copy);
        }
        for (int x = 0; x < width; ++x) {
            BoxLine(plane.data() + x, height, width, radius, copy);
        }
    }
}

}  // namespace

SlidePlanes PaintSlide(int width, int height, double pixelsPerUnit) {
    SlidePlanes planes;
    planes.width = width;
    planes.height = height;
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    planes.luma.assign(count, 0.0f);
    planes.u.assign(count, 0.0f);
    planes.v.assign(count, 0.0f);

    const SlideContent content = MakeSlideContent();
    Painter painter(planes, pixelsPerUnit);
    painter.Background();
    painter.Fibres(content.fibres);
    painter.Specks(content.specks);
    painter.Cells(content.cells);

    const int lumaBlur = std::max(1, static_cast<int>(std::lround(0.8 * pixelsPerUnit)));
    Defocus(planes.luma, width, height, lumaBlur);
    Defocus(planes.u, width, height, lumaBlur + 1);
    Defocus(planes.v, width, height, lumaBlur + 1);
    return planes;
}

}  // namespace sim
