// The generated sample recordings are the ground truth of many other tests, so they are
// checked here against their .info and .packets files by an independent walk, and
// read by FFmpeg as an outside judge.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace testsupport;
namespace fs = std::filesystem;

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
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ss(line);
        Packet p;
        std::string pts;
        ss >> p.offset >> p.id >> p.flags >> p.length >> pts >> p.types;
        p.pts = pts == "-" ? -1 : std::stoll(pts);
        out.push_back(p);
    }
    return out;
}

// Walks from `from` packet after packet until the file ends or no header follows.
std::vector<Packet> walk(const std::vector<uint8_t>& f, uint64_t from, uint64_t* stoppedAt = nullptr)
{
    std::vector<Packet> out;
    uint64_t at = from;
    while (isHeader(f, at)) {
        out.push_back(describe(f, at));
        at += 8 + uint64_t(out.back().length);
    }
    if (stoppedAt) *stoppedAt = at;
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

Sample load(const std::string& name)
{
    Sample s{name, readBytes(sample(name)), readPacketsFile(sample(name) + ".packets")};
    EXPECT_FALSE(s.bytes.empty()) << name;
    EXPECT_FALSE(s.listed.empty()) << name;
    return s;
}

// Each listed packet is what the file holds at its offset, well-formed as a DVB card
// writes it, and the totals of the .info agree with the list.
void expectListedPacketsAreInTheFile(const Sample& s)
{
    SCOPED_TRACE(s.name);
    std::map<std::string, int64_t> n;
    std::set<uint64_t> seen;
    for (const Packet& p : s.listed) {
        ASSERT_TRUE(isHeader(s.bytes, p.offset)) << p;
        ASSERT_EQ(describe(s.bytes, p.offset), p);
        ASSERT_LE(p.offset + 8 + uint64_t(p.length), s.bytes.size()) << p;
        EXPECT_EQ(s.bytes[p.offset + 4], 0x55) << p;
        EXPECT_LE(p.length, 6136) << p;
        EXPECT_TRUE(seen.insert(p.offset).second);
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

// What a clean recording promises: packets back to back, per-stream counters, each
// picture starting a packet with its PTS, one audio frame per PES packet.
void expectCleanRecording(const Sample& s)
{
    SCOPED_TRACE(s.name);
    uint64_t end = 0;
    std::vector<Packet> walked = walk(s.bytes, 0, &end);
    EXPECT_EQ(end, s.bytes.size());
    ASSERT_EQ(walked, s.listed);

    std::map<int, int> counter;
    std::vector<uint32_t> videoPts;
    int64_t lastAudio = -1, lastVideo = -1;
    uint32_t gopOrigin = 0;
    for (const Packet& p : walked) {
        const uint8_t* pay = s.bytes.data() + p.offset + 8;
        if (counter.count(p.id)) {
            EXPECT_EQ(s.bytes[p.offset + 3], uint8_t(counter[p.id] + 1)) << p;
        }
        counter[p.id] = s.bytes[p.offset + 3];
        if (p.id == 1 && p.pts >= 0) {
            ASSERT_EQ(p.types.size(), 1u) << p;
            // The picture, with the headers before an I picture, begins right after the PTS,
            // and its header lies where a search of the payload from byte 0 finds it.
            EXPECT_EQ(be32(pay + 4), p.types == "I" ? 0x1B3u : 0x100u) << p;
            // Within a GOP, PTS minus temporal reference stays the same: PTS follow display order.
            int pic = 4;
            while (pic + 6 <= p.length && be32(pay + pic) != 0x100) ++pic;
            const uint32_t tr = uint32_t(pay[pic + 4] << 2 | pay[pic + 5] >> 6);
            const uint32_t origin = uint32_t(p.pts) - tr * 3600;
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
            EXPECT_EQ(be32(pay), 0x1C0u);
            EXPECT_EQ(pay[4] << 8 | pay[5], p.length - 6) << "PES length " << p;
            EXPECT_EQ(pay[6], 0x81);
            EXPECT_EQ(pay[7], 0x80);
            EXPECT_EQ(pay[8], 0x05);
            EXPECT_EQ(pay[9] & 0xF1, 0x21);
            EXPECT_EQ(pay[11] & 1, 1);
            EXPECT_EQ(pay[13] & 1, 1);
            EXPECT_EQ(pay[14], 0xFF) << "frame sync " << p;
            if (lastAudio >= 0) {
                EXPECT_EQ(uint32_t(p.pts - lastAudio), 2160u) << p;
            }
            lastAudio = p.pts;
            // Muxed by time: audio travels close to the video it belongs to.
            if (lastVideo >= 0) {
                EXPECT_LT(std::abs(int64_t(int32_t(uint32_t(p.pts - lastVideo)))), 45000) << p;
            }
        }
    }
    // PTS follow display order: sorted, every picture has its own slot, one picture apart.
    const uint32_t first = videoPts.front();
    std::vector<uint32_t> rel;
    for (uint32_t v : videoPts) rel.push_back(v - first);
    std::sort(rel.begin(), rel.end());
    for (size_t i = 0; i < rel.size(); ++i) ASSERT_EQ(rel[i], i * 3600) << "picture " << i;
    EXPECT_EQ(s.info("first_vpts"), int64_t(videoPts.front()));
    EXPECT_EQ(s.info("last_vpts"), int64_t(videoPts.back()));
}

std::vector<uint8_t> videoStream(const std::vector<uint8_t>& f, const std::vector<Packet>& packets)
{
    std::vector<uint8_t> es;
    for (const Packet& p : packets) {
        if (p.id != 1) continue;
        const int skip = p.pts >= 0 ? 4 : 0;
        es.insert(es.end(), f.begin() + long(p.offset) + 8 + skip, f.begin() + long(p.offset) + 8 + p.length);
    }
    return es;
}

// ffmpeg 5.1's PVA reader reports "invalid syncword" and an I/O error when it reads past
// the last packet of any file; everything else it says is a fault of ours.
std::vector<std::string> ffmpegComplaints(const std::string& err)
{
    std::vector<std::string> out;
    std::istringstream ss(err);
    std::string line;
    while (std::getline(ss, line)) {
        if (line.find("] invalid syncword") != std::string::npos) continue;
        if (line.find("Last message repeated") != std::string::npos) continue;
        if (line.find(": Input/output error") != std::string::npos) continue;
        if (!line.empty()) out.push_back(line);
    }
    return out;
}

} // namespace

TEST(SampleRecordings, CleanRecordingsAreWellFormedAndMatchTheirGroundTruth)
{
    for (const char* name : {"clip.pva", "rec60.pva"}) {
        Sample s = load(name);
        expectListedPacketsAreInTheFile(s);
        expectCleanRecording(s);
    }
    Sample rec = load("rec60.pva");
    EXPECT_EQ(rec.info("pictures"), 1500);
    EXPECT_EQ(rec.info("audio_pts_packets"), 2500);
    EXPECT_EQ(rec.info("i_pictures"), rec.info("gops"));

    // The clip carries exactly the encoder's video stream.
    Sample clip = load("clip.pva");
    EXPECT_EQ(clip.info("pictures"), 100);
    EXPECT_TRUE(videoStream(clip.bytes, clip.listed) == readBytes(sample("clip.m2v")));
    EXPECT_EQ(sampleInfoInt("clip.m2v", "pictures"), 100);
}

TEST(SampleRecordings, FfmpegReadsTheMinuteWithoutComplaint)
{
    const std::string path = sample("rec60.pva");
    RunResult r = run("ffmpeg -nostdin -v error -i '" + path + "' -f null -");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(ffmpegComplaints(r.err).empty()) << r.err;
    // Stopping before the end avoids the reader's end-of-file message altogether.
    r = run("ffmpeg -nostdin -v error -i '" + path + "' -t 50 -f null -");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");

    r = run("ffprobe -v error -count_frames -show_entries stream=codec_type,codec_name,nb_read_frames -of csv=p=0 '" +
            path + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(ffmpegComplaints(r.err).empty()) << r.err;
    EXPECT_NE(r.out.find("mpeg2video,video,1500"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("mp2,audio,2500"), std::string::npos) << r.out;
}

TEST(SampleRecordings, GarbageIsWhereTheInfoSaysAndHidesNoHeader)
{
    const Sample clip = load("clip.pva");
    for (const char* name : {"garbage_before.pva", "garbage_between.pva", "trailing_garbage.pva", "stream3.pva"}) {
        SCOPED_TRACE(name);
        Sample s = load(name);
        expectListedPacketsAreInTheFile(s);
        const uint64_t at = uint64_t(s.info("garbage_offset")), len = uint64_t(s.info("garbage_length"));
        ASSERT_LE(at + len, s.bytes.size());
        // Packets run back to back up to the garbage and again after it.
        uint64_t stop = 0;
        std::vector<Packet> before = walk(s.bytes, at == 0 ? len : 0, &stop);
        if (at > 0) {
            EXPECT_EQ(stop, at);
        }
        if (at + len < s.bytes.size()) {
            std::vector<Packet> after = walk(s.bytes, at + len, &stop);
            EXPECT_EQ(stop, s.bytes.size());
            if (at > 0) before.insert(before.end(), after.begin(), after.end());
        }
        EXPECT_EQ(before, s.listed);
        std::vector<uint8_t> garbage(s.bytes.begin() + long(at), s.bytes.begin() + long(at + len));
        EXPECT_EQ(search(garbage, 0), -1);
        if (std::string(name) != "trailing_garbage.pva") {
            // A search from 2 bytes into the packet before the garbage lands on the packet after it.
            const uint64_t from = at == 0 ? 2 : s.listed[size_t(s.info("garbage_after_packet"))].offset + 2;
            EXPECT_EQ(search(s.bytes, from), int64_t(at + len));
            EXPECT_EQ(s.info("resync_offset"), int64_t(at + len));
        } else {
            EXPECT_EQ(at + len, s.bytes.size());
            EXPECT_EQ(search(s.bytes, s.listed.back().offset + 2), -1);
        }
    }
    // The fake header: "AV" with stream id 3 inside the garbage.
    Sample s3 = load("stream3.pva");
    const uint64_t fake = uint64_t(s3.info("fake_header_offset"));
    EXPECT_EQ(s3.bytes[fake], 0x41);
    EXPECT_EQ(s3.bytes[fake + 1], 0x56);
    EXPECT_EQ(s3.bytes[fake + 2], 3);
    EXPECT_EQ(s3.info("other_packets"), 3);
    EXPECT_EQ(s3.listed[size_t(s3.info("stream3_first"))].id, 3);
    // Garbage before: the clip's packets, each 5 bytes later.
    Sample gb = load("garbage_before.pva");
    ASSERT_EQ(gb.listed.size(), clip.listed.size());
    for (size_t i = 0; i < clip.listed.size(); ++i) EXPECT_EQ(gb.listed[i].offset, clip.listed[i].offset + 5);
}

TEST(SampleRecordings, DamagedLengthAndZeroLengthPackets)
{
    Sample s = load("damaged_length.pva");
    expectListedPacketsAreInTheFile(s);
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

    Sample z = load("zero_length.pva");
    expectListedPacketsAreInTheFile(z);
    uint64_t end = 0;
    EXPECT_EQ(walk(z.bytes, 0, &end), z.listed);
    EXPECT_EQ(end, z.bytes.size());
    const int64_t zeros = std::count_if(z.listed.begin(), z.listed.end(), [](const Packet& p) { return p.length == 0; });
    EXPECT_EQ(zeros, z.info("zero_length_packets"));
    EXPECT_GE(zeros, 2);
    EXPECT_EQ(z.listed[size_t(z.info("zero_length_first"))].length, 0);
}

TEST(SampleRecordings, TimeBaseVariants)
{
    // Jump back: exactly one drop of the video PTS of more than a second, where the info says.
    Sample jump = load("pts_jump_back.pva");
    expectListedPacketsAreInTheFile(jump);
    int64_t prev = -1, drops = 0, dropAt = -1;
    for (size_t i = 0; i < jump.listed.size(); ++i) {
        const Packet& p = jump.listed[i];
        if (p.id != 1 || p.pts < 0) continue;
        if (prev >= 0 && prev - p.pts > 90000) {
            ++drops;
            dropAt = int64_t(i);
        }
        prev = p.pts;
    }
    EXPECT_EQ(drops, 1);
    EXPECT_EQ(dropAt, jump.info("jump_video_packet"));

    // Wrap: PTS pass 2^32; the audio PES keeps bit 32 of the 33-bit value.
    Sample wrap = load("pts_wrap.pva");
    expectListedPacketsAreInTheFile(wrap);
    const size_t wrapAt = size_t(wrap.info("wrap_video_packet"));
    ASSERT_LT(wrapAt, wrap.listed.size());
    EXPECT_GT(wrap.info("first_vpts"), 0xFFF00000ll);
    EXPECT_LT(wrap.listed[wrapAt].pts, 0x10000);
    uint64_t lastAudio = 0;
    for (const Packet& p : wrap.listed) {
        if (p.id != 2) continue;
        const uint64_t v = pes33(wrap.bytes.data() + p.offset + 8 + 9);
        if (lastAudio) {
            EXPECT_EQ(v, lastAudio + 2160) << p;
        }
        lastAudio = v;
    }
    EXPECT_GT(lastAudio, 0x100000000ull);

    // Join: two clean recordings back to back, counters and time base starting again.
    Sample joined = load("joined.pva");
    expectListedPacketsAreInTheFile(joined);
    const size_t j = size_t(joined.info("join_packet"));
    ASSERT_LT(j, joined.listed.size());
    EXPECT_EQ(joined.listed[j].offset, uint64_t(joined.info("join_offset")));
    EXPECT_EQ(joined.bytes[joined.listed[j].offset + 3], 0);
    EXPECT_EQ(joined.listed[j].types, "I");
    const Sample clip = load("clip.pva");
    EXPECT_EQ(joined.listed[j].pts - clip.listed[0].pts,
              joined.info("second_pts_base") - joined.info("pts_base"));
}

TEST(SampleGenerator, LongRecordingHasTheAskedSizeAndRisingTimeStamps)
{
    ScratchDir dir("long");
    const std::string out = dir.file("long.pva");
    const std::string cmd = binary("pva-samplegen") + " long 64 '" + out + "' --cache '" + sample("") + "'";
    RunResult r = run(cmd);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> f = readBytes(out);
    EXPECT_LE(f.size(), 64u << 20);
    EXPECT_GE(f.size(), 63u << 20);

    uint64_t end = 0;
    const std::vector<Packet> packets = walk(f, 0, &end);
    EXPECT_EQ(end, f.size());
    std::vector<uint32_t> videoPts;
    uint32_t gopTimeCode = 0, gops = 0;
    int64_t lastAudio = -1;
    for (const Packet& p : packets) {
        const uint8_t* pay = f.data() + p.offset + 8;
        if (p.id == 2) {
            if (lastAudio >= 0) {
                ASSERT_EQ(p.pts - lastAudio, 2160) << p;
            }
            lastAudio = p.pts;
        } else if (p.pts >= 0) {
            videoPts.push_back(uint32_t(p.pts));
            for (int i = 4; i + 8 <= p.length; ++i) {
                if (be32(pay + i) != 0x1B8) continue;
                // Time code in pictures since the start: 25 per second.
                const uint32_t w = be32(pay + i + 4);
                const uint32_t tc = ((w >> 26 & 31) * 3600 + (w >> 20 & 63) * 60 + (w >> 13 & 63)) * 25 + (w >> 7 & 63);
                if (gops++) {
                    EXPECT_EQ(tc, gopTimeCode + (gops == 2 ? 10u : 12u)) << p;
                }
                gopTimeCode = tc;
            }
        }
    }
    std::sort(videoPts.begin(), videoPts.end());
    for (size_t i = 1; i < videoPts.size(); ++i) ASSERT_EQ(videoPts[i] - videoPts[i - 1], 3600u) << i;
    EXPECT_GT(videoPts.size(), 2000u);
    std::ifstream info(out + ".info");
    std::string all((std::istreambuf_iterator<char>(info)), std::istreambuf_iterator<char>());
    EXPECT_NE(all.find("size=" + std::to_string(f.size()) + "\n"), std::string::npos);
    EXPECT_NE(all.find("pictures=" + std::to_string(videoPts.size()) + "\n"), std::string::npos);

    r = run("ffmpeg -nostdin -v error -i '" + out + "' -t 10 -f null -");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");

    // A second run with the same parameters leaves the file alone.
    const auto stamp = fs::last_write_time(out);
    r = run(cmd);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fs::last_write_time(out), stamp);
}

TEST(SampleGenerator, RemakesOnlyWhatIsMissingOrBroken)
{
    ScratchDir dir("std");
    const std::string cmd = binary("pva-samplegen") + " standard '" + dir.path() + "' --cache '" + sample("") + "'";
    RunResult r = run(cmd);
    ASSERT_EQ(r.status, 0) << r.err;
    // Deterministic: the same bytes as the fixture's set.
    EXPECT_TRUE(readBytes(dir.file("joined.pva")) == readBytes(sample("joined.pva")));

    const auto keptStamp = fs::last_write_time(dir.file("rec60.pva"));
    fs::resize_file(dir.file("clip.pva"), 1000);           // an interrupted copy
    fs::remove(dir.file("damaged_length.pva.packets"));
    r = run(cmd);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(readBytes(dir.file("clip.pva")) == readBytes(sample("clip.pva")));
    EXPECT_TRUE(fileExists(dir.file("damaged_length.pva.packets")));
    EXPECT_EQ(fs::last_write_time(dir.file("rec60.pva")), keptStamp);
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().string().find(".tmp"), std::string::npos) << e.path();
}
