#include "shell/ViewerLink.h"

#include "cut/CutEditor.h"
#include "platform/Host.h"
#include "platform/ViewerChannel.h"
#include "core/LogConsole.h"
#include "shell/ProductTexts.h"

#include <string>

using platform::viewerFileMessage;
using platform::viewerMessage;

ViewerLink::ViewerLink(platform::ViewerChannel& channel, platform::Clock& clock, LogConsole& log, const CutEditor& editor)
    : channel_(channel), clock_(clock), log_(log), editor_(editor)
{
}

int ViewerLink::ensureViewer(uint64_t mainWindow, bool allowStart)
{
    if (channel_.find()) {
        startFailed_ = false;
        return 1;
    }
    if (!allowStart) return -1;
    // A failed start is not repeated on every scroll step: each would block the window.
    if (startFailed_ && clock_.nowMs() - failedAt_ < retryAfterMs) return -1;
    auto fail = [&] {
        startFailed_ = true;
        failedAt_ = clock_.nowMs();
        return -1;
    };
    const char* command = platform::viewerName;
    if (const std::string why = channel_.unavailable(); !why.empty()) {
        log_.writef("ERROR: No viewer: %s\n", why.c_str());
        return fail();
    }
    if (!channel_.start(command)) {
        log_.writef("ERROR: Can't start %s\n", command);
        log_.write(viewerSource, 1);
        return fail();
    }
    log_.writef("Starting: %s\n", command);
    bool found = false;
    for (int attempt = 0; attempt < 100 && !found; ++attempt) {
        found = channel_.find();
        if (!found) {
            if (channel_.startedProgramEnded()) break;
            clock_.sleepMs(50);
        }
    }
    if (!found) {
        log_.write("ERROR: Can't find DVB-Viewer\n", 1);
        return fail();
    }
    startFailed_ = false;
    sendFileAndPosition(mainWindow);
    return 1;
}

int ViewerLink::sendFileAndPosition(uint64_t mainWindow)
{
    if (editor_.sourceCount() == 0) return 1;
    clock_.sleepMs(200);
    // A viewer that did not take the file would not answer the position either: the
    // window is not held for it.
    if (!channel_.send(viewerFileMessage(editor_.currentSourceName(), mainWindow))) return 1;
    clock_.sleepMs(600);
    channel_.send(viewerMessage(platform::viewerMessagePosition, 0, editor_.currentFilePosition()));
    clock_.sleepMs(200);
    return 1;
}

int ViewerLink::notifyViewerFileChange()
{
    startFailed_ = false;
    clock_.sleepMs(200);
    if (channel_.send(viewerMessage(platform::viewerMessageFileChange))) clock_.sleepMs(200);
    return 1;
}

void ViewerLink::postPosition() { channel_.post(viewerMessage(platform::viewerMessagePosition, 0, editor_.currentFilePosition())); }

void ViewerLink::postSize(uint32_t numerator, uint32_t denominator)
{
    channel_.post(viewerMessage(platform::viewerMessageSize, numerator, denominator));
}

void ViewerLink::postTopMost(bool on) { channel_.post(viewerMessage(platform::viewerMessageTopMost, on ? 1 : 0, 4)); }

void ViewerLink::postClose() { channel_.post(viewerMessage(platform::viewerMessageClose)); }
