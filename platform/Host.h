#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Serves waiting window events while a long operation runs on the window thread.
class EventPump {
public:
    virtual ~EventPump() = default;
    // Dispatches waiting events; returns how many were served (at most
    // maxEvents). Meant to be called after every packet: a call may return 0
    // at once when the window was served a moment ago, and a window system that
    // cannot take events one by one serves all that wait.
    virtual int serve(int maxEvents) = 0;
};

// The millisecond clock and sleeping.
class Clock {
public:
    virtual ~Clock() = default;
    virtual uint32_t nowMs() = 0;
    virtual void sleepMs(uint32_t ms) = 0;
};

// A modal message box without owner window.
class MessageBox {
public:
    virtual ~MessageBox() = default;
    virtual void show(const char* caption, const char* text) = 0;
    // A question with its answers as buttons (the first is the default one).
    // Returns the index of the answer chosen, or -1 when the box was closed
    // without one.
    virtual int ask(const char* caption, const char* text, const std::vector<std::string>& answers) = 0;
};

// The services for a program without a window: no events, the monotonic system
// clock, message boxes on stderr. Stateless, so they may be shared by anyone.
EventPump& noEvents();
Clock& systemClock();
MessageBox& stderrMessageBox();

} // namespace platform
