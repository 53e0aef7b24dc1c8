// orvane-cli scan and units on generated recordings.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

using namespace testsupport;

namespace {

std::string cli(const std::string& args) { return binary("orvane-cli") + " " + args; }
std::string inQuotes(const std::string& s) { return "'" + s + "'"; }

std::vector<std::vector<std::string>> table(const std::string& text)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> cells;
        std::istringstream f(line);
        std::string cell;
        while (std::getline(f, cell, '\t')) cells.push_back(cell);
        rows.push_back(cells);
    }
    return rows;
}

TEST(CliScan, PrintsTheConsoleAndReportsFailures)
{
    std::string clip = sample("clip.pva");
    RunResult ok = run(cli("scan " + inQuotes(clip) + " " + inQuotes(sample("garbage_before.pva"))));
    EXPECT_EQ(ok.status, 0) << ok.err;   // a repaired scan is a success
    char startPts[16];
    std::snprintf(startPts, sizeof startPts, "%X", static_cast<unsigned>(sampleInfoInt("clip.pva", "first_vpts")));
    EXPECT_NE(ok.out.find(clip + ": " + sampleInfo("clip.pva", "size") + " Bytes   vStartPts " + startPts + "  vEndPts "),
              std::string::npos)
        << ok.out;
    EXPECT_NE(ok.out.find("Found more AV Data at 5\n"), std::string::npos);

    ScratchDir dir("cliscan");
    RunResult bad = run(cli("scan " + inQuotes(clip) + " " + inQuotes(dir.file("missing.pva"))));
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("ERROR: can't read " + dir.file("missing.pva") + "\n"), std::string::npos) << bad.out;

    EXPECT_EQ(run(cli("scan")).status, 2);
    EXPECT_EQ(run(cli("scan --verbose " + inQuotes(clip))).status, 2);

    // With --log the packet lines go into FILE.txt, not to the terminal.
    std::string copy = dir.file("copy.pva");
    std::filesystem::copy_file(clip, copy);
    RunResult logged = run(cli("scan --log " + inQuotes(copy)));
    EXPECT_EQ(logged.status, 0);
    EXPECT_NE(logged.out.find("Creating Scan Log: " + copy + ".txt\n"), std::string::npos);
    EXPECT_EQ(logged.out.find("count:"), std::string::npos);
    std::string log = readText(copy + ".txt");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1 + sampleInfoInt("clip.pva", "packets"));
}

TEST(CliUnits, PrintsOneRowPerCutUnit)
{
    std::string clip = sample("clip.pva");
    RunResult r = run(cli("units " + inQuotes(clip)));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Frames 100 \n"), std::string::npos) << r.err;   // messages on stderr only
    auto rows = table(r.out);
    ASSERT_EQ(rows.size(), static_cast<size_t>(sampleInfoInt("clip.pva", "i_pictures")));   // header + units
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
              "unit\tfirst_packet\tend_packet\tfile_offset\tstart_frame\tvpts\tpic_type\tgop_timecode");
    std::vector<std::string> offsets;
    std::istringstream packets(readText(clip + ".packets"));
    for (std::string line; std::getline(packets, line);) offsets.push_back(line.substr(0, line.find('\t')));
    for (size_t u = 1; u < rows.size(); ++u) {
        ASSERT_EQ(rows[u].size(), 8u);
        EXPECT_EQ(rows[u][0], std::to_string(u - 1));
        EXPECT_EQ(rows[u][3], offsets.at(std::stoul(rows[u][1])));
        EXPECT_EQ(rows[u][6], "1");
        EXPECT_EQ(rows[u][7].size(), 10u);
        if (u > 1) {
            EXPECT_EQ(rows[u][1], rows[u - 1][2]);
        }
    }
    EXPECT_EQ(rows[1][5], "0");
    EXPECT_EQ(rows[1][3], "0");

    RunResult every = run(cli("--set cutAtIFrames=0 units " + inQuotes(clip)));
    EXPECT_EQ(table(every.out).size(), static_cast<size_t>(sampleInfoInt("clip.pva", "video_pts_packets")));

    RunResult missing = run(cli("units /nonexistent/x.pva"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(run(cli("units " + inQuotes(clip) + " " + inQuotes(clip))).status, 2);
}

} // namespace
