#include "shell/ViewerLink.h"

#include "cut/CutEditor.h"
#include "platform/Host.h"
#include "platform/ViewerChannel.h"
#include "core/LogConsole.h"
#include "shell/ProductTexts.h"

#include <string>

using platform::ViewerMessage;

namespace {

ViewerMessage message(uint32_t number, uint64_t wParam = 0, uint64_t lParam = 0)
{
    ViewerMessage m;
    m.number = number;
    m.wParam = wParam;
    m.lParam = lParam;
    return m;
}

} // namespace

ViewerLink::ViewerLink(platform::ViewerChannel& channel, platform::Clock& clock, LogConsole& log, const CutEditor& editor)
    : channel_(channel), clock_(clock), log_(log), editor_(editor)
{
}

int ViewerLink::ensureViewer(uint64_t mainWindow, bool allowStart)
{
    if (channel_.find()) return 1;
    if (!allowStart) return -1;
    const char* command = platform::viewerName;
    if (!channel_.start(command)) {
        log_.writef("ERROR: Can't start %s\n", command);
        log_.write(viewerSource, 1);
        return -1;
    }
    log_.writef("Starting: %s\n", command);
    bool found = false;
    for (int attempt = 0; attempt < 100 && !found; ++attempt) {
        found = channel_.find();
        if (!found) clock_.sleepMs(50);
    }
    if (!found) {
        log_.write("ERROR: Can't find DVB-Viewer\n", 1);
        return -1;
    }
    sendFileAndPosition(mainWindow);
    return 1;
}

int ViewerLink::sendFileAndPosition(uint64_t mainWindow)
{
    if (editor_.sourceCount() == 0) return 1;
    clock_.sleepMs(200);
    ViewerMessage file = message(platform::viewerMessageFile, mainWindow);
    file.dataId = platform::viewerFileDataId;
    file.data = editor_.currentSourceName();
    file.data.push_back('\0');
    channel_.send(file);
    clock_.sleepMs(600);
    channel_.send(message(platform::viewerMessagePosition, 0, editor_.currentFilePosition()));
    clock_.sleepMs(200);
    return 1;
}

int ViewerLink::notifyViewerFileChange()
{
    clock_.sleepMs(200);
    channel_.send(message(platform::viewerMessageFileChange));
    clock_.sleepMs(200);
    return 1;
}

void ViewerLink::postPosition() { channel_.post(message(platform::viewerMessagePosition, 0, editor_.currentFilePosition())); }

void ViewerLink::postSize(uint32_t numerator, uint32_t denominator)
{
    channel_.post(message(platform::viewerMessageSize, numerator, denominator));
}

void ViewerLink::postTopMost(bool on) { channel_.post(message(platform::viewerMessageTopMost, on ? 1 : 0, 4)); }

void ViewerLink::postClose() { channel_.post(message(platform::viewerMessageClose)); }
