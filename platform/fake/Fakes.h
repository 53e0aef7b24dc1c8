#pragma once
// Recording fakes of the platform interfaces, for tests.
#include "platform/Control.h"
#include "platform/FileDialog.h"
#include "platform/Host.h"
#include "platform/Operation.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace platform::fake {

class FakeControl final : public Control {
public:
    bool visible = false;
    bool enabled = true;
    std::string text;
    int rangeLow = 0, rangeHigh = 0;
    int position = 0;
    int scrolledLines = 0;
    int invalidations = 0;
    bool checked = false;
    std::string toolTip;
    int showCalls = 0, hideCalls = 0;
    int setTextCalls = 0, setPositionCalls = 0;
    std::vector<std::string> texts;   // every text set, in order
    std::vector<int> positions;        // every position set, in order
    std::map<int, std::unique_ptr<FakeControl>> children;

    void show(bool v) override { visible = v; (v ? showCalls : hideCalls)++; }
    void enable(bool e) override { enabled = e; }
    void setText(const char* t) override { text = t; texts.push_back(t); ++setTextCalls; }
    void setRange(int lo, int hi) override { rangeLow = lo; rangeHigh = hi; }
    void setPosition(int p) override { position = p; positions.push_back(p); ++setPositionCalls; }
    void scrollLines(int n) override { scrolledLines += n; }
    void invalidate(bool) override { ++invalidations; }
    std::string currentText() override { return text; }
    int currentPosition() override { return position; }
    bool isChecked() override { return checked; }
    void setChecked(bool c) override { checked = c; }
    void setToolTip(const char* t) override { toolTip = t; }
    Control* child(int id) override
    {
        auto it = children.find(id);
        return it == children.end() ? nullptr : it->second.get();
    }
    FakeControl& addChild(int id)
    {
        auto& c = children[id];
        c = std::make_unique<FakeControl>();
        return *c;
    }
};

// Counts serve() calls; runs onServe (if set) on each call, which is how a test
// clicks "cancel" in the middle of a scan or a save.
class FakeEventPump final : public EventPump {
public:
    int serveCalls = 0;
    std::function<void(int call)> onServe;
    int serve(int) override
    {
        ++serveCalls;
        if (onServe) onServe(serveCalls);
        return 0;
    }
};

// A clock that only moves when told to, or by stepMs on every reading.
class FakeClock final : public Clock {
public:
    uint32_t now = 0;
    uint32_t stepMs = 0;
    uint32_t slept = 0;
    uint32_t nowMs() override { uint32_t t = now; now += stepMs; return t; }
    void sleepMs(uint32_t ms) override { slept += ms; now += ms; }
};

class FakeMessageBox final : public MessageBox {
public:
    struct Shown { std::string caption, text; };
    std::vector<Shown> shown;
    void show(const char* caption, const char* text) override { shown.push_back({caption, text}); }
    // Questions asked, and the answers given in turn (-1 once they run out).
    struct Asked { std::string caption, text; std::vector<std::string> answers; };
    std::vector<Asked> asked;
    std::vector<int> answers;
    int ask(const char* caption, const char* text, const std::vector<std::string>& choices) override
    {
        asked.push_back({caption, text, choices});
        if (answers.empty()) return -1;
        const int a = answers.front();
        answers.erase(answers.begin());
        return a;
    }
};

// The context of a long operation over fakes: the pump, the clock, and the
// progress bar, cancel button and info line of a window.
struct FakeOperation {
    FakeEventPump pump;
    FakeClock clock;
    FakeControl bar, cancelButton, infoLine;
    ControlProgress controls{&bar, &cancelButton, &infoLine};

    OperationContext context(int32_t& cancelFlag) { return {controls, cancelFlag, pump, clock}; }
    OperationContext context(ProgressSink& progress, int32_t& cancelFlag) { return {progress, cancelFlag, pump, clock}; }
};

// Answers with `answer`, or cancels when `cancel` is set; records each request.
class FakeFileDialog final : public FileDialog {
public:
    std::string answer;
    bool cancel = false;
    std::vector<Request> requests;
    bool openFile(const Request& r, std::string& path) override { return reply(r, path); }
    bool saveFile(const Request& r, std::string& path) override { return reply(r, path); }

private:
    bool reply(const Request& r, std::string& path)
    {
        requests.push_back(r);
        if (cancel) return false;
        path = answer;
        return true;
    }
};

} // namespace platform::fake
