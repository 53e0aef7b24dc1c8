// The scanner on generated recordings, checked against the generator's own
// packet lists and against ffprobe.
#include "platform/fake/Fakes.h"
#include "core/LogConsole.h"
#include "source/SourceAnalyser.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

using namespace testsupport;

namespace {

struct Listed {
    uint32_t offset;
    int streamId, flags, length;
    uint32_t pts;   // valid when flags has 0x10 and the stream is 1 or 2
    char pictures;  // 'I', 'P', 'B' or '-'
};

std::vector<Listed> packetList(const std::string& name)
{
    std::ifstream f(sample(name) + ".packets");
    std::vector<Listed> out;
    std::string line, pts, pics;
    for (Listed p{}; std::getline(f, line); out.push_back(p)) {
        std::istringstream(line) >> p.offset >> p.streamId >> p.flags >> p.length >> pts >> pics;
        p.pts = pts == "-" ? 0 : static_cast<uint32_t>(std::stoul(pts));
        p.pictures = pics.back();
    }
    return out;
}

std::vector<std::pair<int32_t, int32_t>> cutPoints(const SourceStream& s)
{
    std::vector<std::pair<int32_t, int32_t>> out;
    for (int32_t i = 0; i <= s.lastCutPoint; ++i) out.emplace_back(s.cutPointPkt[i], s.cutPointFrame[i]);
    return out;
}

class ScannerOnSamples : public ::testing::Test {
protected:
    platform::fake::FakeOperation fakes;
    LogConsole console;
    std::string said;
    std::unique_ptr<SourceAnalyser> app;

    void SetUp() override
    {
        testsupport::recordShown(console, said);
        app = std::make_unique<SourceAnalyser>(console);
    }
    const SourceStream& scan(const std::string& name)
    {
        EXPECT_EQ(app->scanSource(sample(name).c_str(), 0, fakes.context(app->settings.cancelRequested)), 1) << name << "\n" << said;
        return app->current();
    }

    // Compares the index with the generator's list, entry by entry.
    void expectIndex(const SourceStream& s, const std::vector<Listed>& want, const std::string& name)
    {
        SCOPED_TRACE(name);
        ASSERT_EQ(s.pktCount, static_cast<int32_t>(want.size()));
        uint32_t start = 0, end = 0;
        bool haveStart = false;
        int32_t iPictures = 0, mismatches = 0;
        for (size_t k = 0; k < want.size(); ++k) {
            const Listed& w = want[k];
            mismatches += s.pktPos[k] != w.offset || s.pktHeader[k].streamId != w.streamId ||
                          s.pktHeader[k].flags != w.flags || s.pktHeader[k].length != w.length ||
                          "-IPB"[s.picType[k] & 3] != w.pictures;
            if (w.streamId == 1 && (w.flags & 0x10)) {
                if (!haveStart) start = end = w.pts, haveStart = true;
                if (start > w.pts && start - w.pts < 90000) start = w.pts;
                if (end < w.pts || end - w.pts > 90000) end = w.pts;
                iPictures += w.pictures == 'I';
            }
        }
        EXPECT_EQ(mismatches, 0);
        EXPECT_EQ(std::make_pair(s.vStartPts, s.vEndPts), std::make_pair(start, end));
        // Relative time stamps, across a wrap too.
        for (size_t k = 0; k < want.size(); ++k) {
            const Listed& w = want[k];
            if ((w.flags & 0x10) && w.streamId <= 2) {
                ASSERT_EQ(w.streamId == 1 ? s.vPts[k] : s.aPts[k], w.pts - start) << k;
            }
        }
        ASSERT_EQ(s.lastCutPoint, iPictures - 1);
        for (int32_t i = 0; i <= s.lastCutPoint; ++i) ASSERT_EQ(want[s.cutPointPkt[i]].pictures, 'I') << name;
    }
};

TEST_F(ScannerOnSamples, CleanRecordingsMatchTheGeneratorsPacketLists)
{
    for (const char* name : {"clip.pva", "rec60.pva", "zero_length.pva", "joined.pva", "pts_jump_back.pva",
                             "pts_wrap.pva"}) {
        const SourceStream& s = scan(name);
        expectIndex(s, packetList(name), name);
        EXPECT_EQ(s.scanEnd, sampleInfoInt(name, "size")) << name;
        EXPECT_NE(said.find("Frames " + sampleInfo(name, "pictures") + " \n"), std::string::npos) << name << said;
    }
}

TEST_F(ScannerOnSamples, DamagedRecordingsAreRepaired)
{
    struct Case {
        const char* name;
        int64_t droppedPacket;   // the packet before the damage, or -1
    };
    const Case cases[] = {
        {"garbage_before.pva", -1},
        {"damaged_length.pva", -1},   // the damaged packet itself is not in the list
        {"garbage_between.pva", sampleInfoInt("garbage_between.pva", "garbage_after_packet")},
        {"stream3.pva", sampleInfoInt("stream3.pva", "garbage_after_packet")},
        {"trailing_garbage.pva", sampleInfoInt("trailing_garbage.pva", "packets") - 1},
    };
    for (const Case& c : cases) {
        said.clear();
        const SourceStream& s = scan(c.name);
        std::vector<Listed> want = packetList(c.name);
        if (c.droppedPacket >= 0) want.erase(want.begin() + c.droppedPacket);
        expectIndex(s, want, c.name);
        const std::string message = std::string(c.name) == "trailing_garbage.pva"
                                        ? "ERROR: No more AV Data Found\n"
                                        : "Found more AV Data at " + sampleInfo(c.name, "resync_offset") + "\n";
        EXPECT_NE(said.find(message), std::string::npos) << c.name << ": " << said;
    }
}

TEST_F(ScannerOnSamples, CutsAtEveryPictureOrAtIPictures)
{
    // The frame of a cut point is the number of pictures up to its packet, minus one;
    // in a clean recording every picture has a packet with a time stamp of its own.
    std::vector<std::pair<int32_t, int32_t>> every, atI;
    const std::vector<Listed> listed = packetList("clip.pva");
    for (int32_t k = 0; k < int32_t(listed.size()); ++k) {
        if (listed[k].pictures == '-') continue;
        every.emplace_back(k, int32_t(every.size()));
        if (listed[k].pictures == 'I') atI.emplace_back(k, every.back().second);
    }
    app->settings.cutAtIFrames = 0;
    EXPECT_EQ(cutPoints(scan("clip.pva")), every);
    app->settings.cutAtIFrames = 1;
    const SourceStream& s = scan("clip.pva");
    EXPECT_EQ(cutPoints(s), atI);
    for (int32_t i = 1; i <= s.lastCutPoint; ++i) {
        EXPECT_NE(s.gopTimeCode[s.cutPointPkt[i]], s.gopTimeCode[s.cutPointPkt[i - 1]]) << i;
    }
}

TEST_F(ScannerOnSamples, AgreesWithFfprobe)
{
    const SourceStream& s = scan("clip.pva");
    RunResult r = run("ffprobe -v error -show_packets -of csv=p=0 -show_entries packet=codec_type,pts,flags '" +
                      sample("clip.pva") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    std::multiset<uint32_t> theirs[3], ours[3];   // by stream id: video, audio
    int keyFrames = 0;
    std::istringstream lines(r.out);
    for (std::string type, pts, flags; std::getline(lines, type, ',') && std::getline(lines, pts, ',') &&
                                       std::getline(lines, flags);) {
        theirs[type == "video" ? 1 : type == "audio" ? 2 : 0].insert(static_cast<uint32_t>(std::stoull(pts)));
        keyFrames += type == "video" && flags.find('K') != std::string::npos;
    }
    for (int32_t k = 0; k < s.pktCount; ++k) {
        const PvaPacketHeader& h = s.pktHeader[k];
        if ((h.flags & 0x10) && h.streamId <= 2) ours[h.streamId].insert((h.streamId == 1 ? s.vPts[k] : s.aPts[k]) + s.vStartPts);
    }
    EXPECT_EQ(ours[1], theirs[1]);
    EXPECT_EQ(ours[2], theirs[2]);
    EXPECT_EQ(s.lastCutPoint + 1, keyFrames);
}

} // namespace
