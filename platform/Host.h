#pragma once
#include <cstdint>

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
};

// The services the engine takes from the window system. The defaults work
// without a window: no events, the monotonic system clock, message boxes to stderr.
// None of the three is ever null: whoever installs services installs all three
// (a fake or the default), so the engine uses them without checking.
struct Host {
    EventPump* pump;
    Clock* clock;
    MessageBox* messageBox;
};

Host& host();
// Puts the default services back (tests call this after installing fakes).
void resetHost();

} // namespace platform
