#pragma once
// The size the picture is shown at: a/b of its display size, or the largest that
// fits the screen ("Max", sent as 4/1).
#include <QImage>
#include <QSize>

namespace viewer {

inline bool isMaxSize(int a, int b) { return a == 4 && b == 1; }
// The fractions the viewer accepts: the cutter's 1/1, 3/4, 1/2, 1/4 and Max, and
// any other a/b with both between 1 and 16 that leaves at least one pixel.
bool validSize(int a, int b);
QSize pictureSize(QSize display, int a, int b, QSize available);
// The picture at `size`, smoothly scaled when that differs from its own size.
QImage scaledPicture(const QImage& picture, QSize size);

} // namespace viewer
