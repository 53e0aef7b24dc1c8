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
    std::string clip = q(sample("clip.pva"));
    RunResult cli(const std::string& args)
    {
        return run("cd " + q(dir.path()) + " && " + q(binary("orvane-cli")) + " " + args);
    }
};

TEST_F(CliCut, UsageErrorsExitWith2BeforeAnythingIsRead)
{
    for (const char* args : {"cut --add 0:1-2 %", "cut -o out.pva %", "cut -o out.pva --add 0:3 %",
                             "cut -o out.pva --add 0:3-2 %", "cut -o out.pva --insert 0:1-2 %",
                             "cut -o out.pva --delete 1 %", "cut -o out.pva --add 0@00:00:02-00:00:01 %",
                             "cut -o out.pva --add 0@1:2-00:00:03 %", "cut -o out.pva --frobnicate %",
                             "cut -o out.pva --add 0:1-2", "list-mpeg", "list-mpeg a b"}) {
        std::string a = args;
        if (a.find('%') != std::string::npos) a.replace(a.find('%'), 1, clip);
        RunResult r = cli(a);
        EXPECT_EQ(r.status, 2) << a << "\n" << r.err;
        EXPECT_NE(r.err.find("orvane-cli: "), std::string::npos) << a;
        EXPECT_EQ(r.out, "") << a;
    }
    EXPECT_FALSE(fileExists(dir.file("out.pva")));
}

TEST_F(CliCut, FailedStepsExitWith1AndSaveNothing)
{
    struct Case {
        const char* args;
        const char* message;
    } cases[] = {
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
    for (const Case& c : cases) {
        std::string a = c.args;
        if (a.find('%') != std::string::npos) a.replace(a.find('%'), 1, clip);
        RunResult r = cli(a);
        EXPECT_EQ(r.status, 1) << a;
        EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << a << "\n" << r.out << r.err;
        EXPECT_FALSE(fileExists(dir.file("out.pva"))) << a;
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
    r = cli("--set splitPvaDstFile=1 cut -o rec.pva --add 0:1-2 rec_0.pva");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(readBytes(dir.file("rec_0.pva")), before);
}

TEST_F(CliCut, TimeRangesTakeTheUnitsStartingInThem)
{
    // Units start every 12 pictures (0.48 s): 1.0 s to 2.5 s holds units 3, 4 and 5.
    RunResult byTime = cli("cut -o t.pva --add '0@00:00:01-00:00:02.5' " + clip);
    ASSERT_EQ(byTime.status, 0) << byTime.err;
    EXPECT_NE(byTime.out.find("Save Pva: t.pva"), std::string::npos);
    ASSERT_EQ(cli("cut -o u.pva --add 0:3-5 " + clip).status, 0);
    EXPECT_EQ(readBytes(dir.file("t.pva")), readBytes(dir.file("u.pva")));
}

TEST_F(CliCut, ListMpegWritesOutTxtInTheWorkingDirectory)
{
    RunResult r = cli("list-mpeg " + q(sample("clip.m2v")));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string listing = readText(dir.file("out.txt"));
    const std::string summary =
        "\nSize: " + sampleInfo("clip.m2v", "size") + " Frames " + sampleInfo("clip.m2v", "pictures") + "\n";
    ASSERT_GE(listing.size(), summary.size());
    EXPECT_EQ(listing.substr(listing.size() - summary.size()), summary);
    EXPECT_NE(listing.find(" GOP:  00:00:00.00  Fr:"), std::string::npos);

    r = cli("list-mpeg missing.mpg");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("ERROR: can't read missing.mpg"), std::string::npos);
    EXPECT_EQ(readText(dir.file("out.txt")), listing);
}

} // namespace
