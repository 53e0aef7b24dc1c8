#pragma once
// What the window code shares: the services it was given, the engine records it
// routes to, and the few values of the shell itself.
#include "core/Settings.h"
#include "platform/Operation.h"
#include "shell/ViewerLink.h"
#include "views/StreamViews.h"

#include <cstdint>

class CutEditor;
class LogConsole;
class SourceAnalyser;
namespace platform {
class Clock;
class EventPump;
class FileDialog;
class MessageBox;
class MessageQueue;
class ViewerChannel;
class WindowSystem;
}

// Everything the desktop program hands to the window logic.
struct ShellServices {
    platform::WindowSystem& windows;
    platform::MessageQueue& queue;
    platform::ViewerChannel& viewer;
    platform::FileDialog& fileDialog;
    platform::Clock& clock;
    platform::EventPump& pump;
    platform::MessageBox& messageBox;
    LogConsole& console;
    SourceAnalyser& app;
    CutEditor& editor;
    // Read at start-up, written by the setup dialog.
    const char* settingsFile = settingsFileName;
    // Whether the window asks before it loses a list changed since it was last
    // saved (closing, opening a project) and before it loads a recording that is
    // loaded already. The desktop program does.
    bool askQuestions = false;
};

struct ShellContext {
    explicit ShellContext(const ShellServices& s);

    ShellServices services;
    StreamViews views;
    ViewerLink viewer;

    // Shared by the main dialog's cancel buttons and the setup dialog.
    Settings workingCopy;
    // Play stepping: 0 stopped, 1 forward, -1 backward; the main loop steps at
    // most once per stepInterval (ms).
    int32_t playState = 0;
    uint32_t stepInterval = 1000;
    uint32_t lastStepTime = 0;
    // Where scans and saves show their progress: the window's bars, cancel
    // buttons and info lines while the main window is there.
    platform::ControlProgress scanProgress, saveProgress;

    // The context of a long operation started from the window: its progress, the
    // live cancel flag, the window's event pump and clock.
    platform::OperationContext operation(platform::ProgressSink& progress);
    // A scan, a save or a listing runs inside a command handler and serves events
    // meanwhile (one flag with the engine's: the sources are not reset meanwhile).
    int operationsRunning() const;
};

// Marks a scan, a save or a listing as running for its lifetime.
class OperationScope {
public:
    explicit OperationScope(SourceAnalyser& app);
    ~OperationScope();
    OperationScope(const OperationScope&) = delete;
    OperationScope& operator=(const OperationScope&) = delete;

private:
    SourceAnalyser& app_;
};
