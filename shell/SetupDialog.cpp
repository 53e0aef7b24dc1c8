#include "shell/SetupDialog.h"

#include "cut/CutEditor.h"
#include "platform/Host.h"
#include "core/LogConsole.h"
#include "shell/ShellContext.h"
#include "source/SourceAnalyser.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

using platform::Control;

namespace {

struct CheckBox {
    int id;
    int32_t Settings::*field;
};

// The boxes that stand for one option each; the two cut boxes are a pair.
constexpr CheckBox optionBoxes[] = {
    {setupid::appendNextFrame, &Settings::assAppendNextFrame},
    {setupid::completeAudio, &Settings::assCompleteAudioPkt},
    {setupid::calcNewPts, &Settings::assCalcNewPts},
    {setupid::split, &Settings::splitPvaDstFile},
    {setupid::noAudio, &Settings::saveNoAudio},
    {setupid::elementary, &Settings::saveNoAVPacketHeader},
    {setupid::fastScan, &Settings::fastBufferScan},
    {setupid::cleanJoins, &Settings::assCleanJoins},
    // Not said yet (-1): the window checks.
    {setupid::checkAfterSave, &Settings::saveCheckAfterSave},
    {setupid::recodeAtCuts, &Settings::saveRecodeAtCuts},
};

struct NumberEdit {
    int id;
    int32_t Settings::*field;
};

constexpr NumberEdit numberEdits[] = {
    {setupid::audioPtsOffset, &Settings::assAudioPtsOffset},
    {setupid::audioEndOffset, &Settings::assCompleteAPktEndOffset},
    {setupid::splitSize, &Settings::splitPvaDstFileSizeMB},
};

// A whole signed decimal integer that fits 32 bits, nothing else.
bool parseWholeInt(const std::string& text, int32_t& value)
{
    const char* s = text.c_str();
    const char* digits = *s == '-' || *s == '+' ? s + 1 : s;
    if (*digits < '0' || *digits > '9') return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(s, &end, 10);
    if (*end != '\0' || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return false;
    value = static_cast<int32_t>(v);
    return true;
}

} // namespace

SetupDialog::SetupDialog(ShellContext& context) : c_(context) {}

int SetupDialog::open()
{
    if (window_) return -1;
    platform::Window* window = c_.services.windows.createDialog("PVADIALOG", *this);
    if (!window) {
        window_ = nullptr;
        c_.services.messageBox.show("ERROR", "Can't create dialog window");
        return 0;
    }
    window_ = window;
    window->show(true);
    return 1;
}

void SetupDialog::onInit(platform::Window& window)
{
    window_ = &window;
    window.setTitle("Orvane Setup");
    getSettings(c_.services.app.settings, c_.workingCopy);
    refresh();
}

void SetupDialog::refreshIfOpen()
{
    if (window_) refresh();
}

void SetupDialog::refresh()
{
    const Settings& copy = c_.workingCopy;
    auto enable = [this](int id, bool on) {
        if (Control* control = window_->child(id)) control->enable(on);
    };
    auto check = [this](int id, bool on) {
        if (Control* control = window_->child(id)) control->setChecked(on);
    };
    if (copy.cutAtIFrames == 0) {
        for (int id : {setupid::appendNextFrame, setupid::completeAudio, setupid::calcNewPts, setupid::audioPtsOffset,
                       setupid::audioEndOffset})
            enable(id, false);
    } else {
        for (int id : {setupid::appendNextFrame, setupid::completeAudio, setupid::calcNewPts}) enable(id, true);
        enable(setupid::audioPtsOffset, copy.assCalcNewPts != 0);
        enable(setupid::audioEndOffset, copy.assCalcNewPts != 0);
    }
    check(setupid::cutEveryPicture, copy.cutAtIFrames == 0);
    check(setupid::cutAtIFrames, copy.cutAtIFrames != 0);
    for (const CheckBox& box : optionBoxes) check(box.id, copy.*box.field != 0);
    for (const NumberEdit& edit : numberEdits)
        if (Control* control = window_->child(edit.id)) control->setText(std::to_string(copy.*edit.field).c_str());
}

void SetupDialog::onCommand(int id, int code)
{
    if (!window_) return;
    Settings& copy = c_.workingCopy;
    if (code == platform::commandEditChanged) {
        for (const NumberEdit& edit : numberEdits) {
            if (edit.id != id) continue;
            int32_t value;
            Control* control = window_->child(id);
            if (!control || !parseWholeInt(control->currentText(), value)) continue;
            // A split size the writer would refuse is kept out like text that is no number.
            if (edit.field == &Settings::splitPvaDstFileSizeMB && !splitSizeAcceptable(value)) continue;
            copy.*edit.field = value;
        }
        return;
    }
    if (code != platform::commandClicked) return;

    auto checked = [this](int boxId) {
        Control* control = window_->child(boxId);
        return control && control->isChecked();
    };
    switch (id) {
    case setupid::ok:
        close();
        applySetup();
        return;
    case setupid::cancel: close(); return;
    case setupid::saveOptions:
        if (applySetup() == 1) writeSettingsFile(c_.services.app.settings, c_.services.settingsFile, c_.services.console);
        return;
    case setupid::cutEveryPicture:
        copy.cutAtIFrames = checked(id) ? 0 : 1;
        refresh();
        return;
    case setupid::cutAtIFrames:
        copy.cutAtIFrames = checked(id) ? 1 : 0;
        refresh();
        return;
    default: break;
    }
    for (const CheckBox& box : optionBoxes) {
        if (box.id != id) continue;
        copy.*box.field = checked(id) ? 1 : 0;
        refresh();
    }
}

int SetupDialog::applySetup()
{
    Settings& live = c_.services.app.settings;
    if (c_.workingCopy.cutAtIFrames != live.cutAtIFrames) {
        // A running scan fills a source slot and a running save reads them: both
        // would be pulled from under them.
        if (c_.operationsRunning() > 0) {
            c_.services.console.write(
                "ERROR: the cut rule can't change while a scan or a save runs; the options were not applied\n", 1);
            return -1;
        }
        if (c_.services.editor.resetEditor() != 1) return -1;
    }
    // The cancel flag belongs to the operation that runs now, not to the copy
    // taken when a cancel button was last pressed.
    Settings applied = c_.workingCopy;
    applied.cancelRequested = live.cancelRequested;
    setSettings(live, applied);
    return 1;
}

void SetupDialog::close()
{
    if (!window_) return;
    platform::Window* window = window_;
    window_ = nullptr;
    window->destroy();
}

void SetupDialog::onLeftButtonDown(const platform::MouseEvent& e)
{
    if (!window_) return;
    dragging_.setGrabPoint(e.client);
    dragging_.begin(*window_);
}

void SetupDialog::onLeftButtonUp(const platform::MouseEvent&)
{
    if (window_) dragging_.end(*window_, true);
}

void SetupDialog::onMouseMove(const platform::MouseEvent& e)
{
    if (window_) dragging_.move(*window_, e);
}
