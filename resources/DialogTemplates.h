#pragma once
// The two dialog templates of the program as data: every control with its id,
// kind, caption (UTF-8) and rectangle in dialog units. Dialog units are those of
// an 8-point "MS Sans Serif": 1 unit is 1.5 pixels across and 1.625 pixels down.

namespace resources {

enum class ControlKind {
    pushButton,
    bitmapButton,       // a push button that shows a bitmap
    checkBox,           // an auto check box
    pushLikeCheckBox,   // an auto check box drawn as a push button
    edit,               // a one-line edit control
    console,            // a multi-line read-only edit control with a vertical scroll bar
    staticText,
    picture,            // a static control that shows a bitmap
    groupBox,
    scrollBar,          // a horizontal scroll bar
    progressBar,
    trackbar,           // a horizontal trackbar without tick marks
};

inline constexpr int noControlId = 65535;   // a static control without id

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* caption;   // "" when the control has none
    const char* bitmap;    // bitmap resource shown by a bitmap button or picture, else ""
    int x, y, width, height;
};

struct DialogTemplate {
    const char* name;
    int width, height;   // client area, dialog units
    const ControlTemplate* controls;
    int controlCount;
};

// "MAINCUTDIALOG" and "PVADIALOG".
const DialogTemplate& mainCutDialogTemplate();
const DialogTemplate& setupDialogTemplate();
// By name; null for an unknown name.
const DialogTemplate* findDialogTemplate(const char* name);

// Static texts and pictures belong to the window system's "STATIC" class.
inline bool isStaticClass(ControlKind kind) { return kind == ControlKind::staticText || kind == ControlKind::picture; }

// Dialog units to pixels, rounded to the nearest pixel as the window system
// does (438 x 281 units are 657 x 457 pixels).
inline int dluToPixelsX(int units) { return (units * 3 + 1) / 2; }
inline int dluToPixelsY(int units) { return (units * 13 + 4) / 8; }

} // namespace resources
