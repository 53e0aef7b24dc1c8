#pragma once
// The desktop program's logic as one object: start-up, the main window, the
// setup dialog, the viewer link and the main loop with play stepping. The Qt
// program builds it over the real services and calls run().
#include "shell/MainDialog.h"
#include "shell/SetupDialog.h"
#include "shell/ShellContext.h"

#include <string>
#include <vector>

// The one command-line text: the arguments joined by single spaces.
std::string commandLineText(const std::vector<std::string>& arguments);

class Shell {
public:
    // The console shows its messages in the services' message box until the main
    // window is there, for the lifetime of the object. The windows it makes call
    // back into it: they must be gone before it is.
    explicit Shell(const ShellServices& services);
    ~Shell();
    Shell(const Shell&) = delete;
    Shell& operator=(const Shell&) = delete;

    // Creates and shows the main window, makes sure the viewer runs, scans the file
    // named by the command line, and runs the main loop until the window closes.
    // Returns the exit code: 0 after a normal close, 0 or -1 when start-up fails.
    int run(const std::string& commandLine);
    // The main loop alone (run() ends with it): serves the queue, and while the
    // speed slider is off its centre steps the source pane once per interval
    // whenever no message waits. Returns the quit message's code.
    int mainLoop();

    ShellContext& context() { return context_; }
    MainDialog& mainDialog() { return main_; }
    SetupDialog& setupDialog() { return setup_; }

private:
    int registerToolTips();
    void scanCommandLine(const std::string& commandLine);

    ShellContext context_;
    SetupDialog setup_;
    MainDialog main_;
};
