#include "Pictures.h"

#include <algorithm>
#include <cmath>

namespace bitmapgen {
namespace {

// Integer hashing keeps the pictures identical on every machine and run.
uint32_t hash(int32_t x, int32_t y, uint32_t seed)
{
    uint64_t h = static_cast<uint32_t>(x) * 0x9E3779B97F4A7C15ull ^ static_cast<uint32_t>(y) * 0xC2B2AE3D27D4EB4Full ^
                 (static_cast<uint64_t>(seed) << 32);
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 27;
    h *= 0x94D049BB133111EBull;
    h ^= h >> 31;
    return static_cast<uint32_t>(h);
}

double unit(uint32_t h) { return (h >> 8) * (1.0 / 16777216.0); }

double smooth(double t) { return t * t * (3 - 2 * t); }

// Value noise on a lattice of `cell` pixels, in [0, 1).
double valueNoise(int x, int y, int cell, uint32_t seed)
{
    const int cx = x / cell, cy = y / cell;
    const double fx = smooth(static_cast<double>(x % cell) / cell);
    const double fy = smooth(static_cast<double>(y % cell) / cell);
    const double a = unit(hash(cx, cy, seed)), b = unit(hash(cx + 1, cy, seed));
    const double c = unit(hash(cx, cy + 1, seed)), d = unit(hash(cx + 1, cy + 1, seed));
    return (a + (b - a) * fx) * (1 - fy) + (c + (d - c) * fx) * fy;
}

double fractalNoise(int x, int y)
{
    double sum = 0, weight = 1, total = 0;
    int octave = 0;
    for (int cell = 128; cell >= 2; cell /= 2, ++octave) {
        sum += weight * valueNoise(x, y, cell, 17 + octave);
        total += weight;
        weight *= 0.6;
    }
    return sum / total;
}

struct Slab {
    double crack;        // distance to the nearest joint between two slabs, pixels
    double brightness;   // per-slab offset
};

// Irregular slabs: the cells of jittered points; the joints lie where the two
// nearest points are equally far.
Slab slabAt(int x, int y)
{
    constexpr int cell = 150;
    const int gx = x / cell, gy = y / cell;
    double d1 = 1e9, d2 = 1e9;
    uint32_t nearest = 0;
    for (int j = gy - 1; j <= gy + 1; ++j) {
        for (int i = gx - 1; i <= gx + 1; ++i) {
            const uint32_t h = hash(i, j, 5);
            const double px = (i + 0.15 + 0.7 * unit(h)) * cell;
            const double py = (j + 0.15 + 0.7 * unit(hash(i, j, 6))) * cell;
            const double d = std::hypot(px - x, py - y);
            if (d < d1) {
                d2 = d1;
                d1 = d;
                nearest = h;
            } else if (d < d2) {
                d2 = d;
            }
        }
    }
    return {(d2 - d1) / 2, (unit(nearest) - 0.5) * 0.16};
}

// 4 x 4 ordered dither thresholds in (0, 1).
double bayer(int x, int y)
{
    static const int m[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    return (m[y & 3][x & 3] + 0.5) / 16.0;
}

constexpr uint8_t holeIndex = 0;
constexpr uint8_t firstStone = 1;
constexpr int stoneLevels = 12;
constexpr uint8_t shadowIndex = 13;
constexpr uint8_t edgeIndex = 14;
constexpr uint8_t fleckIndex = 15;

constexpr int stripHeight = 22;
constexpr int holeWidth = 14, holeHeight = 8, holePitch = 24, holeTop = 7;

void perforatedStrip(IndexedImage& img)
{
    // The strip is the same stone, three shades darker, sunk under a lit edge.
    for (int y = 0; y < stripHeight; ++y)
        for (int x = 0; x < img.width; ++x)
            img.at(x, y) = static_cast<uint8_t>(std::max<int>(firstStone, img.at(x, y) - 3));
    img.fill(0, stripHeight - 1, img.width, stripHeight, shadowIndex);
    img.fill(0, stripHeight, img.width, stripHeight + 1, static_cast<uint8_t>(firstStone + stoneLevels - 2));

    for (int left = 6; left + holeWidth <= img.width; left += holePitch) {
        const int right = left + holeWidth, bottom = holeTop + holeHeight;
        img.fill(left, holeTop, right, bottom, holeIndex);
        // Light catches the lower and right rims of each hole.
        img.fill(left + 1, bottom, right + 1, bottom + 1, edgeIndex);
        img.fill(right, holeTop + 1, right + 1, bottom, edgeIndex);
        // Rounded corners.
        for (auto [cx, cy] : {std::pair{left, holeTop}, {right - 1, holeTop}, {left, bottom - 1}, {right - 1, bottom - 1}})
            img.at(cx, cy) = shadowIndex;
    }
}

void bevel(IndexedImage& img, uint8_t outerLight, uint8_t innerLight, uint8_t innerDark, uint8_t outerDark)
{
    const int w = img.width, h = img.height;
    img.fill(0, 0, w, 1, outerLight);
    img.fill(0, 0, 1, h, outerLight);
    img.fill(1, 1, w - 1, 2, innerLight);
    img.fill(1, 1, 2, h - 1, innerLight);
    img.fill(1, h - 2, w - 1, h - 1, innerDark);
    img.fill(w - 2, 1, w - 1, h - 1, innerDark);
    img.fill(0, h - 1, w, h, outerDark);
    img.fill(w - 1, 0, w, h, outerDark);
}

// The 16 colours of the classic VGA palette.
constexpr std::array<uint32_t, 16> vgaPalette = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                                 0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                                 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
constexpr uint8_t vgaBlack = 0, vgaSilver = 7, vgaGrey = 8, vgaWhite = 15;

IndexedImage buttonFace(int size)
{
    IndexedImage img(size, size);
    img.palette = vgaPalette;
    img.fill(0, 0, size, size, vgaSilver);
    bevel(img, vgaWhite, vgaSilver, vgaGrey, vgaBlack);
    return img;
}

} // namespace

IndexedImage mainBackground()
{
    IndexedImage img(1024, 768);
    img.palette[holeIndex] = 0x000000;
    for (int i = 0; i < stoneLevels; ++i) {
        const uint32_t v = 0x16 + 7 * static_cast<uint32_t>(i);
        img.palette[firstStone + i] = (v + 2) << 16 | (v + 1) << 8 | v;   // a touch warm
    }
    img.palette[shadowIndex] = 0x0C0C0D;
    img.palette[edgeIndex] = 0x8C8B88;
    img.palette[fleckIndex] = 0x7C7A76;

    for (int y = 0; y < img.height; ++y) {
        for (int x = 0; x < img.width; ++x) {
            const Slab slab = slabAt(x, y);
            double s = 0.45 + 0.9 * (fractalNoise(x, y) - 0.5) + slab.brightness;
            s += 0.10 * (unit(hash(x, y, 99)) - 0.5);   // grain
            if (slab.crack < 2.5) s *= 0.35 + 0.26 * slab.crack;
            else if (slab.crack < 4.0) s += 0.05;       // worn edge of the slab
            int level = static_cast<int>(std::floor(s * stoneLevels + bayer(x, y) - 0.5));
            level = std::clamp(level, 0, stoneLevels - 1);
            uint8_t index = static_cast<uint8_t>(firstStone + level);
            if (slab.crack >= 4.0 && hash(x, y, 123) % 3000 == 0) index = fleckIndex;
            img.at(x, y) = index;
        }
    }
    perforatedStrip(img);
    return img;
}

IndexedImage minimiseFace()
{
    IndexedImage img = buttonFace(17);
    img.fill(4, 11, 12, 13, vgaBlack);
    return img;
}

IndexedImage closeFace()
{
    IndexedImage img = buttonFace(16);
    for (int i = 0; i < 7; ++i) {
        img.fill(4 + i, 4 + i, 6 + i, 5 + i, vgaBlack);
        img.fill(10 - i, 4 + i, 12 - i, 5 + i, vgaBlack);
    }
    return img;
}

} // namespace bitmapgen
