// orvane-cli cut and list-mpeg.
#include "cli/Commands.h"

#include "platform/Operation.h"
#include "core/LogConsole.h"
#include "cut/CutEditor.h"
#include "cut/CutLists.h"
#include "cut/ProjectFile.h"
#include "core/ReplacedFile.h"
#include "output/CleanJoins.h"
#include "output/MpegListing.h"
#include "output/OutputWriter.h"
#include "output/SavedFileCheck.h"
#include "output/StreamAssembler.h"
#include "source/SourceAnalyser.h"
#include "source/UnitRanges.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum class EditKind { add, addByTime, insert, remove, undo, redo, select };

struct Edit {
    EditKind kind;
    const char* option = nullptr;   // as given, for messages
    const char* text = "";
    int source = 0;
    int32_t first = 0, last = 0;   // units, or list entries
    uint32_t fromMs = 0, toMs = 0; // addByTime
    int32_t position = 0;          // insert
};

// A decimal number of at most 9 digits; advances p past it.
bool parseNumber(const char*& p, int32_t& value)
{
    if (*p < '0' || *p > '9') return false;
    int64_t v = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9') {
        if (++digits > 9) return false;
        v = v * 10 + (*p++ - '0');
    }
    value = static_cast<int32_t>(v);
    return true;
}

bool parseRange(const char*& p, int32_t& a, int32_t& b)
{
    if (!parseNumber(p, a) || *p++ != '-' || !parseNumber(p, b)) return false;
    return a <= b;
}

// HH:MM:SS with optional .mmm (one to three digits of a second) into
// milliseconds; the whole text must be the time. Null when it is one, else what
// is wrong with it.
const char* parseTime(const std::string& text, uint32_t& ms)
{
    const char* p = text.c_str();
    int32_t h, m, s;
    if (!parseNumber(p, h) || *p++ != ':' || !parseNumber(p, m) || *p++ != ':' || !parseNumber(p, s))
        return "is not HH:MM:SS[.mmm]";
    uint32_t fraction = 0;
    if (*p == '.') {
        ++p;
        int digits = 0;
        uint32_t scale = 100;
        while (*p >= '0' && *p <= '9') {
            if (++digits > 3) return "has more than three digits after the point";
            fraction += static_cast<uint32_t>(*p++ - '0') * scale;
            scale /= 10;
        }
        if (digits == 0) return "has no digits after the point";
    }
    if (*p != 0) return "is not HH:MM:SS[.mmm]";
    if (m > 59) return "has more than 59 minutes";
    if (s > 59) return "has more than 59 seconds";
    if (h > 13) return "is past 13 hours, where the time stamps end";   // 2^32 ticks are 13 h 15 min
    ms = ((static_cast<uint32_t>(h) * 60 + static_cast<uint32_t>(m)) * 60 + static_cast<uint32_t>(s)) * 1000 + fraction;
    return nullptr;
}

// What is wrong with "S@T0-T1", or null; fills the edit when it is right.
std::string parseTimeRange(const char* arg, Edit& e)
{
    const char* p = arg;
    int32_t s;
    if (!parseNumber(p, s)) return "the source number is not a number";
    if (*p++ != '@') return "it is neither S:A-B nor S@HH:MM:SS-HH:MM:SS";
    e.source = s;
    const char* dash = std::strchr(p, '-');
    if (!dash) return "there is no '-' between the start and the end time";
    const std::string from(p, dash), to(dash + 1);
    if (const char* why = parseTime(from, e.fromMs)) return "the start time '" + from + "' " + why;
    if (const char* why = parseTime(to, e.toMs)) return "the end time '" + to + "' " + why;
    if (e.fromMs >= e.toMs) return "the start time must come before the end time";
    e.kind = EditKind::addByTime;
    return "";
}

// "S:A-B" or "S:A-B@P" (insert).
bool parseSourceRange(const char* arg, Edit& e, bool withPosition)
{
    const char* p = arg;
    int32_t s;
    if (!parseNumber(p, s)) return false;
    e.source = s;
    if (*p++ != ':' || !parseRange(p, e.first, e.last)) return false;
    if (withPosition && (*p++ != '@' || !parseNumber(p, e.position))) return false;
    return *p == 0;
}

bool parseListRange(const char* arg, Edit& e)
{
    const char* p = arg;
    return parseRange(p, e.first, e.last) && *p == 0;
}

bool checkSource(CliContext& ctx, const Edit& e)
{
    if (e.source >= ctx.app.sourceCount) {
        std::fprintf(stderr, "orvane-cli: %s %s: there is no source %d (%d loaded)\n", e.option, e.text, e.source,
                     ctx.app.sourceCount);
        return false;
    }
    return true;
}

// Adds units first..last of the edit's source before list entry `at` (past the
// end: appended).
bool addUnits(CliContext& ctx, const Edit& e, int32_t first, int32_t last, int32_t at)
{
    SourceStream& src = ctx.app.sources[e.source];
    if (src.lastCutPoint == 0) {
        std::fprintf(stderr, "orvane-cli: %s %s: source %d has no units\n", e.option, e.text, e.source);
        return false;
    }
    if (last >= src.lastCutPoint) {
        std::fprintf(stderr, "orvane-cli: %s %s: source %d has units 0-%d\n", e.option, e.text, e.source,
                     src.lastCutPoint - 1);
        return false;
    }
    return ctx.editor.insertUnits(e.source, first, last, at) == 1;
}

// The units whose cut points lie in [from, to) of the source's own time line, each
// run of consecutive units as one addition.
bool addUnitsByTime(CliContext& ctx, const Edit& e)
{
    const SourceStream& src = ctx.app.sources[e.source];
    const uint64_t from = static_cast<uint64_t>(e.fromMs) * 90;
    const uint64_t to = static_cast<uint64_t>(e.toMs) * 90;
    bool any = false;
    for (int32_t unit = 0;;) {
        const UnitRange run = nextUnitRunInTime(src, unit, from, to);
        if (run.empty()) break;
        if (!addUnits(ctx, e, run.first, run.last, INT32_MAX)) return false;
        any = true;
        unit = run.last + 1;
    }
    if (!any)
        std::fprintf(stderr, "orvane-cli: %s %s: no cut unit of source %d starts in that span\n", e.option, e.text,
                     e.source);
    return any;
}

bool applyEdit(CliContext& ctx, const Edit& e)
{
    CutEditor& editor = ctx.editor;
    switch (e.kind) {
    case EditKind::add:
        return checkSource(ctx, e) && addUnits(ctx, e, e.first, e.last, INT32_MAX);
    case EditKind::addByTime:
        return checkSource(ctx, e) && addUnitsByTime(ctx, e);
    case EditKind::insert: {
        if (!checkSource(ctx, e)) return false;
        const int32_t count = editor.currentList().count;
        if (e.position > count) {
            std::fprintf(stderr, "orvane-cli: %s %s: the list has %d entries\n", e.option, e.text, count);
            return false;
        }
        return addUnits(ctx, e, e.first, e.last, e.position);
    }
    case EditKind::remove:
    case EditKind::select: {
        const int32_t count = editor.currentList().count;
        if (e.last >= count) {
            std::fprintf(stderr, "orvane-cli: %s %s: the list has %d entries\n", e.option, e.text, count);
            return false;
        }
        if (e.kind == EditKind::remove) return editor.deleteEntries(e.first, e.last) == 1;
        editor.selectRange(Pane::list, e.first, e.last);
        return true;
    }
    case EditKind::undo:
        return editor.undo() == 1;
    case EditKind::redo:
        return editor.redo() == 1;
    }
    return false;
}

// cut, or with checkOnly `check FILE [edits] SOURCE...`: the same edits, and
// FILE checked against them instead of saved.
int cutOrCheck(CliContext& ctx, int argc, char** argv, bool checkOnly, bool exportList = false)
{
    const char* output = nullptr;
    SaveFormat format = SaveFormat::byName;
    int selectionOnly = 0;
    bool checkAfter = checkAfterSaveWanted(ctx.app.settings.saveCheckAfterSave, false);
    std::vector<Edit> edits;
    std::vector<const char*> sources;
    const char* project = nullptr;       // sources and list from a project file
    const char* saveProject = nullptr;   // the cut saved as a project too
    const char* cutList = nullptr;       // units of source 0 kept by another tool's cut list

    for (int i = 0; i < argc; ++i) {
        const char* a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (!std::strcmp(a, "--")) {
            for (++i; i < argc; ++i) sources.push_back(argv[i]);
            break;
        }
        if (!std::strcmp(a, "-o") || !std::strcmp(a, "--output")) {
            output = value();
            if (!output || !*output) return usageError("cut: %s needs a file name", a);
            continue;
        }
        if (!std::strcmp(a, "--format") && !checkOnly) {
            const char* f = value();
            if (!f || !parseSaveFormat(f, format)) return usageError("cut: --format needs pva, ps, ts or mkv");
            continue;
        }
        if (!std::strcmp(a, "--project") || !std::strcmp(a, "--save-project") || !std::strcmp(a, "--cutlist")) {
            const char*& file = a[2] == 'p' ? project : a[2] == 's' ? saveProject : cutList;
            file = value();
            if (!file || !*file) return usageError("cut: %s needs a file name", a);
            continue;
        }
        Edit e{EditKind::add, a};
        if (!std::strcmp(a, "--add") || !std::strcmp(a, "--insert")) {
            const bool insert = a[2] == 'i';
            e.kind = insert ? EditKind::insert : EditKind::add;
            e.text = value();
            if (e.text && !insert && std::strchr(e.text, '@')) {
                const std::string wrong = parseTimeRange(e.text, e);
                if (!wrong.empty()) return usageError("cut: --add %s: %s", e.text, wrong.c_str());
            } else if (!e.text || !parseSourceRange(e.text, e, insert)) {
                return usageError(insert ? "cut: --insert needs S:A-B@P"
                                         : "cut: --add needs S:A-B or S@HH:MM:SS-HH:MM:SS");
            }
            edits.push_back(e);
            continue;
        }
        if (!std::strcmp(a, "--delete") || !std::strcmp(a, "--select")) {
            e.kind = a[2] == 'd' ? EditKind::remove : EditKind::select;
            e.text = value();
            if (!e.text || !parseListRange(e.text, e)) return usageError("cut: %s needs A-B", a);
            edits.push_back(e);
            continue;
        }
        if (!std::strcmp(a, "--undo") || !std::strcmp(a, "--redo")) {
            e.kind = a[2] == 'u' ? EditKind::undo : EditKind::redo;
            edits.push_back(e);
            continue;
        }
        if (!std::strcmp(a, "--selection-only")) {
            selectionOnly = 1;
            continue;
        }
        if (!std::strcmp(a, "--check") && !checkOnly) {
            checkAfter = true;
            continue;
        }
        if (a[0] == '-' && a[1] != 0) return usageError("%s: unknown option %s", checkOnly ? "check" : "cut", a);
        if (checkOnly && !output) {
            output = a;
            continue;
        }
        sources.push_back(a);
    }
    if (!output) return usageError("cut needs -o OUT");
    if (project && !sources.empty()) return usageError("cut: --project takes its sources from the project");
    if (sources.empty() && !project) return usageError("cut needs at least one SOURCE");
    bool adds = false;
    for (const Edit& e : edits)
        adds |= e.kind == EditKind::add || e.kind == EditKind::addByTime || e.kind == EditKind::insert;
    if (!adds && !project && !cutList) return usageError("cut needs at least one --add or --insert");
    if (static_cast<int>(sources.size()) > maxSources) return usageError("cut takes at most %d sources", maxSources);

    // Slots 0..n-1 in argument order: the edits name sources by slot.
    if (project && openProjectFile(ctx.editor, project, ctx.op) != 1) return 1;
    for (const char* path : sources) {
        if (ctx.app.scanSource(path, 0, ctx.op) != 1) return 1;
    }
    if (cutList) {
        CutListRead read;
        if (readCutListFile(cutList, sourceTicks(ctx.app.sources[0]), read, ctx.log) != 1
            || addKeptUnits(ctx.editor, 0, read.kept) != 1)
            return 1;
    }
    for (const Edit& e : edits) {
        if (!applyEdit(ctx, e)) {
            std::fprintf(stderr, "orvane-cli: %s %s failed; nothing saved\n", e.option, e.text);
            return 1;
        }
    }

    const CutList& list = ctx.editor.currentList();
    if (list.count == 0) {
        std::fputs("orvane-cli: the new PVA is empty; nothing saved\n", stderr);
        return 1;
    }
    if (selectionOnly && (list.selStart < 0 || list.selEnd < 0)) {
        std::fputs("orvane-cli: --selection-only without a list selection (--select A-B); nothing saved\n", stderr);
        return 1;
    }
    if (exportList) {
        int32_t source = 0;
        std::vector<TimeSpan> kept;
        std::string why;
        const CutListFormat format = cutListFormatOf(output, "");
        if (format == CutListFormat::unknown) why = "the name does not say the format (.edl, .txt, .vdr, marks, .csv)";
        else keptSpansOfList(ctx.editor, source, kept, why);
        if (why.empty()
            && !replaceFileContents(output, cutListText(format, kept, sourceTicks(ctx.app.sources[source]))))
            why = "it can't be written";
        if (!why.empty()) {
            std::fprintf(stderr, "orvane-cli: export-cutlist %s: %s\n", output, why.c_str());
            return 1;
        }
        std::printf("%s cut list of source %d: %s\n", cutListFormatName(format), static_cast<int>(source), output);
        return 0;
    }
    const bool split = ctx.app.settings.splitPvaDstFile == 1;
    if (checkOnly) {
        // The packet list the save made, to check the file against.
        CleanJoinPlan plan;
        assembleForSave(ctx.editor, selectionOnly, plan);
        return checkSavedFile(savedFiles(output, split), ctx.editor, selectionOnly, ctx.log, ctx.op).result == 1 ? 0 : 1;
    }
    ctx.editor.outputName = output;
    if (saveNewStreamAs(ctx.editor, ctx.editor.outputName.c_str(), selectionOnly, format, ctx.op) != 1) return 1;
    if (saveProject && writeProjectFile(ctx.editor, saveProject) != 1) return 1;
    if (!checkAfter) return 0;
    return checkSavedFile(savedFiles(ctx.editor.outputName, split), ctx.editor, selectionOnly, ctx.log, ctx.op).result == 1
               ? 0
               : 1;
}

} // namespace

int runCut(CliContext& ctx, int argc, char** argv) { return cutOrCheck(ctx, argc, argv, false); }

int runCheckAgainstCut(CliContext& ctx, int argc, char** argv) { return cutOrCheck(ctx, argc, argv, true); }

int runExportCutList(CliContext& ctx, int argc, char** argv) { return cutOrCheck(ctx, argc, argv, false, true); }

int runListMpeg(CliContext& ctx, int argc, char** argv)
{
    if (argc != 1) return usageError("list-mpeg needs exactly one FILE");
    return listMpegFile(ctx.log, argv[0]) == 1 ? 0 : 1;
}
