// The canvas draws exactly the pixels a classic device context draws: checked
// on an image and on a grab of a dialog.
#include "QtTestSupport.h"

#include "platform/qt/QtCanvas.h"
#include "platform/qt/QtControls.h"
#include "resources/bitmaps/Bitmaps.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

using platform::Point;
using platform::Rect;

constexpr QRgb paper = 0xFF123456;

QImage blank(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(paper);
    return image;
}

// Columns of row y whose colour is not the paper's.
std::pair<int, int> inkSpan(const QImage& image, int y0, int y1)
{
    int first = image.width(), last = -1;
    for (int y = y0; y < y1; ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != paper) {
                first = std::min(first, x);
                last = std::max(last, x);
            }
    return {first, last};
}

TEST(QtCanvas, RectangleFillsAndOutlinesInsideItsRightAndBottomEdge)
{
    QImage image = blank(60, 40);
    {
        QPainter painter(&image);
        platform::qt::QtCanvas canvas(painter);
        canvas.selectPen(0x000000, 1);
        canvas.selectBrush(0xC8C8C8);
        canvas.rectangle({10, 5, 30, 25});
        canvas.selectBrush(0x646464);
        canvas.rectangle({40, 5, 40, 25});   // empty: nothing
    }
    EXPECT_EQ(image.pixel(10, 5), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(29, 5), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(10, 24), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(29, 24), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(20, 15), qRgb(0xC8, 0xC8, 0xC8));
    EXPECT_EQ(image.pixel(11, 6), qRgb(0xC8, 0xC8, 0xC8));
    EXPECT_EQ(image.pixel(28, 23), qRgb(0xC8, 0xC8, 0xC8));
    EXPECT_EQ(image.pixel(30, 15), paper);
    EXPECT_EQ(image.pixel(20, 25), paper);
    EXPECT_EQ(image.pixel(9, 15), paper);
    EXPECT_EQ(image.pixel(40, 15), paper);
}

TEST(QtCanvas, PolygonIsFilledAndOutlined)
{
    QImage image = blank(40, 40);
    {
        QPainter painter(&image);
        platform::qt::QtCanvas canvas(painter);
        canvas.selectPen(0xFF0000, 1);
        canvas.selectBrush(0x00FF00);
        // The downward triangle the panes put on a cell's left edge.
        const Point triangle[] = {{5, 5}, {29, 5}, {17, 25}};
        canvas.polygon(triangle, 3);
    }
    EXPECT_EQ(image.pixel(5, 5), qRgb(0xFF, 0, 0));
    EXPECT_EQ(image.pixel(17, 5), qRgb(0xFF, 0, 0));
    EXPECT_EQ(image.pixel(17, 25), qRgb(0xFF, 0, 0));
    EXPECT_EQ(image.pixel(17, 12), qRgb(0, 0xFF, 0));
    EXPECT_EQ(image.pixel(5, 20), paper);
    EXPECT_EQ(image.pixel(17, 30), paper);
}

TEST(QtCanvas, TextLinesAreCentredFromTheTopOnTheirBackgroundAndClipped)
{
    QImage image = blank(120, 60);
    const QFontMetrics metrics(platform::qt::dialogFont());
    const int line = metrics.height();
    {
        QPainter painter(&image);
        platform::qt::QtCanvas canvas(painter);
        canvas.selectStockFont();
        canvas.setTextColor(0x000000);
        canvas.setTextBackground(0x646464);
        // Three lines in a box two lines high: the third is cut off.
        canvas.drawText({10, 10, 110, 10 + 2 * line}, "pts: 00:01\nWW\nthird line\n");
    }
    const int first = metrics.horizontalAdvance("pts: 00:01");
    const int second = metrics.horizontalAdvance("WW");
    EXPECT_EQ(inkSpan(image, 10, 10 + line), (std::pair{10 + (100 - first) / 2, 10 + (100 - first) / 2 + first - 1}));
    EXPECT_EQ(inkSpan(image, 10 + line, 10 + 2 * line),
              (std::pair{10 + (100 - second) / 2, 10 + (100 - second) / 2 + second - 1}));
    EXPECT_EQ(inkSpan(image, 10 + 2 * line, 60).second, -1);
    EXPECT_EQ(inkSpan(image, 0, 10).second, -1);
    // The background behind the glyphs, the glyphs themselves in the text colour.
    EXPECT_EQ(image.pixel(10 + (100 - first) / 2, 10), qRgb(0x64, 0x64, 0x64));
    bool black = false;
    for (int x = 0; x < 120; ++x) black = black || image.pixel(x, 10 + line / 2) == qRgb(0, 0, 0);
    EXPECT_TRUE(black);
}

TEST(QtCanvas, BitmapIsCopiedUnscaledAndNotBeyondItsSize)
{
    QImage image = blank(1100, 40);
    {
        QPainter painter(&image);
        platform::qt::QtCanvas canvas(painter);
        canvas.drawBitmap("BITMAP_MAIN", {1100, 30});
        canvas.drawBitmap("NO_SUCH_BITMAP", {1100, 40});
    }
    const QImage skin = resources::bitmap("BITMAP_MAIN").toImage();
    ASSERT_EQ(skin.size(), QSize(1024, 768));
    for (QPoint p : {QPoint(0, 0), QPoint(500, 10), QPoint(1023, 29)}) EXPECT_EQ(image.pixel(p), skin.pixel(p));
    EXPECT_EQ(image.pixel(1024, 10), paper);
    EXPECT_EQ(image.pixel(10, 30), paper);
}

} // namespace
