#include "shell/KeyCommands.h"

#include "shell/MainDialog.h"

#include <cstring>

using platform::Key;
using platform::KeyEvent;

namespace {

constexpr unsigned plain = 0, ctrl = 1, shift = 2, alt = 4;

struct Binding {
    Key key;
    char character;
    unsigned modifiers;
    KeyAction action;
    int controlId;      // click: the control; otherwise the control whose tip names the key (0: none)
    const char* name;
};

// One table for what a key does and what the tips say.
constexpr Binding bindings[] = {
    {Key::left, 0, plain, KeyAction::stepBack, mainid::sourceBar, "Left/Right: one unit"},
    {Key::right, 0, plain, KeyAction::stepForward, 0, nullptr},
    {Key::pageUp, 0, plain, KeyAction::pageBack, mainid::sourceBar, "Page Up/Down: a page"},
    {Key::pageDown, 0, plain, KeyAction::pageForward, 0, nullptr},
    {Key::home, 0, plain, KeyAction::first, mainid::sourceBar, "Home/End"},
    {Key::end, 0, plain, KeyAction::last, 0, nullptr},
    {Key::character, '[', plain, KeyAction::selectStart, mainid::sourceBar, "[ or I: selection start"},
    {Key::character, 'i', plain, KeyAction::selectStart, 0, nullptr},
    {Key::character, ']', plain, KeyAction::selectEnd, mainid::sourceBar, "] or O: selection end"},
    {Key::character, 'o', plain, KeyAction::selectEnd, 0, nullptr},
    {Key::tab, 0, plain, KeyAction::otherPane, mainid::sourceBar, "Tab: the other pane"},
    {Key::backtab, 0, shift, KeyAction::otherPane, 0, nullptr},
    {Key::space, 0, plain, KeyAction::playToggle, mainid::speed, "Space: play/stop"},
    {Key::character, 'j', plain, KeyAction::playBackward, mainid::speed, "J/K/L: backward, stop, forward"},
    {Key::character, 'k', plain, KeyAction::playStop, 0, nullptr},
    {Key::character, 'l', plain, KeyAction::playForward, 0, nullptr},
    {Key::enter, 0, plain, KeyAction::click, mainid::add, "Enter"},
    {Key::insert, 0, plain, KeyAction::click, mainid::insert, "Insert"},
    {Key::del, 0, plain, KeyAction::click, mainid::deleteSelected, "Delete"},
    {Key::del, 0, shift, KeyAction::click, mainid::deleteAll, "Shift+Delete"},
    {Key::character, 'z', ctrl, KeyAction::click, mainid::undo, "Ctrl+Z"},
    {Key::character, 'y', ctrl, KeyAction::click, mainid::redo, "Ctrl+Y"},
    {Key::character, 'z', ctrl | shift, KeyAction::click, mainid::redo, "Ctrl+Shift+Z"},
    {Key::character, 's', ctrl, KeyAction::click, mainid::save, "Ctrl+S"},
    {Key::character, 's', ctrl | shift, KeyAction::click, mainid::saveAs, "Ctrl+Shift+S"},
    {Key::character, 'e', ctrl, KeyAction::click, mainid::saveSelection, "Ctrl+E"},
    {Key::character, 'o', ctrl, KeyAction::click, mainid::newSource, "Ctrl+O"},
    {Key::pageUp, 0, ctrl, KeyAction::click, mainid::previousSource, "Ctrl+Page Up"},
    {Key::pageDown, 0, ctrl, KeyAction::click, mainid::nextSource, "Ctrl+Page Down"},
    {Key::f2, 0, plain, KeyAction::click, mainid::setup, "F2"},
    {Key::f1, 0, plain, KeyAction::click, mainid::about, "F1"},
    {Key::character, 'm', ctrl, KeyAction::click, mainid::minimise, "Ctrl+M"},
    {Key::character, 'q', ctrl, KeyAction::click, mainid::close, "Ctrl+Q"},
    {Key::character, '1', ctrl, KeyAction::click, mainid::viewer100, "Ctrl+1"},
    {Key::character, '2', ctrl, KeyAction::click, mainid::viewer75, "Ctrl+2"},
    {Key::character, '3', ctrl, KeyAction::click, mainid::viewer50, "Ctrl+3"},
    {Key::character, '4', ctrl, KeyAction::click, mainid::viewer25, "Ctrl+4"},
    {Key::character, '5', ctrl, KeyAction::click, mainid::viewerMax, "Ctrl+5"},
    {Key::character, 't', ctrl, KeyAction::click, mainid::onTop, "Ctrl+T"},
    {Key::escape, 0, plain, KeyAction::cancel, mainid::cancelScan, "Escape"},
    {Key::escape, 0, plain, KeyAction::cancel, mainid::cancelSave, "Escape"},
    {Key::character, 'p', ctrl | shift, KeyAction::saveProject, mainid::save, "Ctrl+Shift+P: save the project"},
    {Key::character, 'p', ctrl, KeyAction::openProject, mainid::newSource, "Ctrl+P: open a project"},
    {Key::character, 'l', ctrl, KeyAction::importCutList, mainid::newSource, "Ctrl+L: add what a cut list keeps"},
    {Key::character, 'l', ctrl | shift, KeyAction::exportCutList, mainid::saveAs, "Ctrl+Shift+L: export a cut list"},
};

unsigned modifiersOf(const KeyEvent& k)
{
    return (k.control ? ctrl : 0u) | (k.shift ? shift : 0u) | (k.alt ? alt : 0u);
}

} // namespace

KeyCommand keyCommandFor(const KeyEvent& key)
{
    const unsigned m = modifiersOf(key);
    for (const Binding& b : bindings) {
        if (b.key != key.key || b.modifiers != m) continue;
        if (b.key == Key::character && b.character != key.character) continue;
        return {b.action, b.action == KeyAction::click ? b.controlId : 0};
    }
    return {};
}

std::string keyNamesOf(int controlId)
{
    std::string names;
    for (const Binding& b : bindings) {
        if (b.controlId != controlId || !b.name) continue;
        if (!names.empty()) names += ", ";
        names += b.name;
    }
    return names;
}

std::string toolTipWithKeys(int controlId)
{
    std::string tip = toolTipText(controlId);
    const std::string keys = keyNamesOf(controlId);
    if (keys.empty()) return tip;
    if (!tip.empty()) tip += '\n';
    return tip + "key: " + keys;
}
