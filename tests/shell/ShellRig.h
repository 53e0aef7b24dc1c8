#pragma once
// The desktop program's logic over fakes: a window system that builds windows
// from the dialogs' controls, a message queue and a clock that only move when
// told, a stand-in viewer and a file dialog that answers what the test says.
#include "cut/CutEditor.h"
#include "platform/fake/FakeViewerChannel.h"
#include "platform/fake/FakeWindow.h"
#include "platform/fake/Fakes.h"
#include "core/LogConsole.h"
#include "shell/Shell.h"
#include "source/SourceAnalyser.h"
#include "support/TestDialogTemplates.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testsupport {

using namespace platform::fake;

class ShellRig {
public:
    ScratchDir dir{"shell"};
    std::string ini = dir.file("Orvane.ini");
    LogConsole console;
    SourceAnalyser app{console};
    CutEditor editor{app};
    FakeClock clock;
    FakeEventPump pump;
    FakeMessageBox messageBox;
    FakeWindowSystem windows;
    FakeMessageQueue queue{clock};
    FakeViewerChannel viewer;
    FakeFileDialog files;
    ShellServices services{windows, queue, viewer, files, clock, pump, messageBox, console, app, editor, ini.c_str()};
    Shell shell{services};
    ShellContext& context = shell.context();

    ShellRig()
    {
        windows.addDialog(fakeDialogLayout(resources::mainCutDialogTemplate()));
        windows.addDialog(fakeDialogLayout(resources::setupDialogTemplate()));
        viewer.clock = &clock;
        viewer.running = true;
        clock.now = 1000;
        app.settings.assCleanJoins = 0;
    }

    // Start-up with this command line; the loop ends when no message is left.
    int start(const std::string& commandLine = "") { return shell.run(commandLine); }
    FakeWindow& main() { return *windows.find("MAINCUTDIALOG"); }
    FakeWindow* setup() { return windows.find("PVADIALOG"); }
    std::string shown() const { return std::string(console.text(), static_cast<size_t>(console.length())); }
    // The viewer's calls from now on.
    size_t mark() const { return viewer.calls.size(); }
    std::vector<FakeViewerChannel::Call> messagesSince(size_t from) const
    {
        std::vector<FakeViewerChannel::Call> out;
        for (size_t k = from; k < viewer.calls.size(); ++k)
            if (viewer.calls[k].what == "send" || viewer.calls[k].what == "post") out.push_back(viewer.calls[k]);
        return out;
    }
    // "send 1024 0 0", "post 1028 0 1234", "send 74 4097 0 [1:/a.pva\0]".
    static std::string describe(const FakeViewerChannel::Call& c)
    {
        std::string s = c.what + " " + std::to_string(c.message.number) + " " + std::to_string(c.message.wParam) + " "
            + std::to_string(c.message.lParam);
        if (!c.message.data.empty() || c.message.dataId)
            s += " [" + std::to_string(c.message.dataId) + ":" + c.message.data + "]";
        return s;
    }
    std::vector<std::string> describeSince(size_t from) const
    {
        std::vector<std::string> out;
        for (const auto& c : messagesSince(from)) out.push_back(describe(c));
        return out;
    }
    // Every command on; undo and redo as the history allows (after a scan or a
    // save with nothing edited there is nothing to undo or redo).
    bool enabledGroup()
    {
        const CutHistory& h = *editor.history;
        for (int id : commandGroup) {
            bool expected = true;
            if (id == mainid::undo) expected = h.levelCount > 0;
            if (id == mainid::redo) expected = h.levelCount > h.currentLevel + 1;
            if (main().control(id).enabled != expected) return false;
        }
        return true;
    }
    bool disabledGroup()
    {
        for (int id : commandGroup)
            if (main().control(id).enabled) return false;
        return true;
    }
};

} // namespace testsupport
