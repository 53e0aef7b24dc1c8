#pragma once
#include "core/GrowingArray.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class SourceAnalyser;
namespace platform { class Control; }

inline constexpr int cutHistoryLevels = 6;

// One entry: a cut unit of a source, with the source's values copied at the time.
struct CutEntry {
    int32_t source;
    int32_t unit;
    int32_t firstPacket;
    int32_t endPacket;
    int32_t startFrame;
};

// One level of the history, stored column by column. The columns grow with the
// list (reserve); the entries from count on are not used.
struct CutList {
    GrowingArray<int32_t> source;
    GrowingArray<int32_t> unit;
    GrowingArray<int32_t> firstPacket;
    GrowingArray<int32_t> endPacket;
    GrowingArray<int32_t> startFrame;
    int32_t count = 0;
    int32_t cursor = 0;
    int32_t selStart = -1;
    int32_t selEnd = -1;

    CutEntry entry(int32_t i) const { return {source[i], unit[i], firstPacket[i], endPacket[i], startFrame[i]}; }
    void makeEmpty() { count = 0; cursor = 0; selStart = selEnd = -1; }
    // Room for n entries in every column; false when the memory cannot be had.
    bool reserve(size_t n)
    {
        return source.reserve(n) && unit.reserve(n) && firstPacket.reserve(n) && endPacket.reserve(n)
            && startFrame.reserve(n);
    }
};

struct CutHistory {
    CutList levels[cutHistoryLevels];
    int32_t levelCount = 0;
    int32_t currentLevel = -1;   // -1: the empty list, not stored
};

// The assembled packet list of the new PVA. Its columns grow as an assembly
// fills them and keep their room for the next one.
struct NewPvaPacketList {
    GrowingArray<int32_t> source;
    GrowingArray<uint32_t> packet;
    GrowingArray<uint32_t> newVideoPts;
    GrowingArray<uint32_t> newAudioPts;
    uint32_t numOfAVpkt = 0;
    // AV packets that transfers had no room for, since the last assembly began.
    // During an assembly (quietRefusals) a refusal is only counted: the writer then
    // says once how much did not fit and saves nothing.
    uint64_t refusedPackets = 0;
    bool quietRefusals = false;
    // Entries that begin a re-encoded picture (re-encoding at cuts), in order; such an
    // entry names the source picture it replaces.
    std::vector<uint32_t> recodedEntries;

    bool reserve(size_t n)
    {
        return source.reserve(n) && packet.reserve(n) && newVideoPts.reserve(n) && newAudioPts.reserve(n);
    }
};

enum class Pane { source, list };
enum class SelectEnd { start, end };

// The editing state of the new PVA.
class CutEditor {
public:
    // Makes the empty history; the lists take memory as they grow. A failed
    // allocation is reported and leaves the editor refusing every edit (see ready()).
    explicit CutEditor(SourceAnalyser& app);
    CutEditor(const CutEditor&) = delete;
    CutEditor& operator=(const CutEditor&) = delete;

    SourceAnalyser& app;
    std::unique_ptr<CutHistory> history;
    double totalMB = 0, selectedMB = 0, selectedSeconds = 0;
    NewPvaPacketList packetList;
    std::string outputName;

    // The list shown and edited: the current level, or the empty list at level -1.
    bool ready() const { return history != nullptr; }

    const CutList& currentList() const;
    CutList& currentListForEdit();   // only valid when currentLevel >= 0

    // Inserts units first..last of loaded source `source` before list entry `at`
    // (count, or any position past it: at the end). A level is pushed also when
    // the units are refused, so that the attempt can be undone like any edit.
    int insertUnits(int32_t source, int32_t first, int32_t last, int32_t at);
    // Deletes list entries first..last (last is cut to the list), leaving the
    // list without a selection.
    int deleteEntries(int32_t first, int32_t last);
    // The commands: the selection of the current source, appended (atEnd) or
    // inserted at the list cursor; the selected list entries, or all of them.
    int insertSrcPicPkts(bool atEnd);
    int deleteSelection(bool all);
    int undo();
    int redo();
    void selectUnit(Pane pane, int32_t index, SelectEnd end);
    // Selects first..last of a pane, as a left click on first and a right click on
    // last do: units of the current source, or entries of the list.
    void selectRange(Pane pane, int32_t first, int32_t last);
    // Puts the list cursor, where "Inserer" inserts, before entry `position`
    // (count: after the last). -1, and nothing changes, outside 0..count.
    int setListCursor(int32_t position);
    int computeTotals();
    // Makes the current level the only one besides the empty list (a project just
    // opened is one step, not one per range).
    void keepOnlyCurrentLevel();
    // Counts the changes of the list shown (edits, undos, redos, resets), so that
    // a window can tell whether the list changed since it was last saved.
    uint64_t changeCount() const { return changes_; }
    // The buttons that show whether undo and redo can be done, and the window
    // repainted when the sources are reset; null: none.
    void attachControls(platform::Control* undoButton, platform::Control* redoButton, platform::Control* window);
    platform::Control* attachedWindow() const { return window_; }
    // Switches the undo and redo buttons; -1 when they are not attached.
    int updateUndoButtons();
    // -1 (with an error line, nothing changed) while a save is running.
    int resetEditor();
    int32_t sourceCount() const;
    const char* currentSourceName() const;
    uint64_t currentFilePosition() const;

private:
    // False, with nothing changed, when the copy of the current level cannot be had.
    bool pushLevel();
    // Pushes a level and deletes entries first..last from it (with selectAll: all
    // of them, selected first).
    int deleteInNewLevel(bool selectAll, int32_t first, int32_t last);

    uint64_t changes_ = 0;
    platform::Control* undoButton_ = nullptr;
    platform::Control* redoButton_ = nullptr;
    platform::Control* window_ = nullptr;
};
