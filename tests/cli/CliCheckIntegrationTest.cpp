// orvane-cli check and cut --check on real saved outputs: clean ones pass, and each
// fault seeded into one is named at the join it follows.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

using namespace testsupport;

namespace {

std::string q(const std::string& s) { return "'" + s + "'"; }

struct Packet {
    size_t offset;
    uint8_t streamId, flags;
    size_t length;
    bool pts() const { return (flags & 0x10) != 0; }
};

std::vector<Packet> packetsOf(const std::vector<uint8_t>& d)
{
    std::vector<Packet> out;
    for (size_t x = 0; x + 8 <= d.size() && d[x] == 'A' && d[x + 1] == 'V';) {
        const size_t len = (size_t{d[x + 6]} << 8) | d[x + 7];
        out.push_back({x, d[x + 2], d[x + 5], len});
        x += 8 + len;
    }
    return out;
}

std::vector<std::string> checkLines(const std::string& out)
{
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("check: ", 0) == 0) lines.push_back(line);
    return lines;
}

// The problem lines: every "check:" line but the summary.
std::vector<std::string> problemLines(const std::string& out)
{
    std::vector<std::string> lines;
    for (const std::string& l : checkLines(out))
        if (l.rfind("check: at ", 0) == 0 || l.rfind("check: join ", 0) == 0) lines.push_back(l);
    return lines;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string s;
    for (const std::string& l : lines) s += l + "\n";
    return s;
}

class CliCheck : public ::testing::Test {
protected:
    ScratchDir dir{"clicheck"};
    // The faults are those of the plain assembly unless a test says otherwise.
    std::string joins = "--set assCleanJoins=0";
    RunResult cli(const std::string& args)
    {
        return run("cd " + q(dir.path()) + " && " + q(binary("orvane-cli")) + " " + joins + " " + args);
    }
    // The two halves of joined.pva: the same pictures on two time bases, so that a
    // join from one to the other continues the pictures as the source has them.
    void makeHalves()
    {
        const std::vector<uint8_t> all = readBytes(sample("joined.pva"));
        const size_t cut = static_cast<size_t>(sampleInfoInt("joined.pva", "join_offset"));
        writeBytes(dir.file("a.pva"), std::vector<uint8_t>(all.begin(), all.begin() + static_cast<long>(cut)));
        writeBytes(dir.file("b.pva"), std::vector<uint8_t>(all.begin() + static_cast<long>(cut), all.end()));
    }
};

TEST_F(CliCheck, CleanOutputsOfTheSampleSetPassAndTheCheckRunsOnlyWhenAsked)
{
    makeHalves();
    const std::string rec = q(sample("rec60.pva"));
    struct Case {
        const char* what;
        std::string options, cut, files;
    };
    const Case cases[] = {
        {"whole recording", "", "-o o1.pva --add 0:0-124 " + rec, "o1.pva"},
        {"a range from the middle", "", "-o o2.pva --add 0:5-30 " + rec, "o2.pva"},
        {"split", "--set splitPvaDstFile=1 --set splitPvaDstFileSizeMB=8", "-o o3.pva --add 0:0-124 " + rec,
         "o3_0.pva o3_1.pva o3_2.pva o3_3.pva o3_4.pva o3_5.pva o3_6.pva o3_7.pva o3_8.pva o3_9.pva o3_10.pva"},
        {"without audio", "--set saveNoAudio=1", "-o o4.pva --add 0:3-40 " + rec, "o4.pva"},
        {"bare video", "--set saveNoAudio=1 --set saveNoAVPacketHeader=1", "-o o5.m2v --add 0:3-40 " + rec, "o5.m2v"},
        {"two sources", "", "-o o6.pva --add 0:0-2 --add 1:3-5 --add 0:6-7 a.pva b.pva", "o6.pva"},
        {"selection of two sources", "", "-o o7.pva --add 1:0-3 --add 0:4-7 --select 1-1 --selection-only a.pva b.pva",
         "o7.pva"},
    };
    // Clean joins first: the whole recording counted below is the plain assembly's.
    for (const char* clean : {"1", "0"})
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + (clean[0] == '1' ? ", clean joins" : ", plain assembly"));
        joins = std::string("--set assCleanJoins=") + clean;
        // The CLI does not check unless asked.
        RunResult plain = cli(c.options + " cut " + c.cut);
        ASSERT_EQ(plain.status, 0) << plain.out << plain.err;
        EXPECT_TRUE(checkLines(plain.out).empty()) << plain.out;

        RunResult saved = cli(c.options + " cut --check " + c.cut);
        EXPECT_EQ(saved.status, 0) << saved.out << saved.err;
        const std::vector<std::string> lines = checkLines(saved.out);
        ASSERT_EQ(lines.size(), 1u) << saved.out;
        EXPECT_NE(lines[0].find(": no problem found ("), std::string::npos) << lines[0];

        RunResult bySetting = cli(c.options + " --set saveCheckAfterSave=1 cut " + c.cut);
        EXPECT_EQ(bySetting.status, 0) << bySetting.out;
        EXPECT_EQ(checkLines(bySetting.out), lines);

        // Checked later against its cut, the file is compared with the list the save made.
        const size_t nameEnd = c.cut.find(' ', 3);
        RunResult against = cli(c.options + " check " + c.cut.substr(3, nameEnd - 3) + c.cut.substr(nameEnd));
        EXPECT_EQ(against.status, 0) << against.out << against.err;
        EXPECT_EQ(checkLines(against.out), lines);

        RunResult alone = cli("check " + c.files);
        EXPECT_EQ(alone.status, 0) << alone.out << alone.err;
        EXPECT_TRUE(problemLines(alone.out).empty()) << alone.out;
    }
    // A whole recording: every picture and every audio frame is counted.
    RunResult r = cli("check o1.pva");
    EXPECT_NE(r.out.find("no problem found (1499 pictures, 2496 audio frames)"), std::string::npos) << r.out;

    RunResult help = cli("--help");
    EXPECT_NE(help.out.find("saveCheckAfterSave"), std::string::npos);
    EXPECT_EQ(cli("check").status, 2);
    RunResult missing = cli("check nothing.pva");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("ERROR: check: can't read nothing.pva"), std::string::npos) << missing.out;
}

// The described assembly takes the leading B pictures of an open GOP after a join
// along, and they refer to the last picture of the range before: only the
// comparison with the source can tell.
TEST_F(CliCheck, WrongPicturesAtAnOpenGopJoinAreNamedAtTheirJoin)
{
    const std::string cut = "--add 0:2-4 --add 0:10-12 --add 0:20-21 " + q(sample("rec60.pva"));
    RunResult saved = cli("cut --check -o open.pva " + cut);
    EXPECT_EQ(saved.status, 1);
    const std::vector<std::string> lines = problemLines(saved.out);
    ASSERT_EQ(lines.size(), 2u) << saved.out;
    EXPECT_EQ(lines[0], "check: join 1 at 00:00:01.44: 2 pictures (B B) decode differently from the same pictures "
                        "of source 0");
    EXPECT_EQ(lines[1], "check: join 2 at 00:00:02.88: 2 pictures (B B) decode differently from the same pictures "
                        "of source 0");
    RunResult again = cli("check open.pva " + cut);
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(problemLines(again.out), lines);
    // By itself the file looks right: its time stamps run on and every picture decodes.
    EXPECT_EQ(cli("check open.pva").status, 0);
}

TEST_F(CliCheck, EachSeededFaultIsNamedAtTheJoinItFollows)
{
    makeHalves();
    const std::string cut = "--add 0:0-2 --add 1:3-5 --add 0:6-7 a.pva b.pva";
    RunResult saved = cli("cut --check -o clean.pva " + cut);
    ASSERT_EQ(saved.status, 0) << saved.out << saved.err;
    const std::vector<uint8_t> clean = readBytes(dir.file("clean.pva"));
    const std::vector<Packet> packets = packetsOf(clean);

    // Coded picture n begins video packet pictures[n] (one picture per packet with a time stamp).
    std::vector<size_t> pictures;
    for (size_t i = 0; i < packets.size(); ++i)
        if (packets[i].streamId == 1 && packets[i].pts()) pictures.push_back(i);
    ASSERT_EQ(pictures.size(), 95u);
    // Join 2 begins at coded picture 70 (10 + 12 + 12 + 36); the I picture of the
    // unit after it at 82. The faults go there.
    const size_t at = pictures[82];
    auto videoPts = [&](std::vector<uint8_t>& d, size_t off) -> uint32_t {
        return (uint32_t{d[off + 8]} << 24) | (uint32_t{d[off + 9]} << 16) | (uint32_t{d[off + 10]} << 8) | d[off + 11];
    };
    auto setVideoPts = [&](std::vector<uint8_t>& d, size_t off, uint32_t v) {
        for (int k = 0; k < 4; ++k) d[off + 8 + k] = static_cast<uint8_t>(v >> (24 - 8 * k));
    };
    auto audioAfter = [&](size_t from, int nth) {
        for (size_t i = from; i < packets.size(); ++i)
            if (packets[i].streamId == 2 && packets[i].pts() && nth-- == 0) return i;
        return packets.size();
    };
    auto continuationAfter = [&](size_t from) {
        for (size_t i = from + 1; i < packets.size(); ++i)
            if (packets[i].streamId == 1 && !packets[i].pts()) return i;
        return packets.size();
    };
    auto splice = [&](size_t from, size_t to, const std::vector<uint8_t>& insert) {
        std::vector<uint8_t> d(clean.begin(), clean.begin() + static_cast<long>(from));
        d.insert(d.end(), insert.begin(), insert.end());
        d.insert(d.end(), clean.begin() + static_cast<long>(to), clean.end());
        return d;
    };

    struct Fault {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* alone;     // what the check of the file by itself says, or null
        const char* against;   // what the check against the cut list and sources says
    };
    std::vector<Fault> faults;
    {
        std::vector<uint8_t> d = clean;
        for (size_t n = 82; n < pictures.size(); ++n) setVideoPts(d, packets[pictures[n]].offset, videoPts(d, packets[pictures[n]].offset) + 5 * 3600);
        faults.push_back({"video time stamp gap", d, "the video time stamps jump 240 ms (5 pictures missing)",
                          "the video time stamps jump 240 ms (5 pictures missing)"});
    }
    {
        std::vector<uint8_t> d = clean;
        const size_t p = packets[pictures[85]].offset;   // the P picture after it
        setVideoPts(d, p, videoPts(d, packets[at].offset));
        faults.push_back({"repeated time stamp", d, "repeats the one of picture", "repeats the one of picture"});
    }
    {
        const Packet& a = packets[audioAfter(at, 3)];
        faults.push_back({"audio frame removed", splice(a.offset, a.offset + 8 + a.length, {}),
                          "a gap of 24 ms in the sound (1 audio frames missing)",
                          "a gap of 24 ms in the sound (1 audio frames missing)"});
    }
    {
        const Packet& a = packets[audioAfter(at, 3)];
        std::vector<uint8_t> copy(clean.begin() + static_cast<long>(a.offset),
                                  clean.begin() + static_cast<long>(a.offset + 8 + a.length));
        copy[3] = static_cast<uint8_t>(copy[3] + 1);   // the counter of the copy runs on, as a writer's would
        std::vector<uint8_t> d = splice(a.offset + 8 + a.length, a.offset + 8 + a.length, copy);
        for (size_t i = audioAfter(at, 4); i < packets.size(); ++i)
            if (packets[i].streamId == 2) ++d[packets[i].offset + copy.size() + 3];
        faults.push_back({"audio frame doubled", d, "a doubled frame", "a doubled frame"});
    }
    {
        std::vector<uint8_t> d = clean;
        const Packet& v = packets[continuationAfter(at)];
        d[v.offset + 6] = static_cast<uint8_t>((v.length / 2) >> 8);
        d[v.offset + 7] = static_cast<uint8_t>(v.length / 2);
        faults.push_back({"damaged packet length", d, "is not followed by a packet", "is not followed by a packet"});
    }
    {
        const Packet& v = packets[continuationAfter(at)];
        faults.push_back({"file cut short", std::vector<uint8_t>(clean.begin(), clean.begin() + static_cast<long>(v.offset + 100)),
                          "the file ends inside the packet at", "chosen pictures are missing"});
    }
    {
        std::vector<uint8_t> d = clean;
        const Packet& v = packets[continuationAfter(pictures[85])];
        for (size_t k = 200; k < 216; ++k) d[v.offset + 8 + k] ^= 0xFF;
        faults.push_back({"flipped picture bytes", d, nullptr, "decode differently from the same pictures of source 0"});
    }

    for (const Fault& f : faults) {
        SCOPED_TRACE(f.what);
        writeBytes(dir.file("fault.pva"), f.bytes);
        RunResult against = cli("check fault.pva " + cut);
        EXPECT_EQ(against.status, 1) << against.out;
        RunResult alone = cli("check fault.pva");
        for (auto [r, phrase] : {std::pair{&against, f.against}, std::pair{&alone, f.alone}}) {
            if (!phrase) continue;
            EXPECT_EQ(r->status, 1) << r->out;
            const std::vector<std::string> lines = problemLines(r->out);
            ASSERT_FALSE(lines.empty()) << r->out;
            bool named = false;
            for (const std::string& l : lines) {
                named |= l.find(phrase) != std::string::npos;
                // Nothing before the fault is blamed; with the cut list every line names join 2.
                if (r == &against) EXPECT_EQ(l.rfind("check: join 2 at 00:00:03.", 0), 0u) << joined(lines);
                else EXPECT_EQ(l.rfind("check: at 00:00:03.", 0), 0u) << joined(lines);
            }
            EXPECT_TRUE(named) << phrase << "\n" << joined(lines);
        }
    }
}

} // namespace
