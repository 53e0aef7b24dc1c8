// orvane-icongen: draws the program's icon for the desktop (hicolor theme) at the
// sizes given, as DIR/SIZExSIZE/apps/orvane.png. Each size is drawn from the same
// shapes rather than scaled from one picture, so the small ones stay sharp.
#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cstdio>
#include <cstdlib>

namespace {

// A strip of film on a dark blue tile, cut in two at the middle, with the two
// cursor triangles of the source pane pointing at the cut. Drawn on a 256 grid.
void drawIcon(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);

    QLinearGradient tile(0, 8, 0, 248);
    tile.setColorAt(0, QColor(0x2b, 0x4c, 0x7e));
    tile.setColorAt(1, QColor(0x0e, 0x1e, 0x38));
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 44, 44);

    const QRectF strip(24, 84, 208, 88);
    const qreal gap = 14;
    const QColor film(0x1a, 0x1a, 0x1a), hole(0xe8, 0xe8, 0xe8);
    QLinearGradient picture(0, 104, 0, 152);
    picture.setColorAt(0, QColor(0x8e, 0xca, 0xe6));
    picture.setColorAt(1, QColor(0x3a, 0x86, 0xb4));
    for (int half = 0; half < 2; ++half) {
        const qreal left = half ? 128 + gap / 2 : strip.left();
        const qreal right = half ? strip.right() : 128 - gap / 2;
        // The halves lean apart a little, as a cut strip does.
        p.save();
        p.translate(128, 128);
        p.rotate(half ? 4 : -4);
        p.translate(-128, -128);
        p.setBrush(film);
        p.drawRect(QRectF(left, strip.top(), right - left, strip.height()));
        p.setBrush(hole);
        for (qreal x = left + 6; x + 10 <= right - 2; x += 18) {
            p.drawRoundedRect(QRectF(x, strip.top() + 6, 10, 8), 2, 2);
            p.drawRoundedRect(QRectF(x, strip.bottom() - 14, 10, 8), 2, 2);
        }
        p.setBrush(picture);
        p.drawRoundedRect(QRectF(left + 8, strip.top() + 22, right - left - 16, strip.height() - 44), 4, 4);
        p.restore();
    }

    p.setBrush(QColor(0xf4, 0xa2, 0x3c));
    p.drawPolygon(QPolygonF({QPointF(100, 30), QPointF(156, 30), QPointF(128, 70)}));
    p.drawPolygon(QPolygonF({QPointF(100, 226), QPointF(156, 226), QPointF(128, 186)}));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: orvane-icongen DIR SIZE...\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    for (int k = 2; k < argc; ++k) {
        const int size = std::atoi(argv[k]);
        if (size < 16 || size > 1024) {
            std::fprintf(stderr, "orvane-icongen: bad size %s\n", argv[k]);
            return 2;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.scale(size / 256.0, size / 256.0);
        drawIcon(p);
        p.end();
        const QString sub = QStringLiteral("%1/%2x%2/apps").arg(dir).arg(size);
        if (!QDir().mkpath(sub) || !image.save(sub + QStringLiteral("/orvane.png"), "PNG")) {
            std::fprintf(stderr, "orvane-icongen: cannot write %s/orvane.png\n", sub.toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}
