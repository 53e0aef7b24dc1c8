// orvane-cli cut on generated recordings, with FFmpeg as the independent reader.
#include "WriterRig.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

using namespace testsupport;
using writertest::Packet;
using writertest::parse;

namespace {

constexpr int64_t picture = 3600;   // 25 pictures a second in 90 kHz ticks
constexpr int64_t audioFrame = 2160; // 1152 samples at 48 kHz

std::string quoted(const std::string& s) { return "'" + s + "'"; }

RunResult cli(const std::string& args) { return run(quoted(binary("orvane-cli")) + " " + args); }

// Lines FFmpeg writes that are not about the file: its PVA reader reports the end
// of every file as a bad sync word followed by an input/output error.
std::string ffmpegErrors(const std::string& text, const std::string& path, const std::string& alsoAllowed = "")
{
    std::istringstream in(text);
    std::string line, kept;
    while (std::getline(in, line)) {
        if (line.find("invalid syncword") != std::string::npos
            || line.find("Last message repeated") != std::string::npos || line == path + ": Input/output error"
            || (!alsoAllowed.empty() && line.find(alsoAllowed) != std::string::npos))
            continue;
        kept += line + "\n";
    }
    return kept;
}

struct Output {
    std::vector<Packet> packets;
    std::vector<uint32_t> videoPts, audioPts;   // of the packets that carry one, in file order
    std::vector<int64_t> framePts;              // decoded pictures, in display order
    std::string decodeErrors;

    // Neighbouring displayed pictures that are not one picture apart.
    std::vector<std::pair<int64_t, int64_t>> videoOddities() const
    {
        std::vector<std::pair<int64_t, int64_t>> odd;
        for (size_t k = 1; k < framePts.size(); ++k)
            if (framePts[k] - framePts[k - 1] != picture) odd.emplace_back(framePts[k - 1], framePts[k]);
        return odd;
    }
    size_t audioJumps() const
    {
        size_t n = 0;
        for (size_t k = 1; k < audioPts.size(); ++k) n += audioPts[k] - audioPts[k - 1] != audioFrame;
        return n;
    }
};

Output examine(const std::string& path, bool decode = true)
{
    Output o;
    o.packets = parse(readBytes(path));
    int counter[3] = {0, 0, 0};
    for (const Packet& p : o.packets) {
        EXPECT_TRUE(p.h.streamId == 1 || p.h.streamId == 2);
        if (p.h.streamId > 2) continue;
        EXPECT_EQ(p.h.counter, counter[p.h.streamId]++ % 256) << path;
        if (!(p.h.flags & 0x10)) continue;
        if (p.h.streamId == 1) o.videoPts.push_back(readVideoPts(p.payload.data()));
        if (p.h.streamId == 2) o.audioPts.push_back(decodePesPts(&p.payload[9]));
    }
    if (!decode) return o;
    RunResult ff = run("ffmpeg -nostdin -v error -i " + quoted(path) + " -f null -");
    o.decodeErrors = ffmpegErrors(ff.err, path);
    RunResult probe = run("ffprobe -v error -select_streams v:0 -show_entries frame=pts -of csv=p=0 " + quoted(path));
    std::istringstream in(probe.out);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty() && line != "N/A") o.framePts.push_back(std::stoll(line));
    std::sort(o.framePts.begin(), o.framePts.end());
    // Only the leading B pictures of an open GOP at the very start may be dropped.
    EXPECT_GE(o.framePts.size() + 2, o.videoPts.size()) << path;
    return o;
}

// The end extension of the last entry takes the next I picture but not the two B
// pictures shown before it: the last picture shown is three pictures on.
void expectSeamless(const Output& o, const std::string& what)
{
    EXPECT_EQ(o.decodeErrors, "") << what;
    auto odd = o.videoOddities();
    ASSERT_FALSE(o.framePts.empty()) << what;
    ASSERT_EQ(odd.size(), 1u) << what << ": first oddity " << (odd.empty() ? 0 : odd[0].first) << " "
                              << (odd.empty() ? 0 : odd[0].second);
    EXPECT_EQ(odd[0].second, o.framePts.back()) << what;
    EXPECT_EQ(odd[0].second - odd[0].first, 3 * picture) << what;
    EXPECT_GT(o.audioPts.size(), o.framePts.size()) << what;   // 24 ms audio frames, 40 ms pictures
    EXPECT_EQ(o.audioJumps(), 0u) << what;
}

// A repeated or backward time stamp is all FFmpeg may find wrong.
void expectOnlyTimeStampComplaints(const std::string& errors)
{
    std::istringstream in(errors);
    for (std::string line; std::getline(in, line);)
        EXPECT_NE(line.find("non monotonically increasing dts"), std::string::npos) << line;
}

// vpts (relative) of a unit, from `orvane-cli units`.
int64_t unitPts(const std::string& sampleName, int unit)
{
    RunResult r = cli("units " + quoted(sample(sampleName)));
    std::istringstream in(r.out);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream f(line);
        int64_t u, first, end, offset, frame, vpts;
        f >> u >> first >> end >> offset >> frame >> vpts;
        if (u == unit) return vpts;
    }
    ADD_FAILURE() << "no unit " << unit << " in " << sampleName;
    return -1;
}

class CutIntegration : public ::testing::Test {
protected:
    ScratchDir dir{"cutint"};
    std::string out(const std::string& name) const { return dir.file(name); }
    void cut(const std::string& args, int status = 0)
    {
        RunResult r = cli(args);
        ASSERT_EQ(r.status, status) << args << "\n" << r.out << r.err;
    }
};

TEST_F(CutIntegration, OneRangeAndSeveralRangesWithGaps)
{
    const std::string clip = quoted(sample("clip.pva"));
    cut("cut -o " + out("one.pva") + " --add 0:1-3 " + clip);
    Output one = examine(out("one.pva"));
    expectSeamless(one, "one range");
    // Entry 0 keeps its source's time base, half a second later.
    EXPECT_EQ(one.framePts.front(), 45000 + unitPts("clip.pva", 1));

    cut("cut -o " + out("gaps.pva") + " --add 0:1-2 --add 0:4-4 --add 0:6-7 " + clip);
    Output gaps = examine(out("gaps.pva"));
    expectSeamless(gaps, "ranges with gaps");
    EXPECT_EQ(gaps.videoPts.size(), 61u);
}

TEST_F(CutIntegration, TwoSourcesJoined)
{
    cut("cut -o " + out("join.pva") + " --add 0:1-2 --add 1:3-4 " + quoted(sample("clip.pva")) + " "
        + quoted(sample("rec60.pva")));
    Output o = examine(out("join.pva"));
    expectSeamless(o, "two sources");
    // Two units of each: 2 x 12 pictures, and the next I picture at the end.
    EXPECT_EQ(o.framePts.size(), 47u);
}

TEST_F(CutIntegration, EditsGiveTheSameFileAsTheListTheyLeave)
{
    const std::string clip = quoted(sample("clip.pva"));
    // [1 2] [1 2 5 6] [1 2 3 5 6] [2 3 5 6], undone and redone.
    cut("cut -o " + out("edited.pva") + " --add 0:1-2 --add 0:5-6 --insert 0:3-3@2 --delete 0-0 --undo --redo " + clip);
    cut("cut -o " + out("direct.pva") + " --add 0:2-3 --add 0:5-6 " + clip);
    EXPECT_EQ(readBytes(out("edited.pva")), readBytes(out("direct.pva")));
    expectSeamless(examine(out("edited.pva")), "edited");

    // A selection save of entries 2-4 is shifted to start the new time line.
    cut("cut -o " + out("sel.pva") + " --add 0:1-7 --select 2-4 --selection-only " + clip);
    Output sel = examine(out("sel.pva"));
    expectSeamless(sel, "selection");
    EXPECT_EQ(sel.framePts.front(), 45000);
    cut("--set assCalcNewPts=0 cut -o " + out("sel0.pva") + " --add 0:1-7 --select 2-4 --selection-only " + clip);
    cut("--set assCalcNewPts=0 cut -o " + out("direct0.pva") + " --add 0:3-5 " + clip);
    EXPECT_EQ(readBytes(out("sel0.pva")), readBytes(out("direct0.pva")));
}

TEST_F(CutIntegration, AssemblySettings)
{
    const std::string args = " cut -o " + out("s.pva") + " --add 0:1-2 --add 0:5-6 " + quoted(sample("clip.pva"));
    cut(args);
    const Output base = examine(out("s.pva"));
    expectSeamless(base, "defaults");

    for (const char* set : {"assCompleteAudioPkt=0", "assCompleteAPktEndOffset=-1000"}) {
        cut(std::string("--set ") + set + args);
        expectSeamless(examine(out("s.pva")), set);
    }

    cut("--set assAudioPtsOffset=100" + args);
    Output later = examine(out("s.pva"));
    expectSeamless(later, "audio offset");
    EXPECT_EQ(later.framePts.front(), base.framePts.front() - 9000);
    EXPECT_EQ(later.audioPts, base.audioPts);

    // Extending every sequence end repeats a time stamp and skips one at the join.
    cut("--set assAppendNextFrame=1" + args);
    Output ext = examine(out("s.pva"));
    expectOnlyTimeStampComplaints(ext.decodeErrors);
    auto odd = ext.videoOddities();
    ASSERT_EQ(odd.size(), 3u);
    EXPECT_EQ(odd[0].second - odd[0].first, 2 * picture);
    EXPECT_EQ(odd[1].second, odd[1].first);
    EXPECT_EQ(odd[2].second, ext.framePts.back());

    // Without new time stamps the packets keep the source's: the cut shows as a gap.
    cut("--set assCalcNewPts=0" + args);
    Output raw = examine(out("s.pva"));
    EXPECT_EQ(raw.decodeErrors, "");
    const int64_t base0 = sampleInfoInt("clip.pva", "first_vpts");
    EXPECT_EQ(raw.framePts.front(), base0 + unitPts("clip.pva", 1));
    ASSERT_EQ(raw.videoOddities().size(), 2u);
    EXPECT_EQ(raw.videoOddities()[0].second - raw.videoOddities()[0].first,
              unitPts("clip.pva", 5) - unitPts("clip.pva", 3) + picture);
}

TEST_F(CutIntegration, NoAudioAndElementaryStream)
{
    const std::string args = " cut -o %s --add 0:1-3 " + quoted(sample("clip.pva"));
    auto with = [&](const std::string& sets, const std::string& name) {
        std::string a = args;
        a.replace(a.find("%s"), 2, out(name));
        cut(sets + a);
    };
    with("", "full.pva");
    with("--set saveNoAudio=1", "video.pva");
    Output full = examine(out("full.pva"), false);
    Output video = examine(out("video.pva"));
    EXPECT_TRUE(video.audioPts.empty());
    for (const Packet& p : video.packets) EXPECT_EQ(p.h.streamId, 1);
    EXPECT_EQ(video.videoPts, full.videoPts);
    EXPECT_EQ(video.decodeErrors, "");

    with("--set saveNoAudio=1 --set saveNoAVPacketHeader=1", "es.m2v");
    std::vector<uint8_t> expected;
    for (const Packet& p : video.packets) {
        const size_t k = (p.h.flags & 3) + (p.h.flags & 0x10 ? 4 : 0);
        expected.insert(expected.end(), p.payload.begin() + static_cast<long>(k), p.payload.end());
    }
    EXPECT_EQ(readBytes(out("es.m2v")), expected);
    RunResult es = run("ffprobe -v error -count_packets -show_entries stream=codec_name,nb_read_packets -of csv=p=0 "
                       + quoted(out("es.m2v")));
    EXPECT_EQ(es.err, "");
    EXPECT_EQ(es.out.rfind("mpeg2video," + std::to_string(full.videoPts.size()) + ",", 0), 0u) << es.out;
    RunResult decode = run("ffmpeg -nostdin -v error -i " + quoted(out("es.m2v")) + " -f null -");
    EXPECT_EQ(decode.err, "");
}

TEST_F(CutIntegration, SplitIntoParts)
{
    const std::string rec = quoted(sample("rec60.pva"));
    cut("cut -o " + out("whole.pva") + " --add 0:0-123 " + rec);
    cut("--set splitPvaDstFile=1 --set splitPvaDstFileSizeMB=5 cut -o " + out("part.pva") + " --add 0:0-123 " + rec);
    std::vector<uint8_t> joined;
    int n = 0;
    for (; std::filesystem::exists(out("part_" + std::to_string(n) + ".pva")); ++n) {
        const std::string part = out("part_" + std::to_string(n) + ".pva");
        std::vector<uint8_t> bytes = readBytes(part);
        auto packets = parse(bytes);
        ASSERT_FALSE(packets.empty());
        const bool last = !std::filesystem::exists(out("part_" + std::to_string(n + 1) + ".pva"));
        if (!last) {
            // Each part ends with the first packet of a picture, so it holds half a
            // picture at each edge.
            EXPECT_EQ(packets.back().h.streamId, 1);
            EXPECT_EQ(packets.back().h.flags, 0x10);
            EXPECT_LT(bytes.size(), 5u * 1048576);
        }
        // FFmpeg reads every packet of the part. A part after the first starts
        // without a sequence header, which its probe of the picture size notices.
        RunResult copy = run("ffmpeg -nostdin -v error -i " + quoted(part) + " -c copy -f null -");
        EXPECT_EQ(ffmpegErrors(copy.err, part, n > 0 ? "Invalid frame dimensions 0x0." : ""), "") << part;
        joined.insert(joined.end(), bytes.begin(), bytes.end());
    }
    EXPECT_GE(n, 9);
    EXPECT_EQ(joined, readBytes(out("whole.pva")));
    expectSeamless(examine(out("whole.pva")), "whole");
}

} // namespace
