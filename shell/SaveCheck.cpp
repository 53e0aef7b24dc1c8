#include "shell/SaveCheck.h"

#include "core/LogConsole.h"
#include "cut/CutEditor.h"
#include "output/SavedFileCheck.h"
#include "platform/Host.h"
#include "shell/ShellContext.h"
#include "source/SourceAnalyser.h"

#include <string>

int checkAfterSave(ShellContext& c, int selectionOnly, const platform::OperationContext& op)
{
    const ShellServices& s = c.services;
    const Settings& live = s.app.settings;
    if (!checkAfterSaveWanted(live.saveCheckAfterSave, true)) return -1;
    const std::vector<std::string> files = savedFiles(s.editor.outputName, live.splitPvaDstFile == 1);
    const CheckReport report = checkSavedFile(files, s.editor, selectionOnly, s.console, op);
    if (report.result == 0) {
        const std::string name = files.empty() ? s.editor.outputName : files.front();
        std::string text = "The check of " + name + " found " + std::to_string(report.problems)
                           + (report.problems == 1 ? " problem" : " problems") + ". The first one:\n\n"
                           + report.firstProblem;
        s.messageBox.show("Check", text.c_str());
    }
    return report.result;
}
