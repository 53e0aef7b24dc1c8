// The scanner on generated recordings, checked against the generator's own
// packet lists and against ffprobe.
#include "platform/fake/Fakes.h"
#include "shell/LogConsole.h"
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
    std::string line;
    while (std::getline(f, line)) {
        std::istringstream in(line);
        std::string pts, pics;
        Listed p{};
        in >> p.offset >> p.streamId >> p.flags >> p.length >> pts >> pics;
        p.pts = pts == "-" ? 0 : static_cast<uint32_t>(std::stoul(pts));
        p.pictures = pics.empty() ? '-' : pics.back();
        out.push_back(p);
    }
    return out;
}

class ScannerOnSamples : public ::testing::Test {
protected:
    platform::fake::ScopedFakeHost fakes;
    LogConsole console;
    std::string said;
    std::unique_ptr<SourceAnalyser> app;

    void SetUp() override
    {
        console.attachWindow(nullptr, 1001);
        console.setEcho([this](const char* m) { said += m; });
        app = std::make_unique<SourceAnalyser>(&console);
    }
    const SourceStream& scan(const std::string& name)
    {
        EXPECT_EQ(app->scanSource(sample(name).c_str(), 0), 1) << name << "\n" << said;
        return app->current();
    }

    // Compares the index with the generator's list, entry by entry.
    void expectIndex(const SourceStream& s, const std::vector<Listed>& want, const std::string& name)
    {
        ASSERT_EQ(s.pktCount, static_cast<int32_t>(want.size())) << name;
        static const char typeLetters[] = "-IPB";
        uint32_t start = 0, end = 0;
        bool haveStart = false;
        int32_t iPictures = 0, mismatches = 0;
        for (size_t k = 0; k < want.size(); ++k) {
            const Listed& w = want[k];
            bool videoPts = w.streamId == 1 && (w.flags & 0x10);
            mismatches += s.pktPos[k] != w.offset || s.pktHeader[k].streamId != w.streamId ||
                          s.pktHeader[k].flags != w.flags || s.pktHeader[k].length != w.length ||
                          typeLetters[s.picType[k] & 3] != w.pictures;
            if (videoPts) {
                if (!haveStart) start = end = w.pts, haveStart = true;
                if (start > w.pts && start - w.pts < 90000) start = w.pts;
                if (end < w.pts || end - w.pts > 90000) end = w.pts;
                iPictures += w.pictures == 'I';
            }
        }
        EXPECT_EQ(mismatches, 0) << name;
        EXPECT_EQ(s.vStartPts, start) << name;
        EXPECT_EQ(s.vEndPts, end) << name;
        // Relative time stamps, across a wrap too.
        for (size_t k = 0; k < want.size(); ++k) {
            if (want[k].streamId == 1 && (want[k].flags & 0x10)) {
                ASSERT_EQ(s.vPts[k], want[k].pts - start) << name << " packet " << k;
            } else if (want[k].streamId == 2 && (want[k].flags & 0x10)) {
                ASSERT_EQ(s.aPts[k], want[k].pts - start) << name << " packet " << k;
            }
        }
        ASSERT_EQ(s.lastCutPoint, iPictures - 1) << name;
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
        std::string frames = "Frames " + sampleInfo(name, "pictures") + " \n";
        EXPECT_NE(said.find(frames), std::string::npos) << name << ": " << said;
    }
    EXPECT_EQ(app->sourceCount, 6);
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
        if (std::string(c.name) == "trailing_garbage.pva") {
            EXPECT_NE(said.find("ERROR: No more AV Data Found\n"), std::string::npos) << said;
        } else {
            std::string found = "Found more AV Data at " + sampleInfo(c.name, "resync_offset") + "\n";
            EXPECT_NE(said.find(found), std::string::npos) << c.name << ": " << said;
        }
    }
}

TEST_F(ScannerOnSamples, CutsAtEveryPictureOrAtIPictures)
{
    app->settings.cutAtIFrames = 0;
    const SourceStream& every = scan("clip.pva");
    ASSERT_EQ(every.lastCutPoint, sampleInfoInt("clip.pva", "video_pts_packets") - 1);
    for (int32_t i = 0; i <= every.lastCutPoint; ++i) ASSERT_EQ(every.cutPointFrame[i], i);

    app->settings.cutAtIFrames = 1;
    const SourceStream& atI = scan("clip.pva");
    ASSERT_EQ(atI.lastCutPoint, sampleInfoInt("clip.pva", "i_pictures") - 1);
    // The frame of a cut point is the number of pictures up to its packet, minus one.
    std::vector<Listed> listed = packetList("clip.pva");
    for (int32_t i = 0; i <= atI.lastCutPoint; ++i) {
        int32_t pictures = 0;
        for (int32_t k = 0; k <= atI.cutPointPkt[i]; ++k) pictures += listed[k].pictures != '-';
        EXPECT_EQ(atI.cutPointFrame[i], pictures - 1) << i;
        if (i > 0) {
            EXPECT_NE(atI.gopTimeCode[atI.cutPointPkt[i]], atI.gopTimeCode[atI.cutPointPkt[i - 1]]);
        }
    }
}

TEST_F(ScannerOnSamples, AgreesWithFfprobe)
{
    const SourceStream& s = scan("clip.pva");
    RunResult r = run("ffprobe -v error -show_packets -of csv=p=0 -show_entries packet=codec_type,pts,flags '" +
                      sample("clip.pva") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    std::multiset<uint32_t> videoPts, audioPts;
    int keyFrames = 0;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream f(line);
        std::string type, pts, flags;
        std::getline(f, type, ',');
        std::getline(f, pts, ',');
        std::getline(f, flags, ',');
        uint32_t v = static_cast<uint32_t>(std::stoull(pts));
        if (type == "video") {
            videoPts.insert(v);
            keyFrames += flags.find('K') != std::string::npos;
        } else if (type == "audio") {
            audioPts.insert(v);
        }
    }
    std::multiset<uint32_t> ourVideo, ourAudio;
    for (int32_t k = 0; k < s.pktCount; ++k) {
        if (!(s.pktHeader[k].flags & 0x10)) continue;
        if (s.pktHeader[k].streamId == 1) ourVideo.insert(s.vPts[k] + s.vStartPts);
        if (s.pktHeader[k].streamId == 2) ourAudio.insert(s.aPts[k] + s.vStartPts);
    }
    EXPECT_EQ(ourVideo, videoPts);
    EXPECT_EQ(ourAudio, audioPts);
    EXPECT_EQ(s.lastCutPoint + 1, keyFrames);
}

} // namespace
