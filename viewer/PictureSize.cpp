#include "viewer/PictureSize.h"

#include <algorithm>

namespace viewer {

bool validSize(int a, int b) { return a >= 1 && a <= 16 && b >= 1 && b <= 16; }

QSize pictureSize(QSize display, int a, int b, QSize available)
{
    if (display.isEmpty()) return {};
    if (isMaxSize(a, b)) {
        if (available.isEmpty()) return display;
        const double scale = std::min(double(available.width()) / display.width(),
                                      double(available.height()) / display.height());
        return {std::max(1, int(display.width() * scale)), std::max(1, int(display.height() * scale))};
    }
    return {std::max(1, (display.width() * a + b / 2) / b), std::max(1, (display.height() * a + b / 2) / b)};
}

QImage scaledPicture(const QImage& picture, QSize size)
{
    if (picture.isNull() || picture.size() == size) return picture;
    return picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace viewer
