#pragma once
// The bitmaps compiled into the program (Qt side).
#include <QPixmap>

namespace resources {

// BITMAP_MAIN, BITMAP_MINIMZE or BITMAP_CLOSE; a null pixmap for another name.
// Loaded once and kept for the program's lifetime.
QPixmap bitmap(const char* name);

} // namespace resources
