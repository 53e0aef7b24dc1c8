#pragma once
// A canvas that records every drawing call with the pen, brush and text colours
// in force at the time.
#include "platform/Canvas.h"

#include <string>
#include <vector>

namespace platform::fake {

class FakeCanvas final : public Canvas {
public:
    enum class Kind { bitmap, rectangle, polygon, text };
    struct Op {
        Kind kind;
        Rect rect;                 // rectangle, text
        std::vector<Point> points; // polygon
        std::string text;          // text; the bitmap's name
        Size size;                 // bitmap
        Rgb pen, brush, textColor, textBackground;
        int penWidth;
        bool stockFont;
    };
    std::vector<Op> ops;
    Rgb pen = 0xFFFFFFFF, brush = 0xFFFFFFFF, textColor = 0xFFFFFFFF, textBackground = 0xFFFFFFFF;
    int penWidth = 0;
    bool stockFont = false;

    void drawBitmap(const char* name, Size size) override { push(Kind::bitmap).text = name, ops.back().size = size; }
    void selectPen(Rgb color, int width) override { pen = color; penWidth = width; }
    void selectBrush(Rgb color) override { brush = color; }
    void selectStockFont() override { stockFont = true; }
    void setTextColor(Rgb color) override { textColor = color; }
    void setTextBackground(Rgb color) override { textBackground = color; }
    void rectangle(const Rect& r) override { push(Kind::rectangle).rect = r; }
    void polygon(const Point* points, int count) override { push(Kind::polygon).points.assign(points, points + count); }
    void drawText(const Rect& r, const char* text) override
    {
        Op& op = push(Kind::text);
        op.rect = r;
        op.text = text;
    }

    std::vector<Op> all(Kind kind) const
    {
        std::vector<Op> out;
        for (const Op& op : ops)
            if (op.kind == kind) out.push_back(op);
        return out;
    }

private:
    Op& push(Kind kind)
    {
        ops.push_back({kind, {}, {}, {}, {}, pen, brush, textColor, textBackground, penWidth, stockFont});
        return ops.back();
    }
};

} // namespace platform::fake
