#pragma once
// Helpers of the desktop program's GUI tests: a private viewer endpoint, a
// stand-in viewer that records every frame the program sends, and a script of
// steps that runs inside the program's own main loop.
#include "platform/ViewerChannel.h"
#include "support/TestSupport.h"

#include <QWidget>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace desktoptest {

// Points XDG_RUNTIME_DIR of this process (and of the programs it starts) at a
// fresh directory of mode 0700, so that no viewer of the user or of another test
// is ever met.
class PrivateRuntimeDir {
public:
    PrivateRuntimeDir();
    ~PrivateRuntimeDir();
    const std::string& path() const { return dir_.path(); }

private:
    testsupport::ScratchDir dir_{"rt"};
    std::string previous_;
    bool hadPrevious_ = false;
};

// Listens on the viewer's endpoint on its own thread, records every frame and
// acknowledges those the sender waits for, as the viewer does.
class StandInViewer {
public:
    struct Frame {
        bool sent = false;   // the sender waited for the acknowledgement
        platform::ViewerMessage message;
        double atMs = 0;     // since the stand-in started
    };
    StandInViewer();
    ~StandInViewer();
    bool listening() const { return listenFd_ >= 0; }
    std::vector<Frame> frames() const;
    size_t count() const;
    // "send 74 W 0 [1:name\0]", "post 1028 0 123": the frames from `from` on.
    std::vector<std::string> describe(size_t from = 0) const;
    static std::string describe(const Frame& f);

private:
    void serve();
    int listenFd_ = -1;
    std::string path_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<Frame> frames_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Steps that run one after another from the program's main loop, each after a
// pause; the program keeps serving its events (and play stepping) in between.
class Script {
public:
    Script& then(std::function<void()> step, int afterMs = 0);
    // Schedules the first step. `end` runs after the last step, so that a step cut
    // short by a failed assertion still ends the session, or when the whole script
    // has not finished within timeoutMs.
    // A step waits while `ready` does not hold (a scan or a save serves events too).
    void start(std::function<void()> end, std::function<bool()> ready, int timeoutMs = 120000);
    bool finished() const { return next_ >= steps_.size(); }
    // The texts of the message boxes the program showed meanwhile; each is answered
    // (closed) as a user would, so that a session never waits on one.
    const std::vector<std::string>& messageBoxes() const { return messageBoxes_; }

private:
    void schedule();
    struct Step {
        std::function<void()> run;
        int afterMs;
    };
    std::vector<Step> steps_;
    size_t next_ = 0;
    std::function<void()> end_;
    std::function<bool()> ready_;
    std::vector<std::string> messageBoxes_;
};

// Serves events for about `ms` milliseconds (a step may wait for the program).
void serveFor(int ms);
// Serves events until `done` holds or timeoutMs passed; true when it holds.
bool serveUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// Clicks a widget with the mouse as the window system would (press, release).
void click(QWidget* widget, Qt::MouseButton button = Qt::LeftButton, QPoint at = QPoint(-1, -1),
           Qt::KeyboardModifiers modifiers = Qt::NoModifier);
// A wheel turn over a point of a top-level window.
void wheel(QWidget* window, QPoint at, int delta);

} // namespace desktoptest
