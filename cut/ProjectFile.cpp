#include "cut/ProjectFile.h"

#include "core/FileNames.h"
#include "core/LogConsole.h"
#include "core/ReplacedFile.h"
#include "core/Settings.h"
#include "cut/CutEditor.h"
#include "platform/posix/SystemCalls.h"
#include "source/SourceAnalyser.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace {

// Bytes below 0x20, 0x7F and '%' as %XX: a value stays on its line whatever the
// file name holds.
std::string escaped(const std::string& s)
{
    std::string out;
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7F || c == '%') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool unescaped(const std::string& s, std::string& out)
{
    out.clear();
    for (size_t k = 0; k < s.size(); ++k) {
        const unsigned char c = static_cast<unsigned char>(s[k]);
        if (c < 0x20 || c == 0x7F) return false;
        if (c != '%') {
            out += static_cast<char>(c);
            continue;
        }
        if (k + 2 >= s.size()) return false;
        const int hi = hexDigit(s[k + 1]), lo = hexDigit(s[k + 2]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        k += 2;
    }
    return true;
}

// An unsigned decimal number that is the whole text and fits `max`.
bool parseUnsigned(const std::string& s, uint64_t max, uint64_t& value)
{
    if (s.empty() || s.size() > 20) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        const uint64_t d = static_cast<uint64_t>(c - '0');
        if (v > (max - d) / 10) return false;
        v = v * 10 + d;
    }
    value = v;
    return true;
}

bool parseSigned(const std::string& s, int32_t& value)
{
    const bool negative = !s.empty() && s[0] == '-';
    uint64_t v;
    if (!parseUnsigned(negative ? s.substr(1) : s, negative ? 2147483648u : 2147483647u, v)) return false;
    value = negative ? static_cast<int32_t>(-static_cast<int64_t>(v)) : static_cast<int32_t>(v);
    return true;
}

bool parseHex64(const std::string& s, uint64_t& value)
{
    if (s.size() != 16) return false;
    uint64_t v = 0;
    for (char c : s) {
        const int d = hexDigit(c);
        if (d < 0 || (c >= 'A' && c <= 'F')) return false;
        v = v << 4 | static_cast<uint64_t>(d);
    }
    value = v;
    return true;
}

// The fields of a line split at single spaces; the last field takes the rest.
std::vector<std::string> fields(const std::string& line, size_t count)
{
    std::vector<std::string> out;
    size_t at = 0;
    while (out.size() + 1 < count) {
        const size_t space = line.find(' ', at);
        if (space == std::string::npos) break;
        out.push_back(line.substr(at, space - at));
        at = space + 1;
    }
    out.push_back(line.substr(at));
    return out;
}

std::string lineError(size_t line, const std::string& what)
{
    return "line " + std::to_string(line) + ": " + what;
}

std::string joined(const std::string& dir, const std::string& name)
{
    return dir == "/" ? "/" + name : dir + "/" + name;
}

bool matches(const ProjectSource& s, const std::string& path)
{
    uint64_t size, fingerprint;
    return fingerprintFile(path.c_str(), size, fingerprint) && size == s.size && fingerprint == s.fingerprint;
}

// A file beside the project (or beside where the source was) that has the
// source's size and fingerprint: its own name first, then any other.
bool findMoved(const ProjectSource& s, const std::string& baseDirectory, std::string& found)
{
    for (const std::string& dir : {baseDirectory, directoryOf(s.path)}) {
        const std::string sameName = joined(dir, baseNameOf(s.path));
        if (sameName != s.path && matches(s, sameName)) {
            found = sameName;
            return true;
        }
    }
    const int fd = posix::openDirectory(baseDirectory.c_str());
    if (fd < 0) return false;
    std::vector<std::string> names;
    const bool listed = posix::listDirectory(fd, &names);
    posix::close(fd);
    if (!listed) return false;
    for (const std::string& name : names) {
        const std::string candidate = joined(baseDirectory, name);
        posix::FileStatus st;
        if (!posix::pathStatus(candidate.c_str(), &st, false) || st.kind != posix::FileKind::regular || st.size != s.size)
            continue;
        if (matches(s, candidate)) {
            found = candidate;
            return true;
        }
    }
    return false;
}

uint32_t unitPts(const SourceStream& src, int32_t unit) { return src.vPts[src.cutPointPkt[unit]]; }

// The unit of a project entry in a source as scanned now: the same unit when its
// time stamp still agrees, else the unit with that time stamp, else the unit that
// holds the picture with that time stamp, else the unit the time falls in.
class UnitFinder {
public:
    explicit UnitFinder(const SourceStream& src) : src_(src) {}
    int32_t find(const ProjectEntry& e, bool& inside)
    {
        inside = false;
        const int32_t n = src_.lastCutPoint;
        if (n <= 0) return -1;
        if (e.unit >= 0 && e.unit < n && unitPts(src_, e.unit) == e.pts) return e.unit;
        if (units_.empty())
            for (int32_t u = n - 1; u >= 0; --u) units_[unitPts(src_, u)] = u;
        if (const auto it = units_.find(e.pts); it != units_.end()) return it->second;
        inside = true;
        if (pictures_.empty())
            for (int32_t p = src_.pktCount - 1; p >= 0; --p)
                if (src_.picType[p] != 0) pictures_[src_.vPts[p]] = p;
        if (const auto it = pictures_.find(e.pts); it != pictures_.end()) {
            // The last unit whose cut point packet is at or before the picture's.
            int32_t lo = 0, hi = n - 1;
            while (lo < hi) {
                const int32_t mid = lo + (hi - lo + 1) / 2;
                if (src_.cutPointPkt[mid] <= it->second) lo = mid;
                else hi = mid - 1;
            }
            return lo;
        }
        // Time since the first unit, which runs on across the 2^32 wrap.
        const uint32_t base = unitPts(src_, 0), target = e.pts - base;
        int32_t lo = 0;
        while (lo + 1 < n && static_cast<uint32_t>(unitPts(src_, lo + 1) - base) <= target) ++lo;
        return lo;
    }

private:
    const SourceStream& src_;
    std::unordered_map<uint32_t, int32_t> units_, pictures_;
};

} // namespace

const std::vector<std::string>& projectSettingNames()
{
    static const std::vector<std::string> names = {
        "cutAtIFrames",  "assAppendNextFrame",       "assCompleteAudioPkt",   "assCalcNewPts",
        "splitPvaDstFile", "saveNoAudio",             "saveNoAVPacketHeader",  "assAudioPtsOffset",
        "assCompleteAPktEndOffset", "splitPvaDstFileSizeMB", "assCleanJoins",
        "saveRecodeAtCuts"};
    return names;
}

std::string projectText(const Project& p)
{
    std::string text = std::string(projectMagic) + " " + std::to_string(projectFormatVersion) + "\n";
    if (!p.outputName.empty()) text += "output " + escaped(p.outputName) + "\n";
    for (const auto& [name, value] : p.settings) text += "setting " + name + "=" + std::to_string(value) + "\n";
    char line[96];
    for (const ProjectSource& s : p.sources) {
        std::snprintf(line, sizeof line, "source %" PRIu64 " %016" PRIx64 " ", s.size, s.fingerprint);
        text += line + escaped(s.path) + "\n";
    }
    for (const ProjectEntry& e : p.entries) {
        std::snprintf(line, sizeof line, "entry %d %d %u\n", static_cast<int>(e.source), static_cast<int>(e.unit),
                      static_cast<unsigned>(e.pts));
        text += line;
    }
    text += "end\n";
    return text;
}

std::string parseProject(const std::string& text, Project& out)
{
    Project p;
    size_t lineNumber = 0;
    bool ended = false;
    for (size_t at = 0; at < text.size();) {
        const size_t nl = text.find('\n', at);
        if (nl == std::string::npos) return lineError(lineNumber + 1, "the file ends inside a line (cut short?)");
        std::string line = text.substr(at, nl - at);
        at = nl + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (lineNumber == 1) {
            const auto f = fields(line, 2);
            if (f.size() != 2 || f[0] != projectMagic) return "it is not an Orvane project file";
            uint64_t version;
            if (!parseUnsigned(f[1], 1000000, version)) return lineError(1, "the format version is not a number");
            if (version != static_cast<uint64_t>(projectFormatVersion))
                return "it is a project of format " + f[1] + "; this program reads format "
                    + std::to_string(projectFormatVersion);
            continue;
        }
        if (ended) return lineError(lineNumber, "text after the end line");
        if (line.empty() || line[0] == '#') continue;
        const std::string keyword = line.substr(0, line.find(' '));
        if (keyword == "end" && line == "end") {
            ended = true;
        } else if (keyword == "output") {
            if (!p.outputName.empty() || !unescaped(line.substr(7), p.outputName) || p.outputName.empty())
                return lineError(lineNumber, "a wrong or second output line");
        } else if (keyword == "setting") {
            const std::string rest = line.size() > 8 ? line.substr(8) : "";
            const size_t eq = rest.find('=');
            int32_t value;
            if (eq == std::string::npos || !parseSigned(rest.substr(eq + 1), value))
                return lineError(lineNumber, "a setting is NAME=NUMBER");
            const std::string name = rest.substr(0, eq);
            bool known = false;
            for (const std::string& n : projectSettingNames()) known |= n == name;
            if (!known) return lineError(lineNumber, "unknown setting '" + name + "'");
            for (const auto& s : p.settings)
                if (s.first == name) return lineError(lineNumber, "setting " + name + " given twice");
            p.settings.emplace_back(name, value);
        } else if (keyword == "source") {
            const auto f = fields(line, 4);
            ProjectSource s;
            if (f.size() != 4 || !parseUnsigned(f[1], UINT64_MAX, s.size) || !parseHex64(f[2], s.fingerprint)
                || !unescaped(f[3], s.path) || s.path.empty())
                return lineError(lineNumber, "a source is SIZE FINGERPRINT PATH");
            if (p.sources.size() >= static_cast<size_t>(maxSources))
                return lineError(lineNumber, "more than " + std::to_string(maxSources) + " sources");
            p.sources.push_back(s);
        } else if (keyword == "entry") {
            const auto f = fields(line, 4);
            uint64_t source, unit, pts;
            if (f.size() != 4 || !parseUnsigned(f[1], maxSources - 1, source) || !parseUnsigned(f[2], INT32_MAX, unit)
                || !parseUnsigned(f[3], UINT32_MAX, pts))
                return lineError(lineNumber, "an entry is SOURCE UNIT PTS");
            if (source >= p.sources.size()) return lineError(lineNumber, "an entry of a source not listed before it");
            p.entries.push_back({static_cast<int32_t>(source), static_cast<int32_t>(unit), static_cast<uint32_t>(pts)});
        } else {
            return lineError(lineNumber, "unknown line '" + keyword.substr(0, 40) + "'");
        }
    }
    if (lineNumber == 0) return "it is empty";
    if (!ended) return "it has no end line (cut short?)";
    out = std::move(p);
    return "";
}

bool fingerprintFile(const char* path, uint64_t& size, uint64_t& fingerprint)
{
    const int fd = posix::systemCalls().open(path, posix::flag::readOnly | posix::flag::nonBlocking, 0);
    if (fd < 0) return false;
    posix::FileStatus st;
    bool ok = posix::status(fd, &st) && st.kind == posix::FileKind::regular;
    uint64_t h = 0xcbf29ce484222325ull;
    std::vector<unsigned char> buffer(64 << 10);
    for (uint64_t done = 0; ok && done < projectFingerprintBytes;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), projectFingerprintBytes - done));
        const int64_t r = posix::systemCalls().read(fd, buffer.data(), want);
        if (r < 0 && posix::lastFailure() == posix::Failure::interrupted) continue;
        if (r < 0) ok = false;
        if (r <= 0) break;
        for (int64_t k = 0; k < r; ++k) h = (h ^ buffer[static_cast<size_t>(k)]) * 0x100000001b3ull;
        done += static_cast<uint64_t>(r);
    }
    posix::close(fd);
    if (!ok) return false;
    size = st.size;
    fingerprint = h;
    return true;
}

bool projectOf(const CutEditor& editor, Project& out)
{
    const SourceAnalyser& app = editor.app;
    Project p;
    for (int32_t s = 0; s < app.sourceCount; ++s) {
        ProjectSource ps;
        ps.path = app.sources[s].fileName;
        // Kept whole, so that the project opens from any working directory.
        std::string absolute;
        if (posix::realPath(ps.path.c_str(), &absolute)) ps.path = absolute;
        if (!fingerprintFile(ps.path.c_str(), ps.size, ps.fingerprint)) {
            app.log.writef("ERROR: can't read %s for the project\n", ps.path.c_str());
            return false;
        }
        p.sources.push_back(ps);
    }
    for (const std::string& name : projectSettingNames()) {
        int32_t value = 0;
        if (settingValue(app.settings, name.c_str(), value)) p.settings.emplace_back(name, value);
    }
    const CutList& list = editor.currentList();
    p.entries.reserve(static_cast<size_t>(list.count));
    for (int32_t i = 0; i < list.count; ++i) {
        const CutEntry e = list.entry(i);
        const SourceStream& src = app.sources[e.source];
        const uint32_t pts = e.unit < src.lastCutPoint ? unitPts(src, e.unit) : 0;
        p.entries.push_back({e.source, e.unit, pts});
    }
    p.outputName = editor.outputName;
    out = std::move(p);
    return true;
}

int writeProjectFile(const CutEditor& editor, const char* fileName)
{
    LogConsole& log = editor.app.log;
    Project p;
    if (!projectOf(editor, p)) return -1;
    if (!replaceFileContents(fileName, projectText(p))) {
        log.writef("ERROR: can't write the project %s\n", fileName);
        return -1;
    }
    log.writef("project saved: %s\n", fileName);
    return 1;
}

int readProjectFile(const char* fileName, Project& out, LogConsole& log)
{
    std::string text, why;
    const int read = readRegularFile(fileName, maxProjectFileBytes, text, why);
    if (read == 0) why = "it can't be opened";
    if (read == 1) why = parseProject(text, out);
    if (why.empty() && out.sources.empty()) why = "it names no source";
    if (!why.empty()) {
        log.writef("ERROR: can't open the project %s: %s\n", fileName, why.c_str());
        return -1;
    }
    return 1;
}

bool findProjectSources(const Project& project, const std::string& baseDirectory, LogConsole& log,
                        const LocateSource& locate, std::vector<std::string>& paths)
{
    std::vector<std::string> found;
    for (const ProjectSource& s : project.sources) {
        std::string path = s.path;
        uint64_t size, fingerprint;
        std::string why;
        if (!fingerprintFile(path.c_str(), size, fingerprint)) why = "it can't be read";
        else if (size != s.size || fingerprint != s.fingerprint) why = "it is not the recording the project was made with";
        std::string moved;
        if (!why.empty() && findMoved(s, baseDirectory, moved)) {
            log.writef("%s: %s; found by its fingerprint as %s\n", s.path.c_str(), why.c_str(), moved.c_str());
            path = moved;
            why.clear();
        }
        while (!why.empty()) {
            std::string other;
            if (!locate || !locate(s, why, other)) {
                log.writef("ERROR: project source %s: %s\n", s.path.c_str(), why.c_str());
                return false;
            }
            if (matches(s, other)) {
                path = other;
                why.clear();
            } else {
                why = other + " is not the recording the project was made with";
            }
        }
        found.push_back(path);
    }
    paths = std::move(found);
    return true;
}

int loadProject(CutEditor& editor, const Project& project, const std::vector<std::string>& paths,
                const platform::OperationContext& op)
{
    SourceAnalyser& app = editor.app;
    LogConsole& log = app.log;
    if (app.sourceCount != 0 || paths.size() != project.sources.size()) {
        log.write("ERROR: a project is loaded only in place of every source\n", 1);
        return -1;
    }
    for (const auto& [name, value] : project.settings) {
        const std::string line = name + "=" + std::to_string(value);
        if (applySettingsLine(app.settings, line.c_str(), &log) != 1) {
            log.writef("ERROR: the project's setting %s is refused\n", line.c_str());
            return -1;
        }
    }
    for (const std::string& path : paths)
        if (app.scanSource(path.c_str(), 0, op) != 1) return -1;

    // Consecutive entries of one source become one insertion.
    std::vector<UnitFinder> finders;
    for (int32_t s = 0; s < app.sourceCount; ++s) finders.emplace_back(app.sources[s]);
    int32_t runSource = -1, runFirst = 0, runLast = 0, inside = 0;
    auto flush = [&] { return runSource < 0 || editor.insertUnits(runSource, runFirst, runLast, INT32_MAX) == 1; };
    for (const ProjectEntry& e : project.entries) {
        bool within = false;
        const int32_t unit = finders[static_cast<size_t>(e.source)].find(e, within);
        if (unit < 0) {
            log.writef("ERROR: source %d of the project has no units\n", static_cast<int>(e.source));
            return -1;
        }
        if (within) ++inside;
        // A unit that several entries fall in is listed once.
        if (within && runSource == e.source && unit == runLast) continue;
        if (runSource == e.source && unit == runLast + 1) {
            runLast = unit;
            continue;
        }
        if (!flush()) return -1;
        runSource = e.source;
        runFirst = runLast = unit;
    }
    if (!flush()) return -1;
    editor.keepOnlyCurrentLevel();
    if (inside > 0)
        log.writef("%d entries of the project fall inside a cut unit: listed as the unit they fall in\n", inside);
    editor.outputName = project.outputName;
    return 1;
}

int openProjectFile(CutEditor& editor, const char* fileName, const platform::OperationContext& op,
                    const LocateSource& locate)
{
    LogConsole& log = editor.app.log;
    Project project;
    std::vector<std::string> paths;
    if (readProjectFile(fileName, project, log) != 1
        || !findProjectSources(project, directoryOf(fileName), log, locate, paths))
        return -1;
    if (editor.resetEditor() != 1) return -1;
    return loadProject(editor, project, paths, op);
}


bool looksLikeProjectFile(const char* path)
{
    const int fd = posix::systemCalls().open(path, posix::flag::readOnly | posix::flag::nonBlocking, 0);
    if (fd < 0) return false;
    char head[16] = {};
    const int64_t r = posix::systemCalls().read(fd, head, sizeof head - 1);
    posix::close(fd);
    const size_t n = std::strlen(projectMagic);
    return r >= static_cast<int64_t>(n) && std::memcmp(head, projectMagic, n) == 0;
}
