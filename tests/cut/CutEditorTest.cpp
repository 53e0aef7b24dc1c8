#include "cut/CutEditor.h"

#include "platform/fake/Fakes.h"
#include "core/LogConsole.h"
#include "source/SourceAnalyser.h"
#include "support/SyntheticSource.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>

using platform::fake::FakeControl;
using testsupport::SyntheticSource;

namespace {

// Each unit of the synthetic source: 12 pictures of 4 packets, 1000 + 1000 + 500 + 500 bytes.
constexpr double unitMB = 12 * 3000.0 / 1048576.0;
constexpr double unitSeconds = 12 * 3600 / 90000.0;

class CutEditorTest : public ::testing::Test {
protected:
    LogConsole log;
    std::string messages;
    SourceAnalyser app{log};
    CutEditor editor{app};
    FakeControl undoButton, redoButton, mainWindow;

    void SetUp() override
    {
        testsupport::recordShown(log, messages);
        editor.attachControls(&undoButton, &redoButton, &mainWindow);
        ASSERT_EQ(SyntheticSource().gops(12).load(app, 0), 1);   // units 0 to 10
        ASSERT_TRUE(editor.ready());
    }

    void select(Pane pane, int32_t a, int32_t b)
    {
        editor.selectUnit(pane, a, SelectEnd::start);
        editor.selectUnit(pane, b, SelectEnd::end);
    }
    int add(int32_t a, int32_t b)
    {
        select(Pane::source, a, b);
        return editor.insertSrcPicPkts(true);
    }
    const CutList& list() const { return editor.currentList(); }
    int32_t level() const { return editor.history->currentLevel; }
    int32_t levels() const { return editor.history->levelCount; }
    // "level/levels [units] cursor selection", e.g. "2/3 [3 4 5] 0 -1:-1".
    std::string state() const
    {
        std::string s = std::to_string(level()) + "/" + std::to_string(levels()) + " [";
        for (int32_t k = 0; k < list().count; ++k) s += (k ? " " : "") + std::to_string(list().unit[k]);
        return s + "] " + std::to_string(list().cursor) + " " + std::to_string(list().selStart) + ":"
            + std::to_string(list().selEnd);
    }
};

TEST_F(CutEditorTest, InsertCopiesTheSelectedUnitsAtTheCursorOrRefusesButPushesALevel)
{
    // Nothing selected: silent refusal, but undo becomes possible. A half
    // selection (right click only) is no selection.
    EXPECT_EQ(editor.insertSrcPicPkts(true), -1);
    EXPECT_TRUE(undoButton.enabled && !redoButton.enabled);
    editor.selectUnit(Pane::source, 5, SelectEnd::end);
    EXPECT_EQ(editor.insertSrcPicPkts(true), -1);
    EXPECT_EQ(state(), "1/2 [] 0 -1:-1");

    const SourceStream& src = app.sources[0];
    editor.selectUnit(Pane::source, 3, SelectEnd::start);
    ASSERT_EQ(editor.insertSrcPicPkts(true), 1);
    EXPECT_EQ(state(), "2/3 [3 4 5] 0 -1:-1");
    auto fields = [](CutEntry e) { return std::tuple(e.source, e.unit, e.firstPacket, e.endPacket, e.startFrame); };
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(fields(list().entry(k)),
                  std::tuple(0, 3 + k, src.cutPointPkt[3 + k], src.cutPointPkt[4 + k], src.cutPointFrame[3 + k]));
    EXPECT_TRUE(src.selStart == 3 && src.selEnd == 5);   // the source keeps its selection

    ASSERT_EQ(add(0, 0), 1);
    editor.currentListForEdit().cursor = 2;
    select(Pane::source, 7, 8);
    ASSERT_EQ(editor.insertSrcPicPkts(false), 1);
    EXPECT_EQ(state(), "4/5 [3 4 7 8 5 0] 2 -1:-1");
    EXPECT_DOUBLE_EQ(editor.totalMB, 6 * unitMB);

    // A selection that reaches the last cut point has no end packet: refused, not read.
    app.sources[0].selStart = 9;
    app.sources[0].selEnd = app.sources[0].lastCutPoint;
    EXPECT_EQ(editor.insertSrcPicPkts(true), -1);
    EXPECT_EQ(list().count, 6);

    app.sourceCount = 0;
    app.sources[0].resetIndex();
    EXPECT_EQ(editor.insertSrcPicPkts(true), -1);
    EXPECT_EQ(messages, "");
}

// The edits with explicit arguments neither read nor change the selections, so
// a list made by them equals one made through the commands.
TEST_F(CutEditorTest, ExplicitEditsTakeTheirUnitsAndEntriesAsArguments)
{
    ASSERT_EQ(SyntheticSource().gops(6).load(app, 1), 1);
    EXPECT_EQ(editor.insertUnits(0, 2, 4, INT32_MAX), 1);
    EXPECT_EQ(editor.insertUnits(1, 0, 1, 1), 1);                  // before entry 1, of another source
    EXPECT_EQ(editor.insertUnits(0, 9, 9, -5), 1);                 // before the first entry
    EXPECT_EQ(editor.insertUnits(1, 3, app.sources[1].lastCutPoint, 0), -1);   // past the last unit
    EXPECT_EQ(editor.insertUnits(5, 0, 0, 0), -1);                 // no such source
    EXPECT_EQ(state(), "4/5 [9 2 0 1 3 4] 0 -1:-1");
    EXPECT_EQ(list().source[2], 1);
    EXPECT_TRUE(app.sources[0].selStart == -1 && app.sources[1].selEnd == -1 && app.currentSource == 1);

    editor.selectUnit(Pane::list, 5, SelectEnd::start);
    EXPECT_EQ(editor.deleteEntries(1, 2), 1);
    EXPECT_EQ(state(), "5/6 [9 1 3 4] 0 -1:-1");
    EXPECT_EQ(editor.deleteEntries(3, 40), 1);                     // cut to the list
    EXPECT_EQ(editor.deleteEntries(2, 1), -1);
    EXPECT_EQ(state(), "5/6 [9 1 3] 0 -1:-1");
    editor.undo();
    editor.undo();
    EXPECT_EQ(state(), "3/6 [9 1 3 4] 0 -1:-1");
    EXPECT_EQ(messages, "");
}

// The list grows with the edits, up to a limit far above any recording; here it
// is lowered to where fixed columns used to end.
TEST_F(CutEditorTest, ListGrowsPastTheOldFixedSizeUpToItsLimit)
{
    // 37,497 entries: 37,499 was the most the fixed columns held.
    auto fill = [&] {
        ASSERT_EQ(add(0, 0), 1);
        CutList& l = editor.currentListForEdit();
        ASSERT_TRUE(l.reserve(37500));
        for (GrowingArray<int32_t>* column : {&l.source, &l.unit, &l.firstPacket, &l.endPacket, &l.startFrame})
            std::fill_n(column->get() + 1, 37496, (*column)[0]);
        l.count = 37497;
    };
    fill();
    EXPECT_EQ(add(1, 3), 1);
    EXPECT_EQ(list().count, 37500);
    EXPECT_EQ(list().unit[37499], 3);
    editor.resetEditor();

    app.limits.listEntries = 37499;
    ASSERT_EQ(SyntheticSource().gops(12).load(app, 0), 1);
    fill();
    EXPECT_EQ(add(1, 2), 1);
    EXPECT_EQ(list().count, 37499);
    EXPECT_EQ(messages, "");

    editor.undo();
    EXPECT_EQ(add(1, 3), -1);
    EXPECT_EQ(messages, "ERROR:insertSrcPicPkts: New PVA to big: more than 37499 entries\n");
    // The redo level was replaced by the pushed copy.
    EXPECT_TRUE(level() == 1 && levels() == 2);
    EXPECT_EQ(list().count, 37497);
}

// Without memory for more entries an edit is refused and nothing already there is lost.
TEST_F(CutEditorTest, EditsWithoutMemoryLoseNothing)
{
    ASSERT_EQ(add(0, 2), 1);
    ASSERT_EQ(add(4, 5), 1);
    const std::string before = state();
    growingArrayProbe().failAfterBytes = 0;
    // No room for the copy of the current level that an edit pushes: nothing changes.
    EXPECT_EQ(add(6, 6), -1);
    EXPECT_EQ(editor.deleteSelection(true), -1);
    EXPECT_EQ(state(), before);
    EXPECT_EQ(messages, "ERROR: OUT OF MEMORY\nERROR: OUT OF MEMORY\n");

    // Room for the copy but not for the range: the pushed level stays, as for every
    // refused edit, and holds the list as it was.
    growingArrayProbe().reset();
    editor.undo();
    const size_t room = editor.history->levels[1].source.capacity();
    ASSERT_EQ(SyntheticSource().gops(static_cast<int>(room) + 2).load(app, 1), 1);
    growingArrayProbe().failAfterBytes = 0;
    messages.clear();
    EXPECT_EQ(add(0, static_cast<int32_t>(room)), -1);
    EXPECT_EQ(messages, "ERROR: OUT OF MEMORY\n");
    EXPECT_EQ(state(), "1/2 [0 1 2] 0 -1:-1");
    growingArrayProbe().reset();
    EXPECT_EQ(add(0, static_cast<int32_t>(room)), 1);
    EXPECT_EQ(list().count, 3 + static_cast<int32_t>(room) + 1);
}

TEST_F(CutEditorTest, HistoryKeepsSixLevelsAndUndoEndsAtTheEmptyList)
{
    EXPECT_EQ(editor.updateUndoButtons(), 1);
    EXPECT_FALSE(undoButton.enabled || redoButton.enabled);

    for (int32_t k = 0; k < 7; ++k) ASSERT_EQ(add(k, k), 1);
    EXPECT_EQ(state(), "5/6 [0 1 2 3 4 5 6] 0 -1:-1");
    for (int k = 0; k < 5; ++k) editor.undo();
    EXPECT_EQ(state(), "0/6 [0 1] 0 -1:-1");   // the result of edit 2
    editor.undo();
    editor.undo();
    EXPECT_EQ(state(), "-1/6 [] 0 -1:-1");
    EXPECT_EQ(editor.totalMB, 0);
    EXPECT_TRUE(undoButton.enabled && redoButton.enabled);

    editor.redo();
    editor.redo();
    EXPECT_EQ(state(), "1/6 [0 1 2] 0 -1:-1");
    EXPECT_DOUBLE_EQ(editor.totalMB, 3 * unitMB);

    // An edit after undo drops the redo levels.
    ASSERT_EQ(add(9, 9), 1);
    EXPECT_FALSE(redoButton.enabled);
    editor.redo();
    EXPECT_EQ(state(), "2/3 [0 1 2 9] 0 -1:-1");

    editor.attachControls(&undoButton, nullptr, &mainWindow);
    EXPECT_EQ(editor.updateUndoButtons(), -1);
    EXPECT_EQ(add(1, 1), 1);   // still edits without the buttons
}

TEST_F(CutEditorTest, DeleteRulesForSelectionAndCursor)
{
    // "Effacer" on the empty list pushes an empty level and refuses.
    EXPECT_EQ(editor.deleteSelection(false), -1);
    EXPECT_EQ(state(), "0/1 [] 0 -1:-1");
    EXPECT_EQ(editor.deleteSelection(true), -1);

    ASSERT_EQ(add(0, 9), 1);
    editor.currentListForEdit().cursor = 9;
    select(Pane::list, 7, 9);
    EXPECT_DOUBLE_EQ(editor.selectedMB, 3 * unitMB);
    EXPECT_DOUBLE_EQ(editor.selectedSeconds, 3 * unitSeconds);
    ASSERT_EQ(editor.deleteSelection(false), 1);
    EXPECT_EQ(state(), "3/4 [0 1 2 3 4 5 6] 6 -1:-1");
    EXPECT_EQ(editor.selectedMB, 0);

    // A right click alone is a half selection; a left click completes it; clicks
    // outside the list change nothing.
    editor.selectUnit(Pane::list, 4, SelectEnd::end);
    EXPECT_EQ(editor.deleteSelection(false), -1);
    editor.selectUnit(Pane::list, 2, SelectEnd::start);
    editor.selectUnit(Pane::list, 7, SelectEnd::end);
    editor.selectUnit(Pane::source, 11, SelectEnd::start);
    EXPECT_EQ(state(), "4/5 [0 1 2 3 4 5 6] 6 2:4");
    EXPECT_EQ(app.sources[0].selStart, 0);
    ASSERT_EQ(editor.deleteSelection(false), 1);
    EXPECT_EQ(state(), "5/6 [0 1 5 6] 3 -1:-1");

    ASSERT_EQ(editor.deleteSelection(true), 1);
    EXPECT_EQ(state(), "5/6 [] 0 -1:-1");
    EXPECT_EQ(editor.totalMB, 0);

    // Selected seconds are the unsigned time-stamp difference, also across the wrap.
    ASSERT_EQ(SyntheticSource().gops(3, 0xFFFFFFFFu - 20000).load(app, 1), 1);
    ASSERT_EQ(add(0, 0), 1);
    select(Pane::list, 0, 0);
    EXPECT_DOUBLE_EQ(editor.selectedSeconds, unitSeconds);
}

// The operations the command line and the window build their commands from.
TEST_F(CutEditorTest, RangesAndTheListCursorAsCommandsSetThem)
{
    editor.selectRange(Pane::source, 2, 4);
    EXPECT_TRUE(app.sources[0].selStart == 2 && app.sources[0].selEnd == 4);
    editor.selectRange(Pane::source, 6, 11);   // past the last unit: the end stays
    EXPECT_TRUE(app.sources[0].selStart == 6 && app.sources[0].selEnd == 6);

    // The empty list has only position 0.
    EXPECT_EQ(editor.setListCursor(1), -1);
    EXPECT_EQ(editor.setListCursor(0), 1);
    ASSERT_EQ(add(0, 3), 1);
    EXPECT_EQ(editor.setListCursor(5), -1);
    EXPECT_EQ(editor.setListCursor(-1), -1);
    EXPECT_EQ(editor.setListCursor(4), 1);
    ASSERT_EQ(editor.setListCursor(1), 1);
    editor.selectRange(Pane::source, 9, 9);
    ASSERT_EQ(editor.insertSrcPicPkts(false), 1);
    editor.selectRange(Pane::list, 1, 2);
    EXPECT_EQ(state(), "1/2 [0 9 1 2 3] 1 1:2");
    EXPECT_DOUBLE_EQ(editor.selectedMB, 2 * unitMB);
}

TEST_F(CutEditorTest, ViewerQueriesAndResetWhichARunningSaveRefuses)
{
    EXPECT_EQ(editor.sourceCount(), 1);
    EXPECT_STREQ(editor.currentSourceName(), "synthetic.pva");
    app.sources[0].cursor = 2;
    EXPECT_EQ(editor.currentFilePosition(), 24u * 3000 + 96 * 8);

    ASSERT_EQ(add(1, 2), 1);
    ASSERT_EQ(add(4, 4), 1);
    editor.packetList.numOfAVpkt = 123;
    app.busy = 1;
    EXPECT_EQ(editor.resetEditor(), -1);
    EXPECT_EQ(messages, "ERROR: can't reset the sources while a save is running\n");
    EXPECT_EQ(app.sourceCount, 1);
    EXPECT_EQ(editor.packetList.numOfAVpkt, 123u);
    EXPECT_EQ(state(), "1/2 [1 2 4] 0 -1:-1");

    app.busy = 0;
    EXPECT_EQ(editor.resetEditor(), 1);
    EXPECT_EQ(editor.packetList.numOfAVpkt, 0u);
    EXPECT_TRUE(app.sourceCount == 0 && app.currentSource == 0);
    EXPECT_TRUE(app.sources[0].pktCount == 0 && app.sources[0].lastCutPoint == 0);
    EXPECT_EQ(editor.totalMB, 0);
    EXPECT_EQ(mainWindow.invalidations, 1);
    EXPECT_EQ(editor.currentFilePosition(), 0u);
    editor.redo();
    EXPECT_EQ(state(), "-1/0 [] 0 -1:-1");
    EXPECT_EQ(editor.updateUndoButtons(), 1);
    EXPECT_FALSE(undoButton.enabled);

    // A source with no complete unit shows nothing.
    ASSERT_EQ(SyntheticSource().picture(1, 0).videoData().load(app, 1), 1);
    EXPECT_EQ(editor.currentFilePosition(), 0u);
}

} // namespace
