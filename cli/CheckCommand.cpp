// orvane-cli check.
#include "cli/Commands.h"

#include "core/LogConsole.h"
#include "core/Settings.h"
#include "output/SavedFileCheck.h"
#include "source/SourceAnalyser.h"

#include <string>
#include <vector>

int runCheck(CliContext& ctx, int argc, char** argv)
{
    if (argc < 1) return usageError("check needs a FILE");
    // Edit options: the file is checked against the cut list they make of the sources.
    for (int i = 0; i < argc; ++i)
        if (argv[i][0] == '-' && argv[i][1] != 0) return runCheckAgainstCut(ctx, argc, argv);
    std::vector<std::string> files;
    if (argc == 1 && ctx.app.settings.splitPvaDstFile == 1) {
        files = savedFiles(argv[0], true);
        if (files.empty()) {
            ctx.log.writef("ERROR: check: there is no part file of %s\n", argv[0]);
            return 1;
        }
    } else {
        files.assign(argv, argv + argc);
    }
    return checkSavedFile(files, ctx.log, ctx.op).result == 1 ? 0 : 1;
}
