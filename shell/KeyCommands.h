#pragma once
// The main window's keys: each command of the window has one, and the keys that
// move, select and play act on the pane that has the key focus.
#include "platform/Window.h"

#include <string>

// What a key does besides clicking a control.
enum class KeyAction {
    none,
    click,          // the command of `controlId`, as a click on it
    stepBack,       // one unit or entry
    stepForward,
    pageBack,       // a page, as a click beside the scroll bar's thumb
    pageForward,
    first,
    last,
    selectStart,    // the start or end of the selection at the cursor
    selectEnd,
    playToggle,     // play forward, or stop
    playBackward,
    playStop,
    playForward,
    otherPane,      // the key focus to the other pane
    saveProject,
    openProject,
    importCutList,
    exportCutList,
    cancel,         // a running scan or save
};

struct KeyCommand {
    KeyAction action = KeyAction::none;
    int controlId = 0;
};

KeyCommand keyCommandFor(const platform::KeyEvent& key);
// The keys of a control, as its tip shows them ("Ctrl+S"); empty when it has none.
std::string keyNamesOf(int controlId);
// A control's tip: its own text, then its keys.
std::string toolTipWithKeys(int controlId);
