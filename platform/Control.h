#pragma once
#include "platform/Geometry.h"

#include <cstdint>
#include <string>

namespace platform {

// A window control the engine updates: a progress bar, a button, a check box, a
// static text, an edit window, a trackbar, or a dialog whose child controls can
// be looked up. The engine holds plain pointers; null means "not set, not used".
class Control {
public:
    virtual ~Control() = default;
    virtual void show(bool visible) = 0;
    virtual void enable(bool enabled) = 0;
    virtual void setText(const char* text) = 0;
    virtual void setRange(int low, int high) = 0;
    // Progress bars and trackbars. A trackbar moved this way sends no notification.
    virtual void setPosition(int position) = 0;
    // Scrolls a multi-line edit control vertically by the given number of lines.
    virtual void scrollLines(int lines) = 0;
    // Asks for a repaint; erase = also clear the background first.
    virtual void invalidate(bool erase) = 0;
    // A child control of a dialog by its id, or null.
    virtual Control* child(int id) = 0;

    // What the user has put into the control: the text of an edit control, the
    // position of a trackbar, the state of a check box.
    virtual std::string currentText() = 0;
    virtual int currentPosition() = 0;
    virtual bool isChecked() = 0;
    virtual void setChecked(bool checked) = 0;
    // The tip shown while the mouse rests on the control; an empty text shows none.
    virtual void setToolTip(const char* text) = 0;
};

} // namespace platform
