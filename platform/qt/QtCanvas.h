#pragma once
#include "platform/Canvas.h"

#include <QBrush>
#include <QColor>
#include <QPen>

class QPainter;

namespace platform::qt {

// Drawing on a QPainter as a classic device context draws: no antialiasing,
// pixel-exact rectangles, text on an opaque background. Starts with a black
// 1-pixel pen, a white brush, black text on white and the dialog font.
class QtCanvas final : public Canvas {
public:
    explicit QtCanvas(QPainter& painter);

    void drawBitmap(const char* bitmapName, Size size) override;
    void selectPen(Rgb color, int width) override;
    void selectBrush(Rgb color) override;
    void selectStockFont() override;
    void setTextColor(Rgb color) override;
    void setTextBackground(Rgb color) override;
    void rectangle(const Rect& r) override;
    void polygon(const Point* points, int count) override;
    void drawText(const Rect& r, const char* text) override;

private:
    QPainter& painter_;
    QPen pen_;
    QBrush brush_;
    QColor textColor_;
    QColor textBackground_;
};

} // namespace platform::qt
