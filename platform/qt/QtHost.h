#pragma once
// The host services over Qt: the event pump for long operations, the clock and
// the modal message box.
#include "platform/Host.h"

#include <cstdint>

namespace platform::qt {

// Serves the window during a scan or a save, which call serve() after every
// packet. Every clockStride-th call reads a coarse clock (a few nanoseconds, no
// system call); the others only count down. Once the interval has passed since
// Qt was last entered, Qt dispatches whatever is waiting (Qt cannot take a given
// number of events, so maxEvents only caps the count returned). The window is
// thus served every few milliseconds, and a packet pays about a nanosecond.
class QtEventPump final : public EventPump {
public:
    using MicrosecondClock = uint64_t (*)();
    static uint64_t coarseMicroseconds();
    static constexpr uint32_t defaultIntervalUs = 4000;
    static constexpr int clockStride = 8;

    explicit QtEventPump(MicrosecondClock clock = coarseMicroseconds, uint32_t intervalUs = defaultIntervalUs);
    int serve(int maxEvents) override;
    // How often serve() entered Qt.
    uint64_t entries() const { return entries_; }

private:
    MicrosecondClock clock_;
    uint32_t intervalUs_;
    uint64_t lastEntry_ = 0;
    bool entered_ = false;
    int callsToClock_ = 0;
    uint64_t entries_ = 0;
};

class QtClock final : public Clock {
public:
    uint32_t nowMs() override;
    void sleepMs(uint32_t ms) override;
};

// Modal, without owner: "ERROR" boxes show the error icon, others the
// information icon.
class QtMessageBox final : public MessageBox {
public:
    void show(const char* caption, const char* text) override;
    int ask(const char* caption, const char* text, const std::vector<std::string>& answers) override;
};

// The number of events Qt has delivered so far, timer ticks aside: what a
// dispatch has served is the difference.
uint64_t deliveredEventCount();

} // namespace platform::qt
