#pragma once
// The desktop program: the engine's objects, the real window-system services and
// the Shell that runs on them. Needs the QApplication for its whole life.
#include "core/LogConsole.h"
#include "cut/CutEditor.h"
#include "platform/qt/QtFileDialog.h"
#include "platform/qt/QtHost.h"
#include "platform/qt/QtMessageQueue.h"
#include "platform/qt/QtViewerChannel.h"
#include "platform/qt/QtWindowSystem.h"
#include "shell/Shell.h"
#include "source/SourceAnalyser.h"

#include <memory>
#include <string>

// Services that tests and benchmarks put in place of the real ones (null: the real one).
struct DesktopOverrides {
    platform::FileDialog* fileDialog = nullptr;
    platform::ViewerChannel* viewer = nullptr;
    platform::Clock* clock = nullptr;
    bool askQuestions = false;
};

class DesktopProgram {
public:
    explicit DesktopProgram(const DesktopOverrides& overrides = {});
    // Tests answer the file dialogs themselves.
    explicit DesktopProgram(platform::FileDialog* fileDialog) : DesktopProgram(DesktopOverrides{fileDialog}) {}
    ~DesktopProgram();
    DesktopProgram(const DesktopProgram&) = delete;
    DesktopProgram& operator=(const DesktopProgram&) = delete;

    // Start-up with this command line, then the main loop until the window closes.
    int run(const std::string& commandLine);

    // A close of the main window as the window system asks for it (the end of the
    // session, a termination signal); carried out at once or after a running
    // scan or save has stopped.
    void requestClose();

    Shell& shell() { return *shell_; }
    LogConsole& console() { return console_; }
    SourceAnalyser& app() { return app_; }
    CutEditor& editor() { return editor_; }
    // The main window, or null before start-up and once it is closed.
    platform::qt::QtDialogWindow* mainWindow();
    // The setup dialog while it is open, else null.
    platform::qt::QtDialogWindow* setupWindow();

private:
    LogConsole console_;
    SourceAnalyser app_{console_};
    CutEditor editor_{app_};
    platform::qt::QtEventPump pump_;
    platform::qt::QtClock clock_;
    platform::qt::QtMessageBox messageBox_;
    platform::qt::QtMessageQueue queue_;
    // A viewer that does not answer holds the window for a fraction of a second at most.
    platform::qt::QtViewerChannel viewer_{400};
    platform::qt::QtFileDialog qtFileDialog_;
    std::unique_ptr<platform::qt::QtWindowSystem> windows_;
    std::unique_ptr<Shell> shell_;
};

// Makes SIGTERM, SIGINT and SIGHUP close the program's main window (and so its
// viewer) instead of killing it; for the program's main only.
void closeOnTerminationSignals(DesktopProgram& program);
