#include "core/Settings.h"

#include "core/LogConsole.h"
#include "core/ReplacedFile.h"
#include "platform/posix/SystemCalls.h"

#include <algorithm>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct SettingsKey {
    const char* name;
    int32_t Settings::*field;
    // A key after the eleven: written only when its value is not `unset`.
    bool optional = false;
    int32_t unset = 0;
};

// The order of the settings file.
constexpr SettingsKey settingsKeys[] = {
    {"cutAtIFrames", &Settings::cutAtIFrames},
    {"assAppendNextFrame", &Settings::assAppendNextFrame},
    {"assCompleteAudioPkt", &Settings::assCompleteAudioPkt},
    {"assCalcNewPts", &Settings::assCalcNewPts},
    {"splitPvaDstFile", &Settings::splitPvaDstFile},
    {"saveNoAudio", &Settings::saveNoAudio},
    {"saveNoAVPacketHeader", &Settings::saveNoAVPacketHeader},
    {"assAudioPtsOffset", &Settings::assAudioPtsOffset},
    {"assCompleteAPktEndOffset", &Settings::assCompleteAPktEndOffset},
    {"splitPvaDstFileSizeMB", &Settings::splitPvaDstFileSizeMB},
    {"fastBufferScan", &Settings::fastBufferScan},
    // Added after the eleven: a file without them leaves them at their defaults.
    {"assCleanJoins", &Settings::assCleanJoins},
    {"saveCheckAfterSave", &Settings::saveCheckAfterSave, true, -1},
    {"saveRecodeAtCuts", &Settings::saveRecodeAtCuts, true, 1},
    {"saveContainerByName", &Settings::saveContainerByName, true, 1},
};

// Reads a decimal integer as "%d" does: optional white space, an optional sign,
// at least one digit; what follows the digits is ignored. A value that does not
// fit 32 bits matches nothing rather than being stored garbled.
bool parseInt(const char* s, int32_t& value)
{
    while (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\v' || *s == '\f' || *s == '\r') ++s;
    const char* digits = s;
    if (*digits == '+' || *digits == '-') ++digits;
    if (*digits < '0' || *digits > '9') return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(s, &end, 10);
    if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return false;
    value = static_cast<int32_t>(v);
    return true;
}

// Eleven lines take a few hundred bytes; a file far beyond that is no settings file.
constexpr uint64_t maxSettingsFileBytes = 1048576;

enum class LineResult { taken, refused, noMatch };

// A line matches a key when it begins with exactly the key and "=", followed by
// an integer. Keys are whole words up to the "=", so splitPvaDstFile and
// splitPvaDstFileSizeMB never take each other's lines. `where` names the settings
// file in a refusal.
LineResult applyLine(Settings& live, const char* line, LogConsole* log, const char* where)
{
    for (const SettingsKey& key : settingsKeys) {
        const size_t n = std::strlen(key.name);
        if (std::strncmp(line, key.name, n) != 0 || line[n] != '=') continue;
        int32_t value;
        if (!parseInt(line + n + 1, value)) return LineResult::noMatch;
        // A wrapped or vanishing threshold would cut a save into thousands of parts, or not at all.
        if (key.field == &Settings::splitPvaDstFileSizeMB && !splitSizeAcceptable(value)) {
            if (log)
                log->writef("ERROR: %s%ssplitPvaDstFileSizeMB=%d refused: a part needs at least %d MB; keeping %d\n",
                            where ? where : "", where ? ": " : "", static_cast<int>(value),
                            static_cast<int>(minSplitSizeMB), static_cast<int>(live.splitPvaDstFileSizeMB));
            return LineResult::refused;
        }
        live.*key.field = value;
        return LineResult::taken;
    }
    return LineResult::noMatch;
}

// The text of the settings file, when it is one: only a regular file of a sane
// size is read (a pipe or a device could block the start or never end), opened
// without waiting for the other end of a pipe. What is not read is said, with a
// console; a file that is missing or can't be opened is not worth a word.
bool readSettingsText(const char* fileName, std::string& text, LogConsole* log)
{
    if (!fileName) return false;
    std::string why;
    const int read = readRegularFile(fileName, maxSettingsFileBytes, text, why);
    if (read == -1 && log) log->writef("ERROR: %s ignored: %s\n", fileName, why.c_str());
    return read == 1;
}

} // namespace

bool splitSizeAcceptable(int32_t sizeMB) { return sizeMB >= minSplitSizeMB; }

Settings& getSettings(const Settings& live, Settings& out)
{
    out = live;
    return out;
}

int setSettings(Settings& live, const Settings& from)
{
    live = from;
    return 1;
}

int readSettingsFile(Settings& live, const char* fileName, LogConsole* log)
{
    std::string text;
    if (!readSettingsText(fileName, text, log)) return -1;
    // A line longer than the buffer of a line is read in pieces, each matched like a line.
    static constexpr size_t pieceSize = 16383;
    char piece[pieceSize + 1];
    for (size_t at = 0; at < text.size();) {
        const size_t lineEnd = text.find('\n', at);
        const size_t end = std::min(lineEnd == std::string::npos ? text.size() : lineEnd + 1, at + pieceSize);
        // A NUL ends what is matched of a piece, as it ends a line read as text.
        std::memcpy(piece, text.data() + at, end - at);
        piece[end - at] = 0;
        applyLine(live, piece, log, fileName);
        at = end;
    }
    return 1;
}

int writeSettingsFile(const Settings& live, const char* fileName, LogConsole& log)
{
    const char* name = fileName ? fileName : "";
    std::string text;
    for (const SettingsKey& key : settingsKeys) {
        if (key.optional && live.*key.field == key.unset) continue;
        char line[64];
        std::snprintf(line, sizeof line, "%s=%d\n", key.name, static_cast<int>(live.*key.field));
        text += line;
    }
    // Written beside the file and put in its place when complete: a full disk or a
    // crash leaves the earlier settings as they were. A link is written through.
    if (!replaceFileContents(name, text)) {
        log.writef("ERROR: can't write %s\n", name);
        return -1;
    }
    return 1;
}

bool settingValue(const Settings& live, const char* name, int32_t& value)
{
    for (const SettingsKey& key : settingsKeys)
        if (name && std::strcmp(key.name, name) == 0) {
            value = live.*key.field;
            return true;
        }
    return false;
}

int applySettingsLine(Settings& live, const char* line, LogConsole* log)
{
    if (!line) return -1;
    switch (applyLine(live, line, log, nullptr)) {
    case LineResult::taken: return 1;
    case LineResult::refused: return 0;
    case LineResult::noMatch: break;
    }
    return -1;
}
