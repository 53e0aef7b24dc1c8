#include "cut/CutEditor.h"

#include "core/LogConsole.h"
#include "platform/Control.h"
#include "source/SourceAnalyser.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace {

// Level -1 of the history: never stored, never written.
const CutList& emptyList()
{
    static const CutList list;
    return list;
}

void copyColumns(CutList& dst, int32_t dstAt, const CutList& src, int32_t srcAt, int32_t n)
{
    if (n <= 0) return;
    size_t bytes = static_cast<size_t>(n) * sizeof(int32_t);
    std::memmove(dst.source.get() + dstAt, src.source.get() + srcAt, bytes);
    std::memmove(dst.unit.get() + dstAt, src.unit.get() + srcAt, bytes);
    std::memmove(dst.firstPacket.get() + dstAt, src.firstPacket.get() + srcAt, bytes);
    std::memmove(dst.endPacket.get() + dstAt, src.endPacket.get() + srcAt, bytes);
    std::memmove(dst.startFrame.get() + dstAt, src.startFrame.get() + srcAt, bytes);
}

// Copies a level; only the entries in use are worth moving. dst has room for them.
void copyLevel(CutList& dst, const CutList& src)
{
    copyColumns(dst, 0, src, 0, src.count);
    dst.count = src.count;
    dst.cursor = src.cursor;
    dst.selStart = src.selStart;
    dst.selEnd = src.selEnd;
}

void reportOutOfMemory(LogConsole& log) { log.write("ERROR: OUT OF MEMORY\n", 1); }

} // namespace

CutEditor::CutEditor(SourceAnalyser& application) : app(application)
{
    history.reset(new (std::nothrow) CutHistory);
    if (!ready()) reportOutOfMemory(app.log);
}

const CutList& CutEditor::currentList() const
{
    if (!history || history->currentLevel < 0) return emptyList();
    return history->levels[history->currentLevel];
}

CutList& CutEditor::currentListForEdit() { return history->levels[history->currentLevel]; }

bool CutEditor::pushLevel()
{
    CutHistory& h = *history;
    const bool full = h.currentLevel > cutHistoryLevels - 2;
    // The level that receives the copy: the oldest one when it is dropped.
    CutList& target = full ? h.levels[0] : h.levels[h.currentLevel + 1];
    if (h.currentLevel >= 0 && !target.reserve(static_cast<size_t>(h.levels[h.currentLevel].count))) return false;
    if (full) {
        // Dropping the oldest level passes the levels' storage down; nothing is copied.
        std::rotate(h.levels, h.levels + 1, h.levels + h.levelCount);
        --h.levelCount;
        --h.currentLevel;
    }
    if (h.currentLevel >= 0)
        copyLevel(h.levels[h.currentLevel + 1], h.levels[h.currentLevel]);
    else
        h.levels[0].makeEmpty();
    ++h.currentLevel;
    h.levelCount = h.currentLevel + 1;
    return true;
}

int CutEditor::insertUnits(int32_t s, int32_t a, int32_t b, int32_t at)
{
    if (!ready()) return -1;
    if (!pushLevel()) {
        reportOutOfMemory(app.log);
        return -1;
    }
    int result = -1;
    CutList& list = currentListForEdit();
    const SourceStream* src = app.usableSource(s);
    // Unit i reads cut point i + 1, so a unit at or beyond lastCutPoint has no end.
    if (src && a >= 0 && b >= 0 && a <= b && b < src->lastCutPoint) {
        const int64_t limit = app.limits.listEntries;
        if (int64_t{list.count} + (b - a) > limit - 1) {
            app.log.writef("ERROR:insertSrcPicPkts: New PVA to big: more than %lld entries\n",
                           static_cast<long long>(limit));
        } else if (!list.reserve(static_cast<size_t>(list.count) + static_cast<size_t>(b - a) + 1)) {
            reportOutOfMemory(app.log);
        } else {
            const int32_t n = b - a + 1;
            const int32_t target = std::clamp(at, 0, list.count);
            copyColumns(list, target + n, list, target, list.count - target);
            for (int32_t i = a; i <= b; ++i) {
                const int32_t k = target + i - a;
                list.source[k] = s;
                list.unit[k] = i;
                list.firstPacket[k] = src->cutPointPkt[i];
                list.endPacket[k] = src->cutPointPkt[i + 1];
                list.startFrame[k] = src->cutPointFrame[i];
            }
            list.count += n;
            ++changes_;
            result = 1;
        }
    }
    // Also after a refusal: the pushed level makes undo possible.
    updateUndoButtons();
    computeTotals();
    return result;
}

int CutEditor::insertSrcPicPkts(bool atEnd)
{
    const int32_t s = app.currentSource;
    const SourceStream* src = app.usableSource(s);
    const int32_t at = atEnd ? INT32_MAX : currentList().cursor;
    return insertUnits(s, src ? src->selStart : -1, src ? src->selEnd : -1, at);
}

int CutEditor::deleteEntries(int32_t first, int32_t last) { return deleteInNewLevel(false, first, last); }

int CutEditor::deleteSelection(bool all)
{
    const CutList& list = currentList();
    return deleteInNewLevel(all, list.selStart, list.selEnd);
}

int CutEditor::deleteInNewLevel(bool selectAll, int32_t first, int32_t last)
{
    if (!ready()) return -1;
    if (!pushLevel()) {
        reportOutOfMemory(app.log);
        return -1;
    }
    int result = -1;
    CutList& list = currentListForEdit();
    if (selectAll) {
        // The new level keeps this selection when there is nothing to delete.
        list.selStart = first = 0;
        list.selEnd = last = list.count - 1;
    }
    last = std::min(last, list.count - 1);
    if (first >= 0 && last >= 0 && first <= last) {
        copyColumns(list, first, list, last + 1, list.count - (last + 1));
        list.count -= last - first + 1;
        list.selStart = list.selEnd = -1;
        if (list.cursor > list.count) list.cursor = std::max(list.count - 1, 0);
        ++changes_;
        result = 1;
    }
    updateUndoButtons();
    computeTotals();
    return result;
}

int CutEditor::undo()
{
    if (!history) return -1;
    if (history->currentLevel > -1) {
        --history->currentLevel;
        ++changes_;
    }
    updateUndoButtons();
    computeTotals();
    return 1;
}

int CutEditor::redo()
{
    if (!history) return -1;
    if (history->currentLevel < history->levelCount - 1) {
        ++history->currentLevel;
        ++changes_;
    }
    updateUndoButtons();
    computeTotals();
    return 1;
}

void CutEditor::selectUnit(Pane pane, int32_t index, SelectEnd end)
{
    int32_t* selStart = nullptr;
    int32_t* selEnd = nullptr;
    if (pane == Pane::source) {
        SourceStream* src = app.usableSource(app.currentSource);
        if (!src || index < 0 || index >= src->lastCutPoint) return;
        selStart = &src->selStart;
        selEnd = &src->selEnd;
    } else {
        if (history && history->currentLevel >= 0) {
            CutList& list = currentListForEdit();
            if (index >= 0 && index < list.count) {
                selStart = &list.selStart;
                selEnd = &list.selEnd;
            }
        }
        if (!selStart) {
            computeTotals();
            return;
        }
    }

    if (end == SelectEnd::start) {
        if (index > *selEnd)
            *selStart = *selEnd = index;
        else
            *selStart = index;
    } else {
        if (index < *selStart)
            *selStart = *selEnd = index;
        else
            *selEnd = index;
    }
    if (pane == Pane::list) computeTotals();
}

void CutEditor::selectRange(Pane pane, int32_t first, int32_t last)
{
    selectUnit(pane, first, SelectEnd::start);
    selectUnit(pane, last, SelectEnd::end);
}

int CutEditor::setListCursor(int32_t position)
{
    const int32_t count = currentList().count;
    if (position < 0 || position > count) return -1;
    // The empty list at level -1 is not stored; its cursor is always 0.
    if (history && history->currentLevel >= 0) currentListForEdit().cursor = position;
    return 1;
}

int CutEditor::computeTotals()
{
    const CutList& list = currentList();
    uint64_t total = 0, selected = 0;
    double seconds = 0;
    for (int32_t j = 0; j < list.count; ++j) {
        const SourceStream* usable = app.usableSource(list.source[j]);
        if (!usable) continue;
        const SourceStream& src = *usable;
        const int32_t first = std::max(list.firstPacket[j], 0);
        const int32_t end = std::min(list.endPacket[j], src.pktCount);
        uint64_t bytes = 0;
        for (int32_t k = first; k < end; ++k) bytes += src.pktHeader[k].length;
        total += bytes;
        if (list.selStart <= j && j <= list.selEnd) {
            selected += bytes;
            const int32_t last = src.pktCount - 1;
            const uint32_t from = src.vPts[std::min(first, last)];
            const uint32_t to = src.vPts[std::clamp(list.endPacket[j], 0, last)];
            seconds += static_cast<uint32_t>(to - from) / 90000.0;
        }
    }
    totalMB = static_cast<double>(total) / 1048576.0;
    selectedMB = static_cast<double>(selected) / 1048576.0;
    selectedSeconds = seconds;
    return 1;
}

void CutEditor::attachControls(platform::Control* undoButton, platform::Control* redoButton, platform::Control* window)
{
    undoButton_ = undoButton;
    redoButton_ = redoButton;
    window_ = window;
}

int CutEditor::updateUndoButtons()
{
    platform::Control* undoButton = undoButton_;
    platform::Control* redoButton = redoButton_;
    if (!undoButton || !redoButton) return -1;
    const int32_t levelCount = history ? history->levelCount : 0;
    const int32_t currentLevel = history ? history->currentLevel : -1;
    if (levelCount == 0) {
        undoButton->enable(false);
        redoButton->enable(false);
    } else if (levelCount == currentLevel + 1) {
        undoButton->enable(true);
        redoButton->enable(false);
    } else {
        undoButton->enable(true);
        redoButton->enable(true);
    }
    return 1;
}

int CutEditor::resetEditor()
{
    // The save reads the source index and the packet list packet by packet.
    if (app.busy != 0) {
        app.log.write("ERROR: can't reset the sources while a save is running\n", 1);
        return -1;
    }
    packetList.numOfAVpkt = 0;
    packetList.recodedEntries.clear();
    ++changes_;
    for (SourceStream& src : app.sources) src.resetIndex();
    if (history) {
        for (CutList& level : history->levels) level.makeEmpty();
        history->currentLevel = -1;
        history->levelCount = 0;
    }
    if (window_) window_->invalidate(true);
    app.currentSource = 0;
    app.sourceCount = 0;
    computeTotals();
    return 1;
}

void CutEditor::keepOnlyCurrentLevel()
{
    if (!history || history->currentLevel < 0) return;
    CutHistory& h = *history;
    if (h.currentLevel > 0) std::swap(h.levels[0], h.levels[h.currentLevel]);
    h.currentLevel = 0;
    h.levelCount = 1;
    updateUndoButtons();
}

int32_t CutEditor::sourceCount() const { return app.sourceCount; }

const char* CutEditor::currentSourceName() const
{
    const int32_t s = app.currentSource;
    if (s < 0 || s >= maxSources) return "";
    return app.sources[s].fileName.c_str();
}

uint64_t CutEditor::currentFilePosition() const
{
    const SourceStream* src = app.usableSource(app.currentSource);
    // lastCutPoint 0 cannot tell one cut point from none; the unused slot would be
    // uninitialised, so both count as "no cut point".
    if (!src || src->lastCutPoint <= 0) return 0;
    const int32_t cursor = std::clamp(src->cursor, 0, src->lastCutPoint);
    const int32_t pkt = src->cutPointPkt[cursor];
    if (pkt < 0 || pkt >= src->pktCount) return 0;
    return src->pktPos[pkt];
}
