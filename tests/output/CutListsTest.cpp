// Cut lists shared with other tools: each format written and read back within one
// picture, FFmpeg-based players' rules for the .edl we write, lists made by other
// tools, and the units a list keeps in a real recording.
#include "core/LogConsole.h"
#include "cut/CutEditor.h"
#include "cut/CutLists.h"
#include "platform/Operation.h"
#include "source/SourceAnalyser.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

using namespace testsupport;

namespace {

constexpr uint64_t picture = 3600;
constexpr CutListFormat formats[] = {CutListFormat::edl, CutListFormat::comskip, CutListFormat::vdr, CutListFormat::csv};

TEST(CutLists, EachFormatRoundTripsWithinOnePicture)
{
    const uint64_t length = 90000ull * 3600;   // an hour
    // Spans that start and end anywhere, not only on pictures, the first at the start.
    const std::vector<TimeSpan> kept = {{0, 1234567}, {2000000, 2000001 + 5 * picture}, {9000000 + 1799, 90000ull * 1800 + 33},
                                        {90000ull * 3000, 90000ull * 3599 + 77}};
    for (CutListFormat f : formats) {
        SCOPED_TRACE(cutListFormatName(f));
        const std::string text = cutListText(f, kept, length);
        EXPECT_EQ(cutListFormatOf("", text), f) << text;
        CutListRead read;
        ASSERT_EQ(parseCutList(f, text, length, read), "") << text;
        ASSERT_EQ(read.kept.size(), kept.size()) << text;
        for (size_t k = 0; k < kept.size(); ++k) {
            EXPECT_LE(std::llabs(static_cast<long long>(read.kept[k].start) - static_cast<long long>(kept[k].start)),
                      static_cast<long long>(picture / 2))
                << k;
            EXPECT_LE(std::llabs(static_cast<long long>(read.kept[k].end) - static_cast<long long>(kept[k].end)),
                      static_cast<long long>(picture / 2))
                << k;
        }
        EXPECT_EQ(read.spansAreCuts, f == CutListFormat::edl || f == CutListFormat::comskip);
    }
}

// What FFmpeg-based players ask of an .edl: one cut a line, start before end,
// seconds with a dot, in time order, nothing else on the line.
TEST(CutLists, TheEdlWeWriteKeepsThePlayersRules)
{
    const std::string text =
        cutListText(CutListFormat::edl, {{90000ull * 600, 90000ull * 700}, {450000, 900000}, {90000ull * 20, 90000ull * 30}},
                    90000ull * 900);
    std::istringstream in(text);
    double previousEnd = -1;
    int lines = 0;
    for (std::string line; std::getline(in, line); ++lines) {
        double start, end;
        int action;
        char rest;
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf %lf %d%c", &start, &end, &action, &rest), 3) << line;
        EXPECT_NE(line.find('.'), std::string::npos);
        EXPECT_EQ(line.find(','), std::string::npos);
        EXPECT_LT(start, end);
        EXPECT_GE(start, previousEnd);
        EXPECT_EQ(action, 0);
        previousEnd = end;
    }
    // Cuts: before 5 s, 10-20 s, 30-600 s, 700-900 s.
    EXPECT_EQ(text, "0.000 5.000 0\n10.000 20.000 0\n30.000 600.000 0\n700.000 900.000 0\n");
}

TEST(CutLists, ListsOfOtherToolsReadAsTheirFormatsSay)
{
    const uint64_t length = 90000ull * 100;
    struct Case {
        std::string name, text;
        std::vector<TimeSpan> kept;
    };
    const std::vector<Case> cases = {
        // Mute (1) and scene markers (2) cut nothing; overlapping cuts merge.
        {"a.edl", "# kodi\n10.5 20 0\n15 30.25\t3\n40 41 1\n50 51 2\n", {{0, 945000}, {2722500, length}}},
        // 29.97 frames a second; the lines before the marker line are the tool's own.
        {"show.txt", "junk\nFILE PROCESSING COMPLETE  5000 FRAMES AT  2997\n-------------------\n0\t300\n1500\t2997\n",
         {{900900, 4504504}}},
        // An odd number of marks: the last kept span runs to the end.
        {"marks", "0:00:10.00 start\n0:00:20.12 end\n0:01:00.00\n", {{900000, 1843200}, {5400000, length}}},
        {"k.csv", "start,end\n\"0:00:01.500\",2.5\n3,4\n", {{135000, 225000}, {270000, 360000}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CutListRead read;
        ASSERT_EQ(parseCutList(cutListFormatOf(c.name, c.text), c.text, length, read), "");
        ASSERT_EQ(read.kept.size(), c.kept.size());
        for (size_t k = 0; k < c.kept.size(); ++k) {
            EXPECT_EQ(read.kept[k].start, c.kept[k].start) << k;
            EXPECT_EQ(read.kept[k].end, c.kept[k].end) << k;
        }
    }
    // Refusals name the line and what is wrong.
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"a.edl", "1 2 0\n5 3 0\n"},       {"a.edl", "1,5 2 0\n"},  {"a.edl", "1 2 7\n"},
        {"a.txt", "0 10\n"},               {"marks", "0:00:10.00\n0:00:05.00\n"},
        {"a.csv", "1,2\nx,y\n"},           {"a.csv", "3,1\n"},
    };
    const std::vector<std::string> reasons = {"line 2: the start is not before the end", "line 1: an EDL line",
                                              "line 1: an EDL line", "not a comskip list",
                                              "line 2: the marks are not in time order", "line 2: a CSV line",
                                              "line 1: the start is not before the end"};
    for (size_t k = 0; k < bad.size(); ++k) {
        CutListRead read;
        const std::string why = parseCutList(cutListFormatOf(bad[k].first, bad[k].second), bad[k].second, length, read);
        EXPECT_NE(why.find(reasons[k]), std::string::npos) << bad[k].second << " -> " << why;
    }
}

// In a real recording: the list's units come back from each format, and a span
// boundary inside a unit is said.
TEST(CutLists, TheUnitsOfAListComeBackFromEachFormat)
{
    LogConsole log;
    std::string shown;
    recordShown(log, shown);
    SourceAnalyser app{log};
    CutEditor editor{app};
    int32_t cancel = 0;
    ASSERT_EQ(app.scanSource(sample("rec60.pva").c_str(), 0, platform::quietOperation(cancel)), 1);
    ASSERT_EQ(editor.insertUnits(0, 3, 10, INT32_MAX), 1);
    ASSERT_EQ(editor.insertUnits(0, 40, 50, INT32_MAX), 1);
    ASSERT_EQ(editor.insertUnits(0, app.sources[0].lastCutPoint - 2, app.sources[0].lastCutPoint - 1, INT32_MAX), 1);
    auto units = [&] {
        std::vector<int32_t> u;
        for (int32_t k = 0; k < editor.currentList().count; ++k) u.push_back(editor.currentList().unit[k]);
        return u;
    };
    const std::vector<int32_t> listed = units();
    int32_t source = -1;
    std::vector<TimeSpan> kept;
    std::string why;
    ASSERT_TRUE(keptSpansOfList(editor, source, kept, why)) << why;
    const uint64_t length = sourceTicks(app.sources[0]);
    for (CutListFormat f : formats) {
        SCOPED_TRACE(cutListFormatName(f));
        CutListRead read;
        ASSERT_EQ(parseCutList(f, cutListText(f, kept, length), length, read), "");
        ASSERT_EQ(editor.deleteSelection(true), 1);
        ASSERT_EQ(addKeptUnits(editor, 0, read.kept), 1) << shown;
        EXPECT_EQ(units(), listed);
    }
    shown.clear();
    ASSERT_EQ(editor.deleteSelection(true), 1);
    ASSERT_EQ(addKeptUnits(editor, 0, {{kept[0].start + 100, kept[0].end}}), 1);
    EXPECT_EQ(units().front(), 4) << "a unit is kept when its cut point lies in the span";
    EXPECT_NE(shown.find("falls inside unit 3"), std::string::npos) << shown;
    // A list of two sources is no one recording's cut list.
    ASSERT_EQ(app.scanSource(sample("clip.pva").c_str(), 0, platform::quietOperation(cancel)), 1);
    ASSERT_EQ(editor.insertUnits(1, 0, 1, 0), 1);
    EXPECT_FALSE(keptSpansOfList(editor, source, kept, why));
    EXPECT_NE(why.find("more than one source"), std::string::npos);
}

} // namespace
