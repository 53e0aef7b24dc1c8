#include "shell/MainDialog.h"

#include "core/FileNames.h"
#include "cut/CutEditor.h"
#include "cut/CutLists.h"
#include "cut/ProjectFile.h"
#include "output/MpegListing.h"
#include "output/OutputWriter.h"
#include "platform/Canvas.h"
#include "platform/FileDialog.h"
#include "platform/Host.h"
#include "platform/Window.h"
#include "platform/ScrollBar.h"
#include "core/LogConsole.h"
#include "core/ReplacedFile.h"
#include "shell/KeyCommands.h"
#include "shell/ProductTexts.h"
#include "shell/SaveCheck.h"
#include "shell/SetupDialog.h"
#include "shell/ShellContext.h"
#include "source/FileAccess.h"
#include "source/SourceAnalyser.h"
#include "source/SourceSelection.h"

#include <algorithm>

using platform::Control;
using platform::MouseEvent;

namespace {
constexpr platform::Rgb keyFrameColour = 0xF0C000;
}

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
                     return openSourceDialog(c_.services.app, &c_.services.fileDialog, withLog, op,
                                             [this](const std::string& path) { return mayLoadAgain(path); });
                 });
}

bool MainDialog::mayLoadAgain(const std::string& fileName)
{
    const SourceAnalyser& app = c_.services.app;
    if (!c_.services.askQuestions) return true;
    for (int32_t s = 0; s < app.sourceCount; ++s) {
        if (!sameFile(app.sources[s].fileName, fileName)) continue;
        const std::string text =
            fileName + "\nis loaded already as source " + std::to_string(s + 1) + ".\nLoad it once more?";
        return c_.services.messageBox.ask("Orvane", text.c_str(), {"Load again", "Cancel"}) == 0;
    }
    return true;
}

int MainDialog::loadSourceNamed(const std::string& fileName)
{
    if (!mayLoadAgain(fileName)) return -1;
    return runOperation({.stopPlaying = true, .tellViewer = true, .sendPosition = SendPosition::afterSuccess,
                         .redrawSource = true},
                        [&] {
                            platform::OperationContext op = c_.operation(c_.scanProgress);
                            return c_.services.app.scanSource(fileName.c_str(), 0, op);
                        });
}

bool MainDialog::onDropFiles(const std::vector<std::string>& paths)
{
    if (!window_ || paths.empty()) return false;
    LogConsole& console = c_.services.console;
    if (c_.operationsRunning() > 0) {
        console.write("ERROR: a scan or a save is running: drop the files again when it is done\n", 1);
        return false;
    }
    if (paths.size() == 1 && looksLikeProjectFile(paths[0].c_str())) {
        if (mayLoseEdits("Discard")) openProjectNamed(paths[0]);
        return true;
    }
    for (const std::string& path : paths) {
        if (cutListFormatOf(path, "") != CutListFormat::unknown) {
            importCutListNamed(path);
            continue;
        }
        if (looksLikeProjectFile(path.c_str())) {
            console.writef("ERROR: %s is a project: drop a project alone\n", path.c_str());
            continue;
        }
        if (c_.services.app.sourceCount >= maxSources) {
            console.writef("ERROR: %d recordings are loaded: %s and those after it are not\n", maxSources,
                           path.c_str());
            break;
        }
        loadSourceNamed(path);
        if (closed_) break;
    }
    return true;
}

namespace {
platform::FileDialog::Request cutListRequest(const char* title)
{
    platform::FileDialog::Request request;
    request.title = title;
    request.filters = {{"*.edl *.txt *.vdr *.csv marks", "*.edl;*.txt;*.vdr;*.csv;marks"}, {"*.* ", "*.*"}};
    return request;
}
} // namespace

int MainDialog::importCutListNamed(const std::string& fileName)
{
    SourceAnalyser& app = c_.services.app;
    const SourceStream* src = app.usableSource(app.currentSource);
    if (!src) {
        c_.services.console.write("ERROR: load the recording the cut list is of first\n", 1);
        return -1;
    }
    CutListRead read;
    int result = readCutListFile(fileName.c_str(), sourceTicks(*src), read, c_.services.console);
    if (result == 1) result = addKeptUnits(c_.services.editor, app.currentSource, read.kept);
    if (result == 1) c_.services.console.writef("cut list added: %s\n", fileName.c_str());
    redraw(Pane::list);
    return result;
}

void MainDialog::importCutListCommand()
{
    platform::FileDialog::Request request = cutListRequest("add a cut list");
    request.mustExist = true;
    std::string path;
    if (c_.services.fileDialog.openFile(request, path)) importCutListNamed(path);
}

void MainDialog::exportCutListCommand()
{
    LogConsole& console = c_.services.console;
    int32_t source = 0;
    std::vector<TimeSpan> kept;
    std::string why;
    if (!keptSpansOfList(c_.services.editor, source, kept, why)) {
        console.writef("ERROR: no cut list to export: %s\n", why.c_str());
        return;
    }
    platform::FileDialog::Request request = cutListRequest("export a cut list");
    request.confirmOverwrite = true;
    std::string path;
    if (!c_.services.fileDialog.saveFile(request, path)) return;
    const CutListFormat format = cutListFormatOf(path, "");
    if (format == CutListFormat::unknown) {
        console.writef("ERROR: %s: the name does not say the format (.edl, .txt, .vdr, marks, .csv)\n", path.c_str());
        return;
    }
    if (!replaceFileContents(path.c_str(), cutListText(format, kept, sourceTicks(c_.services.app.sources[source]))))
        console.writef("ERROR: can't write %s\n", path.c_str());
    else
        console.writef("%s cut list saved: %s\n", cutListFormatName(format), path.c_str());
}

bool MainDialog::listChangedSinceSaved() const
{
    const CutEditor& editor = c_.services.editor;
    return editor.changeCount() != savedChanges_ && editor.currentList().count > 0;
}

bool MainDialog::mayLoseEdits(const char* going)
{
    if (!c_.services.askQuestions || !listChangedSinceSaved()) return true;
    const char* text = "The cut list has changed since it was last saved.\nSave it as a project first?";
    switch (c_.services.messageBox.ask("Orvane", text, {"Save project", going, "Cancel"})) {
    case 0:
        saveProjectCommand();
        return !listChangedSinceSaved();
    case 1: return true;
    default: return false;
    }
}

void MainDialog::saveProjectCommand()
{
    CutEditor& editor = c_.services.editor;
    if (c_.services.app.sourceCount == 0) {
        c_.services.console.write("ERROR: no source loaded: no project to save\n", 1);
        return;
    }
    platform::FileDialog::Request request;
    request.title = "save project";
    request.filters = {{"*.orvane", "*.orvane"}, {"*.* ", "*.*"}};
    request.confirmOverwrite = true;
    std::string path;
    if (!c_.services.fileDialog.saveFile(request, path)) return;
    if (writeProjectFile(editor, path.c_str()) == 1) savedChanges_ = editor.changeCount();
}

void MainDialog::openProjectCommand()
{
    if (!mayLoseEdits("Discard")) return;
    platform::FileDialog::Request request;
    request.title = "open project";
    request.filters = {{"*.orvane", "*.orvane"}, {"*.* ", "*.*"}};
    request.mustExist = true;
    std::string path;
    if (c_.services.fileDialog.openFile(request, path)) openProjectNamed(path);
}

int MainDialog::openProjectNamed(const std::string& fileName)
{
    const ShellServices& s = c_.services;
    Project project;
    std::vector<std::string> paths;
    // A source that is neither where it was nor beside the project: the user may
    // point to it.
    auto locate = [&](const ProjectSource& source, const std::string& why, std::string& path) {
        const std::string text = source.path + ": " + why + ".\nShow where the recording is now?";
        if (s.messageBox.ask("Orvane", text.c_str(), {"Find it", "Cancel"}) != 0) return false;
        platform::FileDialog::Request request = platform::FileDialog::pvaFileRequest();
        request.mustExist = true;
        return s.fileDialog.openFile(request, path);
    };
    if (readProjectFile(fileName.c_str(), project, s.console) != 1
        || !findProjectSources(project, directoryOf(fileName), s.console, locate, paths))
        return -1;
    stopPlaying();
    c_.viewer.notifyViewerFileChange();
    if (s.editor.resetEditor() != 1) return -1;
    const int result = runOperation({.stopPlaying = true, .tellViewer = true, .sendPosition = SendPosition::afterSuccess,
                                     .redrawSource = true},
                                    [&] {
                                        platform::OperationContext op = c_.operation(c_.scanProgress);
                                        return loadProject(s.editor, project, paths, op);
                                    });
    if (result == 1) {
        savedChanges_ = s.editor.changeCount();
        s.console.writef("project opened: %s\n", fileName.c_str());
    }
    redraw(Pane::list);
    return result;
}

void MainDialog::closeWithoutQuestion()
{
    if (!window_) return;
    unasked_ = true;
    window_->sendClose();
    unasked_ = false;
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
        if (saved == 1 && !selectionOnly) savedChanges_ = c_.services.editor.changeCount();
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
    for (Pane pane : {Pane::source, Pane::list})
        if (c_.views.paneRect(pane).contains(e.client)) setKeyPane(pane);
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
    for (Pane pane : {Pane::source, Pane::list})
        if (c_.views.paneRect(pane).contains(e.client)) setKeyPane(pane);
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
    if (keysUsed_) {
        // A frame of two pixels just outside the key pane.
        const platform::Rect r = keyPane_ == Pane::source ? source : list;
        canvas.selectPen(keyFrameColour, 1);
        canvas.selectBrush(keyFrameColour);
        canvas.rectangle({r.left - 3, r.top - 3, r.right + 3, r.top - 1});
        canvas.rectangle({r.left - 3, r.bottom + 1, r.right + 3, r.bottom + 3});
        canvas.rectangle({r.left - 3, r.top - 3, r.left - 1, r.bottom + 3});
        canvas.rectangle({r.right + 1, r.top - 3, r.right + 3, r.bottom + 3});
    }
}

void MainDialog::setKeyPane(Pane pane)
{
    if (pane == keyPane_) return;
    keyPane_ = pane;
    if (keysUsed_ && window_) window_->invalidate(true);
}

bool MainDialog::onKey(const platform::KeyEvent& key)
{
    if (!window_) return false;
    const KeyCommand command = keyCommandFor(key);
    if (command.action == KeyAction::none) return false;
    if (!keysUsed_) {
        keysUsed_ = true;
        window_->invalidate(true);
    }
    // While a scan or a save runs, the only key is the one that cancels it.
    if (c_.operationsRunning() > 0) {
        if (command.action == KeyAction::cancel) requestCancel();
        return true;
    }
    switch (command.action) {
    case KeyAction::click:
        if (command.controlId == mainid::onTop) {
            Control* box = window_->child(mainid::onTop);
            if (!box) return true;
            box->setChecked(!box->isChecked());
        }
        onCommand(command.controlId, platform::commandClicked);
        break;
    case KeyAction::otherPane: setKeyPane(keyPane_ == Pane::source ? Pane::list : Pane::source); break;
    case KeyAction::cancel: break;
    case KeyAction::saveProject: saveProjectCommand(); break;
    case KeyAction::openProject: openProjectCommand(); break;
    case KeyAction::importCutList: importCutListCommand(); break;
    case KeyAction::exportCutList: exportCutListCommand(); break;
    default: paneKey(static_cast<int>(command.action)); break;
    }
    return true;
}

void MainDialog::paneKey(int a)
{
    const auto action = static_cast<KeyAction>(a);
    StreamViews& views = c_.views;
    const Pane pane = keyPane_;
    // The source pane's moves go the scroll bar's way, which also tells the viewer.
    const bool source = pane == Pane::source;
    auto barAction = [&](int code) {
        if (source) sourceBarAction(code);
        else listBarAction(code);
    };
    switch (action) {
    case KeyAction::stepBack: barAction(platform::scrollLineLeft); break;
    case KeyAction::stepForward: barAction(platform::scrollLineRight); break;
    case KeyAction::pageBack: barAction(platform::scrollPageLeft); break;
    case KeyAction::pageForward: barAction(platform::scrollPageRight); break;
    case KeyAction::first:
    case KeyAction::last: {
        if (source) stopPlaying();
        const int result = views.stepCursor(pane, action == KeyAction::first ? -INT32_MAX : INT32_MAX);
        if (source) followSourceCursor(result);
        else if (result != -1) redraw(pane);
        break;
    }
    case KeyAction::selectStart:
    case KeyAction::selectEnd:
        stopPlaying();
        if (views.selectAtCursor(pane, action == KeyAction::selectStart ? SelectEnd::start : SelectEnd::end) == 1) {
            redraw(Pane::source);
            redraw(Pane::list);
        }
        break;
    case KeyAction::playToggle:
    case KeyAction::playBackward:
    case KeyAction::playStop:
    case KeyAction::playForward: {
        // Played at the slider's first step on either side; the slider shows it.
        int position = 5;
        if (action == KeyAction::playForward || (action == KeyAction::playToggle && c_.playState == 0)) position = 6;
        if (action == KeyAction::playBackward) position = 4;
        setSlider(position);
        speedChanged();
        break;
    }
    default: break;
    }
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
    if (!unasked_ && !mayLoseEdits("Close")) return;
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
