#pragma once
#include "IndexedImage.h"

namespace bitmapgen {

// The window background: dark grey stone with a perforated strip along the top.
IndexedImage mainBackground();
// The faces of the window's own minimise and close buttons.
IndexedImage minimiseFace();
IndexedImage closeFace();

} // namespace bitmapgen
