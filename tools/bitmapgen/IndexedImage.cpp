#include "IndexedImage.h"

#include <algorithm>
#include <cstdio>

namespace bitmapgen {

void IndexedImage::fill(int x0, int y0, int x1, int y1, uint8_t index)
{
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, width);
    y1 = std::min(y1, height);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) at(x, y) = index;
}

namespace {

void put16(std::vector<uint8_t>& b, uint32_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>& b, uint32_t v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

} // namespace

std::vector<uint8_t> encodeBmp4(const IndexedImage& image)
{
    const uint32_t rowBytes = ((static_cast<uint32_t>(image.width) * 4 + 31) / 32) * 4;
    const uint32_t pixelOffset = 14 + 40 + 16 * 4;
    const uint32_t pixelBytes = rowBytes * static_cast<uint32_t>(image.height);

    std::vector<uint8_t> b;
    b.reserve(pixelOffset + pixelBytes);
    b.push_back('B');
    b.push_back('M');
    put32(b, pixelOffset + pixelBytes);
    put32(b, 0);
    put32(b, pixelOffset);

    put32(b, 40);
    put32(b, static_cast<uint32_t>(image.width));
    put32(b, static_cast<uint32_t>(image.height));   // positive: rows stored from the bottom
    put16(b, 1);
    put16(b, 4);
    put32(b, 0);            // no compression
    put32(b, pixelBytes);
    put32(b, 2835);         // 72 dpi
    put32(b, 2835);
    put32(b, 16);
    put32(b, 16);

    for (uint32_t rgb : image.palette) {
        b.push_back(static_cast<uint8_t>(rgb));
        b.push_back(static_cast<uint8_t>(rgb >> 8));
        b.push_back(static_cast<uint8_t>(rgb >> 16));
        b.push_back(0);
    }

    for (int y = image.height - 1; y >= 0; --y) {
        const size_t rowStart = b.size();
        for (int x = 0; x < image.width; x += 2) {
            const uint8_t hi = image.pixels[static_cast<size_t>(y) * image.width + x] & 0x0F;
            const uint8_t lo = x + 1 < image.width ? image.pixels[static_cast<size_t>(y) * image.width + x + 1] & 0x0F : 0;
            b.push_back(static_cast<uint8_t>(hi << 4 | lo));
        }
        while (b.size() - rowStart < rowBytes) b.push_back(0);
    }
    return b;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    const std::string temp = path + ".part";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

} // namespace bitmapgen
