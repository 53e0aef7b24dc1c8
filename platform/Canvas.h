#pragma once
#include "platform/Geometry.h"

#include <cstdint>

namespace platform {

// 0xRRGGBB.
using Rgb = uint32_t;

// The few drawing calls the window's painting uses. Objects selected during a
// paint stay selected until the next selection or the end of the paint.
class Canvas {
public:
    virtual ~Canvas() = default;
    // Copies the top-left size.width x size.height pixels of a bitmap resource
    // (BITMAP_MAIN, ...) unscaled to (0, 0).
    virtual void drawBitmap(const char* bitmapName, Size size) = 0;
    // A solid pen for outlines.
    virtual void selectPen(Rgb color, int width) = 0;
    // A solid brush for fills.
    virtual void selectBrush(Rgb color) = 0;
    // The stock variable-pitch font of the window system.
    virtual void selectStockFont() = 0;
    virtual void setTextColor(Rgb color) = 0;
    // Text is drawn on this colour (opaque).
    virtual void setTextBackground(Rgb color) = 0;
    // Filled with the brush and outlined with the pen; the outline runs along
    // the left and top edge and one pixel inside the right and bottom edge.
    virtual void rectangle(const Rect& r) = 0;
    // Filled with the brush and outlined with the pen.
    virtual void polygon(const Point* points, int count) = 0;
    // Multi-line text, each line centred horizontally in r, the first line at
    // r.top, clipped to r.
    virtual void drawText(const Rect& r, const char* text) = 0;
};

} // namespace platform
