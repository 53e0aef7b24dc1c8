#pragma once
#include <cstdint>

// The user's options and the cancel flag. The window's controls are not here:
// long operations report through their operation context, and the editor and
// the panes are given the controls they update.
struct Settings {
    int32_t cutAtIFrames = 1;
    int32_t assCompleteAPktEndOffset = -500;
    int32_t assAppendNextFrame = 0;
    int32_t assCompleteAudioPkt = 1;
    int32_t assCalcNewPts = 1;
    int32_t assAudioPtsOffset = 0;
    int32_t cancelRequested = 0;
    int32_t splitPvaDstFile = 0;
    int32_t splitPvaDstFileSizeMB = 650;
    int32_t saveNoAudio = 0;
    int32_t saveNoAVPacketHeader = 0;
    int32_t fastBufferScan = 1;
    // Joins that show every picture of the chosen units once, decoded from the right
    // pictures, with time stamps and sound that run on (0: the plain assembly).
    int32_t assCleanJoins = 1;
    // A saved file is checked after the save: 1 yes, 0 no, -1 not said (the window
    // checks, orvane-cli does not). Written to the settings file only once said.
    int32_t saveCheckAfterSave = -1;
    // With cutAtIFrames 0 a range that starts at a P or B picture (or at an open GOP's
    // I picture) has the few pictures up to the next I picture re-encoded as a closed
    // GOP, and each range ends with the B pictures shown before its last anchor.
    // Written to the settings file only as 0.
    int32_t saveRecodeAtCuts = 1;
    // A single save whose name ends in .mpg/.vob, .ts/.m2ts or .mkv writes that
    // container (1); 0: every name gets a PVA. Written to the settings file only as 0.
    int32_t saveContainerByName = 1;

    // Whether a cancel button has asked the running scan or save to stop.
    bool cancelPending() const { return cancelRequested != 0; }
};

class LogConsole;

// The smallest part size of a split save: with 4 MB every 4 MiB flush makes a
// part of its own. Smaller sizes are refused wherever a setting is read.
inline constexpr int32_t minSplitSizeMB = 4;
// Whether `sizeMB` can be taken as splitPvaDstFileSizeMB.
bool splitSizeAcceptable(int32_t sizeMB);

// Copies the whole live record out into `out` and returns it.
Settings& getSettings(const Settings& live, Settings& out);
// Replaces every field of the live record. Returns 1.
int setSettings(Settings& live, const Settings& from);
// Reads "key=value" lines into the live record; 1, or -1 when the file can't be opened.
// A value no setting can take (a split size below 4 MB) is refused: the field keeps
// its value, and with a console the refusal is said there.
int readSettingsFile(Settings& live, const char* fileName, LogConsole* log = nullptr);
// Writes the eleven keys, then assCleanJoins, then each later key once it is set; 1, or -1 (with "ERROR: can't write %s\n") when it can't be created.
int writeSettingsFile(const Settings& live, const char* fileName, LogConsole& log);
// One "key=value" assignment as in the settings file; 1 when it matched a key and
// was taken, 0 when its value was refused (the field keeps its value; with a
// console the refusal is said there), -1 when it matched no key.
int applySettingsLine(Settings& live, const char* line, LogConsole* log = nullptr);

// The value of the setting the settings file names `name`; false when there is none.
bool settingValue(const Settings& live, const char* name, int32_t& value);

inline constexpr const char* settingsFileName = "Orvane.ini";
