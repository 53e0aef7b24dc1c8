// orvane-cli cut --project and --save-project: refusals, exit codes, and a
// project whose source moved.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

std::string q(const std::string& s) { return "'" + s + "'"; }

class CliProject : public ::testing::Test {
protected:
    ScratchDir dir{"cliproject"};
    RunResult cli(const std::string& args)
    {
        return run("cd " + q(dir.path()) + " && " + q(binary("orvane-cli")) + " " + args);
    }
};

TEST_F(CliProject, AProjectSavedBesideACutGivesTheSameCutAfterItsSourceMoved)
{
    fs::copy_file(sample("clip.pva"), dir.file("a.pva"));
    const RunResult saved = cli("cut -o first.pva --add 0:2-5 --insert 0:0-0@1 --save-project p.orvane a.pva");
    ASSERT_EQ(saved.status, 0) << saved.err;
    EXPECT_NE(saved.out.find("project saved: p.orvane"), std::string::npos) << saved.out;

    fs::create_directory(dir.file("moved"));
    fs::rename(dir.file("a.pva"), dir.file("moved/renamed.pva"));
    fs::rename(dir.file("p.orvane"), dir.file("moved/p.orvane"));
    // Edits given after the project apply to its list.
    const RunResult again = cli("cut -o second.pva --project moved/p.orvane --delete 4-4");
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE((again.out + again.err).find("found by its fingerprint as moved/renamed.pva"), std::string::npos)
        << again.out << again.err;
    const RunResult same = cli("cut -o third.pva --add 0:2-5 --insert 0:0-0@1 --delete 4-4 moved/renamed.pva");
    ASSERT_EQ(same.status, 0) << same.err;
    EXPECT_TRUE(readBytes(dir.file("second.pva")) == readBytes(dir.file("third.pva")));
}

TEST_F(CliProject, RefusalsSaveNothing)
{
    fs::copy_file(sample("clip.pva"), dir.file("a.pva"));
    for (const char* args : {"cut -o out.pva --project", "cut -o out.pva --project p.orvane a.pva",
                             "cut -o out.pva --save-project"}) {
        const RunResult r = cli(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_FALSE(fileExists(dir.file("out.pva"))) << args;
    }
    writeBytes(dir.file("bad.orvane"), {'n', 'o', 't', '\n'});
    const RunResult bad = cli("cut -o out.pva --project bad.orvane");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE((bad.out + bad.err).find("ERROR: can't open the project bad.orvane: it is not an Orvane project file"),
              std::string::npos)
        << bad.out << bad.err;
    EXPECT_FALSE(fileExists(dir.file("out.pva")));
}

} // namespace

namespace {

// export-cutlist writes the list as each tool's cut list; cut --cutlist of it
// saves the same new PVA as the edits.
TEST_F(CliProject, CutListsExportedAndReadBackCutTheSame)
{
    fs::copy_file(sample("rec60.pva"), dir.file("r.pva"));
    const RunResult ref = cli("cut -o ref.pva --add 0:3-10 --add 0:40-50 r.pva");
    ASSERT_EQ(ref.status, 0) << ref.err;
    for (const char* name : {"l.edl", "l.txt", "l.vdr", "marks", "l.csv"}) {
        SCOPED_TRACE(name);
        const RunResult out = cli(std::string("export-cutlist -o ") + name + " --add 0:3-10 --add 0:40-50 r.pva");
        ASSERT_EQ(out.status, 0) << out.err;
        const RunResult back = cli(std::string("cut -o back.pva --cutlist ") + name + " r.pva");
        ASSERT_EQ(back.status, 0) << back.err;
        EXPECT_TRUE(readBytes(dir.file("back.pva")) == readBytes(dir.file("ref.pva")));
    }
    const RunResult unknown = cli("export-cutlist -o list.xyz --add 0:3-10 r.pva");
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.err.find("the name does not say the format"), std::string::npos) << unknown.err;
    writeBytes(dir.file("bad.edl"), {'5', ' ', '1', ' ', '0', '\n'});
    const RunResult bad = cli("cut -o out.pva --cutlist bad.edl r.pva");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE((bad.out + bad.err).find("ERROR: can't read the cut list bad.edl: line 1: the start is not before the end"),
              std::string::npos)
        << bad.out << bad.err;
    EXPECT_FALSE(fileExists(dir.file("out.pva")));
}

} // namespace
