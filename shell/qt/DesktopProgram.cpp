#include "shell/qt/DesktopProgram.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

DesktopProgram::DesktopProgram(const DesktopOverrides& overrides)
    : windows_(std::make_unique<platform::qt::QtWindowSystem>())
{
    const ShellServices services{*windows_,
                                 queue_,
                                 overrides.viewer ? *overrides.viewer : viewer_,
                                 overrides.fileDialog ? *overrides.fileDialog : qtFileDialog_,
                                 overrides.clock ? *overrides.clock : clock_,
                                 pump_,
                                 messageBox_,
                                 console_,
                                 app_,
                                 editor_,
                                 settingsFileName,
                                 overrides.askQuestions};
    shell_ = std::make_unique<Shell>(services);
}

DesktopProgram::~DesktopProgram()
{
    // The windows call back into the shell: they go first.
    shell_->mainDialog().releaseWindow();
    windows_.reset();
    shell_.reset();
}

int DesktopProgram::run(const std::string& commandLine) { return shell_->run(commandLine); }

void DesktopProgram::requestClose()
{
    // A signal closes the window without a question: nobody may be there to answer.
    shell_->mainDialog().closeWithoutQuestion();
}

platform::qt::QtDialogWindow* DesktopProgram::mainWindow()
{
    return static_cast<platform::qt::QtDialogWindow*>(shell_->mainDialog().window());
}

platform::qt::QtDialogWindow* DesktopProgram::setupWindow()
{
    return static_cast<platform::qt::QtDialogWindow*>(shell_->setupDialog().window());
}

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
}

} // namespace

void closeOnTerminationSignals(DesktopProgram& program)
{
    // The handler only writes a byte; the window thread closes the window when it
    // next serves its events, also from inside a scan or a save.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [&program] {
        char bytes[16];
        [[maybe_unused]] ssize_t n = ::read(signalPipe[0], bytes, sizeof bytes);
        program.requestClose();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sa.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(s, &sa, nullptr);
}
