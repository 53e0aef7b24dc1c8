#pragma once
// The two strips of cells of the main window: the source pane (the units of the
// current source around its cursor) and the new-PVA pane (the entries of the cut
// list around its cursor), their scroll bars, and the mapping of scroll actions
// and clicks to cursor moves and selections.
#include "cut/CutEditor.h"
#include "platform/Geometry.h"

#include <cstdint>
#include <string>

class SourceAnalyser;
namespace platform {
class Canvas;
class Control;
class ScrollBar;
}

// The scroll bars work on a fixed range, whatever the number of units.
inline constexpr int scrollRangeMax = 100000;

// The program's name and version with a short notice: the window title, the first
// line of the start-up banner, and the source info line while no source is loaded.
inline constexpr const char* productLine = "ORVANE 3.50  cuts and joins PVA recordings\n";

// The panes' places in a client area of the given size.
platform::Rect sourcePaneRectFor(platform::Size client);
platform::Rect listPaneRectFor(platform::Size client);

// A time stamp (90 kHz ticks) as hours, minutes, seconds and hundredths, each
// truncated, as doubles for the "%02.0f" formats.
struct ClockTime {
    double hours, minutes, seconds, hundredths;
};
ClockTime ptsClockTime(uint32_t pts);

class StreamViews {
public:
    StreamViews(SourceAnalyser& app, CutEditor& editor);
    ~StreamViews();
    StreamViews(const StreamViews&) = delete;
    StreamViews& operator=(const StreamViews&) = delete;

    // Cells on each side of the centre cell.
    int32_t zoom = 2;

    // Keeps both bars; each gets the range 0 to 100,000, one page and position 0.
    int initScrollBars(platform::ScrollBar* sourceBar, platform::ScrollBar* listBar);
    // The static texts that show each pane's info line; null: not shown.
    void attachInfoLines(platform::Control* sourceLine, platform::Control* listLine)
    {
        sourceLine_ = sourceLine;
        listLine_ = listLine;
    }
    platform::Control* listInfoLine() const { return listLine_; }
    int setSourcePaneRect(int left, int top, int right, int bottom);
    int setListPaneRect(int left, int top, int right, int bottom);
    const platform::Rect& sourcePaneRect() const { return sourceRect_; }
    const platform::Rect& listPaneRect() const { return listRect_; }
    const platform::Rect& paneRect(Pane pane) const { return pane == Pane::source ? sourceRect_ : listRect_; }

    // Cell k of a pane rectangle.
    platform::Rect cellRect(const platform::Rect& pane, int k) const;

    // Moves the pane's cursor by delta units or entries, within 0 to n - 1.
    // 1 when it moved, -1 when not.
    int stepCursor(Pane pane, int delta);
    // Puts the cursor where the user drags the pane's scroll bar thumb.
    int trackCursor(Pane pane);
    // A click at client point (x, y) selects the start or end at the unit or
    // entry under it. 1 when the point lies in a pane (even on an empty cell), 0 when
    // in neither.
    int hitTest(int x, int y, SelectEnd end);
    // Selects the start or end at the pane's cursor, as a click on the centre
    // cell does. 1, or -1 when the pane has nothing at its cursor.
    int selectAtCursor(Pane pane, SelectEnd end);

    // Page and position of the pane's bar from its cursor and its number of units
    // or entries.
    void updateScrollBar(Pane pane);

    // Draw the pane, set its info line and update its scroll bar. 1.
    int paintSourcePane(platform::Canvas& canvas);
    int paintListPane(platform::Canvas& canvas);

    // The info lines and cell texts as the panes show them.
    std::string sourceInfoText() const;
    std::string listInfoText() const;
    // Empty when the cell at index i has no unit or entry.
    std::string sourceCellText(int32_t unit) const;
    std::string listCellText(int32_t entry) const;

private:
    // The line, or null while a scan or a save runs: it shows their speed then, for
    // as long as they keep it, not the pane's line of the moment.
    platform::Control* lineFreeFor(platform::Control* line) const;
    int32_t unitCount(Pane pane) const;
    int32_t cursorOf(Pane pane) const;
    // Stores a new cursor; the list's only exists from the first edit on.
    void setCursor(Pane pane, int32_t cursor);
    platform::ScrollBar* bar(Pane pane) const { return pane == Pane::source ? sourceBar_ : listBar_; }
    void setBarPosition(Pane pane, int32_t cursor, int32_t n);
    void drawCellFrame(platform::Canvas& canvas, const platform::Rect& cell, int k, bool selected) const;

    SourceAnalyser& app_;
    CutEditor& editor_;
    platform::Rect sourceRect_, listRect_;
    platform::ScrollBar* sourceBar_ = nullptr;
    platform::ScrollBar* listBar_ = nullptr;
    platform::Control* sourceLine_ = nullptr;
    platform::Control* listLine_ = nullptr;
};
