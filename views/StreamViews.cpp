#include "views/StreamViews.h"

#include "platform/Canvas.h"
#include "platform/Control.h"
#include "platform/ScrollBar.h"
#include "source/SourceAnalyser.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

using platform::Point;
using platform::Rect;

namespace {

constexpr platform::Rgb black = 0x000000;
constexpr platform::Rgb normalCell = 0xC8C8C8;
constexpr platform::Rgb selectedCell = 0x646464;

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(out.data(), out.size() + 1, fmt, again);
    va_end(again);
    return out;
}

struct TimeCode {
    double hours, minutes, seconds;
};

// The time_code of a GOP header as the 32 bits that follow its start code.
TimeCode gopClockTime(uint32_t word)
{
    return {static_cast<double>((word >> 26) & 0x1F), static_cast<double>((word >> 20) & 0x3F),
            static_cast<double>((word >> 13) & 0x3F)};
}

bool packetReadable(const SourceStream& src, int32_t p)
{
    return src.allocated() && p >= 0 && p < src.pktCount;
}

bool unitReadable(const SourceStream& src, int32_t unit)
{
    return src.allocated() && unit >= 0 && unit < src.lastCutPoint && packetReadable(src, src.cutPointPkt[unit]);
}

// The lines a cell shows for packet p of src; the last pieces differ between
// the panes.
std::string cellText(std::string text, const SourceStream& src, int32_t p, int32_t startFrame, bool sourcePane)
{
    const ClockTime t = ptsClockTime(src.vPts[p]);
    text = format("%spts: %02.0f:%02.0f:%02.0f.%02.0f\n", text.c_str(), t.hours, t.minutes, t.seconds, t.hundredths);
    const TimeCode tc = gopClockTime(src.gopTimeCode[p]);
    text = format("%stimecode: %02.0f:%02.0f:%02.0f\n", text.c_str(), tc.hours, tc.minutes, tc.seconds);
    text = format(sourcePane ? "%sstartframe:\n %d " : "%sstartframe:\n %d", text.c_str(), startFrame);
    switch (src.picType[p]) {
    case 1: text = format(sourcePane ? "%s Type I\n" : "%s Type I", text.c_str()); break;
    case 2: text = format(sourcePane ? "%s Type P\n" : "%s Type P", text.c_str()); break;
    case 3: text = format(sourcePane ? "%s Type B\n" : "%s Type B", text.c_str()); break;
    default: break;
    }
    return text;
}

// Whether cell i lies in a selection that has both ends set.
bool inSelection(int32_t i, int32_t selStart, int32_t selEnd)
{
    return selStart > -1 && selEnd > -1 && selStart <= i && i <= selEnd;
}

} // namespace

Rect sourcePaneRectFor(platform::Size c)
{
    return {c.width / 45, c.height * 11 / 50, c.width - c.width / 45, c.height * 19 / 50 - 1};
}

Rect listPaneRectFor(platform::Size c)
{
    return {c.width / 45, c.height * 25 / 50, c.width - c.width / 45, c.height * 33 / 50 - 3};
}

ClockTime ptsClockTime(uint32_t pts)
{
    // A hundredth of a second is 900 ticks; every field is truncated.
    const uint32_t h = pts / 900;
    return {static_cast<double>(h / 360000), static_cast<double>(h / 6000 % 60), static_cast<double>(h / 100 % 60),
            static_cast<double>(h % 100)};
}

StreamViews::StreamViews(SourceAnalyser& app, CutEditor& editor) : app_(app), editor_(editor)
{
    // "<" and ">" show another source: its bar must follow its cursor.
    app_.onCurrentSourceChanged = [this] { updateScrollBar(Pane::source); };
}

StreamViews::~StreamViews() { app_.onCurrentSourceChanged = nullptr; }

int StreamViews::initScrollBars(platform::ScrollBar* sourceBar, platform::ScrollBar* listBar)
{
    sourceBar_ = sourceBar;
    listBar_ = listBar;
    using platform::ScrollBar;
    const ScrollBar::Info info{0, scrollRangeMax, scrollRangeMax, 0};
    for (ScrollBar* b : {sourceBar, listBar})
        if (b) b->setInfo(info, ScrollBar::setsRange | ScrollBar::setsPage | ScrollBar::setsPosition);
    return 1;
}

int StreamViews::setSourcePaneRect(int left, int top, int right, int bottom)
{
    sourceRect_ = {left, top, right, bottom};
    return 1;
}

int StreamViews::setListPaneRect(int left, int top, int right, int bottom)
{
    listRect_ = {left, top, right, bottom};
    return 1;
}

Rect StreamViews::cellRect(const Rect& pane, int k) const
{
    const int d = 2 * zoom + 1;
    const int width = pane.right - pane.left;
    return {pane.left + width * k / d, pane.top, pane.left + (k + 1) * width / d, pane.bottom};
}

int32_t StreamViews::unitCount(Pane pane) const
{
    if (pane == Pane::source) return std::max(app_.current().lastCutPoint, 0);
    return editor_.currentList().count;
}

int32_t StreamViews::cursorOf(Pane pane) const
{
    return pane == Pane::source ? app_.current().cursor : editor_.currentList().cursor;
}

void StreamViews::setCursor(Pane pane, int32_t cursor)
{
    if (pane == Pane::source)
        app_.current().cursor = cursor;
    else if (editor_.history && editor_.history->currentLevel >= 0)
        editor_.currentListForEdit().cursor = cursor;
}

void StreamViews::setBarPosition(Pane pane, int32_t cursor, int32_t n)
{
    platform::ScrollBar* b = bar(pane);
    if (!b) return;
    platform::ScrollBar::Info info;
    info.pos = n > 0 ? static_cast<int>(static_cast<double>(cursor) / n * scrollRangeMax) : 0;
    b->setInfo(info, platform::ScrollBar::setsPosition);
}

platform::Control* StreamViews::lineFreeFor(platform::Control* line) const { return app_.busy ? nullptr : line; }

int StreamViews::stepCursor(Pane pane, int delta)
{
    const int32_t n = unitCount(pane);
    const int32_t old = cursorOf(pane);
    int64_t moved = static_cast<int64_t>(old) + delta;
    if (moved < 0)
        moved = 0;
    else if (moved > n - 1)
        moved = std::max(n - 1, 0);
    if (moved == old) return -1;
    setCursor(pane, static_cast<int32_t>(moved));
    setBarPosition(pane, static_cast<int32_t>(moved), n);
    return 1;
}

int StreamViews::trackCursor(Pane pane)
{
    const int32_t n = unitCount(pane);
    platform::ScrollBar* b = bar(pane);
    if (n <= 0 || !b) return -1;
    const int t = b->trackPosition();
    platform::ScrollBar::Info info;
    info.pos = t;
    b->setInfo(info, platform::ScrollBar::setsPosition);
    // A track position past the last page would point behind the last unit.
    const int32_t cursor = std::clamp(static_cast<int32_t>(n * static_cast<double>(t) * 0.00001), 0, n - 1);
    const int32_t old = cursorOf(pane);
    setCursor(pane, cursor);
    return cursor != old ? 1 : -1;
}

int StreamViews::hitTest(int x, int y, SelectEnd end)
{
    const Point p{x, y};
    for (Pane pane : {Pane::source, Pane::list}) {
        const Rect& r = paneRect(pane);
        if (!r.contains(p)) continue;
        const int32_t n = unitCount(pane);
        const int32_t cursor = cursorOf(pane);
        for (int k = 0; k < 2 * zoom + 1; ++k) {
            const int32_t i = cursor - zoom + k;
            if (cellRect(r, k).contains(p) && i >= 0 && i < n) editor_.selectUnit(pane, i, end);
        }
        if (pane == Pane::list) editor_.computeTotals();
        return 1;
    }
    return 0;
}

int StreamViews::selectAtCursor(Pane pane, SelectEnd end)
{
    const int32_t cursor = cursorOf(pane);
    if (cursor < 0 || cursor >= unitCount(pane)) return -1;
    editor_.selectUnit(pane, cursor, end);
    if (pane == Pane::list) editor_.computeTotals();
    return 1;
}

void StreamViews::updateScrollBar(Pane pane)
{
    platform::ScrollBar* b = bar(pane);
    if (!b) return;
    const int32_t n = unitCount(pane);
    platform::ScrollBar::Info info;
    info.page = n > 0 ? scrollRangeMax / n : scrollRangeMax;
    info.pos = n > 0 ? static_cast<int>(static_cast<double>(cursorOf(pane)) / n * scrollRangeMax) : 0;
    b->setInfo(info, platform::ScrollBar::setsPage | platform::ScrollBar::setsPosition);
}

void StreamViews::drawCellFrame(platform::Canvas& canvas, const Rect& cell, int k, bool selected) const
{
    canvas.selectPen(black, 1);
    canvas.selectBrush(selected ? selectedCell : normalCell);
    canvas.setTextBackground(selected ? selectedCell : normalCell);
    canvas.rectangle(cell);
    if (k != zoom) return;
    // Two triangles on the cell's left edge mark the place in front of the centre
    // unit (where "Inserer" puts new entries in the list).
    canvas.selectBrush(black);
    const int lt = cell.left + 3, tt = cell.top + 3, bt = cell.bottom - 3;
    const Point top[3] = {{lt - 9, tt - 2}, {lt + 3, tt - 2}, {lt - 3, tt + 8}};
    const Point bottom[3] = {{lt - 9, bt + 1}, {lt + 3, bt + 1}, {lt - 3, bt - 9}};
    canvas.polygon(top, 3);
    canvas.polygon(bottom, 3);
}

static Rect textRect(const Rect& cell) { return {cell.left + 3, cell.top + 3, cell.right - 3, cell.bottom - 3}; }

std::string StreamViews::sourceCellText(int32_t unit) const
{
    const SourceStream& src = app_.current();
    if (!unitReadable(src, unit)) return {};
    return cellText(format("mpeg2 packet: %d\n", unit), src, src.cutPointPkt[unit], src.cutPointFrame[unit], true);
}

std::string StreamViews::listCellText(int32_t entry) const
{
    const CutList& list = editor_.currentList();
    if (entry < 0 || entry >= list.count) return {};
    const CutEntry e = list.entry(entry);
    if (e.source < 0 || e.source >= maxSources || !packetReadable(app_.sources[e.source], e.firstPacket)) return {};
    return cellText(format("src: %d packet: %d\n", e.source, e.unit), app_.sources[e.source], e.firstPacket,
                    e.startFrame, false);
}

int StreamViews::paintSourcePane(platform::Canvas& canvas)
{
    const SourceStream& src = app_.current();
    canvas.selectStockFont();
    canvas.setTextColor(black);
    for (int k = 0; k < 2 * zoom + 1; ++k) {
        const Rect cell = cellRect(sourceRect_, k);
        const int32_t i = src.cursor - zoom + k;
        const bool selected = src.lastCutPoint >= 1 && inSelection(i, src.selStart, src.selEnd);
        drawCellFrame(canvas, cell, k, selected);
        const std::string text = sourceCellText(i);
        if (!text.empty()) canvas.drawText(textRect(cell), text.c_str());
    }
    if (platform::Control* line = lineFreeFor(sourceLine_)) line->setText(sourceInfoText().c_str());
    updateScrollBar(Pane::source);
    return 1;
}

int StreamViews::paintListPane(platform::Canvas& canvas)
{
    const CutList& list = editor_.currentList();
    canvas.selectStockFont();
    canvas.setTextColor(black);
    for (int k = 0; k < 2 * zoom + 1; ++k) {
        const Rect cell = cellRect(listRect_, k);
        const int32_t i = list.cursor - zoom + k;
        const bool selected = list.count > 0 && inSelection(i, list.selStart, list.selEnd);
        drawCellFrame(canvas, cell, k, selected);
        const std::string text = listCellText(i);
        if (!text.empty()) canvas.drawText(textRect(cell), text.c_str());
        // A bar at every cut: where the next entry does not go on from this one.
        if (i >= 0 && i < list.count - 1
            && (list.endPacket[i] != list.firstPacket[i + 1] || list.source[i] != list.source[i + 1])) {
            canvas.selectBrush(black);
            canvas.rectangle({cell.right - 7, cell.top, cell.right - 1, cell.bottom});
        }
    }
    if (platform::Control* line = lineFreeFor(listLine_)) line->setText(listInfoText().c_str());
    updateScrollBar(Pane::list);
    return 1;
}

std::string StreamViews::sourceInfoText() const
{
    if (app_.sourceCount <= 0) return productLine;
    const SourceStream& src = app_.current();
    const int32_t a = src.selStart, b = src.selEnd;
    ClockTime ta{0, 0, 0, 0}, tb{0, 0, 0, 0};
    if (a >= 0 && b >= a && unitReadable(src, a) && unitReadable(src, b)) {
        ta = ptsClockTime(src.vPts[src.cutPointPkt[a]]);
        tb = ptsClockTime(src.vPts[src.cutPointPkt[b]]);
    }
    std::string text = format("Source PVA:  Nr.%d   ", app_.currentSource);
    if (a != -1 && b != -1)
        text += format("Selection: %02.0f:%02.0f:%02.0f.%02.0f -> %02.0f:%02.0f:%02.0f.%02.0f   ", ta.hours, ta.minutes,
                       ta.seconds, ta.hundredths, tb.hours, tb.minutes, tb.seconds, tb.hundredths);
    text += format("File: %s", src.fileName.c_str());
    return text;
}

std::string StreamViews::listInfoText() const
{
    const double s = editor_.selectedSeconds > 0 ? editor_.selectedSeconds : 0;
    const uint64_t whole = static_cast<uint64_t>(s);
    return format("New PVA: %d %4.1fMB Sel:%4.1fMB %02.0f:%02.0f:%02.0f", editor_.currentList().count, editor_.totalMB,
                  editor_.selectedMB, static_cast<double>(whole / 3600), static_cast<double>(whole / 60 % 60),
                  static_cast<double>(whole % 60));
}
