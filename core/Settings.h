#pragma once
#include <cstdint>

namespace platform { class Control; }

// The user's options, the window controls through which long operations report,
// and the cancel flag. Controls are null when not set.
struct Settings {
    int32_t cutAtIFrames = 1;
    int32_t assCompleteAPktEndOffset = -500;
    int32_t assAppendNextFrame = 0;
    int32_t assCompleteAudioPkt = 1;
    int32_t assCalcNewPts = 1;
    int32_t assAudioPtsOffset = 0;
    platform::Control* mainWindow = nullptr;
    platform::Control* scanProgress = nullptr;
    platform::Control* saveProgress = nullptr;
    platform::Control* scanCancelButton = nullptr;
    platform::Control* saveCancelButton = nullptr;
    platform::Control* sourceInfoLine = nullptr;
    platform::Control* listInfoLine = nullptr;
    platform::Control* undoButton = nullptr;
    platform::Control* redoButton = nullptr;
    int32_t cancelRequested = 0;
    int32_t splitPvaDstFile = 0;
    int32_t splitPvaDstFileSizeMB = 650;
    int32_t saveNoAudio = 0;
    int32_t saveNoAVPacketHeader = 0;
    int32_t fastBufferScan = 1;

    // Whether a cancel button has asked the running scan or save to stop.
    bool cancelPending() const { return cancelRequested != 0; }
};

class LogConsole;

// Copies the whole live record out into `out` and returns it.
Settings& getSettings(const Settings& live, Settings& out);
// Replaces every field of the live record. Returns 1.
int setSettings(Settings& live, const Settings& from);
// Reads "key=value" lines into the live record; 1, or -1 when the file can't be opened.
int readSettingsFile(Settings& live, const char* fileName);
// Writes the eleven keys; 1, or -1 (with "ERROR: can't write %s\n") when it can't be created.
int writeSettingsFile(const Settings& live, const char* fileName, LogConsole& log);
// One "key=value" assignment as in the settings file; 1 when it matched a key, else -1.
int applySettingsLine(Settings& live, const char* line);

inline constexpr const char* settingsFileName = "Orvane.ini";
