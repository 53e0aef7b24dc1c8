#pragma once
// Moving a window without caption bar by dragging its free background.
#include "platform/Window.h"

class WindowDragging {
public:
    // Where the mouse went down, in client coordinates.
    void setGrabPoint(platform::Point client) { grab_ = client; }
    // Starts a drag from the grab point: the window system's own move where it
    // offers one, else the window follows the mouse from now on.
    void begin(platform::Window& window);
    // The grab point stays under the cursor, only while the left button alone is down.
    void move(platform::Window& window, const platform::MouseEvent& event);
    // unconditional: release the mouse even when no drag is known to run.
    void end(platform::Window& window, bool unconditional);
    bool dragging() const { return dragging_; }

private:
    platform::Point grab_;
    bool dragging_ = false;
};
