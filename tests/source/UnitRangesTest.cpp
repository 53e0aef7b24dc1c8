#include "source/UnitRanges.h"

#include "core/LogConsole.h"
#include "source/SourceAnalyser.h"
#include "support/SyntheticSource.h"

#include <gtest/gtest.h>

#include <string>

using testsupport::SyntheticSource;

namespace {

// "first-last first-last ..." of every run in [from, to), searched as a command does.
std::string runs(const SourceStream& src, uint64_t from, uint64_t to)
{
    std::string out;
    for (int32_t unit = 0;;) {
        const UnitRange run = nextUnitRunInTime(src, unit, from, to);
        if (run.empty()) return out;
        out += (out.empty() ? "" : " ") + std::to_string(run.first) + "-" + std::to_string(run.last);
        unit = run.last + 1;
    }
}

TEST(UnitRanges, RunsOfUnitsStartingInATimeSpan)
{
    LogConsole log;
    SourceAnalyser app(log);
    // Units of 12 pictures (43,200 ticks); the recording starts again at 0 after unit 3.
    ASSERT_EQ(SyntheticSource().gops(4).gops(3).load(app, 0), 1);
    const SourceStream& src = app.sources[0];
    ASSERT_EQ(src.lastCutPoint, 6);   // units 0 to 5; the last cut point ends the last unit

    EXPECT_EQ(runs(src, 0, 1), "0-0 4-4");
    EXPECT_EQ(runs(src, 40000, 130000), "1-3 5-5");   // unit 6 would start at 86,400 but has no end
    EXPECT_EQ(runs(src, 43200, 43201), "1-1 5-5");
    EXPECT_EQ(runs(src, 43201, 86400), "");           // the end is not in the span
    EXPECT_EQ(runs(src, 0, uint64_t{1} << 40), "0-5");
    EXPECT_TRUE(nextUnitRunInTime(src, 6, 0, 1000000).empty());
    EXPECT_EQ(nextUnitRunInTime(src, -3, 0, 1).last, 0);
}

} // namespace
