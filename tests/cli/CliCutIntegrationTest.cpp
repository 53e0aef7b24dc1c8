// orvane-cli cut and list-mpeg: options, refusals and exit codes.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;

namespace {

std::string q(const std::string& s) { return "'" + s + "'"; }

class CliCut : public ::testing::Test {
protected:
    ScratchDir dir{"clicut"};
    // Runs orvane-cli in the scratch directory; a '%' in args stands for clip.pva.
    RunResult cli(std::string args)
    {
        if (size_t at = args.find('%'); at != std::string::npos) args.replace(at, 1, q(sample("clip.pva")));
        return run("cd " + q(dir.path()) + " && " + q(binary("orvane-cli")) + " " + args);
    }
};

TEST_F(CliCut, UsageErrorsExit2AndFailedStepsExit1WithoutSaving)
{
    for (const char* args : {"cut --add 0:1-2 %", "cut -o out.pva %", "cut -o out.pva --add 0:3 %",
                             "cut -o out.pva --add 0:3-2 %", "cut -o out.pva --insert 0:1-2 %",
                             "cut -o out.pva --delete 1 %", "cut -o out.pva --add 0@00:00:02-00:00:01 %",
                             "cut -o out.pva --add 0@1:2-00:00:03 %", "cut -o out.pva --frobnicate %",
                             "cut -o out.pva --add 0:1-2", "list-mpeg", "list-mpeg a b"}) {
        RunResult r = cli(args);
        EXPECT_EQ(r.status, 2) << args << "\n" << r.err;
        EXPECT_NE(r.err.find("orvane-cli: "), std::string::npos) << args;
        EXPECT_EQ(r.out, "") << args;
    }
    EXPECT_FALSE(fileExists(dir.file("out.pva")));

    const std::pair<const char*, const char*> failures[] = {
        {"cut -o out.pva --add 0:1-2 missing.pva", "ERROR: can't read missing.pva"},
        {"cut -o out.pva --add 1:1-2 %", "there is no source 1"},
        {"cut -o out.pva --add 0:5-8 %", "source 0 has units 0-7"},
        {"cut -o out.pva --add 0:1-2 --insert 0:3-3@5 %", "the list has 2 entries"},
        {"cut -o out.pva --add 0:1-2 --select 1-2 %", "the list has 2 entries"},
        {"cut -o out.pva --add 0@00:01:00-00:02:00 %", "no cut unit of source 0 starts in that span"},
        {"cut -o out.pva --add 0:1-2 --delete 0-1 %", "the new PVA is empty"},
        {"cut -o out.pva --add 0:1-2 --undo %", "the new PVA is empty"},
        {"cut -o out.pva --add 0:1-2 --selection-only %", "without a list selection"},
    };
    for (auto [args, message] : failures) {
        RunResult r = cli(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE((r.out + r.err).find(message), std::string::npos) << args << "\n" << r.out << r.err;
        EXPECT_FALSE(fileExists(dir.file("out.pva"))) << args;
    }
}

TEST_F(CliCut, RefusesToSaveOverASource)
{
    const std::string src = dir.file("rec.pva");
    std::filesystem::copy_file(sample("clip.pva"), src);
    const auto before = readBytes(src);
    RunResult r = cli("cut -o ./rec.pva --add 0:1-2 " + q(src));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("ERROR: can't save to ./rec.pva: it is the source PVA file " + src), std::string::npos)
        << r.out;
    EXPECT_EQ(readBytes(src), before);

    // A split save whose first part would be the source.
    std::filesystem::rename(src, dir.file("rec_0.pva"));
    EXPECT_EQ(cli("--set splitPvaDstFile=1 cut -o rec.pva --add 0:1-2 rec_0.pva").status, 1);
    EXPECT_EQ(readBytes(dir.file("rec_0.pva")), before);
}

TEST_F(CliCut, TimeRangesTakeTheUnitsStartingInThem)
{
    // Units start every 12 pictures (0.48 s): 1.0 s to 2.5 s holds units 3, 4 and 5.
    RunResult byTime = cli("cut -o t.pva --add '0@00:00:01-00:00:02.5' %");
    ASSERT_EQ(byTime.status, 0) << byTime.err;
    EXPECT_NE(byTime.out.find("Save Pva: t.pva"), std::string::npos);
    ASSERT_EQ(cli("cut -o u.pva --add 0:3-5 %").status, 0);
    EXPECT_EQ(readBytes(dir.file("t.pva")), readBytes(dir.file("u.pva")));
}

TEST_F(CliCut, ListMpegWritesOutTxtInTheWorkingDirectory)
{
    ASSERT_EQ(cli("list-mpeg " + q(sample("clip.m2v"))).status, 0);
    const std::string listing = readText(dir.file("out.txt"));
    const std::string summary =
        "\nSize: " + sampleInfo("clip.m2v", "size") + " Frames " + sampleInfo("clip.m2v", "pictures") + "\n";
    ASSERT_GE(listing.size(), summary.size());
    EXPECT_EQ(listing.substr(listing.size() - summary.size()), summary);
    EXPECT_NE(listing.find(" GOP:  00:00:00.00  Fr:"), std::string::npos);

    RunResult r = cli("list-mpeg missing.mpg");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("ERROR: can't read missing.mpg"), std::string::npos);
    EXPECT_EQ(readText(dir.file("out.txt")), listing);
}

} // namespace
