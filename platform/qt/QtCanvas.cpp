#include "platform/qt/QtCanvas.h"

#include "platform/qt/QtControls.h"
#include "resources/bitmaps/Bitmaps.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>

#include <algorithm>

namespace platform::qt {
namespace {

QColor toColor(Rgb rgb) { return QColor(static_cast<int>(rgb >> 16 & 0xFF), static_cast<int>(rgb >> 8 & 0xFF), static_cast<int>(rgb & 0xFF)); }

} // namespace

QtCanvas::QtCanvas(QPainter& painter)
    : painter_(painter), pen_(Qt::black, 1), brush_(Qt::white), textColor_(Qt::black), textBackground_(Qt::white)
{
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setFont(dialogFont());
    pen_.setCosmetic(true);
}

void QtCanvas::drawBitmap(const char* bitmapName, Size size)
{
    const QPixmap pixmap = resources::bitmap(bitmapName);
    if (pixmap.isNull()) return;
    // Beyond the bitmap nothing is drawn.
    const int w = std::min(size.width, pixmap.width());
    const int h = std::min(size.height, pixmap.height());
    if (w > 0 && h > 0) painter_.drawPixmap(0, 0, pixmap, 0, 0, w, h);
}

void QtCanvas::selectPen(Rgb color, int width)
{
    pen_ = QPen(toColor(color), std::max(width, 1), Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    pen_.setCosmetic(width <= 1);
}

void QtCanvas::selectBrush(Rgb color) { brush_ = QBrush(toColor(color)); }

void QtCanvas::selectStockFont() { painter_.setFont(dialogFont()); }

void QtCanvas::setTextColor(Rgb color) { textColor_ = toColor(color); }

void QtCanvas::setTextBackground(Rgb color) { textBackground_ = toColor(color); }

void QtCanvas::rectangle(const Rect& r)
{
    if (r.empty()) return;
    const QRect whole(r.left, r.top, r.right - r.left, r.bottom - r.top);
    painter_.fillRect(whole, brush_);
    // A 1-pixel pen on QRect(x, y, w - 1, h - 1) covers columns x to x + w - 1:
    // the left and top edge and one pixel inside the right and bottom edge.
    painter_.setPen(pen_);
    painter_.setBrush(Qt::NoBrush);
    painter_.drawRect(whole.adjusted(0, 0, -1, -1));
}

void QtCanvas::polygon(const Point* points, int count)
{
    if (!points || count < 2) return;
    QPolygon poly;
    poly.reserve(count);
    for (int i = 0; i < count; ++i) poly << QPoint(points[i].x, points[i].y);
    painter_.setPen(pen_);
    painter_.setBrush(brush_);
    painter_.drawPolygon(poly, Qt::OddEvenFill);
}

void QtCanvas::drawText(const Rect& r, const char* text)
{
    if (!text || r.empty()) return;
    const QRect box(r.left, r.top, r.right - r.left, r.bottom - r.top);
    const QFontMetrics metrics(painter_.font());
    const int lineHeight = metrics.height();

    painter_.save();
    painter_.setClipRect(box, Qt::IntersectClip);
    painter_.setPen(textColor_);
    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    int y = box.top();
    for (QString line : lines) {
        if (y >= box.bottom() + 1) break;
        if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
        const int width = metrics.horizontalAdvance(line);
        if (width > 0) {
            // Centred, also when wider than the box: then both sides are cut.
            const int x = box.left() + (box.width() - width) / 2;
            painter_.fillRect(QRect(x, y, width, lineHeight), textBackground_);
            painter_.drawText(x, y + metrics.ascent(), line);
        }
        y += lineHeight;
    }
    painter_.restore();
}

} // namespace platform::qt
