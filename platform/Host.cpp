#include "platform/Host.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace platform {
namespace {

class NoEvents final : public EventPump {
public:
    int serve(int) override { return 0; }
};

class SystemClock final : public Clock {
public:
    uint32_t nowMs() override
    {
        using namespace std::chrono;
        return static_cast<uint32_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
    void sleepMs(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

class StderrMessageBox final : public MessageBox {
public:
    void show(const char* caption, const char* text) override
    {
        std::fprintf(stderr, "[%s]\n%s\n", caption, text);
    }
    // Nobody to answer: the question is shown and left unanswered.
    int ask(const char* caption, const char* text, const std::vector<std::string>&) override
    {
        show(caption, text);
        return -1;
    }
};

} // namespace

EventPump& noEvents()
{
    static NoEvents pump;
    return pump;
}

Clock& systemClock()
{
    static SystemClock clock;
    return clock;
}

MessageBox& stderrMessageBox()
{
    static StderrMessageBox box;
    return box;
}

} // namespace platform
