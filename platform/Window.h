#pragma once
#include "platform/Control.h"
#include "platform/Geometry.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

class Canvas;
class ScrollBar;

// Notification codes that come with a command.
inline constexpr int commandClicked = 0;        // a button or check box was clicked
inline constexpr int commandEditChanged = 0x300; // the text of an edit control changed (also when set by the program)

// The state of the mouse at a mouse event, in client coordinates of the window
// that receives it.
struct MouseEvent {
    Point client;
    bool leftButton = false;
    bool rightButton = false;
    bool middleButton = false;
    bool shift = false;
    bool control = false;
};

// A key pressed while a dialog window is active, named by what it is rather than
// by a window system's key codes.
enum class Key { other, left, right, up, down, pageUp, pageDown, home, end, enter, insert, del, escape, space, tab,
                 backtab, f1, f2, character };

struct KeyEvent {
    Key key = Key::other;
    // Key::character: the key's character as typed without Shift, letters in
    // lower case ('z', '[', '1').
    char character = 0;
    bool shift = false;
    bool control = false;
    bool alt = false;
};

// A top-level dialog window built from a dialog template. As a Control it is the
// dialog itself: child(id) finds its controls, invalidate() repaints all of it.
class Window : public Control {
public:
    // The scroll bar control with this id, or null.
    virtual ScrollBar* scrollBar(int id) = 0;
    virtual Size clientSize() = 0;
    // Repaints a part of the client area (the whole background is painted again,
    // clipped to it).
    virtual void invalidateRect(const Rect& r, bool erase) = 0;
    virtual void setTitle(const char* title) = 0;
    // The window system's identifier of the window, which the viewer is given
    // with each file name; 0 where there is none to give.
    virtual uint64_t nativeId() { return 0; }
    virtual void minimise() = 0;
    // Delivers the close message to the window's own handler, at once.
    virtual void sendClose() = 0;
    // Ends the dialog: the window goes away; its handler gets no more events.
    virtual void destroy() = 0;

    // Moving a borderless window by hand.
    virtual Point cursorScreenPosition() = 0;
    virtual Point cursorClientPosition() = 0;
    // The frame around the client area (left/right, top/bottom).
    virtual Size dialogFrame() = 0;
    // Puts the window's top-left corner at this screen position.
    virtual void moveTo(Point topLeft) = 0;
    virtual void captureMouse(bool capture) = 0;
    // Hands an interactive move to the window system, for platforms whose
    // windows cannot be placed by the program. False when it has not taken it
    // (moveTo then applies). When it has, the mouse is not captured and the
    // window system keeps the button's release: onLeftButtonUp comes with the
    // next mouse event that shows the left button up.
    virtual bool beginSystemMove() = 0;
};

// What a dialog window reports to the code behind it.
class DialogHandler {
public:
    virtual ~DialogHandler() = default;
    // The dialog and its controls exist; runs inside WindowSystem::createDialog.
    virtual void onInit(Window& window) = 0;
    // A control's command: commandClicked, commandEditChanged.
    virtual void onCommand(int controlId, int code) = 0;
    // A horizontal scroll bar or trackbar action (scroll codes of ScrollBar.h).
    virtual void onHorizontalScroll(int controlId, int code) = 0;
    // Mouse events on the window's own background: not on a control, except
    // that static texts, pictures and group boxes let the mouse through and a
    // disabled control's mouse input comes here too.
    virtual void onLeftButtonDown(const MouseEvent& event) = 0;
    virtual void onRightButtonDown(const MouseEvent& event) = 0;
    virtual void onLeftButtonUp(const MouseEvent& event) = 0;
    virtual void onMouseMove(const MouseEvent& event) = 0;
    // delta > 0: turned away from the user. One call per whole notch (120);
    // finer wheels are added up. Turns over the console and the scroll bars
    // come here too, not to those controls, with the point in this window's
    // client coordinates.
    virtual void onWheel(int delta, const MouseEvent& event) = 0;
    virtual void onPaint(Canvas& canvas) = 0;
    // A key press. True when the handler took it; otherwise the control with the
    // focus gets it as usual.
    virtual bool onKey(const KeyEvent&) { return false; }
    // Files dropped onto the window, in the order given. A window that takes none
    // says so by returning false (the window system then shows the drop refused).
    virtual bool onDropFiles(const std::vector<std::string>&) { return false; }
    // The close message: the close button, the window system, the end of the session.
    virtual void onClose() = 0;
};

class WindowSystem {
public:
    virtual ~WindowSystem() = default;
    // Creates a modeless dialog from a template ("MAINCUTDIALOG", "PVADIALOG"),
    // hidden; handler.onInit runs inside. Null when it cannot be created.
    virtual Window* createDialog(const char* templateName, DialogHandler& handler) = 0;
};

// The program's message queue, for the main loop.
class MessageQueue {
public:
    virtual ~MessageQueue() = default;
    // Dispatches the messages that are waiting, without blocking. True when at
    // least one was dispatched, false when none was waiting.
    virtual bool dispatchWaiting() = 0;
    // Blocks until a message arrives, then dispatches what is waiting.
    virtual void waitForMessage() = 0;
    // True once the quit message has been posted; exitCode then holds its code.
    virtual bool quitPosted(int& exitCode) = 0;
    virtual void postQuit(int exitCode) = 0;
};

} // namespace platform
