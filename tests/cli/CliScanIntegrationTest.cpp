// orvane-cli scan and units on generated recordings.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>

using namespace testsupport;

namespace {

RunResult cli(const std::string& args) { return run(binary("orvane-cli") + " " + args); }
std::string inQuotes(const std::string& s) { return "'" + s + "'"; }
void writeText(const std::string& path, const std::string& text)
{
    writeBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<std::vector<std::string>> table(const std::string& text)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream f(line);
        rows.emplace_back();
        for (std::string cell; std::getline(f, cell, '\t');) rows.back().push_back(cell);
    }
    return rows;
}

TEST(CliScan, PrintsTheConsoleAndReportsFailures)
{
    const std::string clip = sample("clip.pva");
    RunResult ok = cli("scan " + inQuotes(clip) + " " + inQuotes(sample("garbage_before.pva")));
    EXPECT_EQ(ok.status, 0) << ok.err;   // a repaired scan is a success
    EXPECT_NE(ok.out.find(clip + ": " + sampleInfo("clip.pva", "size") + " Bytes   vStartPts "), std::string::npos) << ok.out;
    EXPECT_NE(ok.out.find("Found more AV Data at 5\n"), std::string::npos);

    ScratchDir dir("cliscan");
    RunResult bad = cli("scan " + inQuotes(clip) + " " + inQuotes(dir.file("missing.pva")));
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("ERROR: can't read " + dir.file("missing.pva") + "\n"), std::string::npos) << bad.out;
    EXPECT_EQ(cli("scan").status, 2);
    EXPECT_EQ(cli("scan --verbose " + inQuotes(clip)).status, 2);

    // With --log the packet lines go into FILE.txt, not to the terminal.
    const std::string copy = dir.file("copy.pva");
    std::filesystem::copy_file(clip, copy);
    RunResult logged = cli("scan --log " + inQuotes(copy));
    EXPECT_EQ(logged.status, 0);
    EXPECT_NE(logged.out.find("Creating Scan Log: " + copy + ".txt\n"), std::string::npos);
    EXPECT_EQ(logged.out.find("count:"), std::string::npos);
    const std::string log = readText(copy + ".txt");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1 + sampleInfoInt("clip.pva", "packets"));
}

// Sources that are not regular files end at once with an error that names them,
// instead of waiting for a writer or reading forever (timeout ends a regression).
TEST(CliScan, RefusesPipesDevicesAndDirectoriesAtOnce)
{
    ScratchDir dir("clinotfile");
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string cli = "timeout 20 " + inQuotes(binary("orvane-cli"));
    for (const std::string& source : {fifo, std::string("/dev/zero"), std::string("/dev/urandom"), dir.path()}) {
        RunResult r = run(cli + " scan " + inQuotes(source));
        EXPECT_EQ(r.status, 1) << source;
        EXPECT_EQ(r.out, "ERROR: can't read " + source + ": it is not a regular file\n");
    }
    RunResult piped = run("{ cat " + inQuotes(sample("clip.pva")) + " | " + cli + " units /dev/stdin; }");
    EXPECT_EQ(piped.status, 1);
    EXPECT_EQ(piped.out, "");
    EXPECT_EQ(piped.err, "ERROR: can't read /dev/stdin: it is not a regular file\n");
}

TEST(CliScan, AScanLogThatCannotBeCreatedFailsTheScan)
{
    ScratchDir dir("clilog");
    const std::string copy = dir.file("copy.pva");
    std::filesystem::copy_file(sample("clip.pva"), copy);
    std::filesystem::create_directories(copy + ".txt/taken");
    RunResult r = cli("scan --log " + inQuotes(copy));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("Creating Scan Log: " + copy + ".txt\nERROR: can't write " + copy + ".txt\n", 0), 0u) << r.out;
}

// Settings files first, then every --set, whatever their order; a part size
// below 4 MB is refused where it is read.
TEST(CliScan, SetWinsOverIniAndSmallPartSizesAreRefused)
{
    ScratchDir dir("cliini");
    const std::string ini = dir.file("x.ini");
    writeText(ini, "cutAtIFrames=0\n");
    const std::string clip = inQuotes(sample("clip.pva"));
    const size_t iUnits = static_cast<size_t>(sampleInfoInt("clip.pva", "i_pictures"));
    for (const std::string& order : {"--set cutAtIFrames=1 --ini " + ini, "--ini " + ini + " --set cutAtIFrames=1"}) {
        RunResult r = cli(order + " units " + clip);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(table(r.out).size(), iUnits) << order;
    }
    EXPECT_GT(table(cli("--ini " + ini + " units " + clip).out).size(), iUnits);

    RunResult refused = cli("--set splitPvaDstFileSizeMB=3 scan " + clip);
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("splitPvaDstFileSizeMB=3 refused: a part needs at least 4 MB"), std::string::npos);
    writeText(ini, "splitPvaDstFileSizeMB=0\n");
    RunResult fromFile = cli("--ini " + ini + " scan " + clip);
    EXPECT_EQ(fromFile.status, 0);
    EXPECT_EQ(fromFile.out.rfind("ERROR: " + ini + ": splitPvaDstFileSizeMB=0 refused: a part needs at least 4 MB; "
                                 "keeping 650\n", 0),
              0u)
        << fromFile.out;
}

TEST(CliUnits, PrintsOneRowPerCutUnit)
{
    const std::string clip = sample("clip.pva");
    RunResult r = cli("units " + inQuotes(clip));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Frames 100 \n"), std::string::npos) << r.err;   // messages on stderr only
    auto rows = table(r.out);
    ASSERT_EQ(rows.size(), static_cast<size_t>(sampleInfoInt("clip.pva", "i_pictures")));   // header + units
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
              "unit\tfirst_packet\tend_packet\tfile_offset\tstart_frame\tvpts\tpic_type\tgop_timecode");
    std::vector<std::string> offsets;
    std::istringstream packets(readText(clip + ".packets"));
    for (std::string line; std::getline(packets, line);) offsets.push_back(line.substr(0, line.find('\t')));
    EXPECT_TRUE(rows[1][3] == "0" && rows[1][5] == "0");
    for (size_t u = 1; u < rows.size(); ++u) {
        ASSERT_EQ(rows[u].size(), 8u);
        EXPECT_EQ(rows[u][0], std::to_string(u - 1));
        EXPECT_EQ(rows[u][3], offsets.at(std::stoul(rows[u][1])));
        EXPECT_TRUE(u == 1 || rows[u][1] == rows[u - 1][2]) << u;
        EXPECT_EQ(rows[u][6], "1");
        EXPECT_EQ(rows[u][7].size(), 10u);
    }
    EXPECT_EQ(table(cli("--set cutAtIFrames=0 units " + inQuotes(clip)).out).size(),
              static_cast<size_t>(sampleInfoInt("clip.pva", "video_pts_packets")));

    RunResult missing = cli("units /nonexistent/x.pva");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(cli("units " + inQuotes(clip) + " " + inQuotes(clip)).status, 2);
}

// A settings file that is a pipe nobody writes, or a link to an endless device,
// is not read (the program would wait or read for ever) and a directory is no
// settings file: each is said and refused, at once.
TEST(CliScan, SettingsFileThatIsNoRegularFileIsRefusedWithoutWaiting)
{
    ScratchDir dir("cliininofile");
    const std::string fifo = dir.file("fifo.ini"), zero = dir.file("zero.ini"), folder = dir.file("folder.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", zero);
    std::filesystem::create_directory(folder);
    const std::string clip = inQuotes(sample("clip.pva"));
    for (const auto& [ini, why] : {std::pair{fifo, "it is not a regular file"}, std::pair{zero, "it is not a regular file"},
                                   std::pair{folder, "it is a directory"}}) {
        RunResult r = run("timeout 20 " + binary("orvane-cli") + " --ini " + inQuotes(ini) + " scan " + clip);
        EXPECT_EQ(r.status, 2) << ini;
        EXPECT_EQ(r.out, "ERROR: " + ini + " ignored: " + why + "\n");
        EXPECT_NE(r.err.find("can't read settings file " + ini), std::string::npos) << r.err;
    }
}

// A scan log never takes the name of a recording the command scans, nor of the
// recording itself through a link; a file without a single packet is refused as a
// recording. Each is said in one line and fails the command, the others are scanned.
TEST(CliScan, ScanLogsSpareRecordingsAndFilesWithoutPacketsAreRefused)
{
    ScratchDir dir("cliscanlog");
    const std::vector<uint8_t> clip = readBytes(sample("clip.pva"));
    const std::string a = dir.file("a.pva"), aLog = dir.file("a.pva.txt"), b = dir.file("b.pva");
    for (const std::string& p : {a, aLog, b}) writeBytes(p, clip);
    std::filesystem::create_symlink(b, b + ".txt");

    RunResult r = cli("scan --log " + inQuotes(a) + " " + inQuotes(aLog) + " " + inQuotes(b));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("ERROR: can't write " + aLog + ": it is the source PVA file " + aLog + "\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("ERROR: can't write " + b + ".txt: it is the source PVA file " + b + "\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(aLog + ": " + sampleInfo("clip.pva", "size") + " Bytes"), std::string::npos) << r.out;
    for (const std::string& p : {a, aLog, b}) EXPECT_EQ(readBytes(p), clip) << p;
    EXPECT_TRUE(std::filesystem::is_symlink(b + ".txt"));
    EXPECT_EQ(readText(aLog + ".txt").rfind("pos        paket", 0), 0u);

    std::vector<uint8_t> noise(100000);
    uint32_t x = 12345;
    for (uint8_t& c : noise) c = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
    const std::string empty = dir.file("empty.pva"), random = dir.file("random.pva"), es = dir.file("video.m2v");
    writeBytes(empty, {});
    writeBytes(random, noise);
    writeBytes(es, concat({gopHeader(0), pictureHeader(1), std::vector<uint8_t>(5000, 0x55)}));
    r = cli("scan " + inQuotes(empty) + " " + inQuotes(random) + " " + inQuotes(es));
    EXPECT_EQ(r.status, 1);
    for (const std::string& p : {empty, random, es})
        EXPECT_NE(r.out.find("ERROR: " + p + " is not a PVA recording: no AV packet found\n"), std::string::npos) << r.out;
    EXPECT_EQ(cli("units " + inQuotes(es)).status, 1);
    // A cut that names it saves nothing.
    const std::string out = dir.file("out.pva");
    r = cli("cut -o " + inQuotes(out) + " --add 0:0-0 " + inQuotes(empty) + " " + inQuotes(a));
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_FALSE(fileExists(out));
}

} // namespace
