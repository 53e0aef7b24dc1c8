#include "shell/MainDialog.h"

#include "cut/CutEditor.h"
#include "output/MpegListing.h"
#include "output/OutputWriter.h"
#include "platform/Canvas.h"
#include "platform/Window.h"
#include "platform/ScrollBar.h"
#include "core/LogConsole.h"
#include "shell/ProductTexts.h"
#include "shell/SaveCheck.h"
#include "shell/SetupDialog.h"
#include "shell/ShellContext.h"
#include "source/SourceAnalyser.h"
#include "source/SourceSelection.h"

#include <algorithm>

using platform::Control;
using platform::MouseEvent;

const char* toolTipText(int controlId)
{
    switch (controlId) {
    case mainid::insert: return "insert selected source pva mpeg packets to the new pva at the current position";
    case mainid::add: return "add selected source pva mpeg packets to the end of the new pva";
    case mainid::deleteSelected: return "delete selected new pva mpeg packets";
    case mainid::deleteAll: return "delete all new pva mpeg packets";
    case mainid::newSource: return "add a Mpeg2 Video PES *.pva file for cutting";
    case mainid::nextSource:
    case mainid::previousSource: return "switches the source *.pva files";
    case mainid::openPlayer: return "show the player dialog and open the saved new *.pva file";
    default: return "";
    }
}

MainDialog::MainDialog(ShellContext& context, SetupDialog& setup) : c_(context), setup_(setup) {}

uint64_t MainDialog::windowId() const { return window_ ? window_->nativeId() : 0; }

void MainDialog::redraw(Pane pane)
{
    if (window_) window_->invalidateRect(c_.views.paneRect(pane), true);
}

void MainDialog::hide(std::initializer_list<int> ids)
{
    for (int id : ids)
        if (Control* control = window_->child(id)) control->show(false);
}

void MainDialog::enableCommands(bool enable)
{
    if (!window_) return;
    for (int id : commandGroup)
        if (Control* control = window_->child(id)) control->enable(enable);
}

void MainDialog::setSlider(int position)
{
    if (!window_) return;
    if (Control* slider = window_->child(mainid::speed)) slider->setPosition(position);
}

void MainDialog::setPlayState(int32_t state)
{
    c_.playState = state;
    if (state == 0) viewerGivenUp_ = false;
}

void MainDialog::stopPlaying()
{
    if (c_.playState == 0) return;
    setSlider(5);
    setPlayState(0);
}

void MainDialog::onInit(platform::Window& window)
{
    window_ = &window;
    const ShellServices& s = c_.services;
    s.console.attachWindow(&window, mainid::console);
    c_.views.initScrollBars(window.scrollBar(mainid::sourceBar), window.scrollBar(mainid::listBar));
    readSettingsFile(s.app.settings, s.settingsFile, &s.console);
    if (Control* slider = window.child(mainid::speed)) {
        slider->setRange(0, 10);
        slider->setPosition(5);
    }
    window.setTitle(productLine);
    for (const char* piece : {productLine, contactLine, viewerCredit, viewerSource, sizeNote})
        s.console.write(piece, 1);
    hide({mainid::cancelScan, mainid::scanProgress, mainid::cancelSave, mainid::saveProgress, mainid::scanWithLog,
          mainid::listMpeg, mainid::restartServer});

    getSettings(s.app.settings, c_.workingCopy);
    c_.scanProgress = platform::ControlProgress(window.child(mainid::scanProgress), window.child(mainid::cancelScan),
                                                window.child(mainid::sourceInfo));
    c_.saveProgress = platform::ControlProgress(window.child(mainid::saveProgress), window.child(mainid::cancelSave),
                                                window.child(mainid::listInfo));
    c_.views.attachInfoLines(window.child(mainid::sourceInfo), window.child(mainid::listInfo));
    s.editor.attachControls(window.child(mainid::undo), window.child(mainid::redo), &window);
    s.editor.updateUndoButtons();
    hide({1033, 1031, 1037, 1080, 1032, 1036, 1038, mainid::openPlayer, 1024, 1023});
}

void MainDialog::onCommand(int id, int code)
{
    if (code != platform::commandClicked || !window_) return;
    const ShellServices& s = c_.services;
    switch (id) {
    case mainid::newSource: openSource(0); break;
    case mainid::scanWithLog: openSource(1); break;
    case mainid::listMpeg: listMpegFile(); break;
    case mainid::add:
        s.editor.insertSrcPicPkts(true);
        redraw(Pane::list);
        break;
    case mainid::insert:
        s.editor.insertSrcPicPkts(false);
        redraw(Pane::list);
        break;
    case mainid::deleteSelected:
        s.editor.deleteSelection(false);
        redraw(Pane::list);
        break;
    case mainid::deleteAll:
        s.editor.deleteSelection(true);
        redraw(Pane::list);
        break;
    case mainid::undo:
        s.editor.undo();
        redraw(Pane::list);
        break;
    case mainid::redo:
        s.editor.redo();
        redraw(Pane::list);
        break;
    case mainid::previousSource: switchSource(false); break;
    case mainid::nextSource: switchSource(true); break;
    case mainid::save: saveCommand(0, 0); break;
    case mainid::saveAs: saveCommand(1, 0); break;
    case mainid::saveSelection: saveCommand(1, 1); break;
    case mainid::cancelScan:
    case mainid::cancelSave: requestCancel(); break;
    case mainid::setup: setup_.open(); break;
    case mainid::about:
        s.console.clear();
        s.console.write(aboutText, 0);
        break;
    case mainid::minimise: window_->minimise(); break;
    case mainid::close:
        setPlayState(0);
        window_->sendClose();
        break;
    case mainid::viewer100: c_.viewer.postSize(1, 1); break;
    case mainid::viewer75: c_.viewer.postSize(3, 4); break;
    case mainid::viewer50: c_.viewer.postSize(1, 2); break;
    case mainid::viewer25: c_.viewer.postSize(1, 4); break;
    case mainid::viewerMax: c_.viewer.postSize(4, 1); break;
    case mainid::onTop:
        if (Control* box = window_->child(mainid::onTop)) c_.viewer.postTopMost(box->isChecked());
        break;
    default: break;
    }
}

int MainDialog::runOperation(const OperationSteps& steps, const std::function<int()>& operation)
{
    if (steps.stopPlaying) stopPlaying();
    // Unlike stopPlaying, the state is cleared even when the slider looks stopped.
    if (steps.clearPlayState) setPlayState(0);
    enableCommands(false);
    if (steps.tellViewer) c_.viewer.notifyViewerFileChange();
    int result;
    {
        OperationScope running(c_.services.app);
        result = operation();
    }
    if (closeIfAsked()) return result;
    if (steps.sendPosition == SendPosition::always || (steps.sendPosition == SendPosition::afterSuccess && result != -1))
        c_.viewer.sendFileAndPosition(windowId());
    if (steps.redrawSource) redraw(Pane::source);
    enableCommands(true);
    // The group includes undo and redo, which only the history may switch on.
    c_.services.editor.updateUndoButtons();
    return result;
}

void MainDialog::openSource(int withLog)
{
    runOperation({.stopPlaying = true, .tellViewer = true, .sendPosition = SendPosition::afterSuccess, .redrawSource = true},
                 [&] {
                     platform::OperationContext op = c_.operation(c_.scanProgress);
                     return openSourceDialog(c_.services.app, &c_.services.fileDialog, withLog, op);
                 });
}

void MainDialog::listMpegFile()
{
    runOperation({.stopPlaying = true, .clearPlayState = true, .tellViewer = true,
                  .sendPosition = SendPosition::afterSuccess, .redrawSource = true},
                 [&] { return openMpegFileDialog(c_.services.console, &c_.services.fileDialog); });
}

int MainDialog::scanAtStartUp(const char* name)
{
    // The start-up sends the file and position itself, once the scan is done.
    return runOperation({}, [&] {
        platform::OperationContext op = c_.operation(c_.scanProgress);
        return c_.services.app.scanSource(name, 0, op);
    });
}

void MainDialog::switchSource(bool next)
{
    setSlider(5);
    setPlayState(0);
    c_.viewer.notifyViewerFileChange();
    if (next)
        c_.services.app.selectNextSource();
    else
        c_.services.app.selectPreviousSource();
    c_.viewer.sendFileAndPosition(windowId());
    redraw(Pane::source);
}

void MainDialog::saveCommand(int askName, int selectionOnly)
{
    runOperation({.tellViewer = true, .sendPosition = SendPosition::always}, [&] {
        platform::OperationContext op = c_.operation(c_.saveProgress);
        int saved = -1;
        const int result = saveDialog(c_.services.editor, &c_.services.fileDialog, askName, selectionOnly, op, &saved);
        if (saved == 1) checkAfterSave(c_, selectionOnly, op);
        return result;
    });
}

void MainDialog::requestCancel()
{
    Settings& live = c_.services.app.settings;
    Settings& copy = getSettings(live, c_.workingCopy);
    copy.cancelRequested = 1;
    setSettings(live, copy);
    // The copy now holds the live options again: an open setup dialog shows them.
    setup_.refreshIfOpen();
}

void MainDialog::onHorizontalScroll(int id, int code)
{
    if (!window_) return;
    if (id == mainid::sourceBar) sourceBarAction(code);
    if (id == mainid::listBar) listBarAction(code);
    if (id == mainid::speed) speedChanged();
}

void MainDialog::playStep()
{
    if (c_.playState == 0 || !window_) return;
    // At either end of the source there is nowhere to step: nothing is sent to the
    // viewer while nothing moves (the slider stays where it is).
    const int result = c_.views.stepCursor(Pane::source, c_.playState == 1 ? +1 : -1);
    if (result == -1) return;
    followSourceCursor(result);
}

void MainDialog::sourceBarAction(int code)
{
    StreamViews& views = c_.views;
    int result = -1;
    switch (code) {
    case platform::scrollLineLeft: result = views.stepCursor(Pane::source, -1); break;
    case platform::scrollLineRight: result = views.stepCursor(Pane::source, +1); break;
    case platform::scrollPageLeft:
        stopPlaying();
        result = views.stepCursor(Pane::source, -5);
        break;
    case platform::scrollPageRight:
        stopPlaying();
        result = views.stepCursor(Pane::source, +5);
        break;
    case platform::scrollThumbTrack:
        stopPlaying();
        result = views.trackCursor(Pane::source);
        break;
    default: return;
    }
    followSourceCursor(result);
}

void MainDialog::followSourceCursor(int result)
{
    if (result != -1) redraw(Pane::source);
    // Play stepping calls this every few milliseconds: a viewer that could not be
    // started is only looked for until playing stops.
    const bool playing = c_.playState != 0;
    if (c_.viewer.ensureViewer(windowId(), !(playing && viewerGivenUp_)) != 1 && playing) viewerGivenUp_ = true;
    c_.viewer.postPosition();
}

void MainDialog::listBarAction(int code)
{
    StreamViews& views = c_.views;
    int result = -1;
    switch (code) {
    case platform::scrollLineLeft: result = views.stepCursor(Pane::list, -1); break;
    case platform::scrollLineRight: result = views.stepCursor(Pane::list, +1); break;
    case platform::scrollPageLeft: result = views.stepCursor(Pane::list, -5); break;
    case platform::scrollPageRight: result = views.stepCursor(Pane::list, +5); break;
    case platform::scrollThumbTrack: result = views.trackCursor(Pane::list); break;
    default: return;
    }
    if (result != -1) redraw(Pane::list);
}

void MainDialog::speedChanged()
{
    Control* slider = window_->child(mainid::speed);
    if (!slider) return;
    const int p = std::clamp(slider->currentPosition(), 0, 10);
    if (p < 5) {
        setPlayState(-1);
        c_.stepInterval = 500 / ((6 - p) * (6 - p));
    } else if (p > 5) {
        setPlayState(1);
        c_.stepInterval = 500 / ((p - 4) * (p - 4));
    } else {
        setPlayState(0);
        c_.stepInterval = 1000;
    }
}

void MainDialog::onLeftButtonDown(const MouseEvent& e)
{
    if (!window_) return;
    stopPlaying();
    dragging_.setGrabPoint(e.client);
    if (c_.views.hitTest(e.client.x, e.client.y, SelectEnd::start) != 0) {
        redraw(Pane::source);
        redraw(Pane::list);
    } else {
        dragging_.begin(*window_);
    }
}

void MainDialog::onRightButtonDown(const MouseEvent& e)
{
    if (!window_) return;
    stopPlaying();
    dragging_.setGrabPoint(e.client);
    if (c_.views.hitTest(e.client.x, e.client.y, SelectEnd::end) == 1) {
        redraw(Pane::source);
        redraw(Pane::list);
    }
}

void MainDialog::onLeftButtonUp(const MouseEvent&)
{
    if (window_) dragging_.end(*window_, false);
}

void MainDialog::onMouseMove(const MouseEvent& e)
{
    if (window_) dragging_.move(*window_, e);
}

void MainDialog::onWheel(int delta, const MouseEvent& e)
{
    if (!window_ || delta == 0) return;
    const int step = delta > 0 ? -1 : +1;
    for (Pane pane : {Pane::source, Pane::list})
        if (c_.views.paneRect(pane).contains(e.client) && c_.views.stepCursor(pane, step) != -1) redraw(pane);
}

void MainDialog::onPaint(platform::Canvas& canvas)
{
    if (!window_) return;
    const platform::Size client = window_->clientSize();
    canvas.drawBitmap("BITMAP_MAIN", client);
    const platform::Rect source = sourcePaneRectFor(client);
    c_.views.setSourcePaneRect(source.left, source.top, source.right, source.bottom);
    c_.views.paintSourcePane(canvas);
    const platform::Rect list = listPaneRectFor(client);
    c_.views.setListPaneRect(list.left, list.top, list.right, list.bottom);
    c_.views.paintListPane(canvas);
}

void MainDialog::onClose()
{
    if (closed_ || !window_) return;
    if (c_.operationsRunning() > 0) {
        // The scan or save still uses the window's controls: let it stop and clean
        // up first; the command that runs it closes the window afterwards.
        closeAsked_ = true;
        Settings& live = c_.services.app.settings;
        live.cancelRequested = 1;
        return;
    }
    close();
}

bool MainDialog::closeIfAsked()
{
    if (!closeAsked_ || c_.operationsRunning() > 0) return closed_;
    close();
    return true;
}

void MainDialog::releaseWindow()
{
    if (!window_) return;
    c_.scanProgress = platform::ControlProgress();
    c_.saveProgress = platform::ControlProgress();
    c_.views.attachInfoLines(nullptr, nullptr);
    c_.services.editor.attachControls(nullptr, nullptr, nullptr);
    c_.services.console.attachWindow(nullptr, mainid::console);
    c_.views.initScrollBars(nullptr, nullptr);
    window_ = nullptr;
}

void MainDialog::close()
{
    setPlayState(0);
    c_.viewer.postClose();
    platform::Window* window = window_;
    releaseWindow();
    closed_ = true;
    closeAsked_ = false;
    window->destroy();
    c_.services.queue.postQuit(0);
}
