#include "views/StreamViews.h"

#include "platform/fake/FakeCanvas.h"
#include "platform/fake/FakeScrollBar.h"
#include "platform/fake/Fakes.h"
#include "core/LogConsole.h"
#include "source/SourceAnalyser.h"
#include "support/SyntheticSource.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using platform::Point;
using platform::Rect;
using platform::Size;
using platform::fake::FakeCanvas;
using platform::fake::FakeControl;
using platform::fake::FakeScrollBar;
using testsupport::SyntheticSource;
using Kind = FakeCanvas::Kind;

namespace {

constexpr uint32_t normalFill = 0xC8C8C8, selectedFill = 0x646464;
// 657 x 457: cells of both panes split x at 14, 139, 265, 391, 517, 643.
const int cellEdges[6] = {14, 139, 265, 391, 517, 643};

class StreamViewsTest : public ::testing::Test {
protected:
    LogConsole log;
    std::string messages;
    SourceAnalyser app{log};
    CutEditor editor{app};
    StreamViews views{app, editor};
    FakeScrollBar sourceBar, listBar;
    FakeControl sourceLine, listLine, undoButton, redoButton;

    void SetUp() override
    {
        testsupport::recordShown(log, messages);
        views.attachInfoLines(&sourceLine, &listLine);
        editor.attachControls(&undoButton, &redoButton, nullptr);
        views.initScrollBars(&sourceBar, &listBar);
        placePanes({657, 457});
    }
    void placePanes(Size client)
    {
        const Rect s = sourcePaneRectFor(client), l = listPaneRectFor(client);
        views.setSourcePaneRect(s.left, s.top, s.right, s.bottom);
        views.setListPaneRect(l.left, l.top, l.right, l.bottom);
    }
    // Source `slot` with `units` cut units; unit i starts at picture 12 i.
    SourceStream& load(int slot, int units)
    {
        EXPECT_EQ(SyntheticSource().gops(units + 1).load(app, slot), 1);
        app.sources[slot].fileName = "/rec/source" + std::to_string(slot) + ".pva";
        return app.sources[slot];
    }
    void add(int32_t a, int32_t b)
    {
        editor.selectUnit(Pane::source, a, SelectEnd::start);
        editor.selectUnit(Pane::source, b, SelectEnd::end);
        ASSERT_EQ(editor.insertSrcPicPkts(true), 1);
    }
    static std::vector<uint32_t> cellFills(const FakeCanvas& c, int top)
    {
        std::vector<uint32_t> fills;
        for (const auto& op : c.all(Kind::rectangle))
            if (op.rect.top == top && op.rect.right - op.rect.left > 100) fills.push_back(op.brush);
        return fills;
    }
};

TEST_F(StreamViewsTest, PanesFollowTheClientSizeAndSplitIntoFiveCells)
{
    EXPECT_EQ(sourcePaneRectFor({900, 600}), (Rect{20, 132, 880, 227}));
    EXPECT_EQ(listPaneRectFor({900, 600}), (Rect{20, 300, 880, 393}));
    EXPECT_EQ(sourcePaneRectFor({657, 457}), (Rect{14, 100, 643, 172}));
    EXPECT_EQ(listPaneRectFor({657, 457}), (Rect{14, 228, 643, 298}));
    const Rect pane{20, 132, 880, 227};
    const int edges[6] = {20, 192, 364, 536, 708, 880};
    for (int k = 0; k < 5; ++k) EXPECT_EQ(views.cellRect(pane, k), (Rect{edges[k], 132, edges[k + 1], 227})) << k;
}

TEST_F(StreamViewsTest, SourcePaneDrawsCellsSelectionTrianglesAndTexts)
{
    SourceStream& src = load(0, 8);
    const int32_t p = src.cutPointPkt[3];
    src.vPts[p] = 5512500;                            // 61.25 s
    src.gopTimeCode[p] = (1u << 26) | (2u << 20) | (3u << 13) | (1u << 19) | 17u;   // 01:02:03, marker, pictures
    src.picType[src.cutPointPkt[4]] = 0;              // no picture header
    src.cursor = 3;
    editor.selectUnit(Pane::source, 2, SelectEnd::start);
    editor.selectUnit(Pane::source, 4, SelectEnd::end);

    FakeCanvas c;
    ASSERT_EQ(views.paintSourcePane(c), 1);
    const auto rects = c.all(Kind::rectangle);
    ASSERT_EQ(rects.size(), 5u);
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(rects[k].rect, (Rect{cellEdges[k], 100, cellEdges[k + 1], 172})) << k;
        EXPECT_EQ(rects[k].pen, 0x000000u);
        EXPECT_EQ(rects[k].penWidth, 1);
    }
    EXPECT_EQ(cellFills(c, 100), (std::vector<uint32_t>{normalFill, selectedFill, selectedFill, selectedFill, normalFill}));

    // The triangles at the centre cell's left edge (x 265): text rectangle 268, 103 .. 169.
    const auto tri = c.all(Kind::polygon);
    ASSERT_EQ(tri.size(), 2u);
    EXPECT_EQ(tri[0].points, (std::vector<Point>{{259, 101}, {271, 101}, {265, 111}}));
    EXPECT_EQ(tri[1].points, (std::vector<Point>{{259, 170}, {271, 170}, {265, 160}}));
    EXPECT_EQ(tri[0].brush, 0x000000u);

    const auto texts = c.all(Kind::text);
    ASSERT_EQ(texts.size(), 5u);
    EXPECT_EQ(texts[2].rect, (Rect{268, 103, 388, 169}));
    EXPECT_EQ(texts[2].text, "mpeg2 packet: 3\npts: 00:01:01.25\ntimecode: 01:02:03\nstartframe:\n 36  Type I\n");
    EXPECT_EQ(texts[2].textBackground, selectedFill);
    EXPECT_EQ(texts[2].textColor, 0x000000u);
    EXPECT_TRUE(texts[2].stockFont);
    EXPECT_EQ(texts[3].text, "mpeg2 packet: 4\npts: 00:00:01.92\ntimecode: 00:00:00\nstartframe:\n 48 ");
    EXPECT_EQ(texts[0].text.substr(0, 16), "mpeg2 packet: 1\n");
    EXPECT_EQ(texts[0].textBackground, normalFill);

    EXPECT_EQ(sourceLine.text, "Source PVA:  Nr.0   Selection: 00:00:00.96 -> 00:00:01.92   File: /rec/source0.pva");
    EXPECT_EQ(sourceBar.current.page, 12500);
    EXPECT_EQ(sourceBar.current.pos, 37500);
}

TEST_F(StreamViewsTest, SourcePaneAtTheEndsHalfSelectionsAndWithoutSource)
{
    // No source: five empty cells, still the triangles, the product line.
    FakeCanvas none;
    views.paintSourcePane(none);
    EXPECT_EQ(none.all(Kind::rectangle).size(), 5u);
    EXPECT_EQ(none.all(Kind::polygon).size(), 2u);
    EXPECT_TRUE(none.all(Kind::text).empty());
    EXPECT_EQ(sourceLine.text, productLine);
    EXPECT_EQ(sourceBar.current.page, 100000);
    EXPECT_EQ(sourceBar.current.pos, 0);

    SourceStream& src = load(0, 5);
    FakeCanvas start;
    views.paintSourcePane(start);
    auto texts = start.all(Kind::text);
    ASSERT_EQ(texts.size(), 3u);   // cursor 0: the two left cells are empty
    EXPECT_EQ(texts[0].rect.left, cellEdges[2] + 3);
    EXPECT_EQ(texts[0].text.substr(0, 16), "mpeg2 packet: 0\n");
    EXPECT_EQ(start.all(Kind::polygon)[0].points[0], (Point{cellEdges[2] + 3 - 9, 101}));

    src.cursor = 4;   // the last unit: the two right cells are empty
    editor.selectUnit(Pane::source, 3, SelectEnd::end);   // a half selection
    FakeCanvas end;
    views.paintSourcePane(end);
    texts = end.all(Kind::text);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[2].rect.right, cellEdges[3] - 3);
    EXPECT_EQ(cellFills(end, 100), std::vector<uint32_t>(5, normalFill));
    EXPECT_EQ(sourceLine.text, "Source PVA:  Nr.0   File: /rec/source0.pva");
}

TEST_F(StreamViewsTest, ListPaneDrawsEntriesCutBarsSelectionAndTotals)
{
    // Empty list: five empty cells, the triangles, zero totals.
    FakeCanvas empty;
    views.paintListPane(empty);
    EXPECT_EQ(empty.all(Kind::rectangle).size(), 5u);
    EXPECT_EQ(empty.all(Kind::polygon).size(), 2u);
    EXPECT_TRUE(empty.all(Kind::text).empty());
    EXPECT_EQ(listLine.text, "New PVA: 0  0.0MB Sel: 0.0MB 00:00:00");

    SourceStream& s0 = load(0, 10);
    s0.gopTimeCode[s0.cutPointPkt[5]] = (1u << 26) | (2u << 20) | (3u << 13);
    add(3, 5);
    add(7, 8);
    // Unit 9 of source 0, then a unit of source 1 whose first packet has unit 9's
    // end packet number: another source, so still a cut.
    load(1, 12);
    app.sources[1].cutPointPkt[2] = s0.cutPointPkt[10];
    app.currentSource = 0;
    add(9, 9);
    app.currentSource = 1;
    add(2, 2);
    CutList& list = editor.currentListForEdit();
    ASSERT_EQ(list.count, 7);

    // Entries 0..4 in view (cursor 2), entries 1..3 selected.
    list.cursor = 2;
    editor.selectUnit(Pane::list, 1, SelectEnd::start);
    editor.selectUnit(Pane::list, 3, SelectEnd::end);
    FakeCanvas c;
    views.paintListPane(c);
    EXPECT_EQ(cellFills(c, 228), (std::vector<uint32_t>{normalFill, selectedFill, selectedFill, selectedFill, normalFill}));
    // The only bar among entries 0..4 stands after entry 2 (unit 5, then unit 7).
    std::vector<Rect> bars;
    for (const auto& op : c.all(Kind::rectangle))
        if (op.rect.right - op.rect.left == 6) {
            bars.push_back(op.rect);
            EXPECT_EQ(op.brush, 0x000000u);
        }
    EXPECT_EQ(bars, (std::vector<Rect>{{cellEdges[3] - 7, 228, cellEdges[3] - 1, 298}}));
    const auto texts = c.all(Kind::text);
    ASSERT_EQ(texts.size(), 5u);
    EXPECT_EQ(texts[2].text, "src: 0 packet: 5\npts: 00:00:02.40\ntimecode: 01:02:03\nstartframe:\n 60 Type I");
    EXPECT_EQ(listLine.text, views.listInfoText());
    char expected[80];
    std::snprintf(expected, sizeof expected, "New PVA: 7 %4.1fMB Sel:%4.1fMB 00:00:01", editor.totalMB, editor.selectedMB);
    EXPECT_EQ(listLine.text, expected);
    EXPECT_EQ(listBar.current.page, 100000 / 7);
    EXPECT_EQ(listBar.current.pos, 28571);

    // Entries 4..6 in view: bars after entry 4 (unit 8, then 9 runs on? no: 8 ends
    // where 9 starts, so none) and after entry 5 (source 0 to source 1).
    list.cursor = 6;
    FakeCanvas tail;
    views.paintListPane(tail);
    bars.clear();
    for (const auto& op : tail.all(Kind::rectangle))
        if (op.rect.right - op.rect.left == 6) bars.push_back(op.rect);
    EXPECT_EQ(bars, (std::vector<Rect>{{cellEdges[2] - 7, 228, cellEdges[2] - 1, 298}}));

    // Cursor at count (after deleting at the end): the centre cell is empty and
    // the last entry shows to its left.
    list.cursor = 7;
    FakeCanvas after;
    views.paintListPane(after);
    const auto last = after.all(Kind::text);
    ASSERT_EQ(last.size(), 2u);
    EXPECT_EQ(last[1].rect.right, cellEdges[2] - 3);
    EXPECT_EQ(last[1].text.substr(0, 16), "src: 1 packet: 2");
}

TEST_F(StreamViewsTest, ListInfoLineTruncatesTheSelectionTime)
{
    editor.totalMB = 1234.56;
    editor.selectedMB = 3.04;
    editor.selectedSeconds = 3600 + 59 * 60 + 59.7;
    EXPECT_EQ(views.listInfoText(), "New PVA: 0 1234.6MB Sel: 3.0MB 01:59:59");
    EXPECT_EQ(ptsClockTime(324000000).hours, 1);            // 3,600,000 ms
    const ClockTime t = ptsClockTime(5513391);                // 61,259.9 ms
    EXPECT_EQ(std::vector<double>({t.hours, t.minutes, t.seconds, t.hundredths}), std::vector<double>({0, 1, 1, 25}));
}

TEST_F(StreamViewsTest, StepsPagesAndThumbTrackingMoveTheCursorsAndBars)
{
    EXPECT_EQ(sourceBar.calls.at(0).first.max, 100000);
    EXPECT_EQ(sourceBar.calls.at(0).second, 7u);
    EXPECT_EQ(sourceBar.current.page, 100000);

    SourceStream& src = load(0, 100);
    src.cursor = 97;
    EXPECT_EQ(views.stepCursor(Pane::source, +5), 1);
    EXPECT_EQ(src.cursor, 99);
    EXPECT_EQ(sourceBar.current.pos, 99000);
    EXPECT_EQ(views.stepCursor(Pane::source, +5), -1);
    EXPECT_EQ(views.stepCursor(Pane::source, -1), 1);
    EXPECT_EQ(src.cursor, 98);
    EXPECT_EQ(views.stepCursor(Pane::source, -500), 1);
    EXPECT_EQ(src.cursor, 0);

    SourceStream& three = load(1, 3);
    views.updateScrollBar(Pane::source);
    EXPECT_EQ(sourceBar.current.page, 33333);
    sourceBar.track = 100000 - 33333 + 1;   // the thumb at its right end
    EXPECT_EQ(views.trackCursor(Pane::source), 1);
    EXPECT_EQ(three.cursor, 2);
    EXPECT_EQ(sourceBar.current.pos, 66668);
    EXPECT_EQ(views.trackCursor(Pane::source), -1);
    sourceBar.track = 100000;   // past the last page: still the last unit
    views.trackCursor(Pane::source);
    EXPECT_EQ(three.cursor, 2);

    // The empty list does not move, at level -1 and after a refused edit.
    EXPECT_EQ(views.stepCursor(Pane::list, +1), -1);
    EXPECT_EQ(views.trackCursor(Pane::list), -1);
    editor.insertSrcPicPkts(true);
    EXPECT_EQ(views.stepCursor(Pane::list, +1), -1);
    EXPECT_EQ(editor.currentList().cursor, 0);
    add(0, 2);
    EXPECT_EQ(views.stepCursor(Pane::list, +1), 1);
    EXPECT_EQ(editor.currentList().cursor, 1);
    EXPECT_EQ(listBar.current.pos, 33333);
}

TEST_F(StreamViewsTest, SwitchingSourcesBringsTheBarToTheNewSourcesCursor)
{
    load(0, 10);
    load(1, 4).cursor = 2;
    app.currentSource = 0;
    app.selectNextSource();
    EXPECT_EQ(app.currentSource, 1);
    EXPECT_EQ(sourceBar.current.page, 25000);
    EXPECT_EQ(sourceBar.current.pos, 50000);
    app.selectPreviousSource();
    EXPECT_EQ(sourceBar.current.page, 10000);
    EXPECT_EQ(sourceBar.current.pos, 0);
}

TEST_F(StreamViewsTest, ClicksSelectTheUnitOrEntryUnderTheCell)
{
    EXPECT_EQ(StreamViews(app, editor).hitTest(200, 150, SelectEnd::start), 0) << "no pane before the first paint";
    placePanes({900, 600});
    SourceStream& src = load(0, 20);
    src.cursor = 10;
    // x = 192 is the second cell's first column: unit 9.
    EXPECT_EQ(views.hitTest(192, 150, SelectEnd::start), 1);
    EXPECT_EQ(views.hitTest(879, 226, SelectEnd::end), 1);
    EXPECT_EQ(src.selStart, 9);
    EXPECT_EQ(src.selEnd, 12);
    EXPECT_EQ(views.hitTest(880, 150, SelectEnd::start), 0);
    EXPECT_EQ(views.hitTest(500, 227, SelectEnd::start), 0);
    EXPECT_EQ(views.hitTest(500, 10, SelectEnd::start), 0);

    // An empty cell is inside the pane but selects nothing.
    src.cursor = 0;
    EXPECT_EQ(views.hitTest(25, 140, SelectEnd::start), 1);
    EXPECT_EQ(src.selStart, 9);

    // List clicks select entries and update the totals.
    add(3, 6);
    EXPECT_DOUBLE_EQ(editor.selectedMB, 0);
    EXPECT_EQ(views.hitTest(400, 350, SelectEnd::start), 1);   // centre cell: entry 0
    EXPECT_EQ(views.hitTest(750, 350, SelectEnd::end), 1);     // entry 2
    EXPECT_EQ(editor.currentList().selStart, 0);
    EXPECT_EQ(editor.currentList().selEnd, 2);
    EXPECT_GT(editor.selectedMB, 0);
    EXPECT_NEAR(editor.selectedSeconds, 3 * 12 * 0.04, 1e-9);
}

} // namespace
