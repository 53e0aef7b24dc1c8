#include "cut/CutLists.h"

#include "core/FileNames.h"
#include "core/LogConsole.h"
#include "core/ReplacedFile.h"
#include "cut/CutEditor.h"
#include "source/SourceAnalyser.h"
#include "source/UnitRanges.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint64_t ticksPerSecond = 90000;
constexpr uint64_t maxCutListBytes = 16u << 20;
constexpr uint64_t maxTicks = uint64_t{1} << 40;   // far past any recording

std::string lineError(size_t line, const std::string& what) { return "line " + std::to_string(line) + ": " + what; }

// "12.345" (seconds, the fraction optional, at most 6 digits) into ticks.
bool parseSeconds(const std::string& s, uint64_t& ticks)
{
    size_t k = 0;
    uint64_t whole = 0;
    int digits = 0;
    while (k < s.size() && s[k] >= '0' && s[k] <= '9') {
        if (++digits > 9) return false;
        whole = whole * 10 + static_cast<uint64_t>(s[k++] - '0');
    }
    if (digits == 0) return false;
    uint64_t fraction = 0, scale = 1;
    if (k < s.size() && s[k] == '.') {
        ++k;
        int fd = 0;
        while (k < s.size() && s[k] >= '0' && s[k] <= '9') {
            if (++fd > 6) return false;
            fraction = fraction * 10 + static_cast<uint64_t>(s[k++] - '0');
            scale *= 10;
        }
    }
    if (k != s.size()) return false;
    ticks = whole * ticksPerSecond + (fraction * ticksPerSecond + scale / 2) / scale;
    return true;
}

bool parseUnsigned(const std::string& s, uint64_t& v)
{
    if (s.empty() || s.size() > 12) return false;
    v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

// "h:mm:ss.ff" (VDR: frames at 25 a second) or "h:mm:ss.mmm" with `frames` false.
bool parseClock(const std::string& s, bool frames, uint64_t& ticks)
{
    unsigned h, m, sec, f = 0;
    char tail = 0;
    int n = std::sscanf(s.c_str(), "%u:%2u:%2u.%u%c", &h, &m, &sec, &f, &tail);
    if (n < 3 || n > 4 || m > 59 || sec > 59 || h > 99) return false;
    const size_t dot = s.find('.');
    if (n == 3 && dot != std::string::npos) return false;
    uint64_t sub = 0;
    if (n == 4) {
        const size_t digits = s.size() - dot - 1;
        if (frames) {
            if (f > 24) return false;
            sub = static_cast<uint64_t>(f) * (ticksPerSecond / 25);
        } else {
            if (digits > 3) return false;
            uint64_t scale = 1;
            for (size_t d = 0; d < digits; ++d) scale *= 10;
            sub = static_cast<uint64_t>(f) * ticksPerSecond / scale;
        }
    }
    ticks = ((uint64_t{h} * 60 + m) * 60 + sec) * ticksPerSecond + sub;
    return true;
}

std::vector<std::string> words(const std::string& line)
{
    std::vector<std::string> out;
    size_t k = 0;
    while (k < line.size()) {
        while (k < line.size() && (line[k] == ' ' || line[k] == '\t')) ++k;
        const size_t start = k;
        while (k < line.size() && line[k] != ' ' && line[k] != '\t') ++k;
        if (k > start) out.push_back(line.substr(start, k - start));
    }
    return out;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    for (size_t at = 0; at < text.size();) {
        size_t nl = text.find('\n', at);
        if (nl == std::string::npos) nl = text.size();
        std::string line = text.substr(at, nl - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
        at = nl + 1;
    }
    return out;
}

// Sorted, overlapping and touching spans merged, cut to the recording.
std::vector<TimeSpan> normalised(std::vector<TimeSpan> spans, uint64_t length)
{
    std::sort(spans.begin(), spans.end(), [](const TimeSpan& a, const TimeSpan& b) { return a.start < b.start; });
    std::vector<TimeSpan> out;
    for (TimeSpan s : spans) {
        s.end = std::min(s.end, length);
        if (s.start >= s.end) continue;
        if (!out.empty() && s.start <= out.back().end) out.back().end = std::max(out.back().end, s.end);
        else out.push_back(s);
    }
    return out;
}

std::vector<TimeSpan> complement(const std::vector<TimeSpan>& spans, uint64_t length)
{
    std::vector<TimeSpan> out;
    uint64_t at = 0;
    for (const TimeSpan& s : spans) {
        if (s.start > at) out.push_back({at, s.start});
        at = std::max(at, s.end);
    }
    if (at < length) out.push_back({at, length});
    return out;
}

std::string clockText(uint64_t ticks, bool frames)
{
    const uint64_t seconds = ticks / ticksPerSecond, rest = ticks % ticksPerSecond;
    char text[48];
    if (frames)
        std::snprintf(text, sizeof text, "%" PRIu64 ":%02" PRIu64 ":%02" PRIu64 ".%02" PRIu64, seconds / 3600,
                      seconds / 60 % 60, seconds % 60, (rest + 1800) / 3600 > 24 ? 24 : (rest + 1800) / 3600);
    else
        std::snprintf(text, sizeof text, "%" PRIu64 ":%02" PRIu64 ":%02" PRIu64 ".%03" PRIu64, seconds / 3600,
                      seconds / 60 % 60, seconds % 60, rest / 90);
    return text;
}

std::string secondsText(uint64_t ticks)
{
    char text[32];
    std::snprintf(text, sizeof text, "%" PRIu64 ".%03" PRIu64, ticks / ticksPerSecond, (ticks % ticksPerSecond + 45) / 90);
    // 999.5 ms rounds up into the next second.
    if (std::strstr(text, ".1000")) std::snprintf(text, sizeof text, "%" PRIu64 ".000", ticks / ticksPerSecond + 1);
    return text;
}

uint32_t unitStart(const SourceStream& src, int32_t u) { return src.vPts[src.cutPointPkt[u]]; }

} // namespace

CutListFormat cutListFormatOf(const std::string& fileName, const std::string& text)
{
    const std::string name = baseNameOf(fileName);
    const std::string ext = lowerExtension(fileName);
    if (ext == ".edl") return CutListFormat::edl;
    if (ext == ".vdr" || name == "marks") return CutListFormat::vdr;
    if (ext == ".csv") return CutListFormat::csv;
    if (ext == ".txt" || text.find("FILE PROCESSING COMPLETE") != std::string::npos) return CutListFormat::comskip;
    // By the first line that says anything.
    for (const std::string& line : lines(text)) {
        const auto w = words(line);
        if (w.empty() || w[0][0] == '#') continue;
        uint64_t t;
        if (parseClock(w[0], true, t)) return CutListFormat::vdr;
        if (line.find(',') != std::string::npos) return CutListFormat::csv;
        if (w.size() == 3) return CutListFormat::edl;
        break;
    }
    return CutListFormat::unknown;
}

const char* cutListFormatName(CutListFormat format)
{
    switch (format) {
    case CutListFormat::edl: return "EDL";
    case CutListFormat::comskip: return "comskip";
    case CutListFormat::vdr: return "VDR marks";
    case CutListFormat::csv: return "CSV";
    default: return "unknown";
    }
}

std::string parseCutList(CutListFormat format, const std::string& text, uint64_t recordingTicks, CutListRead& out)
{
    const std::vector<std::string> all = lines(text);
    std::vector<TimeSpan> spans;
    bool cuts = false;
    if (format == CutListFormat::edl) {
        cuts = true;
        for (size_t k = 0; k < all.size(); ++k) {
            const auto w = words(all[k]);
            if (w.empty() || w[0][0] == '#') continue;
            TimeSpan s;
            uint64_t action;
            if (w.size() != 3 || !parseSeconds(w[0], s.start) || !parseSeconds(w[1], s.end) || !parseUnsigned(w[2], action)
                || action > 3)
                return lineError(k + 1, "an EDL line is START END ACTION (seconds, action 0 to 3)");
            if (s.start >= s.end) return lineError(k + 1, "the start is not before the end");
            if (action == 0 || action == 3) spans.push_back(s);
        }
    } else if (format == CutListFormat::comskip) {
        cuts = true;
        size_t k = 0;
        uint64_t fpsTimes100 = 2500;
        for (; k < all.size(); ++k) {
            const size_t at = all[k].find("FILE PROCESSING COMPLETE");
            if (at == std::string::npos) continue;
            const auto w = words(all[k].substr(at));
            // FILE PROCESSING COMPLETE <frames> FRAMES AT <fps * 100>
            if (w.size() >= 7 && w[4] == "FRAMES" && w[5] == "AT" && parseUnsigned(w[6], fpsTimes100)
                && (fpsTimes100 < 100 || fpsTimes100 > 12000))
                return lineError(k + 1, "a frame rate outside 1 to 120 a second");
            break;
        }
        if (k == all.size()) return "no FILE PROCESSING COMPLETE line: not a comskip list";
        for (++k; k < all.size(); ++k) {
            const auto w = words(all[k]);
            if (w.empty() || all[k].find_first_not_of('-') == std::string::npos) continue;
            uint64_t a, b;
            if (w.size() != 2 || !parseUnsigned(w[0], a) || !parseUnsigned(w[1], b))
                return lineError(k + 1, "a comskip line is START-FRAME END-FRAME");
            if (a >= b) return lineError(k + 1, "the start is not before the end");
            spans.push_back({a * ticksPerSecond * 100 / fpsTimes100, b * ticksPerSecond * 100 / fpsTimes100});
        }
    } else if (format == CutListFormat::vdr) {
        std::vector<uint64_t> marks;
        for (size_t k = 0; k < all.size(); ++k) {
            const auto w = words(all[k]);
            if (w.empty()) continue;
            uint64_t t;
            if (!parseClock(w[0], true, t)) return lineError(k + 1, "a mark is H:MM:SS.FF and a comment");
            if (!marks.empty() && t <= marks.back()) return lineError(k + 1, "the marks are not in time order");
            marks.push_back(t);
        }
        for (size_t k = 0; k < marks.size(); k += 2)
            spans.push_back({marks[k], k + 1 < marks.size() ? marks[k + 1] : recordingTicks});
    } else if (format == CutListFormat::csv) {
        for (size_t k = 0; k < all.size(); ++k) {
            std::string line = all[k];
            if (line.empty() || line.find_first_not_of(" \t") == std::string::npos) continue;
            const size_t comma = line.find(',');
            if (comma == std::string::npos) return lineError(k + 1, "a CSV line is START,END");
            std::string a = line.substr(0, comma), b = line.substr(comma + 1);
            auto trim = [](std::string s) {
                const size_t f = s.find_first_not_of(" \t\""), l = s.find_last_not_of(" \t\"");
                return f == std::string::npos ? std::string() : s.substr(f, l - f + 1);
            };
            a = trim(a);
            b = trim(b);
            TimeSpan s;
            const bool ok = (parseSeconds(a, s.start) || parseClock(a, false, s.start))
                && (parseSeconds(b, s.end) || parseClock(b, false, s.end));
            if (!ok) {
                if (k == 0 || spans.empty()) continue;   // a header line
                return lineError(k + 1, "a CSV line is START,END (seconds or H:MM:SS.mmm)");
            }
            if (s.start >= s.end) return lineError(k + 1, "the start is not before the end");
            spans.push_back(s);
        }
    } else {
        return "not a cut list this program reads (.edl, comskip .txt, VDR marks, .csv)";
    }
    for (const TimeSpan& s : spans)
        if (s.end > maxTicks) return "a time past the end of any recording";
    const uint64_t length = std::max<uint64_t>(recordingTicks, 1);
    out.spansAreCuts = cuts;
    out.kept = cuts ? complement(normalised(spans, length), length) : normalised(spans, length);
    return "";
}

std::string cutListText(CutListFormat format, const std::vector<TimeSpan>& keptSpans, uint64_t recordingTicks)
{
    // On the format's own steps (a picture at 25 a second, or a millisecond), so
    // that no span written is empty and marks stay in order.
    const uint64_t step = format == CutListFormat::comskip || format == CutListFormat::vdr ? 3600 : 90;
    auto onStep = [step](uint64_t t) { return (t + step / 2) / step * step; };
    std::vector<TimeSpan> stepped;
    for (const TimeSpan& k : keptSpans) stepped.push_back({onStep(k.start), onStep(k.end)});
    recordingTicks = onStep(recordingTicks);
    const std::vector<TimeSpan> kept = normalised(stepped, recordingTicks);
    std::string text;
    char line[96];
    switch (format) {
    case CutListFormat::edl:
        for (const TimeSpan& s : complement(kept, recordingTicks))
            text += secondsText(s.start) + " " + secondsText(s.end) + " 0\n";
        break;
    case CutListFormat::comskip: {
        const uint64_t frames = recordingTicks / 3600;
        std::snprintf(line, sizeof line, "FILE PROCESSING COMPLETE %" PRIu64 " FRAMES AT 2500\n", frames);
        text += line;
        text += "-------------------\n";
        for (const TimeSpan& s : complement(kept, recordingTicks)) {
            std::snprintf(line, sizeof line, "%" PRIu64 "\t%" PRIu64 "\n", (s.start + 1800) / 3600, (s.end + 1800) / 3600);
            text += line;
        }
        break;
    }
    case CutListFormat::vdr:
        for (const TimeSpan& s : kept) {
            text += clockText(s.start, true) + " start\n";
            if (s.end < recordingTicks) text += clockText(s.end, true) + " end\n";
        }
        break;
    case CutListFormat::csv:
        text = "start,end\n";
        for (const TimeSpan& s : kept) text += secondsText(s.start) + "," + secondsText(s.end) + "\n";
        break;
    default: break;
    }
    return text;
}

uint64_t sourceTicks(const SourceStream& src)
{
    if (src.lastCutPoint <= 0) return 0;
    // The time stamps count from the source's first picture.
    return src.vPts[src.cutPointPkt[src.lastCutPoint]];
}

bool keptSpansOfList(const CutEditor& editor, int32_t& source, std::vector<TimeSpan>& kept, std::string& why)
{
    const CutList& list = editor.currentList();
    if (list.count == 0) {
        why = "the list is empty";
        return false;
    }
    source = list.source[0];
    const SourceStream& src = editor.app.sources[source];
    std::vector<TimeSpan> spans;
    for (int32_t i = 0; i < list.count; ++i) {
        if (list.source[i] != source) {
            why = "the list holds entries of more than one source; a cut list is of one recording";
            return false;
        }
        const int32_t u = list.unit[i];
        spans.push_back({unitStart(src, u), src.vPts[src.cutPointPkt[u + 1]]});
    }
    kept = normalised(spans, sourceTicks(src));
    return true;
}

int addKeptUnits(CutEditor& editor, int32_t source, const std::vector<TimeSpan>& kept)
{
    SourceAnalyser& app = editor.app;
    const SourceStream* src = app.usableSource(source);
    if (!src || src->lastCutPoint <= 0) {
        app.log.writef("ERROR: source %d has no units for the cut list\n", static_cast<int>(source));
        return -1;
    }
    // A boundary that is no unit's start: the unit it falls in is kept when its
    // start lies in the span.
    auto sayInside = [&](uint64_t t) {
        int32_t u = 0;
        while (u + 1 < src->lastCutPoint && unitStart(*src, u + 1) <= t) ++u;
        if (unitStart(*src, u) == t || t >= sourceTicks(*src)) return;
        app.log.writef("cut list: %s falls inside unit %d (%s to %s)\n", clockText(t, false).c_str(), static_cast<int>(u),
                       clockText(unitStart(*src, u), false).c_str(),
                       clockText(src->vPts[src->cutPointPkt[u + 1]], false).c_str());
    };
    bool any = false;
    for (const TimeSpan& s : kept) {
        sayInside(s.start);
        sayInside(s.end);
        for (int32_t unit = 0;;) {
            const UnitRange run = nextUnitRunInTime(*src, unit, s.start, s.end);
            if (run.empty()) break;
            if (editor.insertUnits(source, run.first, run.last, INT32_MAX) != 1) return -1;
            any = true;
            unit = run.last + 1;
        }
    }
    if (!any) {
        app.log.write("ERROR: the cut list keeps no cut unit of the recording\n", 1);
        return -1;
    }
    return 1;
}

int readCutListFile(const char* fileName, uint64_t recordingTicks, CutListRead& out, LogConsole& log)
{
    std::string text, why;
    const int read = readRegularFile(fileName, maxCutListBytes, text, why);
    if (read == 0) why = "it can't be opened";
    if (read == 1) why = parseCutList(cutListFormatOf(fileName, text), text, recordingTicks, out);
    if (!why.empty()) {
        log.writef("ERROR: can't read the cut list %s: %s\n", fileName, why.c_str());
        return -1;
    }
    return 1;
}
