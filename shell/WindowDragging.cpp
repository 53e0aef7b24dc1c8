#include "shell/WindowDragging.h"

void WindowDragging::begin(platform::Window& window)
{
    if (window.beginSystemMove()) return;
    window.captureMouse(true);
    dragging_ = true;
}

void WindowDragging::move(platform::Window& window, const platform::MouseEvent& e)
{
    if (!dragging_) return;
    if (!e.leftButton || e.rightButton || e.middleButton || e.shift || e.control) return;
    const platform::Point cursor = window.cursorScreenPosition();
    const platform::Size frame = window.dialogFrame();
    window.moveTo({cursor.x - grab_.x - frame.width, cursor.y - grab_.y - frame.height});
}

void WindowDragging::end(platform::Window& window, bool unconditional)
{
    if (!dragging_ && !unconditional) return;
    window.captureMouse(false);
    dragging_ = false;
}
