#pragma once
// The cutter's end of the link to the preview viewer: finding or starting it and
// the messages that tell it which file and position to show.
#include <cstdint>

class CutEditor;
class LogConsole;
namespace platform {
class Clock;
class ViewerChannel;
}

class ViewerLink {
public:
    ViewerLink(platform::ViewerChannel& channel, platform::Clock& clock, LogConsole& log, const CutEditor& editor);

    // 1 when the viewer runs or was started and found (it is then sent the current
    // file and position), -1 otherwise. With allowStart false only looks. A start
    // that failed is not tried again until the file changes or retryAfterMs passed,
    // and the wait for a started viewer ends as soon as its program has ended.
    int ensureViewer(uint64_t mainWindow, bool allowStart = true);
    // The current source's file name, then its position; nothing without a source.
    int sendFileAndPosition(uint64_t mainWindow);
    // Before the current file changes (opening, switching, saving). A viewer whose
    // start failed is tried again at the next action.
    int notifyViewerFileChange();

    static constexpr uint32_t retryAfterMs = 60000;

    void postPosition();
    void postSize(uint32_t numerator, uint32_t denominator);
    void postTopMost(bool on);
    void postClose();

private:
    platform::ViewerChannel& channel_;
    platform::Clock& clock_;
    LogConsole& log_;
    const CutEditor& editor_;
    bool startFailed_ = false;
    uint32_t failedAt_ = 0;
};
