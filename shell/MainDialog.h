#pragma once
// The main window's handler: routes every command, scroll action and click to
// the engine and the views, and decides what is redrawn and what the viewer is told.
#include "shell/WindowDragging.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ShellContext;
class SetupDialog;
enum class Pane;

// Controls of "MAINCUTDIALOG".
namespace mainid {
inline constexpr int console = 1001;
inline constexpr int minimise = 1034;
inline constexpr int close = 1035;
inline constexpr int about = 1026;
inline constexpr int saveAs = 1070;
inline constexpr int sourceBar = 1051;
inline constexpr int listBar = 1052;
inline constexpr int newSource = 1054;
inline constexpr int add = 1055;
inline constexpr int setup = 1027;
inline constexpr int scanWithLog = 1056;
inline constexpr int scanProgress = 1064;
inline constexpr int cancelScan = 1057;
inline constexpr int sourceInfo = 1067;
inline constexpr int listInfo = 1068;
inline constexpr int deleteSelected = 1069;
inline constexpr int saveProgress = 1065;
inline constexpr int cancelSave = 1058;
inline constexpr int save = 1071;
inline constexpr int previousSource = 1029;
inline constexpr int nextSource = 1030;
inline constexpr int undo = 1072;
inline constexpr int redo = 1073;
inline constexpr int listMpeg = 1059;
inline constexpr int openPlayer = 1020;
inline constexpr int insert = 1060;
inline constexpr int viewer50 = 1081;
inline constexpr int viewer25 = 1082;
inline constexpr int viewerMax = 1022;
inline constexpr int onTop = 1083;
inline constexpr int restartServer = 1061;
inline constexpr int deleteAll = 1074;
inline constexpr int speed = 1099;
inline constexpr int saveSelection = 1075;
inline constexpr int viewer100 = 1084;
inline constexpr int viewer75 = 1085;
} // namespace mainid

// The controls that are switched off while a scan or a save runs, in this order.
inline constexpr int commandGroup[17] = {
    mainid::close, mainid::newSource, mainid::scanWithLog, mainid::listMpeg, mainid::add, mainid::insert,
    mainid::nextSource, mainid::previousSource, mainid::setup, mainid::save, mainid::saveAs, mainid::saveSelection,
    mainid::deleteSelected, mainid::deleteAll, mainid::openPlayer, mainid::undo, mainid::redo};

// The tip of a main-dialog control; empty for a control without one.
const char* toolTipText(int controlId);

class MainDialog final : public platform::DialogHandler {
public:
    MainDialog(ShellContext& context, SetupDialog& setup);

    platform::Window* window() const { return window_; }
    bool closed() const { return closed_; }

    // Forgets the window's controls everywhere they were handed out (progress,
    // editor, panes, console, scroll bars), before the window goes away.
    void releaseWindow();

    void enableCommands(bool enable);
    void stopPlaying();
    // One step of play stepping: the same path as a click on a source-bar arrow.
    void playStep();
    // Runs the command-line scan of the start-up as a command runs a scan: the
    // commands are off meanwhile, and a close that came in is carried out after it.
    int scanAtStartUp(const char* name);

    void onInit(platform::Window& window) override;
    void onCommand(int controlId, int code) override;
    void onHorizontalScroll(int controlId, int code) override;
    void onLeftButtonDown(const platform::MouseEvent& event) override;
    void onRightButtonDown(const platform::MouseEvent& event) override;
    void onLeftButtonUp(const platform::MouseEvent& event) override;
    void onMouseMove(const platform::MouseEvent& event) override;
    void onWheel(int delta, const platform::MouseEvent& event) override;
    void onPaint(platform::Canvas& canvas) override;
    bool onKey(const platform::KeyEvent& key) override;
    // Recordings load one after the other, as "Nouvelle Source PVA" loads them; a
    // project file opens (only a project alone).
    bool onDropFiles(const std::vector<std::string>& paths) override;
    void onClose() override;

    // Closes the window as the window system's close does, but never asks.
    void closeWithoutQuestion();
    // Opens a project file as Ctrl+P does after its dialog (and the command line
    // and a drop do); 1 on success.
    int openProjectNamed(const std::string& fileName);
    // Loads a recording as "Nouvelle Source PVA" does after its dialog, asking
    // first when it is loaded already.
    int loadSourceNamed(const std::string& fileName);
    // False when the file is loaded already and the user does not want it twice.
    bool mayLoadAgain(const std::string& fileName);
    // Appends the units of the current source that another tool's cut list keeps.
    int importCutListNamed(const std::string& fileName);
    // True when the list changed since it was last saved as a PVA or a project.
    bool listChangedSinceSaved() const;

    // The pane the moving, selecting and playing keys act on.
    Pane keyPane() const { return keyPane_; }

private:
    enum class SendPosition { never, afterSuccess, always };
    // What a command does around the scan, save or listing it runs.
    struct OperationSteps {
        bool stopPlaying = false;
        bool clearPlayState = false;
        // The viewer lets go of its file first and is told the file and position afterwards.
        bool tellViewer = false;
        SendPosition sendPosition = SendPosition::never;
        bool redrawSource = false;
    };
    // Runs `operation` with the commands off and the engine marked busy; a close
    // that came in meanwhile is carried out after it. Returns the operation's result.
    int runOperation(const OperationSteps& steps, const std::function<int()>& operation);
    uint64_t windowId() const;
    void redraw(Pane pane);
    void hide(std::initializer_list<int> ids);
    void setSlider(int position);
    void setPlayState(int32_t state);
    void openSource(int withLog);
    void listMpegFile();
    void switchSource(bool next);
    void saveCommand(int askName, int selectionOnly);
    void requestCancel();
    void sourceBarAction(int code);
    // After a move of the source cursor (result -1: it did not move): redraws and
    // tells the viewer the position.
    void followSourceCursor(int result);
    void listBarAction(int code);
    void speedChanged();
    // After a scan or a save: carries out a close that came in meanwhile. True
    // when the window is gone.
    bool closeIfAsked();
    void close();
    // A key that moves, selects or plays in the key pane.
    void paneKey(int action);
    void saveProjectCommand();
    void openProjectCommand();
    void importCutListCommand();
    void exportCutListCommand();
    // Asks whether to save the changed list as a project first. True when the
    // caller may go on (saved, or not wanted), false to stay.
    bool mayLoseEdits(const char* going);
    void setKeyPane(Pane pane);

    ShellContext& c_;
    SetupDialog& setup_;
    platform::Window* window_ = nullptr;
    WindowDragging dragging_;
    bool closeAsked_ = false;
    bool closed_ = false;
    // A viewer that could not be started is not tried again until playing stops.
    bool viewerGivenUp_ = false;
    Pane keyPane_{};
    // The key pane is framed once a key has been used, so that a window worked by
    // the mouse alone looks as it always did.
    bool keysUsed_ = false;
    uint64_t savedChanges_ = 0;
    bool unasked_ = false;
};
