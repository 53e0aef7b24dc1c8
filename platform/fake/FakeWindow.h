#pragma once
// A dialog window built from a template, the window system that makes such
// windows, and a message queue on a fake clock. Tests drive the window through
// the helpers at the end of FakeWindow, which behave as the real window does
// (a disabled or hidden control takes no click, a check box toggles first).
#include "platform/Window.h"
#include "platform/fake/FakeCanvas.h"
#include "platform/fake/FakeScrollBar.h"
#include "platform/fake/Fakes.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace platform::fake {

// What a fake dialog is made of: its template name, client size and controls.
struct FakeDialogLayout {
    enum class Kind { button, checkBox, scrollBar, other };
    struct Item {
        int id;
        Kind kind;
        std::string caption;
    };
    std::string name;
    Size client;
    std::vector<Item> controls;
};

class FakeWindow final : public Window {
public:
    FakeWindow(const FakeDialogLayout& layout, DialogHandler& handler, uint64_t id);

    const FakeDialogLayout& layout;
    DialogHandler& handler;
    std::map<int, std::unique_ptr<FakeControl>> controls;
    std::map<int, FakeDialogLayout::Kind> kinds;
    std::map<int, std::unique_ptr<FakeScrollBar>> bars;

    bool visible = false;
    bool enabled = true;
    std::string text;
    std::string title;
    uint64_t id;
    Size client;
    struct Invalidation {
        Rect rect;
        bool erase;
        bool whole;
    };
    std::vector<Invalidation> invalidations;
    int minimiseCalls = 0;
    bool destroyed = false;
    Point cursorScreen, cursorClient;
    Size frame{3, 3};
    Point topLeft;
    std::vector<Point> moves;
    bool captured = false;
    bool systemMoveAvailable = false;
    int systemMoves = 0;

    // Control
    void show(bool v) override { visible = v; }
    void enable(bool e) override { enabled = e; }
    void setText(const char* t) override { text = t; }
    void setRange(int, int) override {}
    void setPosition(int) override {}
    void scrollLines(int) override {}
    void invalidate(bool erase) override { invalidations.push_back({{0, 0, client.width, client.height}, erase, true}); }
    Control* child(int id) override;
    std::string currentText() override { return text; }
    int currentPosition() override { return 0; }
    bool isChecked() override { return false; }
    void setChecked(bool) override {}
    void setToolTip(const char*) override {}

    // Window
    ScrollBar* scrollBar(int id) override;
    Size clientSize() override { return client; }
    void invalidateRect(const Rect& r, bool erase) override { invalidations.push_back({r, erase, false}); }
    void setTitle(const char* t) override { title = t; }
    uint64_t nativeId() override { return id; }
    void minimise() override { ++minimiseCalls; }
    void sendClose() override { handler.onClose(); }
    void destroy() override { destroyed = true; }
    Point cursorScreenPosition() override { return cursorScreen; }
    Point cursorClientPosition() override { return cursorClient; }
    Size dialogFrame() override { return frame; }
    void moveTo(Point p) override
    {
        topLeft = p;
        moves.push_back(p);
    }
    void captureMouse(bool capture) override { captured = capture; }
    bool beginSystemMove() override
    {
        if (systemMoveAvailable) ++systemMoves;
        return systemMoveAvailable;
    }

    // Test side.
    FakeControl& control(int id);
    FakeScrollBar& bar(int id);
    // A user's click: false (and nothing happens) when the window is gone or the
    // control is disabled or hidden. Check boxes toggle before the handler hears.
    bool click(int id);
    // The user types into an edit control.
    bool type(int id, const std::string& value);
    // A scroll bar or slider action; a slider first moves to `position`.
    bool scroll(int id, int code);
    bool slide(int id, int position);
    // Mouse events at a client point; the cursor's screen position follows the
    // window's top-left corner and frame.
    void leftDown(Point p, bool shift = false);
    void rightDown(Point p);
    void moveMouse(Point p, bool left, bool shift = false);
    void leftUp(Point p);
    void wheel(Point p, int delta);
    // Paints the whole window into a fresh recording canvas.
    FakeCanvas paint();
    // The invalidated rectangles since the last call, then forgotten.
    std::vector<Invalidation> takeInvalidations();

private:
    MouseEvent at(Point p, bool left, bool right, bool shift);
};

class FakeWindowSystem final : public WindowSystem {
public:
    std::map<std::string, FakeDialogLayout> dialogs;
    std::vector<std::unique_ptr<FakeWindow>> windows;
    int failCreations = 0;   // this many next creations fail
    int created = 0;

    void addDialog(FakeDialogLayout layout) { dialogs[layout.name] = std::move(layout); }
    Window* createDialog(const char* templateName, DialogHandler& handler) override;
    // The newest window made from this template that is not destroyed, or null.
    FakeWindow* find(const std::string& templateName);
};

// Messages are closures due at a time of the fake clock. Only the clock moves time:
// waiting for a message jumps it to the next one due.
class FakeMessageQueue final : public MessageQueue {
public:
    explicit FakeMessageQueue(FakeClock& clock) : clock_(clock) {}

    // A message that arrives at `at` (clock time) and runs `deliver` when dispatched.
    void postAt(uint32_t at, std::function<void()> deliver);
    bool inputWaiting() const { return !pending_.empty() && pending_.front().at <= clock_.now; }
    size_t pendingCount() const { return pending_.size(); }

    int waits = 0;
    int dispatched = 0;
    // Waiting with nothing pending would block for ever: the queue then posts the
    // quit message with this code instead, so a test cannot hang.
    int idleQuitCode = 99;

    bool dispatchWaiting() override;
    void waitForMessage() override;
    bool quitPosted(int& exitCode) override
    {
        exitCode = exitCode_;
        return quit_;
    }
    void postQuit(int exitCode) override
    {
        quit_ = true;
        exitCode_ = exitCode;
    }
    // Takes the quit message back, so that a test can run a loop again.
    void resetQuit() { quit_ = false; }

private:
    struct Pending {
        uint32_t at;
        std::function<void()> deliver;
    };
    FakeClock& clock_;
    std::deque<Pending> pending_;
    bool quit_ = false;
    int exitCode_ = 0;
};

} // namespace platform::fake
