// orvane-cli: the engine in batch, for scripts, machines without a display and benchmarks.
#include "cli/Commands.h"
#include "core/LogConsole.h"
#include "core/Settings.h"
#include "cut/CutEditor.h"
#include "platform/Operation.h"
#include "source/SourceAnalyser.h"

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

const char* usageText =
    "usage: orvane-cli [--ini FILE] [--set KEY=VALUE]... COMMAND [ARGS]\n"
    "\n"
    "Global options (before the command):\n"
    "  --ini FILE        read settings from FILE (same format as Orvane.ini)\n"
    "  --set KEY=VALUE   override one setting; repeatable, applied after every --ini\n"
    "                    whatever the order. splitPvaDstFileSizeMB is at least 4.\n"
    "                    Keys: cutAtIFrames assAppendNextFrame assCompleteAudioPkt\n"
    "                    assCalcNewPts splitPvaDstFile saveNoAudio saveNoAVPacketHeader\n"
    "                    assAudioPtsOffset assCompleteAPktEndOffset\n"
    "                    splitPvaDstFileSizeMB fastBufferScan\n"
    "                    assCleanJoins (1, the default: joins without a broken or\n"
    "                    repeated picture, time stamps and sound running on;\n"
    "                    0: the plain assembly)\n"
    "                    saveCheckAfterSave (1: check every save as --check does)\n"
    "                    saveRecodeAtCuts (1, the default: re-encode the pictures\n"
    "                    between a cut and the next I picture; 0: clean joins)\n"
    "                    saveContainerByName (1, the default: OUT's extension picks\n"
    "                    the container; 0: always PVA)\n"
    "\n"
    "Commands:\n"
    "  scan [--log] FILE...\n"
    "        Scan each recording into the next source slot and print the console\n"
    "        messages. --log writes a per-packet scan log FILE.txt beside each file.\n"
    "  units FILE\n"
    "        Scan FILE and print its cut units as a tab-separated table on stdout\n"
    "        (console messages go to stderr).\n"
    "  cut -o OUT [--add S:A-B]... [--add S@HH:MM:SS[.mmm]-HH:MM:SS[.mmm]]...\n"
    "      [--insert S:A-B@P]... [--delete A-B]... [--undo] [--redo] [--select A-B]\n"
    "      [--selection-only] [--check] [--format pva|ps|ts|mkv] SOURCE...\n"
    "        Scan the sources into slots 0..n-1 (in argument order), apply the edits in\n"
    "        the order given and save the new PVA to OUT. Sources, units and list\n"
    "        entries count from 0; ranges include both ends.\n"
    "          --add S:A-B      append units A..B of source S\n"
    "          --add S@T0-T1    append the units of source S whose cut points lie in\n"
    "                           [T0, T1), times from the source's first picture\n"
    "          --insert S:A-B@P insert units A..B of source S before list entry P\n"
    "          --delete A-B     delete list entries A..B\n"
    "          --undo, --redo   step through the edit history (six levels)\n"
    "          --select A-B     select list entries A..B (for --selection-only)\n"
    "        At least one --add or --insert is needed. When an edit fails, nothing is\n"
    "        saved. --check (or saveCheckAfterSave=1) checks OUT after the save as\n"
    "        check does, against the edits and sources.\n"
    "        OUT ending in .mpg or .vob is written as an MPEG-2 program stream for DVD\n"
    "        authoring, .ts or .m2ts as a transport stream, .mkv as Matroska (a\n"
    "        chapter at every join), anything else as PVA; --format forces one. Split\n"
    "        saves and the bare video stream are PVA only.\n"
    "  cut -o OUT --project FILE [edits]\n"
    "  cut -o OUT [edits] --save-project FILE SOURCE...\n"
    "        --project takes the sources, the settings that shape the cut and the list\n"
    "        from a project file (a source that moved is found by its fingerprint\n"
    "        beside the project); edits given apply after it. --save-project saves the\n"
    "        sources and the list as a project once OUT is saved.\n"
    "  cut -o OUT --cutlist FILE [edits] SOURCE\n"
    "        Keep the units of SOURCE that another tool's cut list keeps: a Kodi/MPlayer\n"
    "        .edl (actions 0 and 3 cut), a comskip .txt, VDR marks (.vdr or \"marks\") or\n"
    "        a .csv of kept START,END; the format from the name, else the text. A unit\n"
    "        is kept when its cut point lies in a kept span.\n"
    "  export-cutlist -o FILE [cut's edit options] SOURCE...\n"
    "        Write the list of one source's units as such a cut list (the format from\n"
    "        FILE's name).\n"
    "  check FILE...\n"
    "  check FILE [cut's edit options] SOURCE...\n"
    "        Check a saved new PVA (or bare video stream; a split save's part files in\n"
    "        order): every picture decodes, the video and audio time stamps run on, the\n"
    "        packets are well formed. With the edits and sources of its cut also that\n"
    "        its pictures are the chosen ones, decode as in their sources, and keep\n"
    "        their sound. Problems are printed as \"check: ...\" lines; exit status 1\n"
    "        when there is one.\n"
    "  list-mpeg FILE\n"
    "        List the GOPs and pictures of an MPEG-2 video elementary stream into out.txt.\n"
    "\n"
    "Ctrl-C cancels a scan or a save as the cancel button does: an unfinished output\n"
    "is removed and an earlier file of its name is left as it was.\n"
    "\n"
    "Exit status: 0 when every operation succeeded, 1 when one failed, 2 on a usage error.\n";

volatile std::sig_atomic_t interrupted = 0;

extern "C" void onInterrupt(int) { interrupted = 1; }

// Ctrl-C or a request to terminate works as the cancel button: a scan or a save
// stops at its next packet and cleans up after itself (a save removes its
// unfinished file). A second signal ends the program at once.
class InterruptPump final : public platform::EventPump {
public:
    explicit InterruptPump(Settings& settings) : settings_(settings) {}
    int serve(int) override
    {
        if (interrupted) settings_.cancelRequested = 1;
        return 0;
    }

private:
    Settings& settings_;
};

void cancelOnInterrupt()
{
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
    // A reader that goes away (| head) makes writes fail instead of killing the
    // program in the middle of a save.
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace

int usageError(const char* fmt, ...)
{
    std::fputs("orvane-cli: ", stderr);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
    std::fputs("\nTry 'orvane-cli --help'.\n", stderr);
    return 2;
}

void echoConsoleTo(LogConsole& log, bool toStderr)
{
    std::FILE* out = toStderr ? stderr : stdout;
    log.setEcho([out](const char* message) {
        std::fputs(message, out);
        std::fflush(out);
    });
}

int main(int argc, char** argv)
{
    LogConsole& log = logConsole();
    auto app = std::make_unique<SourceAnalyser>(log);
    auto editor = std::make_unique<CutEditor>(*app);
    // No window: the console keeps its text and the echo prints each message.
    log.attachWindow(nullptr, 1001);
    echoConsoleTo(log, false);

    // Every --ini first, in order, then every --set: a --set always wins.
    std::vector<const char*> iniFiles, assignments;
    int i = 1;
    for (; i < argc; ++i) {
        const char* a = argv[i];
        if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
            std::fputs(usageText, stdout);
            return 0;
        }
        if (!std::strcmp(a, "--ini")) {
            if (i + 1 >= argc) return usageError("--ini needs a file name");
            iniFiles.push_back(argv[++i]);
            continue;
        }
        if (!std::strcmp(a, "--set")) {
            if (i + 1 >= argc) return usageError("--set needs KEY=VALUE");
            assignments.push_back(argv[++i]);
            continue;
        }
        break;
    }
    if (i >= argc) return usageError("no command given");
    const char* command = argv[i];
    // units prints its table on stdout: the console, settings refusals included, goes to stderr.
    if (!std::strcmp(command, "units")) echoConsoleTo(log, true);

    for (const char* name : iniFiles) {
        if (readSettingsFile(app->settings, name, &log) != 1) {
            std::fprintf(stderr, "orvane-cli: can't read settings file %s\n", name);
            return 2;
        }
    }
    for (const char* kv : assignments) {
        const int applied = applySettingsLine(app->settings, kv);
        if (applied == 0) return usageError("%s refused: a part needs at least %d MB", kv, static_cast<int>(minSplitSizeMB));
        if (applied != 1) return usageError("unknown setting or bad value: %s", kv);
    }

    InterruptPump pump(app->settings);
    platform::OperationContext op{platform::noProgress(), app->settings.cancelRequested, pump, platform::systemClock()};
    cancelOnInterrupt();

    CliContext ctx{*app, *editor, log, op};
    int rest = argc - i - 1;
    char** restArgv = argv + i + 1;
    if (!std::strcmp(command, "scan")) return runScan(ctx, rest, restArgv);
    if (!std::strcmp(command, "units")) return runUnits(ctx, rest, restArgv);
    if (!std::strcmp(command, "cut")) return runCut(ctx, rest, restArgv);
    if (!std::strcmp(command, "export-cutlist")) return runExportCutList(ctx, rest, restArgv);
    if (!std::strcmp(command, "list-mpeg")) return runListMpeg(ctx, rest, restArgv);
    if (!std::strcmp(command, "check")) return runCheck(ctx, rest, restArgv);
    return usageError("unknown command '%s'", command);
}
