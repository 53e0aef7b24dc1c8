#pragma once
// A 16-colour picture and its writer as an uncompressed 4-bit Windows bitmap.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace bitmapgen {

struct IndexedImage {
    int width = 0;
    int height = 0;
    std::array<uint32_t, 16> palette{};   // 0xRRGGBB
    std::vector<uint8_t> pixels;           // one palette index a pixel, rows from the top

    IndexedImage(int w, int h) : width(w), height(h), pixels(static_cast<size_t>(w) * h, 0) {}
    uint8_t& at(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
    void fill(int x0, int y0, int x1, int y1, uint8_t index);   // [x0, x1) x [y0, y1), clipped
};

std::vector<uint8_t> encodeBmp4(const IndexedImage& image);
// Writes under a temporary name and renames, so a build never sees half a file.
bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes);

} // namespace bitmapgen
