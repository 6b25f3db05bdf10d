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

// Smooth value noise in -1..1 with features about one unit across (bilinear between hashed
// lattice values, smoothstep-weighted), read along a line of constant y: the four lattice
// values around a sample are hashed once per lattice cell, not once per sample.
class NoiseRow {
public:
    NoiseRow(double y, std::uint32_t seed) : seed_(seed) {
        const double fy = std::floor(y);
        iy_ = static_cast<int>(fy);
        const auto ty = static_cast<float>(y - fy);
        sy_ = ty * ty * (3.0f - 2.0f * ty);
    }

    float At(double x) {
        const double fx = std::floor(x);
        const int ix = static_cast<int>(fx);
        if (!cached_ || ix != ix_) {
            cached_ = true;
            ix_ = ix;
            topLeft_ = LatticeValue(ix, iy_, seed_);
            topRight_ = LatticeValue(ix + 1, iy_, seed_);
            bottomLeft_ = LatticeValue(ix, iy_ + 1, seed_);
            bottomRight_ = LatticeValue(ix + 1, iy_ + 1, seed_);
        }
        const auto tx = static_cast<float>(x - fx);
        const float sx = tx * tx * (3.0f - 2.0f * tx);
        const float top = std::lerp(topLeft_, topRight_, sx);
        const float bottom = std::lerp(bottomLeft_, bottomRight_, sx);
        return std::lerp(top, bottom, sy_);
    }

private:
    std::uint32_t seed_;
    int iy_ = 0;
    float sy_ = 0.0f;
    bool cached_ = false;
    int ix_ = 0;
    float topLeft_ = 0.0f;
    float topRight_ = 0.0f;
    float bottomLeft_ = 0.0f;
    float bottomRight_ = 0.0f;
};

// The same noise over a grid of samples: one x per column, the rows read one y after another.
// The weights along x are worked out once per column and the values along the lattice rows
// once per lattice row, so while the rows stay between the same two lattice rows a sample
// costs one interpolation. Row(y)[c] equals NoiseRow(y, seed).At(xs[c]).
class NoiseColumns {
public:
    NoiseColumns(const std::vector<double>& xs, std::uint32_t seed)
        : seed_(seed),
          ix_(xs.size()),
          sx_(xs.size()),
          top_(xs.size()),
          bottom_(xs.size()),
          values_(xs.size()) {
        for (std::size_t c = 0; c < xs.size(); ++c) {
            const double fx = std::floor(xs[c]);
            ix_[c] = static_cast<int>(fx);
            const auto tx = static_cast<float>(xs[c] - fx);
            sx_[c] = tx * tx * (3.0f - 2.0f * tx);
        }
    }

    const std::vector<float>& Row(double y) {
        const double fy = std::floor(y);
        const int iy = static_cast<int>(fy);
        if (!cached_ || iy != iy_) {
            cached_ = true;
            iy_ = iy;
            for (std::size_t c = 0; c < ix_.size(); ++c) {
                const int ix = ix_[c];
                top_[c] =
                    std::lerp(LatticeValue(ix, iy, seed_), LatticeValue(ix + 1, iy, seed_), sx_[c]);
                bottom_[c] = std::lerp(LatticeValue(ix, iy + 1, seed_),
                                       LatticeValue(ix + 1, iy + 1, seed_), sx_[c]);
            }
        }
        const auto ty = static_cast<float>(y - fy);
        const float sy = ty * ty * (3.0f - 2.0f * ty);
        for (std::size_t c = 0; c < values_.size(); ++c) {
            values_[c] = std::lerp(top_[c], bottom_[c], sy);
        }
        return values_;
    }

private:
    std::uint32_t seed_;
    std::vector<int> ix_;
    std::vector<float> sx_;
    std::vector<float> top_;
    std::vector<float> bottom_;
    std::vector<float> values_;
    bool cached_ = false;
    int iy_ = 0;
};

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

// An angle by its cosine and sine.
struct Turn {
    double cos = 1.0;
    double sin = 0.0;

    // cos(2 theta + this angle) for the angle theta of `direction`.
    double CosOfDouble(const Turn& direction) const {
        const double c = direction.cos;
        const double s = direction.sin;
        return (c * c - s * s) * cos - 2.0 * c * s * sin;
    }
    // cos(3 theta + this angle) for the angle theta of `direction`.
    double CosOfTriple(const Turn& direction) const {
        const double c = direction.cos;
        const double s = direction.sin;
        return c * (4.0 * c * c - 3.0) * cos - s * (3.0 - 4.0 * s * s) * sin;
    }
};

// The direction of (x, y), whose length is `length`; along the x axis for the origin.
Turn DirectionOf(double x, double y, double length) {
    if (length <= 0.0) {
        return {};
    }
    return {x / length, y / length};
}

// Paints slide content into planes; pixel (px, py) shows the slide at
// ((px + 0.5 - width / 2) / scale, (py + 0.5 - height / 2) / scale).
class Painter {
public:
    Painter(SlidePlanes& planes, double scale) : planes_(planes), scale_(scale) {}

    void Background() {
        std::vector<double> washX(static_cast<std::size_t>(planes_.width));
        std::vector<double> mottleX(washX.size());
        for (int px = 0; px < planes_.width; ++px) {
            const double x = SlideAt(px, 0).x;
            washX[static_cast<std::size_t>(px)] = x / 170.0;
            mottleX[static_cast<std::size_t>(px)] = x / 35.0;
        }
        NoiseColumns wash(washX, 11);
        NoiseColumns mottle(mottleX, 12);
        for (int py = 0; py < planes_.height; ++py) {
            const double y = SlideAt(0, py).y;
            const std::vector<float>& washed = wash.Row(y / 170.0);
            const std::vector<float>& mottled = mottle.Row(y / 35.0);
            for (int px = 0; px < planes_.width; ++px) {
                const std::size_t i = Index(px, py);
                const auto c = static_cast<std::size_t>(px);
                planes_.luma[i] = 204.0f + 8.0f * washed[c] + 3.0f * mottled[c];
                planes_.u[i] = -2.0f + 2.0f * mottled[c];
                planes_.v[i] = 4.0f + 4.0f * washed[c];
            }
        }
    }

    // `coverage` is scratch space.
    void Fibres(const std::vector<Fibre>& fibres, std::vector<float>& coverage) {
        coverage.assign(planes_.luma.size(), 0.0f);
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

    // The pixels within `radiusUnits` of `centre` along both axes, clipped to the planes.
    struct Box {
        int x0 = 0;
        int x1 = -1;
        int y0 = 0;
        int y1 = -1;
    };
    Box BoxAround(const Point& centre, double radiusUnits) const {
        const double cx = centre.x * scale_ + planes_.width / 2.0;
        const double cy = centre.y * scale_ + planes_.height / 2.0;
        const double reach = radiusUnits * scale_;
        return {std::max(0, static_cast<int>(std::floor(cx - reach))),
                std::min(planes_.width - 1, static_cast<int>(std::ceil(cx + reach))),
                std::max(0, static_cast<int>(std::floor(cy - reach))),
                std::min(planes_.height - 1, static_cast<int>(std::ceil(cy + reach)))};
    }

    // Calls visit(px, py, index) for every pixel of BoxAround(centre, radiusUnits).
    template <typename Visit>
    void ForBox(const Point& centre, double radiusUnits, Visit visit) {
        const Box box = BoxAround(centre, radiusUnits);
        for (int py = box.y0; py <= box.y1; ++py) {
            for (int px = box.x0; px <= box.x1; ++px) {
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

    // The outlines are r(theta) = radius (1 + a cos(2 theta + p) + b cos(3 theta + p')); the
    // cosines of the multiple angles come from the pixel's direction (c, s) = (cos theta,
    // sin theta) by the double- and triple-angle formulas, without trigonometric calls.
    void PaintCell(const Cell& cell) {
        const double largest = cell.radius * (1.0 + cell.lobes2 + cell.lobes3);
        // Beyond this distance from the centre even the widest lobe's halo has ended (the 1 %
        // over 1.15 covers rounding), so the outline need not be worked out there.
        const double farthest = 1.16 * largest;
        const double farthestSquared = farthest * farthest;
        const double nucleusFarthest = 1.09 * cell.nucleusRadius;
        const double nucleusFarthestSquared = nucleusFarthest * nucleusFarthest;
        const Turn lobes2{std::cos(cell.phase2), std::sin(cell.phase2)};
        const Turn lobes3{std::cos(cell.phase3), std::sin(cell.phase3)};
        const Box box = BoxAround({cell.x, cell.y}, largest * 1.2);
        for (int py = box.y0; py <= box.y1; ++py) {
            const double dy = SlideAt(0, py).y - cell.y;
            const double ny = dy - cell.nucleusY;
            NoiseRow granules(SlideAt(0, py).y / 3.0, cell.seed);
            NoiseRow chromatin(ny / 1.6, cell.seed ^ 0xC0FFEEu);
            for (int px = box.x0; px <= box.x1; ++px) {
                const Point at = SlideAt(px, py);
                const double dx = at.x - cell.x;
                const double squared = dx * dx + dy * dy;
                if (squared > farthestSquared) {
                    continue;
                }
                const std::size_t i = Index(px, py);
                const double distance = std::sqrt(squared);
                const Turn direction = DirectionOf(dx, dy, distance);
                const double outline =
                    cell.radius * (1.0 + cell.lobes2 * lobes2.CosOfDouble(direction) +
                                   cell.lobes3 * lobes3.CosOfTriple(direction));
                const double q = distance / outline;
                if (q >= 1.15) {
                    continue;
                }
                if (q >= 1.0) {
                    // Bright halo around the membrane, as refraction gives in brightfield.
                    planes_.luma[i] += static_cast<float>(14.0 * (1.15 - q) / 0.15);
                    continue;
                }
                Colour cytoplasm = kCytoplasm;
                cytoplasm.luma += 7.0f * granules.At(at.x / 3.0);
                Blend(i, cytoplasm, 0.32f * cell.stain);
                const double ring = (q - 0.93) / 0.05;
                Blend(i, kMembrane, static_cast<float>(0.55 * std::exp(-ring * ring)) * cell.stain);
                const double nx = dx - cell.nucleusX;
                const double nucleusSquared = nx * nx + ny * ny;
                if (nucleusSquared <= nucleusFarthestSquared) {
                    PaintNucleus(cell, lobes3, nx, ny, std::sqrt(nucleusSquared), chromatin, i);
                }
            }
        }
    }

    // (nx, ny): the pixel's place relative to the nucleus' centre, `distance` its length;
    // `chromatin` reads the nucleus' texture along the pixel's row.
    void PaintNucleus(const Cell& cell, const Turn& lobes3, double nx, double ny, double distance,
                      NoiseRow& chromatin, std::size_t i) {
        const double wobble = 1.0 + 0.08 * lobes3.CosOfDouble(DirectionOf(nx, ny, distance));
        const double q = distance / (cell.nucleusRadius * wobble);
        if (q >= 1.0) {
            return;
        }
        Colour nucleus = kNucleus;
        nucleus.luma += 16.0f * chromatin.At(nx / 1.6);
        const float edge = static_cast<float>(std::clamp((1.0 - q) * 6.0, 0.0, 1.0));
        Blend(i, nucleus, std::min(0.95f, 0.72f * edge * cell.stain));
        const double ring = (q - 0.9) / 0.08;
        Blend(i, kNucleolus, static_cast<float>(0.25 * std::exp(-ring * ring)));
        const double ox = nx - cell.nucleolusX;
        const double oy = ny - cell.nucleolusY;
        const double d = std::sqrt(ox * ox + oy * oy);
        const double nucleolus = 0.22 * cell.nucleusRadius;
        if (d < nucleolus) {
            Blend(i, kNucleolus, static_cast<float>(0.8 * (1.0 - d / nucleolus)));
        }
    }

    SlidePlanes& planes_;
    double scale_;
};

// One pass of a box filter of `radius` along each row; samples beyond the ends repeat the end
// samples. `padded` holds one row with radius + 1 repeats of the end samples on both sides.
void BoxRows(std::vector<float>& plane, int width, int height, int radius,
             std::vector<float>& padded) {
    const auto pad = static_cast<std::size_t>(radius) + 1;
    padded.resize(static_cast<std::size_t>(width) + 2 * pad);
    const float norm = 1.0f / static_cast<float>(2 * radius + 1);
    for (int y = 0; y < height; ++y) {
        float* data = plane.data() + static_cast<std::ptrdiff_t>(y) * width;
        std::fill(padded.begin(), padded.begin() + static_cast<std::ptrdiff_t>(pad), data[0]);
        std::copy(data, data + width, padded.begin() + static_cast<std::ptrdiff_t>(pad));
        std::fill(padded.end() - static_cast<std::ptrdiff_t>(pad), padded.end(), data[width - 1]);
        const float* at = padded.data() + pad;  // at[k] for k in -pad .. width - 1 + pad
        float sum = 0.0f;
        for (int k = -radius; k <= radius; ++k) {
            sum += at[k];
        }
        for (int k = 0; k < width; ++k) {
            data[k] = sum * norm;
            sum += at[k + radius + 1] - at[k - radius];
        }
    }
}

// The same filter down each column, all columns at once, so that the plane is read row after
// row: each column's sum goes through exactly the steps BoxRows takes along a row. `copy`
// holds the whole plane.
void BoxColumns(std::vector<float>& plane, int width, int height, int radius,
                std::vector<float>& copy, std::vector<float>& sums) {
    copy.assign(plane.begin(), plane.end());
    sums.assign(static_cast<std::size_t>(width), 0.0f);
    const auto row = [&](int k) {
        return copy.data() + static_cast<std::ptrdiff_t>(std::clamp(k, 0, height - 1)) * width;
    };
    const float norm = 1.0f / static_cast<float>(2 * radius + 1);
    float* sum = sums.data();
    for (int k = -radius; k <= radius; ++k) {
        const float* in = row(k);
        for (int x = 0; x < width; ++x) {
            sum[x] += in[x];
        }
    }
    for (int k = 0; k < height; ++k) {
        float* out = plane.data() + static_cast<std::ptrdiff_t>(k) * width;
        const float* entering = row(k + radius + 1);
        const float* leaving = row(k - radius);
        for (int x = 0; x < width; ++x) {
            out[x] = sum[x] * norm;
            sum[x] += entering[x] - leaving[x];
        }
    }
}

// Buffers the painting reuses, so that each is allocated (and its pages touched) once.
struct Scratch {
    std::vector<float> plane;
    std::vector<float> line;
};

// Two box passes in each direction: close to a Gaussian of sigma ~ radius.
void Defocus(std::vector<float>& plane, int width, int height, int radius, Scratch& scratch) {
    for (int pass = 0; pass < 2; ++pass) {
        BoxRows(plane, width, height, radius, scratch.line);
        BoxColumns(plane, width, height, radius, scratch.plane, scratch.line);
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
    Scratch scratch;
    Painter painter(planes, pixelsPerUnit);
    painter.Background();
    painter.Fibres(content.fibres, scratch.plane);
    painter.Specks(content.specks);
    painter.Cells(content.cells);

    const int lumaBlur = std::max(1, static_cast<int>(std::lround(0.8 * pixelsPerUnit)));
    Defocus(planes.luma, width, height, lumaBlur, scratch);
    Defocus(planes.u, width, height, lumaBlur + 1, scratch);
    Defocus(planes.v, width, height, lumaBlur + 1, scratch);
    return planes;
}

}  // namespace sim
