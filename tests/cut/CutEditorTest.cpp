#include "cut/CutEditor.h"

#include "platform/fake/Fakes.h"
#include "shell/LogConsole.h"
#include "source/SourceAnalyser.h"
#include "support/SyntheticSource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using platform::fake::FakeControl;
using testsupport::SyntheticSource;

namespace {

// Each unit of the synthetic source: 12 pictures of 4 packets, 1000 + 1000 + 500 + 500 bytes.
constexpr double unitBytes = 12 * 3000.0;
constexpr double unitSeconds = 12 * 3600 / 90000.0;

class CutEditorTest : public ::testing::Test {
protected:
    LogConsole log;
    std::string messages;
    SourceAnalyser app{&log};
    CutEditor editor{app};
    FakeControl undoButton, redoButton, mainWindow;
    SyntheticSource rec;

    void SetUp() override
    {
        log.attachWindow(nullptr, 1001);
        log.setEcho([this](const char* m) { messages += m; });
        app.settings.undoButton = &undoButton;
        app.settings.redoButton = &redoButton;
        app.settings.mainWindow = &mainWindow;
        rec.gops(12);   // 12 cut points: units 0 to 10
        ASSERT_EQ(rec.load(app, 0), 1);
        ASSERT_TRUE(editor.ready());
    }

    void selectSource(int32_t a, int32_t b)
    {
        editor.selectUnit(Pane::source, a, SelectEnd::start);
        editor.selectUnit(Pane::source, b, SelectEnd::end);
    }
    void selectList(int32_t a, int32_t b)
    {
        editor.selectUnit(Pane::list, a, SelectEnd::start);
        editor.selectUnit(Pane::list, b, SelectEnd::end);
    }
    int add(int32_t a, int32_t b)
    {
        selectSource(a, b);
        return editor.insertSrcPicPkts(true);
    }
    std::vector<int32_t> units() const
    {
        const CutList& l = editor.currentList();
        return std::vector<int32_t>(l.unit, l.unit + l.count);
    }
    int32_t level() const { return editor.history->currentLevel; }
    int32_t levels() const { return editor.history->levelCount; }
};

TEST_F(CutEditorTest, AddCopiesTheSelectedUnitsAndInsertOpensRoomAtTheCursor)
{
    const SourceStream& src = app.sources[0];
    ASSERT_EQ(add(3, 5), 1);
    const CutList& l = editor.currentList();
    ASSERT_EQ(l.count, 3);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(l.source[k], 0);
        EXPECT_EQ(l.unit[k], 3 + k);
        EXPECT_EQ(l.firstPacket[k], src.cutPointPkt[3 + k]);
        EXPECT_EQ(l.endPacket[k], src.cutPointPkt[4 + k]);
        EXPECT_EQ(l.startFrame[k], src.cutPointFrame[3 + k]);
    }
    EXPECT_EQ(l.endPacket[2], 6 * 48);
    EXPECT_EQ(l.startFrame[0], 36);
    EXPECT_EQ(l.cursor, 0);
    EXPECT_EQ(l.selStart, -1);
    EXPECT_EQ(l.selEnd, -1);
    // The source keeps its selection.
    EXPECT_EQ(src.selStart, 3);
    EXPECT_EQ(src.selEnd, 5);

    ASSERT_EQ(add(0, 0), 1);
    EXPECT_EQ(units(), (std::vector<int32_t>{3, 4, 5, 0}));
    editor.currentListForEdit().cursor = 2;
    selectSource(7, 8);
    ASSERT_EQ(editor.insertSrcPicPkts(false), 1);
    EXPECT_EQ(units(), (std::vector<int32_t>{3, 4, 7, 8, 5, 0}));
    EXPECT_EQ(editor.currentList().cursor, 2);
    EXPECT_DOUBLE_EQ(editor.totalMB, 6 * unitBytes / 1048576.0);
}

TEST_F(CutEditorTest, RefusedInsertStillPushesALevel)
{
    // Nothing selected: silent refusal, but undo becomes possible.
    EXPECT_EQ(editor.insertSrcPicPkts(true), -1);
    EXPECT_EQ(levels(), 1);
    EXPECT_EQ(level(), 0);
    EXPECT_TRUE(undoButton.enabled);
    EXPECT_FALSE(redoButton.enabled);
    EXPECT_EQ(editor.currentList().count, 0);

    // A half selection (right click only) is no selection.
    editor.selectUnit(Pane::source, 4, SelectEnd::end);
    EXPECT_EQ(app.sources[0].selStart, -1);
    EXPECT_EQ(app.sources[0].selEnd, 4);
    EXPECT_EQ(editor.insertSrcPicPkts(true), -1);
    editor.selectUnit(Pane::source, 2, SelectEnd::start);
    EXPECT_EQ(editor.insertSrcPicPkts(true), 1);
    EXPECT_EQ(units(), (std::vector<int32_t>{2, 3, 4}));

    // A selection that reaches the last cut point has no end packet: refused, not read.
    app.sources[0].selStart = 9;
    app.sources[0].selEnd = app.sources[0].lastCutPoint;
    EXPECT_EQ(editor.insertSrcPicPkts(true), -1);
    EXPECT_EQ(editor.currentList().count, 3);

    // No source loaded at all.
    app.sourceCount = 0;
    app.sources[0].resetIndex();
    EXPECT_EQ(editor.insertSrcPicPkts(true), -1);
    EXPECT_TRUE(messages.empty()) << messages;
}

TEST_F(CutEditorTest, ListLimitIs37499Entries)
{
    ASSERT_EQ(add(0, 0), 1);
    CutList& l = editor.currentListForEdit();
    for (int32_t k = 1; k < 37497; ++k) {
        l.source[k] = l.source[0];
        l.unit[k] = l.unit[0];
        l.firstPacket[k] = l.firstPacket[0];
        l.endPacket[k] = l.endPacket[0];
        l.startFrame[k] = l.startFrame[0];
    }
    l.count = 37497;

    EXPECT_EQ(add(1, 2), 1);
    EXPECT_EQ(editor.currentList().count, 37499);
    EXPECT_TRUE(messages.empty());

    editor.undo();
    const int32_t before = levels();
    EXPECT_EQ(add(1, 3), -1);
    EXPECT_EQ(messages, "ERROR:insertSrcPicPkts: New PVA to big\n");
    EXPECT_EQ(levels(), before);   // the redo level was replaced by the pushed copy
    EXPECT_EQ(level(), before - 1);
    EXPECT_EQ(editor.currentList().count, 37497);
}

TEST_F(CutEditorTest, HistoryKeepsSixLevelsAndUndoEndsAtTheEmptyList)
{
    for (int32_t k = 0; k < 7; ++k) ASSERT_EQ(add(k, k), 1);
    EXPECT_EQ(levels(), 6);
    EXPECT_EQ(level(), 5);
    EXPECT_EQ(units(), (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6}));

    for (int k = 0; k < 5; ++k) editor.undo();
    EXPECT_EQ(level(), 0);
    EXPECT_EQ(units(), (std::vector<int32_t>{0, 1}));   // the result of edit 2
    editor.undo();
    EXPECT_EQ(level(), -1);
    EXPECT_EQ(editor.currentList().count, 0);
    EXPECT_EQ(editor.totalMB, 0);
    EXPECT_TRUE(undoButton.enabled);
    EXPECT_TRUE(redoButton.enabled);
    editor.undo();
    EXPECT_EQ(level(), -1);

    editor.redo();
    editor.redo();
    EXPECT_EQ(units(), (std::vector<int32_t>{0, 1, 2}));
    EXPECT_DOUBLE_EQ(editor.totalMB, 3 * unitBytes / 1048576.0);

    // An edit after undo drops the redo levels.
    ASSERT_EQ(add(9, 9), 1);
    EXPECT_EQ(levels(), 3);
    EXPECT_FALSE(redoButton.enabled);
    editor.redo();
    EXPECT_EQ(units(), (std::vector<int32_t>{0, 1, 2, 9}));
}

TEST_F(CutEditorTest, DeleteRulesForSelectionAndCursor)
{
    // "Effacer" on the empty list pushes an empty level and refuses.
    EXPECT_EQ(editor.deleteSelection(false), -1);
    EXPECT_EQ(level(), 0);
    EXPECT_EQ(editor.currentList().count, 0);
    EXPECT_EQ(editor.deleteSelection(true), -1);

    ASSERT_EQ(add(0, 9), 1);
    editor.currentListForEdit().cursor = 9;
    selectList(7, 9);
    EXPECT_DOUBLE_EQ(editor.selectedMB, 3 * unitBytes / 1048576.0);
    EXPECT_DOUBLE_EQ(editor.selectedSeconds, 3 * unitSeconds);
    ASSERT_EQ(editor.deleteSelection(false), 1);
    EXPECT_EQ(units(), (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(editor.currentList().cursor, 6);
    EXPECT_EQ(editor.currentList().selStart, -1);
    EXPECT_EQ(editor.selectedMB, 0);

    // A right click alone is a half selection: nothing is deleted; a left click completes it.
    editor.selectUnit(Pane::list, 4, SelectEnd::end);
    EXPECT_EQ(editor.deleteSelection(false), -1);
    EXPECT_EQ(editor.currentList().count, 7);
    editor.selectUnit(Pane::list, 2, SelectEnd::start);
    EXPECT_EQ(editor.currentList().selStart, 2);
    EXPECT_EQ(editor.currentList().selEnd, 4);
    // Clicks outside the list change nothing.
    editor.selectUnit(Pane::list, 7, SelectEnd::end);
    editor.selectUnit(Pane::source, 11, SelectEnd::start);
    EXPECT_EQ(editor.currentList().selEnd, 4);
    EXPECT_EQ(app.sources[0].selStart, 0);
    ASSERT_EQ(editor.deleteSelection(false), 1);
    EXPECT_EQ(units(), (std::vector<int32_t>{0, 1, 5, 6}));

    ASSERT_EQ(editor.deleteSelection(true), 1);
    EXPECT_EQ(editor.currentList().count, 0);
    EXPECT_EQ(editor.currentList().cursor, 0);
    EXPECT_EQ(editor.totalMB, 0);
}

TEST_F(CutEditorTest, SelectedSecondsUseTheUnsignedTimeStampDifference)
{
    // A source whose time stamps wrap inside the unit.
    SyntheticSource wrap;
    wrap.gops(3, 12, 0xFFFFFFFFu - 20000);
    ASSERT_EQ(wrap.load(app, 1), 1);
    ASSERT_EQ(add(0, 0), 1);
    selectList(0, 0);
    EXPECT_DOUBLE_EQ(editor.selectedSeconds, unitSeconds);
}

TEST_F(CutEditorTest, UndoButtonsNeedBothControls)
{
    EXPECT_EQ(editor.updateUndoButtons(), 1);
    EXPECT_FALSE(undoButton.enabled);
    EXPECT_FALSE(redoButton.enabled);
    app.settings.redoButton = nullptr;
    EXPECT_EQ(editor.updateUndoButtons(), -1);
    EXPECT_EQ(add(1, 1), 1);   // still edits without the buttons
}

TEST_F(CutEditorTest, ResetEmptiesSourcesListsAndHistoryButNotUnderARunningSave)
{
    ASSERT_EQ(add(1, 2), 1);
    ASSERT_EQ(add(4, 4), 1);
    editor.packetList.numOfAVpkt = 123;

    app.saveRunning = 1;
    EXPECT_EQ(editor.resetEditor(), -1);
    EXPECT_EQ(messages, "ERROR: can't reset the sources while a save is running\n");
    EXPECT_EQ(app.sourceCount, 1);
    EXPECT_EQ(app.sources[0].pktCount, rec.size());
    EXPECT_EQ(editor.packetList.numOfAVpkt, 123u);
    EXPECT_EQ(units(), (std::vector<int32_t>{1, 2, 4}));

    app.saveRunning = 0;
    EXPECT_EQ(editor.resetEditor(), 1);
    EXPECT_EQ(editor.packetList.numOfAVpkt, 0u);
    EXPECT_EQ(app.sourceCount, 0);
    EXPECT_EQ(app.currentSource, 0);
    EXPECT_EQ(app.sources[0].pktCount, 0);
    EXPECT_EQ(app.sources[0].lastCutPoint, 0);
    EXPECT_EQ(app.sources[0].selStart, -1);
    EXPECT_EQ(level(), -1);
    EXPECT_EQ(levels(), 0);
    for (const CutList& l : editor.history->levels) EXPECT_EQ(l.count, 0);
    EXPECT_EQ(editor.totalMB, 0);
    EXPECT_EQ(mainWindow.invalidations, 1);
    EXPECT_EQ(editor.currentFilePosition(), 0u);
    editor.redo();
    EXPECT_EQ(level(), -1);
    EXPECT_EQ(editor.updateUndoButtons(), 1);
    EXPECT_FALSE(undoButton.enabled);
}

TEST_F(CutEditorTest, ViewerQueriesFollowTheCurrentSource)
{
    EXPECT_EQ(editor.sourceCount(), 1);
    EXPECT_STREQ(editor.currentSourceName(), "synthetic.pva");
    app.sources[0].cursor = 2;
    EXPECT_EQ(editor.currentFilePosition(), app.sources[0].pktPos[96]);
    EXPECT_EQ(editor.currentFilePosition(), 24u * 3000 + 96 * 8);

    // A source with no complete unit shows nothing.
    SyntheticSource one;
    one.picture(1, 0).videoData();
    ASSERT_EQ(one.load(app, 1), 1);
    EXPECT_EQ(editor.currentFilePosition(), 0u);
}

} // namespace
