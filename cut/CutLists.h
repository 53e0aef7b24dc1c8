#pragma once
// Cut lists shared with other tools: Kodi/MPlayer .edl, comskip .txt, VDR marks
// and a CSV of start and end times. Times are 90 kHz ticks since the source's
// first picture; they map to cut units by the units' time stamps.
#include <cstdint>
#include <string>
#include <vector>

class CutEditor;
class LogConsole;
struct SourceStream;

enum class CutListFormat { unknown, edl, comskip, vdr, csv };

// A span of the recording, [start, end) in ticks.
struct TimeSpan {
    uint64_t start = 0;
    uint64_t end = 0;
};

// What a file keeps: the spans its format says are kept (VDR, CSV), or the
// complement of those it says are cut (EDL actions 0 and 3, comskip).
struct CutListRead {
    std::vector<TimeSpan> kept;
    bool spansAreCuts = false;   // as the file said them, before the complement
};

// From the file name's extension (.edl, .txt, .vdr, .csv, a file named "marks"),
// else from the text.
CutListFormat cutListFormatOf(const std::string& fileName, const std::string& text);
const char* cutListFormatName(CutListFormat format);

// Empty when the text is a list of that format (the spans in `out`, kept spans
// sorted and merged), else what is wrong with it, with its line.
// `recordingTicks`: the length of the recording, the end of a last kept span.
std::string parseCutList(CutListFormat format, const std::string& text, uint64_t recordingTicks, CutListRead& out);
// The text of a list that keeps `kept` of a recording `recordingTicks` long.
std::string cutListText(CutListFormat format, const std::vector<TimeSpan>& kept, uint64_t recordingTicks);

// The recording's length: from its first unit to the end of its last.
uint64_t sourceTicks(const SourceStream& src);
// The spans the list's entries keep, for a list of one source's units; false
// with `why` when the list holds entries of several sources or none.
bool keptSpansOfList(const CutEditor& editor, int32_t& source, std::vector<TimeSpan>& kept, std::string& why);
// Appends the units of `source` that the spans keep: a unit is kept when its cut
// point lies in a span. Each span boundary that falls inside a unit is said on
// the console. 1, or -1 when nothing is kept.
int addKeptUnits(CutEditor& editor, int32_t source, const std::vector<TimeSpan>& kept);

// Reads a cut-list file (format from its name and text): 1, or -1 with an ERROR line.
int readCutListFile(const char* fileName, uint64_t recordingTicks, CutListRead& out, LogConsole& log);
