// The generated sample recordings are the ground truth of many other tests, so they are
// checked here against their .info and .packets files by an independent walk, and
// read by FFmpeg as an outside judge.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

using namespace testsupport;

namespace {

struct Packet {
    uint64_t offset = 0;
    int id = 0, flags = 0, length = 0;
    int64_t pts = -1;
    std::string types = "-";
    bool operator==(const Packet&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Packet& p)
{
    return os << p.offset << " id " << p.id << " flags " << p.flags << " len " << p.length << " pts " << p.pts << " "
              << p.types;
}

uint32_t be32(const uint8_t* b) { return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3]; }

// The full 33-bit PES time stamp.
uint64_t pes33(const uint8_t* b)
{
    return uint64_t(b[0] >> 1 & 7) << 30 | uint64_t(b[1]) << 22 | uint64_t(b[2] >> 1) << 15 | uint64_t(b[3]) << 7 |
           uint64_t(b[4] >> 1);
}

bool isHeader(const std::vector<uint8_t>& f, uint64_t at)
{
    return at + 8 <= f.size() && f[at] == 0x41 && f[at + 1] == 0x56;
}

// The packet whose header is at `at`, as a reader of the file sees it.
Packet describe(const std::vector<uint8_t>& f, uint64_t at)
{
    Packet p;
    p.offset = at;
    p.id = f[at + 2];
    p.flags = f[at + 5];
    p.length = f[at + 6] << 8 | f[at + 7];
    const uint8_t* pay = f.data() + at + 8;
    if (at + 8 + p.length > f.size()) return p;
    if ((p.flags & 0x10) && p.id == 1 && p.length >= 4) p.pts = be32(pay);
    if ((p.flags & 0x10) && p.id == 2 && p.length >= 14) p.pts = int64_t(pes33(pay + 9) & 0xFFFFFFFF);
    if (p.id == 1) {
        std::string types;
        for (int i = 0; i + 6 <= p.length; ++i) {
            if (pay[i] == 0 && pay[i + 1] == 0 && pay[i + 2] == 1 && pay[i + 3] == 0) types += " IPB"[pay[i + 5] >> 3 & 7];
        }
        if (!types.empty()) p.types = types;
    }
    return p;
}

std::vector<Packet> readPacketsFile(const std::string& path)
{
    std::vector<Packet> out;
    std::ifstream in(path);
    std::string line, pts;
    for (Packet p; std::getline(in, line); out.push_back(p)) {
        std::istringstream(line) >> p.offset >> p.id >> p.flags >> p.length >> pts >> p.types;
        p.pts = pts == "-" ? -1 : std::stoll(pts);
    }
    return out;
}

// Walks from `from` packet after packet until the file ends or no header follows.
std::vector<Packet> walk(const std::vector<uint8_t>& f, uint64_t from, uint64_t* stoppedAt)
{
    std::vector<Packet> out;
    for (; isHeader(f, from); from += 8 + uint64_t(out.back().length)) out.push_back(describe(f, from));
    *stoppedAt = from;
    return out;
}

// A reader's resynchronisation: the next "AV" followed by stream id 1 or 2.
int64_t search(const std::vector<uint8_t>& f, uint64_t from)
{
    for (uint64_t i = from; i + 2 < f.size(); ++i) {
        if (f[i] == 0x41 && f[i + 1] == 0x56 && (f[i + 2] == 1 || f[i + 2] == 2)) return int64_t(i);
    }
    return -1;
}

struct Sample {
    std::string name;
    std::vector<uint8_t> bytes;
    std::vector<Packet> listed;
    int64_t info(const std::string& key) const { return sampleInfoInt(name, key); }
};

// Each listed packet is what the file holds at its offset, well-formed as a DVB card
// writes it, and the totals of the .info agree with the list.
void expectListedPacketsAreInTheFile(const Sample& s)
{
    SCOPED_TRACE(s.name);
    ASSERT_FALSE(s.listed.empty());
    std::map<std::string, int64_t> n;
    for (size_t i = 0; i < s.listed.size(); ++i) {
        const Packet& p = s.listed[i];
        ASSERT_TRUE(isHeader(s.bytes, p.offset) && p.offset + 8 + uint64_t(p.length) <= s.bytes.size()) << p;
        ASSERT_EQ(describe(s.bytes, p.offset), p);
        EXPECT_TRUE(s.bytes[p.offset + 4] == 0x55 && p.length <= 6136) << p;
        EXPECT_TRUE(i == 0 || p.offset > s.listed[i - 1].offset) << p;
        ++n["packets"];
        n[p.id == 1 ? "video_packets" : p.id == 2 ? "audio_packets" : "other_packets"]++;
        if (p.id == 1 && p.pts >= 0) ++n["video_pts_packets"];
        if (p.id == 2 && p.pts >= 0) ++n["audio_pts_packets"];
        if (p.types != "-") n["pictures"] += int64_t(p.types.size());
        n["i_pictures"] += std::count(p.types.begin(), p.types.end(), 'I');
    }
    for (const auto& [key, value] : n) EXPECT_EQ(s.info(key), value) << key;
    EXPECT_EQ(s.info("size"), int64_t(s.bytes.size()));
}

Sample load(const std::string& name)
{
    Sample s{name, readBytes(sample(name)), readPacketsFile(sample(name) + ".packets")};
    expectListedPacketsAreInTheFile(s);
    return s;
}

// What a clean recording promises: packets back to back, each picture starting a
// packet with its PTS, one audio frame per PES packet, audio muxed by time.
void expectCleanRecording(const Sample& s)
{
    SCOPED_TRACE(s.name);
    uint64_t end = 0;
    std::vector<Packet> walked = walk(s.bytes, 0, &end);
    EXPECT_EQ(end, s.bytes.size());
    ASSERT_EQ(walked, s.listed);

    std::vector<uint32_t> videoPts;
    int64_t lastAudio = -1, lastVideo = -1;
    uint32_t gopOrigin = 0;
    for (const Packet& p : walked) {
        const uint8_t* pay = s.bytes.data() + p.offset + 8;
        if (p.id == 1 && p.pts >= 0) {
            ASSERT_EQ(p.types.size(), 1u) << p;
            // The picture, with the headers before an I picture, begins right after the PTS.
            EXPECT_EQ(be32(pay + 4), p.types == "I" ? 0x1B3u : 0x100u) << p;
            // Within a GOP, PTS minus temporal reference stays the same: PTS follow display order.
            int pic = 4;
            while (pic + 6 <= p.length && be32(pay + pic) != 0x100) ++pic;
            const uint32_t origin = uint32_t(p.pts) - uint32_t(pay[pic + 4] << 2 | pay[pic + 5] >> 6) * 3600;
            if (p.types == "I") gopOrigin = origin;
            EXPECT_EQ(origin, gopOrigin) << p;
            // Never shown before it can be decoded (decode times run one picture apart).
            EXPECT_LE(uint32_t(videoPts.size() * 3600), uint32_t(p.pts) - uint32_t(s.info("pts_base"))) << p;
            videoPts.push_back(uint32_t(p.pts));
            lastVideo = p.pts;
        } else if (p.id == 1) {
            EXPECT_EQ(p.types, "-") << "picture header in a packet without PTS: " << p;
        } else if (p.id == 2) {
            ASSERT_GE(p.pts, 0) << p;
            EXPECT_TRUE(be32(pay) == 0x1C0 && (pay[4] << 8 | pay[5]) == p.length - 6 && pay[14] == 0xFF) << p;
            if (lastAudio >= 0) { EXPECT_EQ(uint32_t(p.pts - lastAudio), 2160u) << p; }
            lastAudio = p.pts;
            // Muxed by time: audio travels close to the video it belongs to.
            if (lastVideo >= 0) { EXPECT_LT(std::abs(int64_t(int32_t(uint32_t(p.pts - lastVideo)))), 45000) << p; }
        }
    }
    // PTS follow display order: sorted, every picture has its own slot, one picture apart.
    std::vector<uint32_t> rel;
    for (uint32_t v : videoPts) rel.push_back(v - videoPts.front());
    std::sort(rel.begin(), rel.end());
    for (size_t i = 0; i < rel.size(); ++i) ASSERT_EQ(rel[i], i * 3600) << "picture " << i;
    EXPECT_EQ(s.info("first_vpts"), int64_t(videoPts.front()));
    EXPECT_EQ(s.info("last_vpts"), int64_t(videoPts.back()));
}

// ffmpeg 5.1's PVA reader reports "invalid syncword" and an I/O error when it reads past
// the last packet of any file; everything else it says is a fault of ours.
std::string ffmpegComplaints(const std::string& err)
{
    std::string out, line;
    for (std::istringstream ss(err); std::getline(ss, line);) {
        for (const char* known : {"] invalid syncword", "Last message repeated", ": Input/output error"})
            if (line.find(known) != std::string::npos) line.clear();
        out += line;
    }
    return out;
}

} // namespace

TEST(SampleRecordings, CleanRecordingsAreWellFormedAndMatchTheirGroundTruth)
{
    const Sample rec = load("rec60.pva"), clip = load("clip.pva");
    expectCleanRecording(rec);
    expectCleanRecording(clip);
    EXPECT_EQ(std::make_tuple(rec.info("pictures"), rec.info("audio_pts_packets"), clip.info("pictures")),
              std::make_tuple(1500, 2500, 100));

    // The clip carries exactly the encoder's video stream.
    EXPECT_EQ(sampleInfoInt("clip.m2v", "pictures"), 100);
    std::vector<uint8_t> es;
    for (const Packet& p : clip.listed) {
        const long from = long(p.offset) + 8 + (p.pts >= 0 ? 4 : 0), to = long(p.offset) + 8 + p.length;
        if (p.id == 1) es.insert(es.end(), clip.bytes.begin() + from, clip.bytes.begin() + to);
    }
    EXPECT_TRUE(es == readBytes(sample("clip.m2v")));
}

TEST(SampleRecordings, FfmpegReadsTheMinuteWithoutComplaint)
{
    const std::string path = sample("rec60.pva");
    RunResult r = run("ffprobe -v error -count_frames -show_entries stream=codec_type,codec_name,nb_read_frames -of csv=p=0 '" +
                      path + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ffmpegComplaints(r.err), "") << r.err;
    EXPECT_NE(r.out.find("mpeg2video,video,1500"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("mp2,audio,2500"), std::string::npos) << r.out;
    // Decoding both streams to the end: nothing but the reader's end-of-file lines.
    r = run("ffmpeg -nostdin -v error -i '" + path + "' -f null -");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ffmpegComplaints(r.err), "") << r.err;
    // Stopping before the end avoids the reader's end-of-file message altogether.
    r = run("ffmpeg -nostdin -v error -i '" + path + "' -t 50 -f null -");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

TEST(SampleRecordings, GarbageIsWhereTheInfoSaysAndHidesNoHeader)
{
    for (const char* name : {"garbage_before.pva", "garbage_between.pva", "trailing_garbage.pva", "stream3.pva"}) {
        const Sample s = load(name);
        const uint64_t at = uint64_t(s.info("garbage_offset")), len = uint64_t(s.info("garbage_length"));
        ASSERT_LE(at + len, s.bytes.size()) << name;
        // Packets run back to back up to the garbage and again after it.
        uint64_t stop = 0;
        std::vector<Packet> walked = walk(s.bytes, at == 0 ? len : 0, &stop);
        if (at > 0) {
            EXPECT_EQ(stop, at) << name;
            std::vector<Packet> after = walk(s.bytes, at + len, &stop);
            walked.insert(walked.end(), after.begin(), after.end());
        }
        EXPECT_EQ(stop, s.bytes.size()) << name;
        EXPECT_EQ(walked, s.listed) << name;
        EXPECT_EQ(search(std::vector<uint8_t>(s.bytes.begin() + long(at), s.bytes.begin() + long(at + len)), 0), -1);
        // A search from 2 bytes into the packet before the garbage lands on the packet after it.
        if (std::string(name) == "trailing_garbage.pva") {
            EXPECT_EQ(at + len, s.bytes.size());
            EXPECT_EQ(search(s.bytes, s.listed.back().offset + 2), -1);
        } else {
            const uint64_t from = at == 0 ? 2 : s.listed[size_t(s.info("garbage_after_packet"))].offset + 2;
            EXPECT_EQ(search(s.bytes, from), int64_t(at + len)) << name;
            EXPECT_EQ(s.info("resync_offset"), int64_t(at + len)) << name;
        }
    }
    // The fake header: "AV" with stream id 3 inside the garbage.
    const Sample s3 = load("stream3.pva");
    const auto fake = s3.bytes.begin() + s3.info("fake_header_offset");
    EXPECT_EQ(std::vector<uint8_t>(fake, fake + 3), (std::vector<uint8_t>{0x41, 0x56, 3}));
    EXPECT_EQ(s3.info("other_packets"), 3);
}

TEST(SampleRecordings, DamagedLengthAndZeroLengthPackets)
{
    const Sample s = load("damaged_length.pva");
    const uint64_t at = uint64_t(s.info("damaged_offset"));
    const size_t k = size_t(s.info("damaged_packet"));
    ASSERT_TRUE(isHeader(s.bytes, at));
    const Packet damaged = describe(s.bytes, at);
    EXPECT_EQ(damaged.length, s.info("damaged_length_field"));
    EXPECT_FALSE(isHeader(s.bytes, at + 8 + uint64_t(damaged.length))) << "the length must lead nowhere";
    // The damaged packet is not listed; the one after it takes its number.
    ASSERT_LT(k, s.listed.size());
    EXPECT_EQ(s.listed[k - 1].offset + 8 + uint64_t(s.listed[k - 1].length), at);
    EXPECT_EQ(s.listed[k].offset, at + 8 + uint64_t(s.info("true_length")));
    EXPECT_EQ(search(s.bytes, at + 2), int64_t(s.listed[k].offset));
    EXPECT_EQ(s.info("resync_offset"), int64_t(s.listed[k].offset));

    const Sample z = load("zero_length.pva");
    uint64_t end = 0;
    EXPECT_EQ(walk(z.bytes, 0, &end), z.listed);
    EXPECT_EQ(end, z.bytes.size());
    const int64_t zeros = std::count_if(z.listed.begin(), z.listed.end(), [](const Packet& p) { return p.length == 0; });
    EXPECT_EQ(zeros, z.info("zero_length_packets"));
    EXPECT_GE(zeros, 2);
}

TEST(SampleRecordings, TimeBaseVariants)
{
    // Jump back: exactly one drop of the video PTS of more than a second, where the info says.
    const Sample jump = load("pts_jump_back.pva");
    std::vector<int64_t> drops;
    for (int64_t i = 0, prev = -1; i < int64_t(jump.listed.size()); ++i) {
        const Packet& p = jump.listed[size_t(i)];
        if (p.id != 1 || p.pts < 0) continue;
        if (prev >= 0 && prev - p.pts > 90000) drops.push_back(i);
        prev = p.pts;
    }
    EXPECT_EQ(drops, std::vector<int64_t>{jump.info("jump_video_packet")});

    // Wrap: PTS pass 2^32; the audio PES keeps bit 32 of the 33-bit value.
    const Sample wrap = load("pts_wrap.pva");
    expectCleanRecording(wrap);
    EXPECT_GT(wrap.info("first_vpts"), 0xFFF00000ll);
    EXPECT_LT(wrap.listed.at(size_t(wrap.info("wrap_video_packet"))).pts, 0x10000);
    const auto lastAudio = std::find_if(wrap.listed.rbegin(), wrap.listed.rend(), [](auto& p) { return p.id == 2; });
    ASSERT_NE(lastAudio, wrap.listed.rend()) << "no audio packet in pts_wrap.pva";
    EXPECT_GT(pes33(wrap.bytes.data() + lastAudio->offset + 8 + 9), 0x100000000ull);

    // Join: the clip twice, the second time on another time base.
    const Sample joined = load("joined.pva"), clip = load("clip.pva");
    const Packet& j = joined.listed.at(size_t(joined.info("join_packet")));
    EXPECT_EQ(j.offset, clip.bytes.size());
    EXPECT_EQ(j.pts - clip.listed[0].pts, joined.info("second_pts_base") - joined.info("pts_base"));
    EXPECT_NE(joined.info("second_pts_base"), joined.info("pts_base"));
}

TEST(SampleGenerator, LongRecordingsHaveTheAskedSizeAndRunOn)
{
    ScratchDir dir("long");
    const std::string out = dir.file("long.pva");
    const std::string cmd = binary("pva-samplegen") + " long 64 '" + out + "' --cache '" + sample("") + "'";
    RunResult r = run(cmd);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> f = readBytes(out);
    EXPECT_TRUE(f.size() <= (64u << 20) && f.size() >= (63u << 20)) << f.size();

    // Packets back to back to the end; repeated GOPs still give one picture every 40 ms.
    uint64_t end = 0;
    std::vector<uint32_t> videoPts;
    for (const Packet& p : walk(f, 0, &end))
        if (p.id == 1 && p.pts >= 0) videoPts.push_back(uint32_t(p.pts));
    EXPECT_EQ(end, f.size());
    std::sort(videoPts.begin(), videoPts.end());
    ASSERT_GT(videoPts.size(), 2000u);
    for (size_t i = 1; i < videoPts.size(); ++i) ASSERT_EQ(videoPts[i] - videoPts[i - 1], 3600u) << i;

    r = run("ffmpeg -nostdin -v error -i '" + out + "' -t 10 -f null -");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

// The packet count of a broadcast at a fraction of its size: small packets, each audio
// frame still beginning its own packet and going on in continuation packets.
TEST(SampleGenerator, SmallPacketsAndTheSmallEncode)
{
    ScratchDir dir("small");
    const std::string out = dir.file("small.pva");
    RunResult r = run(binary("pva-samplegen") + " record 30 '" + out + "' --small --payload 64 --cache '" + sample("") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> f = readBytes(out);
    uint64_t end = 0;
    const std::vector<Packet> packets = walk(f, 0, &end);
    EXPECT_EQ(end, f.size());
    std::vector<uint32_t> videoPts;
    size_t audioLeft = 0;   // bytes of the current audio frame still to come
    for (const Packet& p : packets) {
        ASSERT_LE(p.length, 64) << p;
        if (p.id == 1 && p.pts >= 0) videoPts.push_back(uint32_t(p.pts));
        if (p.id != 2) continue;
        const uint8_t* pay = f.data() + p.offset + 8;
        if (p.flags & 0x10) {
            ASSERT_EQ(audioLeft, 0u) << p;
            audioLeft = size_t(pay[4] << 8 | pay[5]) - 8 - size_t(p.length - 14);
        } else {
            ASSERT_GE(audioLeft, size_t(p.length)) << p;
            audioLeft -= size_t(p.length);
        }
    }
    EXPECT_EQ(audioLeft, 0u);
    ASSERT_TRUE(videoPts.size() >= 750u && videoPts.size() < 750u + 12) << videoPts.size();   // whole GOPs
    std::sort(videoPts.begin(), videoPts.end());
    for (size_t i = 1; i < videoPts.size(); ++i) ASSERT_EQ(videoPts[i] - videoPts[i - 1], 3600u) << i;
    // About 275 packets a second, as a broadcast at 6 Mbit/s has.
    EXPECT_GT(packets.size(), 30u * 250);
    EXPECT_LT(f.size(), 30u * 50000);
    EXPECT_NE(readText(out + ".info").find("\npackets=" + std::to_string(packets.size()) + "\n"), std::string::npos);

    // Tiny packets hold so many start codes that FFmpeg takes the file for bare
    // video unless told it is PVA.
    r = run("ffmpeg -nostdin -v error -f pva -i '" + out + "' -f null -");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ffmpegComplaints(r.err), "") << r.err;

    // A recording the disk cannot hold is refused before anything is written.
    r = run(binary("pva-samplegen") + " long 1000000000 '" + dir.file("huge.pva") + "' --cache '" + sample("") + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("would take about 1000000000 MiB"), std::string::npos) << r.err;
    EXPECT_FALSE(fileExists(dir.file("huge.pva")));
}
