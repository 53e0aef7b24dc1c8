// Clean joins, judged by decoding: generated recordings (open GOPs as broadcasters
// send them, closed GOPs, interlaced pictures) are cut at I pictures with many joins,
// saved with assCleanJoins 1, and FFmpeg's decode of every picture of the new PVA
// must be the source's decode of the same picture: exactly the pictures of the
// chosen units, each once, in order. Time stamps step by one picture across every
// join, and the sound runs on without overlap or a gap of a frame, each range's
// sound at exactly its source's distance to the pictures.
#include "WriterRig.h"

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

using namespace testsupport;
using writertest::Packet;

namespace {

constexpr uint32_t pictureTicks = 3600;
constexpr uint32_t audioFrameTicks = 2160;

std::string q(const std::string& s) { return "'" + s + "'"; }

// One picture's decode per line, in the order FFmpeg shows them (no picture
// dropped or repeated for timing).
std::vector<std::string> frameDigests(const std::string& path, const std::string& format, std::string* errors = nullptr)
{
    const RunResult r = run("ffmpeg -nostdin -v error -f " + format + " -i " + q(path) +
                            " -map 0:v -fps_mode passthrough -f framemd5 -");
    std::vector<std::string> out;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') out.push_back(line.substr(line.rfind(',') + 2));
    if (errors) {
        std::istringstream err(r.err);
        for (std::string line; std::getline(err, line);)
            if (line.find("invalid syncword") == std::string::npos && line.find("Input/output error") == std::string::npos
                && line.find("Last message repeated") == std::string::npos)
                *errors += line + "\n";
    }
    return out;
}

// The audio frames of a PES packet (MPEG-1 layer II at 48 kHz, no padding: 3 bytes
// a frame for each kbit/s).
uint32_t framesIn(const Packet& p)
{
    static constexpr uint32_t kbit[16] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0};
    const size_t at = 9 + p.payload[8];
    if (at + 4 > p.payload.size()) return 0;
    const uint32_t frame = 3 * kbit[p.payload[at + 2] >> 4];
    const size_t data = p.payload.size() - at;
    EXPECT_TRUE(frame > 0 && data % frame == 0) << data;
    return frame ? static_cast<uint32_t>(data / frame) : 0;
}

struct Unit {
    int64_t first, end;
};

struct Source {
    std::string path;
    std::vector<Unit> units;
    std::vector<Packet> packets;
    std::vector<std::string> digests;     // in display order
    std::map<uint32_t, size_t> shown;     // picture PTS -> place in display order
    std::set<uint32_t> audioPts;
};

Source loadSource(const std::string& path)
{
    Source s;
    s.path = path;
    std::istringstream table(run(q(binary("orvane-cli")) + " units " + q(path)).out);
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream f(line);
        int64_t unit, first, end;
        f >> unit >> first >> end;
        s.units.push_back({first, end});
    }
    s.packets = writertest::parse(readBytes(path));
    std::vector<uint32_t> pts;
    for (const Packet& p : s.packets) {
        if (p.h.streamId == 1 && (p.h.flags & 0x10)) pts.push_back(readVideoPts(p.payload.data()));
        if (p.h.streamId == 2 && (p.h.flags & 0x10))
            for (uint32_t f = 0; f < framesIn(p); ++f) s.audioPts.insert(decodePesPts(&p.payload[9]) + f * audioFrameTicks);
    }
    std::sort(pts.begin(), pts.end());
    for (size_t k = 0; k < pts.size(); ++k) s.shown[pts[k]] = k;
    s.digests = frameDigests(path, "pva");
    EXPECT_EQ(s.digests.size(), pts.size()) << path << ": every picture of the source decodes";
    return s;
}

bool openGopAt(const Packet& p)
{
    const std::vector<uint8_t>& d = p.payload;
    for (size_t k = 0; k + 7 < d.size(); ++k)
        if (d[k] == 0 && d[k + 1] == 0 && d[k + 2] == 1 && d[k + 3] == 0xB8) return ((d[k + 7] >> 6) & 1) == 0;
    return false;
}

// A range of the new PVA: units first..last of a source, as they are listed.
struct Range {
    int source;
    int first, last;
};

// The source pictures (source, place in display order) a range must show: those
// coded in its units, less the leading B pictures of an open first GOP.
std::vector<std::pair<int, size_t>> expectedPictures(const std::vector<Source>& sources, const Range& r)
{
    const Source& s = sources[static_cast<size_t>(r.source)];
    const int64_t first = s.units[static_cast<size_t>(r.first)].first;
    const int64_t end = s.units[static_cast<size_t>(r.last)].end;
    const bool open = openGopAt(s.packets[static_cast<size_t>(first)]);
    const uint32_t iPts = readVideoPts(s.packets[static_cast<size_t>(first)].payload.data());
    std::vector<size_t> places;
    for (int64_t j = first; j < end; ++j) {
        const Packet& p = s.packets[static_cast<size_t>(j)];
        if (p.h.streamId != 1 || !(p.h.flags & 0x10)) continue;
        const uint32_t pts = readVideoPts(p.payload.data());
        if (open && pts < iPts) continue;
        places.push_back(s.shown.at(pts));
    }
    std::sort(places.begin(), places.end());
    std::vector<std::pair<int, size_t>> out;
    for (size_t k : places) out.push_back({r.source, k});
    return out;
}

// The ranges of a cut list: entries that follow each other in a source are one.
std::vector<Range> joinedRanges(const std::vector<Range>& adds)
{
    std::vector<Range> out;
    for (const Range& a : adds) {
        if (!out.empty() && out.back().source == a.source && out.back().last + 1 == a.first)
            out.back().last = a.last;
        else
            out.push_back(a);
    }
    return out;
}

struct Cut {
    ScratchDir dir{"cleanjoins"};
    std::vector<Source> sources;
    std::vector<Range> adds;

    std::string arguments(const std::string& out, const std::string& sets) const
    {
        std::string a = sets + " cut -o " + q(dir.file(out));
        for (const Range& r : adds)
            a += " --add " + std::to_string(r.source) + ":" + std::to_string(r.first) + "-" + std::to_string(r.last);
        for (const Source& s : sources) a += " " + q(s.path);
        return a;
    }
    RunResult save(const std::string& out, const std::string& sets = "") const
    {
        return run(q(binary("orvane-cli")) + " --set assCleanJoins=1 --set saveRecodeAtCuts=0 " + arguments(out, sets));
    }

    // Decodes the new PVA (or bare video stream) and checks every picture, the video
    // time stamps and, with sound, the audio time line.
    void check(const std::string& out, const std::string& format = "pva") const
    {
        SCOPED_TRACE(out);
        std::vector<std::pair<int, size_t>> expected;
        std::vector<size_t> rangeStarts;
        for (const Range& r : joinedRanges(adds)) {
            rangeStarts.push_back(expected.size());
            for (const auto& e : expectedPictures(sources, r)) expected.push_back(e);
        }
        std::string errors;
        const std::vector<std::string> got = frameDigests(dir.file(out), format, &errors);
        EXPECT_EQ(errors, "") << "the decoder found nothing wrong";
        ASSERT_EQ(got.size(), expected.size()) << "pictures shown";
        size_t wrong = 0;
        for (size_t k = 0; k < got.size(); ++k) {
            const auto& [s, place] = expected[k];
            if (got[k] != sources[static_cast<size_t>(s)].digests[place]) {
                if (++wrong <= 5) ADD_FAILURE() << "picture " << k << " is not picture " << place << " of source " << s;
            }
        }
        EXPECT_EQ(wrong, 0u);
        if (format != "pva") return;

        // Video time stamps: one picture apart, in display order, across every join.
        const std::vector<Packet> packets = writertest::parse(readBytes(dir.file(out)));
        std::vector<uint32_t> video;
        std::vector<uint32_t> audio;   // each audio frame's time, from its PES packet's
        std::vector<uint32_t> pesAudio, pesFrames;
        for (const Packet& p : packets) {
            if (p.h.streamId == 1 && (p.h.flags & 0x10)) video.push_back(readVideoPts(p.payload.data()));
            if (p.h.streamId != 2 || !(p.h.flags & 0x10)) continue;
            pesAudio.push_back(decodePesPts(&p.payload[9]));
            pesFrames.push_back(framesIn(p));
            for (uint32_t f = 0; f < pesFrames.back(); ++f) audio.push_back(pesAudio.back() + f * audioFrameTicks);
        }
        std::sort(video.begin(), video.end());
        ASSERT_EQ(video.size(), expected.size());

        // GOP time codes: each GOP's is the one before it plus the pictures between.
        std::vector<uint8_t> es;
        for (const Packet& p : packets) {
            if (p.h.streamId != 1) continue;
            const size_t skip = (p.h.flags & 3u) + ((p.h.flags & 0x10) ? 4u : 0u);
            if (p.payload.size() > skip) es.insert(es.end(), p.payload.begin() + static_cast<long>(skip), p.payload.end());
        }
        const int64_t gops = expectGopTimeCodesRunOn(es);
        EXPECT_GT(gops, 0);
        for (size_t k = 1; k < video.size(); ++k)
            ASSERT_EQ(video[k] - video[k - 1], pictureTicks) << "between pictures " << k - 1 << " and " << k;
        if (audio.empty()) return;

        // Sound: each frame starts where the one before ends, or less than a frame later.
        for (size_t k = 1; k < pesAudio.size(); ++k)
            ASSERT_EQ(pesAudio[k] - pesAudio[k - 1] >= pesFrames[k - 1] * audioFrameTicks, true)
                << "audio PES packets " << k - 1 << " and " << k << " overlap";
        for (size_t k = 1; k < audio.size(); ++k) {
            const uint32_t step = audio[k] - audio[k - 1];
            ASSERT_GE(step, audioFrameTicks) << "audio frames " << k - 1 << " and " << k << " overlap";
            ASSERT_LT(step, 2 * audioFrameTicks) << "a gap of a frame or more before audio frame " << k;
        }
        EXPECT_LT(audio.front() - video.front(), audioFrameTicks) << "the sound starts with the first picture";
        const int32_t soundOver = static_cast<int32_t>(audio.back() + audioFrameTicks - (video.back() + pictureTicks));
        EXPECT_GE(soundOver, 0) << "the sound lasts to the end of the last picture";
        EXPECT_LT(soundOver, static_cast<int32_t>(audioFrameTicks));
        // ... and every frame of a range is a source frame at the range's distance
        // from its pictures: nothing drifts, however many joins.
        const std::vector<Range> ranges = joinedRanges(adds);
        size_t a = 0;
        for (size_t r = 0; r < ranges.size(); ++r) {
            const size_t begin = rangeStarts[r];
            const size_t end = r + 1 < ranges.size() ? rangeStarts[r + 1] : expected.size();
            const Source& s = sources[static_cast<size_t>(ranges[r].source)];
            uint32_t sourcePts = 0;
            for (const auto& [pts, place] : s.shown)
                if (place == expected[begin].second) sourcePts = pts;
            const uint32_t shift = video[begin] - sourcePts;
            for (; a < audio.size() && audio[a] - video[begin] < (end - begin) * pictureTicks; ++a)
                ASSERT_EQ(s.audioPts.count(audio[a] - shift), 1u) << "audio frame " << a << " in range " << r;
        }
        EXPECT_EQ(a, audio.size()) << "no sound after the last picture's time";
    }
};

std::string makeRecording(const std::string& name, const std::string& options)
{
    const std::string dir = sample("rec60.pva").substr(0, sample("rec60.pva").rfind('/'));
    const std::string path = dir + "/" + name;
    const RunResult r = run(q(binary("pva-samplegen")) + " record 12 " + q(path) + " " + options + " --cache " + q(dir));
    EXPECT_EQ(r.status, 0) << r.err;
    return path;
}

TEST(CleanJoins, OpenGopsOfOneSourceShowEveryChosenPictureOnceAndRight)
{
    Cut cut;
    cut.sources.push_back(loadSource(sample("rec60.pva")));
    // Forwards, backwards, a unit on its own and once more, two entries that follow
    // each other (one range: nothing left out between them), the first and the last unit.
    cut.adds = {{0, 3, 5}, {0, 10, 10}, {0, 10, 10}, {0, 1, 1}, {0, 40, 41}, {0, 42, 42}, {0, 0, 0}, {0, 124, 124}, {0, 20, 22}};
    const RunResult r = cut.save("one.pva");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    cut.check("one.pva");

    // The same pictures without sound, as part files, and as a bare video stream.
    ASSERT_EQ(cut.save("mute.pva", "--set saveNoAudio=1").status, 0);
    cut.check("mute.pva");
    ASSERT_EQ(cut.save("set.pva", "--set splitPvaDstFile=1 --set splitPvaDstFileSizeMB=4").status, 0);
    std::vector<uint8_t> joined;
    for (int k = 0; fileExists(cut.dir.file("set_" + std::to_string(k) + ".pva")); ++k) {
        const std::vector<uint8_t> part = readBytes(cut.dir.file("set_" + std::to_string(k) + ".pva"));
        joined.insert(joined.end(), part.begin(), part.end());
    }
    EXPECT_TRUE(joined == readBytes(cut.dir.file("one.pva"))) << "the parts make the one file";
    ASSERT_EQ(cut.save("video.m2v", "--set saveNoAudio=1 --set saveNoAVPacketHeader=1").status, 0);
    cut.check("video.m2v", "mpegvideo");

    // Off, the join shows what the plain assembly makes: the leading B pictures of
    // the second range decoded against the first range's last picture.
    ASSERT_EQ(run(q(binary("orvane-cli")) + " --set assCleanJoins=0 " + cut.arguments("plain.pva", "")).status, 0);
    EXPECT_NE(frameDigests(cut.dir.file("plain.pva"), "pva").size(), frameDigests(cut.dir.file("one.pva"), "pva").size());
}

TEST(CleanJoins, TwoSourcesClosedGopsAndInterlacedPictures)
{
    {
        Cut cut;
        cut.sources.push_back(loadSource(sample("rec60.pva")));
        cut.sources.push_back(loadSource(makeRecording("cleanjoins-b.pva", "--start-pts 900000000")));
        cut.adds = {{0, 7, 8}, {1, 3, 4}, {0, 30, 30}, {1, 0, 0}, {1, 20, 21}, {0, 60, 61}};
        ASSERT_EQ(cut.save("two.pva").status, 0);
        cut.check("two.pva");
    }
    for (const char* kind : {"--closed-gop", "--interlaced"}) {
        SCOPED_TRACE(kind);
        Cut cut;
        cut.sources.push_back(loadSource(makeRecording(std::string("cleanjoins") + kind + ".pva", std::string("--small ") + kind)));
        cut.adds = {{0, 5, 6}, {0, 2, 2}, {0, 12, 14}, {0, 9, 9}, {0, 0, 1}};
        ASSERT_EQ(cut.save("out.pva").status, 0);
        cut.check("out.pva");
    }
}

// Audio PES packets of three frames each, as some broadcasters send: made from the
// 60-second sample by putting each three PES packets' frames into the first.
std::string withThreeFramesAPes(const std::string& path)
{
    std::vector<Packet> packets = writertest::parse(readBytes(sample("rec60.pva")));
    std::vector<uint8_t> out;
    Packet* gathering = nullptr;
    int taken = 0;
    std::vector<Packet> kept;
    kept.reserve(packets.size());
    for (Packet& p : packets) {
        if (p.h.streamId == 2 && (p.h.flags & 0x10) && gathering && taken < 3) {
            gathering->payload.insert(gathering->payload.end(), p.payload.begin() + 9 + p.payload[8], p.payload.end());
            ++taken;
            continue;
        }
        kept.push_back(p);
        if (p.h.streamId == 2 && (p.h.flags & 0x10)) {
            gathering = &kept.back();
            taken = 1;
        }
    }
    for (Packet& p : kept) {
        if (p.h.streamId == 2 && (p.h.flags & 0x10)) {
            const size_t pes = p.payload.size() - 6;
            p.payload[4] = static_cast<uint8_t>(pes >> 8);
            p.payload[5] = static_cast<uint8_t>(pes);
        }
        p.h.length = static_cast<uint16_t>(p.payload.size());
        uint8_t header[8];
        writePacketHeader(p.h, header);
        out.insert(out.end(), header, header + 8);
        out.insert(out.end(), p.payload.begin(), p.payload.end());
    }
    writeBytes(path, out);
    return path;
}

TEST(CleanJoins, AudioPesPacketsOfSeveralFramesAreSplitAtTheJoins)
{
    Cut cut;
    cut.sources.push_back(loadSource(withThreeFramesAPes(cut.dir.file("pes3.pva"))));
    for (int u = 1; u <= 60; u += 3) cut.adds.push_back({0, u, u});
    ASSERT_EQ(cut.save("out.pva").status, 0);
    cut.check("out.pva");
}

TEST(CleanJoins, AHundredJoinsKeepPicturesAndSoundInStep)
{
    Cut cut;
    cut.sources.push_back(loadSource(sample("rec60.pva")));
    for (int u = 0; u <= 120; u += 2) cut.adds.push_back({0, u, u});
    for (int u = 123; u >= 3; u -= 2) cut.adds.push_back({0, u, u});
    ASSERT_GE(joinedRanges(cut.adds).size(), 101u);
    ASSERT_EQ(cut.save("many.pva").status, 0);
    cut.check("many.pva");
}

} // namespace
