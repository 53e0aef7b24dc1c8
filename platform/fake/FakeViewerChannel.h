#pragma once
#include "platform/Host.h"
#include "platform/ViewerChannel.h"

#include <string>
#include <vector>

namespace platform::fake {

// A stand-in viewer: records every look-up, start and message with the clock's
// time, so that tests see the order and the pauses between them.
class FakeViewerChannel final : public ViewerChannel {
public:
    struct Call {
        std::string what;   // "find", "start", "send", "post"
        ViewerMessage message;
        std::string program;
        uint32_t at = 0;
        bool found = false;   // find: whether the viewer was there
    };
    std::vector<Call> calls;
    Clock* clock = nullptr;
    bool running = false;         // a viewer window exists
    bool startSucceeds = true;
    bool startedViewerAppears = true;
    int findsBeforeWindow = 0;    // look-ups after a start that still find nothing
    bool answers = true;          // a running viewer answers sent messages

    bool find() override
    {
        if (!running && starting_ && startedViewerAppears) {
            if (findsBeforeWindow > 0)
                --findsBeforeWindow;
            else
                running = true;
        }
        record("find").found = running;
        return running;
    }
    bool start(const char* program) override
    {
        record("start").program = program;
        if (startSucceeds) starting_ = true;
        return startSucceeds;
    }
    bool send(const ViewerMessage& m) override
    {
        record("send").message = m;
        return running && answers;
    }
    bool post(const ViewerMessage& m) override
    {
        record("post").message = m;
        return running;
    }

    // The messages only ("send"/"post"), in order.
    std::vector<Call> messages() const
    {
        std::vector<Call> out;
        for (const Call& c : calls)
            if (c.what == "send" || c.what == "post") out.push_back(c);
        return out;
    }
    int count(const std::string& what) const
    {
        int n = 0;
        for (const Call& c : calls) n += c.what == what;
        return n;
    }
    // The viewer goes away (the user closed it).
    void quit()
    {
        running = false;
        starting_ = false;
    }

private:
    Call& record(const char* what)
    {
        calls.push_back({what, {}, {}, clock ? clock->nowMs() : 0, false});
        return calls.back();
    }
    bool starting_ = false;
};

} // namespace platform::fake
