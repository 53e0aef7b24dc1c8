// orvane: the desktop program. Every argument belongs to the one command line
// (a recording's name), so Qt is given none of them.
#include "shell/qt/DesktopProgram.h"

#include <QApplication>

#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    static int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("orvane"));
    DesktopOverrides overrides;
    overrides.askQuestions = true;
    auto program = std::make_unique<DesktopProgram>(overrides);
    closeOnTerminationSignals(*program);
    return program->run(commandLineText(arguments));
}
