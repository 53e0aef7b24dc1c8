#pragma once
#include "platform/ScrollBar.h"

#include <utility>
#include <vector>

namespace platform::fake {

// Keeps what was set, and every call with its mask; the test sets where the user
// drags the thumb.
class FakeScrollBar final : public ScrollBar {
public:
    Info current;
    std::vector<std::pair<Info, unsigned>> calls;
    int track = 0;

    void setInfo(const Info& info, unsigned mask) override
    {
        calls.push_back({info, mask});
        if (mask & setsRange) {
            current.min = info.min;
            current.max = info.max;
        }
        if (mask & setsPage) current.page = info.page;
        if (mask & setsPosition) current.pos = info.pos;
    }
    Info info() override { return current; }
    int trackPosition() override { return track; }
};

} // namespace platform::fake
