#pragma once
// What a long operation (a scan, a save) is given by whoever starts it: where its
// progress shows, the question whether to stop, the event pump that keeps a window
// alive meanwhile, and the clock.
#include "platform/Host.h"

#include <cstdint>

namespace platform {

class Control;

// Where an operation shows how far it is. A sink may show all of it, some of it
// or nothing at all.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    // The operation starts (progress 0 of 100, a way to cancel it shown) or has ended.
    virtual void running(bool started) = 0;
    virtual void progress(int percent) = 0;
    // Whether a line of text (a speed or rate) is shown: operations only work one
    // out, and read the clock for it, when it is.
    virtual bool showsInfoLine() const = 0;
    virtual void infoLine(const char* text) = 0;
};

// Shows nothing.
ProgressSink& noProgress();

// The progress bar, cancel button and info line of a window; any of them may be
// null and is then not used.
class ControlProgress final : public ProgressSink {
public:
    ControlProgress() = default;
    ControlProgress(Control* bar, Control* cancelButton, Control* line) : bar_(bar), cancel_(cancelButton), line_(line) {}
    void running(bool started) override;
    void progress(int percent) override;
    bool showsInfoLine() const override { return line_ != nullptr; }
    void infoLine(const char* text) override;
    Control* bar() const { return bar_; }
    Control* cancelButton() const { return cancel_; }
    Control* line() const { return line_; }

private:
    Control* bar_ = nullptr;
    Control* cancel_ = nullptr;
    Control* line_ = nullptr;
};

struct OperationContext {
    ProgressSink& progress;
    // Set (non-zero) by whoever wants the operation to stop; an operation that
    // stops for it sets it back to 0.
    int32_t& cancelFlag;
    EventPump& pump;
    Clock& clock;

    bool cancelRequested() const { return cancelFlag != 0; }
    void cancelHandled() const { cancelFlag = 0; }
};

// A context without a window: no progress shown, no events, the system clock.
inline OperationContext quietOperation(int32_t& cancelFlag)
{
    return OperationContext{noProgress(), cancelFlag, noEvents(), systemClock()};
}

} // namespace platform
