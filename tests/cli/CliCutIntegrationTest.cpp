// orvane-cli cut and list-mpeg: options, refusals and exit codes.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <set>
#include <thread>
#include <unistd.h>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

std::string q(const std::string& s) { return "'" + s + "'"; }

class CliCut : public ::testing::Test {
protected:
    ScratchDir dir{"clicut"};
    // Runs orvane-cli in the scratch directory; a '%' in args stands for clip.pva.
    RunResult cli(std::string args)
    {
        if (size_t at = args.find('%'); at != std::string::npos) args.replace(at, 1, q(sample("clip.pva")));
        return run("cd " + q(dir.path()) + " && " + q(binary("orvane-cli")) + " --set assCleanJoins=0 " + args);
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

// What was wrong is said: a malformed time names its part, and a source without
// units says so.
TEST_F(CliCut, MessagesSayWhatIsWrong)
{
    const std::pair<const char*, const char*> times[] = {
        {"0@1:2-00:00:03", "the start time '1:2' is not HH:MM:SS[.mmm]"},
        {"0@00:00:01-00:00:0x", "the end time '00:00:0x' is not HH:MM:SS[.mmm]"},
        {"0@00:61:00-00:62:00", "the start time '00:61:00' has more than 59 minutes"},
        {"0@00:00:01-00:00:60", "the end time '00:00:60' has more than 59 seconds"},
        {"0@00:00:01-00:00:02.1234", "the end time '00:00:02.1234' has more than three digits after the point"},
        {"0@00:00:01-14:00:00", "the end time '14:00:00' is past 13 hours, where the time stamps end"},
        {"0@00:00:02-00:00:01", "the start time must come before the end time"},
        {"0@00:00:02", "there is no '-' between the start and the end time"},
    };
    for (auto [arg, why] : times) {
        RunResult r = cli(std::string("cut -o out.pva --add '") + arg + "' %");
        EXPECT_EQ(r.status, 2) << arg;
        EXPECT_NE(r.err.find(std::string("orvane-cli: cut: --add ") + arg + ": " + why + "\n"), std::string::npos)
            << r.err;
    }

    // The first 40 KB of the clip hold one cut point: no unit.
    const std::vector<uint8_t> clip = readBytes(sample("clip.pva"));
    writeBytes(dir.file("short.pva"), std::vector<uint8_t>(clip.begin(), clip.begin() + 40000));
    RunResult none = cli("cut -o out.pva --add 0:0-0 short.pva");
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("--add 0:0-0: source 0 has no units\n"), std::string::npos) << none.err;
    EXPECT_FALSE(fileExists(dir.file("out.pva")));
}

// The report's own case: a link to the standard output, in a pipeline. The new
// PVA goes down the pipe and the link stays a link.
TEST_F(CliCut, AnOutputLinkIsWrittenThrough)
{
    ASSERT_EQ(cli("cut -o plain.pva --add 0:0-3 %").status, 0);
    const uintmax_t size = fs::file_size(dir.file("plain.pva"));
    fs::create_symlink("/proc/self/fd/1", dir.file("L"));
    RunResult piped = run("cd " + q(dir.path()) + " && { " + q(binary("orvane-cli")) + " --set assCleanJoins=0 cut -o L --add 0:0-3 " +
                          q(sample("clip.pva")) + " | wc -c; }");
    EXPECT_EQ(piped.status, 0);
    EXPECT_GT(std::stoull(piped.out), size);   // the new PVA and the console lines
    EXPECT_TRUE(fs::is_symlink(dir.file("L")));
}

// A list longer than the assembly once held (1,499,999 packets) is saved whole: the
// list grows with the work. (Its limit, far above, is lowered in StreamAssemblerTest
// to check that a list past it is not saved and that this is said once.)
TEST_F(CliCut, AListTooBigForTheAssemblyIsNotSaved)
{
    PacketBuilder b;
    const std::vector<uint8_t> iPicture = concat({gopHeader(0x00080000), pictureHeader(1), std::vector<uint8_t>(16, 0xFF)});
    b.videoPts(900000, iPicture);
    const uint8_t empty[8] = {0x41, 0x56, 0x01, 0x00, 0x55, 0x00, 0x00, 0x00};
    for (int k = 0; k < 800000; ++k) b.bytes.insert(b.bytes.end(), empty, empty + 8);
    b.videoPts(903600, iPicture);
    writeBytes(dir.file("many.pva"), b.bytes);
    RunResult r = cli("cut -o out.pva --add 0:0-0 --add 0:0-0 many.pva");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("ERROR"), std::string::npos) << r.out;
    // Unit 0 twice, the second time with the next picture: 1,600,003 packets.
    EXPECT_EQ(readBytes(dir.file("out.pva")).size(), 2 * (b.bytes.size() - 8 - 4 - iPicture.size()) + 8 + 4 + iPicture.size());
}

// Ctrl-C in the middle of a save works as the cancel button: the unfinished file
// goes, the earlier file of that name stays.
TEST_F(CliCut, InterruptedSaveLeavesTheEarlierFile)
{
    writeBytes(dir.file("out.pva"), {'o', 'l', 'd'});
    const std::string rec = sample("rec60.pva");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::chdir(dir.path().c_str()) != 0 || !std::freopen("/dev/null", "w", stdout)) ::_exit(100);
        const std::string bin = binary("orvane-cli");
        ::execl(bin.c_str(), bin.c_str(), "--set", "assCleanJoins=0", "cut", "-o", "out.pva", "--add", "0:0-123", rec.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(101);
    }
    std::string unfinished;
    for (int wait = 0; wait < 2000 && unfinished.empty(); ++wait) {
        for (const auto& e : fs::directory_iterator(dir.path()))
            if (e.path().filename().string().rfind(".out.pva.", 0) == 0) unfinished = e.path().string();
        if (unfinished.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_FALSE(unfinished.empty()) << "the save never began its file";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_FALSE(fs::exists(unfinished));
    EXPECT_EQ(readBytes(dir.file("out.pva")), (std::vector<uint8_t>{'o', 'l', 'd'}));
}

// Saves killed outright (SIGKILL, a crash) leave their unfinished files; the next
// save of that name removes them. A file of that name that another save still
// writes (it holds its lock) stays, and so do the unfinished files of other names.
TEST_F(CliCut, ASaveRemovesWhatKilledSavesOfItsNameLeft)
{
    const std::string rec = sample("rec60.pva");
    auto unfinished = [&](const std::string& stem) {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir.path()))
            if (e.path().filename().string().rfind("." + stem + ".", 0) == 0) names.insert(e.path().filename().string());
        return names;
    };
    // Each killed save leaves its file; the one after it, killed too, has removed
    // the file of the one before when it began.
    std::set<std::string> left;
    for (int kill = 0; kill < 2; ++kill) {
        const std::set<std::string> before = left;
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::chdir(dir.path().c_str()) != 0 || !std::freopen("/dev/null", "w", stdout)) ::_exit(100);
            const std::string bin = binary("orvane-cli");
            ::execl(bin.c_str(), bin.c_str(), "cut", "-o", "out.pva", "--add", "0:0-123", rec.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(101);
        }
        for (int wait = 0; wait < 2000; ++wait) {
            left = unfinished("out.pva");
            if (left.size() == 1 && left != before) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the save ended before it was killed";
        left = unfinished("out.pva");
        ASSERT_EQ(left.size(), 1u) << "a killed save leaves its file, and only its own";
        ASSERT_NE(left, before);
    }
    const std::string busy = dir.file(".out.pva.0123456789abcdef.tmp");
    writeBytes(busy, {'b', 'u', 's', 'y'});
    const int held = ::open(busy.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    writeBytes(dir.file(".film.pva.0123456789abcdef.tmp"), {'f'});

    RunResult r = cli("cut -o out.pva --add 0:0-1 %");
    ::close(held);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(unfinished("out.pva"), std::set<std::string>{".out.pva.0123456789abcdef.tmp"});
    EXPECT_EQ(unfinished("film.pva").size(), 1u);
    EXPECT_GT(fs::file_size(dir.file("out.pva")), 0u);
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

    // The listing file is no input: listing it would delete it first.
    RunResult itself = cli("list-mpeg out.txt");
    EXPECT_EQ(itself.status, 1);
    EXPECT_EQ(itself.out, "ERROR: can't list out.txt: it is the listing file out.txt\n");
    EXPECT_EQ(readText(dir.file("out.txt")), listing);

    // Nowhere to write the listing: said, and a failure.
    fs::remove(dir.file("out.txt"));
    fs::create_directories(dir.file("out.txt/taken"));
    RunResult unwritable = cli("list-mpeg " + q(sample("clip.m2v")));
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_EQ(unwritable.out, "ERROR: can't write out.txt\n");
}

} // namespace
