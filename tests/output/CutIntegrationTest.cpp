// orvane-cli cut on generated recordings, with FFmpeg as the independent reader.
#include "WriterRig.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

using namespace testsupport;
using writertest::Packet;

namespace {

constexpr int64_t picture = 3600;   // 25 pictures a second in 90 kHz ticks
constexpr int64_t audioFrame = 2160; // 1152 samples at 48 kHz

std::string quoted(const std::string& s) { return "'" + s + "'"; }
RunResult cli(const std::string& args)
{
    return run(quoted(binary("orvane-cli")) + " --set assCleanJoins=0 " + args);
}

// What FFmpeg finds wrong in a file, less what its PVA reader says at the end of
// every file: a bad sync word followed by an input/output error.
std::string ffmpegErrors(const std::string& path, const std::string& options, const std::string& alsoAllowed = "")
{
    std::istringstream in(run("ffmpeg -nostdin -v error -i " + quoted(path) + options + " -f null -").err);
    std::string kept;
    for (std::string line; std::getline(in, line);)
        if (line.find("invalid syncword") == std::string::npos && line.find("Last message repeated") == std::string::npos
            && line != path + ": Input/output error" && (alsoAllowed.empty() || line.find(alsoAllowed) == std::string::npos))
            kept += line + "\n";
    return kept;
}

struct Output {
    std::vector<Packet> packets;
    std::vector<uint32_t> videoPts, audioPts;          // of the packets that carry one, in file order
    std::vector<int64_t> framePts;                     // decoded pictures, in display order
    std::vector<std::pair<int64_t, int64_t>> odd;      // neighbouring pictures not one picture apart
    size_t audioJumps = 0;
    std::string decodeErrors;
};

Output examine(const std::string& path, bool decode = true)
{
    Output o;
    o.packets = writertest::parse(readBytes(path));
    int counter[3] = {0, 0, 0};
    for (const Packet& p : o.packets) {
        EXPECT_TRUE(p.h.streamId == 1 || p.h.streamId == 2);
        if (p.h.streamId > 2) continue;
        EXPECT_EQ(p.h.counter, counter[p.h.streamId]++ % 256) << path;
        if (!(p.h.flags & 0x10)) continue;
        if (p.h.streamId == 1) o.videoPts.push_back(readVideoPts(p.payload.data()));
        if (p.h.streamId == 2) o.audioPts.push_back(decodePesPts(&p.payload[9]));
    }
    for (size_t k = 1; k < o.audioPts.size(); ++k) o.audioJumps += o.audioPts[k] - o.audioPts[k - 1] != audioFrame;
    if (!decode) return o;
    o.decodeErrors = ffmpegErrors(path, "");
    std::istringstream in(
        run("ffprobe -v error -select_streams v:0 -show_entries frame=pts -of csv=p=0 " + quoted(path)).out);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line != "N/A") o.framePts.push_back(std::stoll(line));
    std::sort(o.framePts.begin(), o.framePts.end());
    for (size_t k = 1; k < o.framePts.size(); ++k)
        if (o.framePts[k] - o.framePts[k - 1] != picture) o.odd.emplace_back(o.framePts[k - 1], o.framePts[k]);
    // Only the leading B pictures of an open GOP at the very start may be dropped.
    EXPECT_GE(o.framePts.size() + 2, o.videoPts.size()) << path;
    return o;
}

// Decodes cleanly with continuous video and audio time stamps. The end extension
// of the last entry takes the next I picture but not the two B pictures shown
// before it: the last picture shown is three pictures on.
Output seamless(const std::string& path)
{
    Output o = examine(path);
    EXPECT_EQ(o.decodeErrors, "") << path;
    const int64_t last = o.framePts.empty() ? 0 : o.framePts.back();
    EXPECT_EQ(o.odd, (std::vector<std::pair<int64_t, int64_t>>{{last - 3 * picture, last}})) << path;
    EXPECT_GT(o.audioPts.size(), o.framePts.size()) << path;   // 24 ms audio frames, 40 ms pictures
    EXPECT_EQ(o.audioJumps, 0u) << path;
    return o;
}

// vpts (relative) of a unit, from `orvane-cli units`.
int64_t unitPts(int unit)
{
    std::istringstream in(cli("units " + quoted(sample("clip.pva"))).out);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        int64_t u, first, end, offset, frame, vpts;
        if (std::istringstream(line) >> u >> first >> end >> offset >> frame >> vpts && u == unit) return vpts;
    }
    ADD_FAILURE() << "no unit " << unit;
    return -1;
}

class CutIntegration : public ::testing::Test {
protected:
    ScratchDir dir{"cutint"};
    const std::string clip = quoted(sample("clip.pva"));
    // orvane-cli SETS cut -o NAME ARGS; returns the path of NAME.
    std::string cut(const std::string& name, const std::string& args, const std::string& sets = "")
    {
        RunResult r = cli(sets + " cut -o " + quoted(dir.file(name)) + " " + args);
        EXPECT_EQ(r.status, 0) << args << "\n" << r.out << r.err;
        return dir.file(name);
    }
};

TEST_F(CutIntegration, RangesWithGapsAndTwoSourcesJoinSeamlessly)
{
    // Entry 0 keeps its source's time base, half a second later.
    EXPECT_EQ(seamless(cut("one.pva", "--add 0:1-3 " + clip)).framePts.front(), 45000 + unitPts(1));
    EXPECT_EQ(seamless(cut("gaps.pva", "--add 0:1-2 --add 0:4-4 --add 0:6-7 " + clip)).videoPts.size(), 61u);
    // Two units of each: 2 x 12 pictures, and the next I picture at the end.
    const Output join = seamless(cut("join.pva", "--add 0:1-2 --add 1:3-4 " + clip + " " + quoted(sample("rec60.pva"))));
    EXPECT_EQ(join.framePts.size(), 47u);
}

TEST_F(CutIntegration, EditsAndSelectionSavesGiveTheFileOfTheListTheyLeave)
{
    // [1 2] [1 2 5 6] [1 2 3 5 6] [2 3 5 6], undone and redone.
    const std::string edited = cut("edited.pva", "--add 0:1-2 --add 0:5-6 --insert 0:3-3@2 --delete 0-0 --undo --redo " + clip);
    EXPECT_EQ(readBytes(edited), readBytes(cut("direct.pva", "--add 0:2-3 --add 0:5-6 " + clip)));
    seamless(edited);

    // A selection save of entries 2-4 is shifted to start the new time line.
    const std::string selection = "--add 0:1-7 --select 2-4 --selection-only " + clip;
    EXPECT_EQ(seamless(cut("sel.pva", selection)).framePts.front(), 45000);
    const std::string raw = "--set assCalcNewPts=0";
    EXPECT_EQ(readBytes(cut("sel0.pva", selection, raw)), readBytes(cut("direct0.pva", "--add 0:3-5 " + clip, raw)));
}

TEST_F(CutIntegration, AssemblySettings)
{
    const std::string args = "--add 0:1-2 --add 0:5-6 " + clip;
    const Output base = seamless(cut("base.pva", args));
    seamless(cut("complete.pva", args, "--set assCompleteAudioPkt=0"));
    seamless(cut("endoffset.pva", args, "--set assCompleteAPktEndOffset=-1000"));
    const Output later = seamless(cut("offset.pva", args, "--set assAudioPtsOffset=100"));
    EXPECT_EQ(later.framePts.front(), base.framePts.front() - 9000);
    EXPECT_EQ(later.audioPts, base.audioPts);

    // Extending every sequence end repeats a time stamp and skips one at the join:
    // a repeated or backward time stamp is all FFmpeg may find wrong.
    const Output ext = examine(cut("ext.pva", args, "--set assAppendNextFrame=1"));
    std::istringstream errors(ext.decodeErrors);
    for (std::string line; std::getline(errors, line);)
        EXPECT_NE(line.find("non monotonically increasing dts"), std::string::npos) << line;
    ASSERT_EQ(ext.odd.size(), 3u);
    EXPECT_EQ(ext.odd[0].second - ext.odd[0].first, 2 * picture);
    EXPECT_EQ(ext.odd[1].second, ext.odd[1].first);
    EXPECT_EQ(ext.odd[2].second, ext.framePts.back());

    // Without new time stamps the packets keep the source's: the cut shows as a gap.
    const Output raw = examine(cut("raw.pva", args, "--set assCalcNewPts=0"));
    EXPECT_EQ(raw.decodeErrors, "");
    EXPECT_EQ(raw.framePts.front(), sampleInfoInt("clip.pva", "first_vpts") + unitPts(1));
    ASSERT_EQ(raw.odd.size(), 2u);
    EXPECT_EQ(raw.odd[0].second - raw.odd[0].first, unitPts(5) - unitPts(3) + picture);
}

TEST_F(CutIntegration, NoAudioAndElementaryStream)
{
    const std::string args = "--add 0:1-3 " + clip;
    const Output full = examine(cut("full.pva", args), false);
    const Output video = examine(cut("video.pva", args, "--set saveNoAudio=1"));
    EXPECT_TRUE(video.audioPts.empty());
    for (const Packet& p : video.packets) EXPECT_EQ(p.h.streamId, 1);
    EXPECT_EQ(video.videoPts, full.videoPts);
    EXPECT_EQ(video.decodeErrors, "");

    const std::string es = cut("es.m2v", args, "--set saveNoAudio=1 --set saveNoAVPacketHeader=1");
    std::vector<uint8_t> expected;
    for (const Packet& p : video.packets) {
        const size_t k = (p.h.flags & 3) + (p.h.flags & 0x10 ? 4 : 0);
        expected.insert(expected.end(), p.payload.begin() + static_cast<long>(k), p.payload.end());
    }
    EXPECT_EQ(readBytes(es), expected);
    RunResult probe =
        run("ffprobe -v error -count_packets -show_entries stream=codec_name,nb_read_packets -of csv=p=0 " + quoted(es));
    EXPECT_EQ(probe.err, "");
    EXPECT_EQ(probe.out.rfind("mpeg2video," + std::to_string(full.videoPts.size()) + ",", 0), 0u) << probe.out;
    EXPECT_EQ(ffmpegErrors(es, ""), "");
}

TEST_F(CutIntegration, SplitIntoParts)
{
    const std::string rec = "--add 0:0-123 " + quoted(sample("rec60.pva"));
    const std::string whole = cut("whole.pva", rec);
    cut("part.pva", rec, "--set splitPvaDstFile=1 --set splitPvaDstFileSizeMB=5");
    const auto parts = writertest::readParts(dir.file("part"));
    EXPECT_GE(parts.size(), 9u);
    for (size_t n = 0; n < parts.size(); ++n) {
        EXPECT_TRUE(n + 1 == parts.size() || parts[n].size() < 5u * 1048576) << n;
        // FFmpeg reads every packet of the part. A part after the first starts
        // without a sequence header, which its probe of the picture size notices.
        const std::string part = dir.file("part_" + std::to_string(n) + ".pva");
        EXPECT_EQ(ffmpegErrors(part, " -c copy", n > 0 ? "Invalid frame dimensions 0x0." : ""), "") << part;
    }
    EXPECT_EQ(writertest::joined(parts), readBytes(whole));
    seamless(whole);
}

// A recorder that stops (a full disk, a crash) leaves its last packet cut short,
// anywhere: in its header, right after it, or in its payload. Each such recording
// scans up to its last complete packet, and all its units save into a file FFmpeg
// reads to the end without complaint.
TEST(InterruptedRecording, EveryUnitOfARecordingCutShortAnywhereSaves)
{
    struct PacketSpan {
        uint32_t offset, end;
    };
    std::vector<PacketSpan> packets;
    std::ifstream listing(sample("clip.pva.packets"));
    for (std::string line; std::getline(listing, line);) {
        uint32_t offset, id, flags, length;
        if (std::istringstream(line) >> offset >> id >> flags >> length) packets.push_back({offset, offset + 8 + length});
    }
    ASSERT_GT(packets.size(), 600u);
    const std::vector<uint8_t> whole = readBytes(sample("clip.pva"));

    // From a fifth of the file on, so that most truncated copies still have units.
    std::mt19937 pick(8);
    std::vector<uint32_t> points;
    while (points.size() < 100) {
        const PacketSpan& p = packets[packets.size() / 5 + pick() % (packets.size() - packets.size() / 5)];
        const uint32_t length = p.end - p.offset - 8;
        switch (points.size() % 3) {
        case 0: points.push_back(p.offset + 1 + pick() % 7); break;   // in the header
        case 1: points.push_back(p.offset + 8); break;                // right after it
        default:
            if (length > 1) points.push_back(p.offset + 9 + pick() % (length - 1));   // in the payload
        }
    }

    int withUnits = 0;
    for (const uint32_t point : points) {
        SCOPED_TRACE("cut short at " + std::to_string(point));
        writertest::Rig rig;
        const std::string source = rig.load("short.pva", std::vector<uint8_t>(whole.begin(), whole.begin() + point));
        const SourceStream& s = rig.app->sources[0];
        uint32_t complete = 0;
        int32_t count = 0;
        for (const PacketSpan& p : packets) {
            if (p.end > point) break;
            complete = p.end;
            ++count;
        }
        EXPECT_EQ(s.scanEnd, complete);
        EXPECT_EQ(s.pktCount, count);
        EXPECT_NE(rig.text().find(source + ": " + std::to_string(complete) + " Bytes "), std::string::npos) << rig.text();
        if (s.lastCutPoint == 0) continue;
        ++withUnits;
        rig.addAll();
        const std::string out = rig.path("out.pva");
        ASSERT_EQ(rig.save("out.pva"), 1) << rig.text();
        EXPECT_EQ(ffmpegErrors(out, " -c copy"), "") << out;
    }
    EXPECT_GT(withUnits, 80);
}

} // namespace
