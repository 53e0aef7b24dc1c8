#include "platform/Operation.h"

#include "platform/Control.h"

namespace platform {
namespace {

class NoProgress final : public ProgressSink {
public:
    void running(bool) override {}
    void progress(int) override {}
    bool showsInfoLine() const override { return false; }
    void infoLine(const char*) override {}
};

} // namespace

ProgressSink& noProgress()
{
    static NoProgress sink;
    return sink;
}

void ControlProgress::running(bool started)
{
    if (bar_) {
        bar_->show(started);
        if (started) {
            bar_->setRange(0, 100);
            bar_->setPosition(0);
        }
    }
    if (cancel_) cancel_->show(started);
}

void ControlProgress::progress(int percent)
{
    if (bar_) bar_->setPosition(percent);
}

void ControlProgress::infoLine(const char* text)
{
    if (line_) line_->setText(text);
}

} // namespace platform
