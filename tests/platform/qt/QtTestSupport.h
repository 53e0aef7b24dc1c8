#pragma once
// Helpers of the Qt tests: a dialog handler that records what reaches it, and
// mouse and wheel events sent the way the window system sends them.
#include "platform/Canvas.h"
#include "platform/Window.h"

#include <QApplication>
#include <QTest>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <ostream>
#include <functional>
#include <string>
#include <vector>

// Readable failures for Qt values.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QRect& r, std::ostream* os)
{
    *os << "(" << r.x() << "," << r.y() << " " << r.width() << "x" << r.height() << ")";
}
inline void PrintTo(const QSize& s, std::ostream* os) { *os << s.width() << "x" << s.height(); }
inline void PrintTo(const QPoint& p, std::ostream* os) { *os << "(" << p.x() << "," << p.y() << ")"; }

namespace qttest {

inline std::string mouseText(const platform::MouseEvent& e)
{
    char s[64];
    std::snprintf(s, sizeof s, "%d,%d%s%s%s", e.client.x, e.client.y, e.leftButton ? " L" : "", e.rightButton ? " R" : "",
                  e.shift ? " S" : "");
    return s;
}

// Records every call as one line of text; hooks let a test act inside a call.
struct RecordingHandler : platform::DialogHandler {
    std::vector<std::string> calls;
    platform::Window* window = nullptr;
    std::function<void(platform::Window&)> init;
    std::function<void(int id, int code)> command;
    std::function<void(int id, int code)> scroll;
    std::function<void(platform::Canvas&)> paint;
    std::function<void()> close;

    void onInit(platform::Window& w) override
    {
        window = &w;
        calls.push_back("init");
        if (init) init(w);
    }
    void onCommand(int id, int code) override
    {
        calls.push_back("command " + std::to_string(id) + " " + std::to_string(code));
        if (command) command(id, code);
    }
    void onHorizontalScroll(int id, int code) override
    {
        calls.push_back("scroll " + std::to_string(id) + " " + std::to_string(code));
        if (scroll) scroll(id, code);
    }
    void onLeftButtonDown(const platform::MouseEvent& e) override { calls.push_back("leftdown " + mouseText(e)); }
    void onRightButtonDown(const platform::MouseEvent& e) override { calls.push_back("rightdown " + mouseText(e)); }
    void onLeftButtonUp(const platform::MouseEvent& e) override { calls.push_back("leftup " + mouseText(e)); }
    void onMouseMove(const platform::MouseEvent& e) override { calls.push_back("move " + mouseText(e)); }
    void onWheel(int delta, const platform::MouseEvent& e) override
    {
        calls.push_back("wheel " + std::to_string(delta) + " " + mouseText(e));
    }
    void onPaint(platform::Canvas& canvas) override
    {
        calls.push_back("paint");
        if (paint) paint(canvas);
    }
    void onClose() override
    {
        calls.push_back("close");
        if (close) close();
    }

    // The calls other than paints and mouse moves, which the window system
    // sends whenever it likes.
    std::vector<std::string> actions() const
    {
        std::vector<std::string> out;
        for (const auto& c : calls)
            if (c != "paint" && c.rfind("move ", 0) != 0) out.push_back(c);
        return out;
    }
};

// A mouse event as the window system reports it to a top-level window: Qt
// picks the control under the point, and what a control ignores goes on to
// its parent.
inline void windowMouse(QWidget* window, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons,
                        Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    static int timestamp = 1000;
    timestamp += 600;   // never a double click
    QWindow* handle = window->windowHandle();
    qt_handleMouseEvent(handle, QPointF(pos), handle->mapToGlobal(QPointF(pos)), buttons, button, type, modifiers, timestamp);
    QApplication::processEvents();
}

inline void windowClick(QWidget* window, QPoint pos, Qt::MouseButton button = Qt::LeftButton,
                        Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    windowMouse(window, QEvent::MouseButtonPress, pos, button, button, modifiers);
    windowMouse(window, QEvent::MouseButtonRelease, pos, button, Qt::NoButton, modifiers);
}

// The position of a control's point in its top-level window.
inline QPoint inWindow(QWidget* control, QPoint pos) { return control->mapTo(control->window(), pos); }

// A wheel turn over a point of a top-level window, delivered to the widget
// there (what it ignores goes on to its parent).
inline void windowWheel(QWidget* window, QPoint pos, int delta)
{
    QWidget* target = window->childAt(pos);
    if (!target) target = window;
    const QPointF local = target->mapFrom(window, QPointF(pos));
    QWheelEvent event(local, window->mapToGlobal(QPointF(pos)), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

} // namespace qttest
