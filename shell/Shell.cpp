#include "shell/Shell.h"

#include "platform/Window.h"
#include "resources/DialogTemplates.h"
#include "core/LogConsole.h"
#include "cut/ProjectFile.h"
#include "shell/KeyCommands.h"
#include "source/SourceAnalyser.h"

std::string commandLineText(const std::vector<std::string>& arguments)
{
    std::string text;
    for (size_t k = 0; k < arguments.size(); ++k) {
        if (k) text += ' ';
        text += arguments[k];
    }
    return text;
}

ShellContext::ShellContext(const ShellServices& s)
    : services(s), views(s.app, s.editor), viewer(s.viewer, s.clock, s.console, s.editor)
{
}

platform::OperationContext ShellContext::operation(platform::ProgressSink& progress)
{
    return platform::OperationContext{progress, services.app.settings.cancelRequested, services.pump, services.clock};
}

int ShellContext::operationsRunning() const { return services.app.busy; }

OperationScope::OperationScope(SourceAnalyser& app) : app_(app) { ++app_.busy; }

OperationScope::~OperationScope() { --app_.busy; }

Shell::Shell(const ShellServices& services) : context_(services), setup_(context_), main_(context_, setup_)
{
    services.console.setMessageBox(&services.messageBox);
}

Shell::~Shell()
{
    main_.releaseWindow();
    context_.services.console.setMessageBox(nullptr);
}

int Shell::run(const std::string& commandLine)
{
    const ShellServices& s = context_.services;
    platform::Window* window = s.windows.createDialog("MAINCUTDIALOG", main_);
    if (!window) {
        s.messageBox.show("ERROR", "Can't create main dialog window");
        return 0;
    }
    if (registerToolTips() != 1) {
        s.messageBox.show("ERROR", "Can't EnumChildWindows");
        return -1;
    }
    window->show(true);
    context_.viewer.ensureViewer(window->nativeId());
    if (!commandLine.empty()) scanCommandLine(commandLine);
    if (platform::Window* w = main_.window()) w->invalidate(true);
    return mainLoop();
}

int Shell::registerToolTips()
{
    const resources::DialogTemplate& t = resources::mainCutDialogTemplate();
    platform::Window* window = main_.window();
    if (!window || !t.controls || t.controlCount <= 0) return -1;
    for (int k = 0; k < t.controlCount; ++k) {
        const resources::ControlTemplate& c = t.controls[k];
        if (resources::isStaticClass(c.kind)) continue;
        // Controls without a command may be left out of the window.
        if (platform::Control* control = window->child(c.id)) control->setToolTip(toolTipWithKeys(c.id).c_str());
    }
    return 1;
}

void Shell::scanCommandLine(const std::string& commandLine)
{
    LogConsole& console = context_.services.console;
    console.write((commandLine + "\n").c_str(), 1);
    std::string name = commandLine;
    if (!name.empty() && name.front() == '"') name.erase(0, 1);
    if (!name.empty() && name.back() == '"') name.pop_back();
    console.write((name + "\n").c_str(), 1);
    if (looksLikeProjectFile(name.c_str())) {
        main_.openProjectNamed(name);
        return;
    }
    if (main_.scanAtStartUp(name.c_str()) != -1 && main_.window())
        context_.viewer.sendFileAndPosition(main_.window()->nativeId());
}

int Shell::mainLoop()
{
    platform::MessageQueue& queue = context_.services.queue;
    platform::Clock& clock = context_.services.clock;
    context_.lastStepTime = clock.nowMs();
    for (;;) {
        int exitCode = 0;
        if (queue.quitPosted(exitCode)) return exitCode;
        if (queue.dispatchWaiting()) continue;
        if (context_.playState != 0 && main_.window()) {
            const uint32_t now = clock.nowMs();
            // The difference stays right when the millisecond clock wraps.
            if (now - context_.lastStepTime > context_.stepInterval) {
                context_.lastStepTime = now;
                main_.playStep();
            } else {
                clock.sleepMs(10);
            }
        } else {
            queue.waitForMessage();
        }
    }
}
