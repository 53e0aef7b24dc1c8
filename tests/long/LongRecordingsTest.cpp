// orvane-cli on the recordings of several GB that the fixture makes: a 5 GiB source
// cut across the 4 GiB mark and beyond it, and a recording of 2 h 30 min cut at
// every picture, with a range of 100,000 pictures, its undo and its redo. FFmpeg
// reads back what is saved.
#include "source/PvaPacket.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

using namespace testsupport;

namespace {

constexpr int64_t picture = 3600;     // 25 pictures a second in 90 kHz ticks
constexpr uint32_t audioFrame = 2160; // 1152 samples at 48 kHz
constexpr uint64_t fourGiB = uint64_t{1} << 32;

std::string q(const std::string& s) { return "'" + s + "'"; }
std::string recording(const std::string& name) { return std::string(ORVANE_LONG_DIR) + "/" + name; }
RunResult cli(const std::string& args) { return run(q(binary("orvane-cli")) + " --set assCleanJoins=0 " + args); }

struct Unit {
    int64_t unit = 0, first = 0, end = 0;
    uint64_t offset = 0;
    int64_t frame = 0, vpts = 0, type = 0;
};

// The table of `orvane-cli units`, and the text it printed.
std::vector<Unit> units(const std::string& sets, const std::string& path, std::string* table = nullptr)
{
    RunResult r = cli(sets + " units " + q(path));
    EXPECT_EQ(r.status, 0) << r.err;
    if (table) *table = r.out;
    std::vector<Unit> out;
    std::istringstream in(r.out);
    std::string line;
    std::getline(in, line);
    for (Unit u; std::getline(in, line);) {
        std::istringstream(line) >> u.unit >> u.first >> u.end >> u.offset >> u.frame >> u.vpts >> u.type;
        out.push_back(u);
    }
    return out;
}

// What FFmpeg says about a file, less the lines its PVA reader writes at the end of
// every file.
std::string complaints(const std::string& err)
{
    std::string out, line;
    for (std::istringstream ss(err); std::getline(ss, line);) {
        for (const char* known : {"] invalid syncword", "Last message repeated", ": Input/output error"})
            if (line.find(known) != std::string::npos) line.clear();
        if (!line.empty()) out += line + "\n";
    }
    return out;
}

struct ReadBack {
    std::vector<int64_t> framePts;                  // decoded pictures, in display order
    std::vector<std::pair<int64_t, int64_t>> odd;   // neighbours not one picture apart
    size_t audioFrames = 0, audioJumps = 0;
    std::string errors;
};

// FFmpeg decodes every picture of the file (told that it is PVA: small packets hold so
// many start codes that it would take them for bare video); the audio time stamps
// are read from the packets.
ReadBack readBack(const std::string& path)
{
    ReadBack b;
    RunResult r = run("ffprobe -v error -f pva -select_streams v:0 -show_entries frame=pts -of csv=p=0 " + q(path));
    EXPECT_EQ(r.status, 0);
    b.errors = complaints(r.err);
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line != "N/A") b.framePts.push_back(std::stoll(line));
    std::sort(b.framePts.begin(), b.framePts.end());
    for (size_t k = 1; k < b.framePts.size(); ++k)
        if (b.framePts[k] - b.framePts[k - 1] != picture) b.odd.emplace_back(b.framePts[k - 1], b.framePts[k]);

    const std::vector<uint8_t> f = readBytes(path);
    bool first = true;
    uint32_t last = 0;
    for (size_t at = 0; at + 8 <= f.size();) {
        const PvaPacketHeader h = readPacketHeader(&f[at]);
        if (!hasAvSync(&f[at]) || at + 8 + h.length > f.size()) {
            ADD_FAILURE() << "no whole packet at " << at << " of " << path;
            break;
        }
        if (h.streamId == pvaStreamAudio && (h.flags & pvaFlagPts) && h.length >= 14) {
            const uint32_t pts = decodePesPts(&f[at + 8 + 9]);
            b.audioJumps += !first && pts - last != audioFrame;
            first = false;
            last = pts;
            ++b.audioFrames;
        }
        at += 8 + h.length;
    }
    return b;
}

// Continuous pictures and sound. The end extension of the last entry takes the next
// I picture but not the two B pictures shown before it: the last picture shown is
// three pictures on.
void expectSeamless(const ReadBack& b, const std::string& what)
{
    EXPECT_EQ(b.errors, "") << what;
    ASSERT_FALSE(b.framePts.empty()) << what;
    const int64_t last = b.framePts.back();
    EXPECT_EQ(b.odd, (std::vector<std::pair<int64_t, int64_t>>{{last - 3 * picture, last}})) << what;
    EXPECT_GT(b.audioFrames, b.framePts.size()) << what;   // 24 ms audio frames, 40 ms pictures
    EXPECT_EQ(b.audioJumps, 0u) << what;
}

class LongRecordings : public ::testing::Test {
protected:
    ScratchDir dir{"longrec"};

    // Saves take room beside the recordings: say so rather than fill the disk.
    void SetUp() override
    {
        std::error_code ec;
        const auto space = std::filesystem::space(dir.path(), ec);
        ASSERT_TRUE(!ec && space.available > (1ull << 30))
            << "these tests need 1 GiB free in " << dir.path() << " for what they save";
    }
};

TEST_F(LongRecordings, FiveGiBCutAcrossTheFourGiBMarkAndBeyondIt)
{
    const std::string big = recording("big.pva");
    const uint64_t size = std::filesystem::file_size(big);
    ASSERT_GT(size, 5 * (fourGiB / 4) - (16u << 20));   // up to the last GOP that fits

    // Both readers index the file alike, the plain one seeking beyond 4 GiB.
    std::string table, plainTable;
    const std::vector<Unit> all = units("", big, &table);
    units("--set fastBufferScan=0", big, &plainTable);
    EXPECT_TRUE(table == plainTable);
    ASSERT_GT(all.size(), 1000u);
    const auto above = std::find_if(all.begin(), all.end(), [](const Unit& u) { return u.offset >= fourGiB; });
    ASSERT_TRUE(above != all.end() && above - all.begin() >= 2 && all.end() - above > 120);
    EXPECT_GT(all.back().offset, fourGiB + (fourGiB / 8));

    // Units across the mark, then units wholly beyond it after a gap.
    const int64_t u = above->unit;
    const std::string out = dir.file("out.pva");
    const std::string ranges = "--add 0:" + std::to_string(u - 2) + "-" + std::to_string(u + 1) + " --add 0:"
        + std::to_string(u + 100) + "-" + std::to_string(u + 103);
    const RunResult r = cli("cut -o " + q(out) + " " + ranges + " " + q(big));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(big + ": " + std::to_string(size) + " Bytes "), std::string::npos) << r.out;

    const ReadBack b = readBack(out);
    expectSeamless(b, out);
    // 8 GOPs of 12 pictures and the next I picture, less the two B pictures of the
    // open GOP at the start, which refer to a picture not taken.
    EXPECT_EQ(b.framePts.size(), 8u * 12 + 1 - 2);
}

TEST_F(LongRecordings, TwoAndAHalfHoursCutAtEveryPicture)
{
    const std::string film = recording("film.pva");
    const std::vector<Unit> all = units("--set cutAtIFrames=0", film);
    // Beyond the fixed capacities of old: 37,500 cut points and 1,499,999 packets.
    ASSERT_GE(all.size(), 225000u - 12);
    EXPECT_GT(all.back().end, 1499999);
    EXPECT_GE(all.back().vpts, 8999 * 90000);

    // 100,000 pictures from an I picture on.
    const auto start = std::find_if(all.begin() + 1000, all.end(), [](const Unit& u) { return u.type == 1; });
    ASSERT_TRUE(start != all.end());
    const std::string range = std::to_string(start->unit) + "-" + std::to_string(start->unit + 99999);
    const std::string sets = "--set cutAtIFrames=0 ";
    const std::string direct = dir.file("direct.pva"), edited = dir.file("edited.pva");
    RunResult r = cli(sets + "cut -o " + q(direct) + " --add 0:" + range + " " + q(film));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    // All of it deleted, both edits undone and the first redone: the same list.
    r = cli(sets + "cut -o " + q(edited) + " --add 0:" + range + " --delete 0-99999 --undo --undo --redo " + q(film));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(readBytes(direct) == readBytes(edited));
    std::filesystem::remove(edited);

    const ReadBack b = readBack(direct);
    expectSeamless(b, direct);
    // Less the two B pictures of the open GOP at the start. The range ends with an I,
    // two B and a P picture in coded order, and the next picture is a B, so there is
    // nothing to extend: the B pictures shown between that I and P are not in it.
    EXPECT_EQ(b.framePts.size(), 100000u - 2);
}

} // namespace
