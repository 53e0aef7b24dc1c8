#pragma once
#include "platform/Window.h"

namespace platform::qt {

// The main loop's queue over Qt's event loop, which the program runs itself
// (no QApplication::exec()). Windows destroyed during a dispatch are deleted
// before it returns.
class QtMessageQueue final : public MessageQueue {
public:
    bool dispatchWaiting() override;
    void waitForMessage() override;
    bool quitPosted(int& exitCode) override;
    void postQuit(int exitCode) override;

private:
    bool quit_ = false;
    int exitCode_ = 0;
};

} // namespace platform::qt
