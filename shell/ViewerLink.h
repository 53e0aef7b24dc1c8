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
    // file and position), -1 otherwise. With allowStart false only looks.
    int ensureViewer(uint64_t mainWindow, bool allowStart = true);
    // The current source's file name, then its position; nothing without a source.
    int sendFileAndPosition(uint64_t mainWindow);
    // Before the current file changes (opening, switching, saving).
    int notifyViewerFileChange();

    void postPosition();
    void postSize(uint32_t numerator, uint32_t denominator);
    void postTopMost(bool on);
    void postClose();

private:
    platform::ViewerChannel& channel_;
    platform::Clock& clock_;
    LogConsole& log_;
    const CutEditor& editor_;
};
