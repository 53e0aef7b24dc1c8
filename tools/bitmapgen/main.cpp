// orvane-bitmapgen DIR: writes the window's three bitmaps, always the same bytes.
#include "IndexedImage.h"
#include "Pictures.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: orvane-bitmapgen DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    const struct {
        const char* name;
        bitmapgen::IndexedImage image;
    } bitmaps[] = {
        {"BITMAP_MAIN", bitmapgen::mainBackground()},
        {"BITMAP_MINIMZE", bitmapgen::minimiseFace()},
        {"BITMAP_CLOSE", bitmapgen::closeFace()},
    };
    for (const auto& b : bitmaps) {
        const std::string path = dir + "/" + b.name + ".bmp";
        if (!bitmapgen::writeFile(path, bitmapgen::encodeBmp4(b.image))) {
            std::fprintf(stderr, "orvane-bitmapgen: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
