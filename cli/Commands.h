#pragma once
// The commands of orvane-cli. Each takes the arguments after its name and
// returns the exit status: 0 all operations succeeded, 1 one failed, 2 usage error.
class SourceAnalyser;
class CutEditor;
class LogConsole;
namespace platform { struct OperationContext; }

struct CliContext {
    SourceAnalyser& app;
    CutEditor& editor;
    LogConsole& log;
    // Scans and saves: no progress shown, Ctrl-C cancels.
    const platform::OperationContext& op;
};

int runScan(CliContext& ctx, int argc, char** argv);
int runUnits(CliContext& ctx, int argc, char** argv);
int runCut(CliContext& ctx, int argc, char** argv);
int runListMpeg(CliContext& ctx, int argc, char** argv);
int runCheck(CliContext& ctx, int argc, char** argv);
// check FILE followed by the options and sources of cut (without -o).
int runCheckAgainstCut(CliContext& ctx, int argc, char** argv);
// export-cutlist -o FILE [cut's edit options] SOURCE...: the list as another tool's cut list.
int runExportCutList(CliContext& ctx, int argc, char** argv);

// Prints a usage error on stderr and returns 2.
int usageError(const char* fmt, ...);
// Sends console messages to stdout (or stderr when toStderr).
void echoConsoleTo(LogConsole& log, bool toStderr);
