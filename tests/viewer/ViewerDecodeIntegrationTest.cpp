// The picture chosen for a position and its decoding, in process: every picture of
// every sample variant, field pictures, positions beyond 4 GiB, and files that are
// cut short, shrink or are not recordings at all.
#include "support/ViewerTestSupport.h"
#include "viewer/PictureDecoder.h"
#include "viewer/PvaVideo.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>

using namespace testsupport;
using namespace viewertest;
using namespace viewer;

namespace {

struct Shown {
    bool ok = false;
    QImage picture;
    DecodePlan plan;
    std::string error;
};

Shown show(PvaVideoFile& file, PictureDecoder& decoder, uint64_t position)
{
    Shown s;
    s.ok = file.plan(position, s.plan, s.error) && decoder.decode(s.plan, s.picture, s.error);
    return s;
}

// Also: the time counts from the recording's first picture as the cutter counts it,
// across a jump back, a join and the 2^32 wrap.
TEST(ViewerDecode, EveryPictureOfEverySampleIsTheOneItsPacketStarts)
{
    PictureDecoder decoder;
    for (const char* name : {"clip.pva", "garbage_before.pva", "garbage_between.pva", "damaged_length.pva",
                             "trailing_garbage.pva", "zero_length.pva", "stream3.pva", "pts_jump_back.pva",
                             "joined.pva", "pts_wrap.pva"}) {
        PvaVideoFile file;
        std::string error;
        ASSERT_TRUE(file.open(sample(name), error)) << error;
        std::map<uint64_t, uint32_t> cutterTime;
        for (const CutPoint& c : cutPoints(sample(name), true)) cutterTime[c.offset] = c.vpts;
        int pictures = 0;
        for (const SamplePacket& p : samplePackets(name)) {
            if (p.streamId != 1 || p.types == "-") continue;
            ++pictures;
            const Shown s = show(file, decoder, p.offset);
            ASSERT_TRUE(s.ok) << name << " @" << p.offset << ": " << s.error;
            const AccessUnit& target = s.plan.units[s.plan.target];
            EXPECT_EQ(target.packet, p.offset) << name;
            EXPECT_EQ(target.type, p.types[0]) << name << " @" << p.offset;
            EXPECT_EQ(target.hasPts, p.hasPts) << name << " @" << p.offset;
            EXPECT_EQ(target.pts, p.pts) << name << " @" << p.offset;
            if (auto t = cutterTime.find(p.offset); t != cutterTime.end()) {
                EXPECT_EQ(target.pts - file.startPts(), t->second) << name << " @" << p.offset;
            }
            EXPECT_EQ(s.picture.size(), QSize(720, 576)) << name;
            // Decoding starts at a sequence header and takes only what the picture needs.
            EXPECT_TRUE(s.plan.units.front().sequenceHeader) << name;
            EXPECT_EQ(s.plan.units.front().type, 'I') << name;
            EXPECT_LE(s.plan.units.size(), 12u) << name << " @" << p.offset;
        }
        EXPECT_EQ(pictures, sampleInfoInt(name, "pictures")) << name;
    }
    EXPECT_EQ(formatTime(5512500), "00:01:01.25");
    EXPECT_EQ(formatTime(0xFFFFFFFFu), "13:15:21.85");
}

TEST(ViewerDecode, PositionsBeyondFourGiB)
{
    // A sparse file: 4 GiB of nothing, then the clip.
    ScratchDir dir("vw4g");
    const std::string big = dir.file("big.pva");
    const uint64_t base = (4ull << 30) + 1000;
    {
        std::ofstream out(big, std::ios::binary);
        out.seekp(static_cast<std::streamoff>(base));
        const auto clip = readBytes(sample("clip.pva"));
        out.write(reinterpret_cast<const char*>(clip.data()), static_cast<std::streamsize>(clip.size()));
        ASSERT_TRUE(out.good());
    }
    PvaVideoFile small, large;
    PictureDecoder decoder;
    std::string error;
    ASSERT_TRUE(small.open(sample("clip.pva"), error));
    ASSERT_TRUE(large.open(big, error));
    int compared = 0;
    for (const CutPoint& c : cutPoints(sample("clip.pva"), true)) {
        if (c.offset > 700000) break;
        const Shown a = show(small, decoder, c.offset);
        const Shown b = show(large, decoder, base + c.offset);
        ASSERT_TRUE(a.ok && b.ok) << a.error << b.error;
        EXPECT_EQ(a.picture, b.picture) << c.offset;
        ++compared;
    }
    EXPECT_GT(compared, 20);
}

TEST(ViewerDecode, AFrameCodedAsTwoFieldsIsOnePicture)
{
    // An I field and a P field make the first frame; a B frame and a P frame follow.
    const std::vector<uint8_t> sequence = {0, 0, 1, 0xB3, 0x2D, 0x02, 0x40, 0x23, 0xFF, 0xFF, 0xE0, 0x00};
    const std::vector<uint8_t> slice = {0, 0, 1, 0x01, 0x12, 0x34, 0x56};
    auto extension = [](uint8_t structure) { return std::vector<uint8_t>{0, 0, 1, 0xB5, 0x8F, 0xFF, static_cast<uint8_t>(0xF0 | structure), 0x80}; };
    PacketBuilder b;
    b.videoPts(7200, concat({sequence, gopHeader(0x00080040), pictureHeader(1, 2), extension(1), slice,
                             pictureHeader(2, 2), extension(2), slice}));
    const uint64_t second = b.bytes.size();
    b.videoPts(3600, concat({pictureHeader(3, 1), extension(3), slice}));
    const uint64_t third = b.bytes.size();
    b.videoPts(14400, concat({pictureHeader(2, 4), extension(1), slice, pictureHeader(2, 4), extension(2), slice}));
    b.videoPts(10800, concat({pictureHeader(3, 3), extension(3), slice}));
    ScratchDir dir("vwfield");
    writeBytes(dir.file("fields.pva"), b.bytes);

    PvaVideoFile file;
    std::string error;
    ASSERT_TRUE(file.open(dir.file("fields.pva"), error));
    DecodePlan plan;
    ASSERT_TRUE(file.plan(0, plan, error)) << error;
    ASSERT_EQ(plan.units.size(), 1u);
    EXPECT_EQ(plan.units[0].type, 'I');
    EXPECT_EQ(plan.units[0].pts, 7200u);
    EXPECT_EQ(plan.units[0].bytes.size(), second - 8 - 4);   // both fields
    ASSERT_TRUE(file.plan(second, plan, error)) << error;
    ASSERT_EQ(plan.units.size(), 2u);
    EXPECT_EQ(plan.units[1].type, 'B');
    EXPECT_EQ(plan.units[1].pts, 3600u);
    ASSERT_TRUE(file.plan(third, plan, error)) << error;
    ASSERT_EQ(plan.units.size(), 2u);   // the B frame is left out
    EXPECT_EQ(plan.units[1].type, 'P');
    EXPECT_EQ(plan.units[1].pts, 14400u);
}

TEST(ViewerDecode, BadFilesGiveAMessage)
{
    ScratchDir dir("vwbad");
    PictureDecoder decoder;
    std::string error;
    const auto clip = readBytes(sample("clip.pva"));
    const auto packets = samplePackets("clip.pva");

    PvaVideoFile file;
    EXPECT_FALSE(file.open(dir.file("missing.pva"), error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    EXPECT_FALSE(file.open(dir.path(), error));
    ASSERT_EQ(::mkfifo(dir.file("fifo.pva").c_str(), 0600), 0);
    EXPECT_FALSE(file.open(dir.file("fifo.pva"), error));   // and does not wait for a writer
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;

    // Not a recording, nothing, and audio only.
    writeBytes(dir.file("noise.pva"), std::vector<uint8_t>(100000, 0x41));
    writeBytes(dir.file("empty.pva"), {});
    std::vector<uint8_t> audioOnly;
    for (const SamplePacket& p : packets)
        if (p.streamId == 2) {
            const size_t end = p.offset + 8 + ((clip[p.offset + 6] << 8) | clip[p.offset + 7]);
            audioOnly.insert(audioOnly.end(), clip.begin() + static_cast<long>(p.offset), clip.begin() + static_cast<long>(end));
        }
    writeBytes(dir.file("audio.pva"), audioOnly);
    for (const char* name : {"noise.pva", "empty.pva", "audio.pva"}) {
        ASSERT_TRUE(file.open(dir.file(name), error)) << error;
        EXPECT_FALSE(show(file, decoder, 0).ok) << name;
    }

    // Video packets without a picture start.
    PacketBuilder b;
    const uint32_t pts = 90000;
    b.videoPts(pts, std::vector<uint8_t>(300, 0x11)).video(std::vector<uint8_t>(300, 0x22));
    writeBytes(dir.file("nopicture.pva"), b.bytes);
    ASSERT_TRUE(file.open(dir.file("nopicture.pva"), error));
    const Shown none = show(file, decoder, 0);
    EXPECT_FALSE(none.ok);
    EXPECT_NE(none.error.find("No picture starts"), std::string::npos) << none.error;

    // Cut short in the middle of each of the last pictures: either the part that is
    // there is shown or a message comes; the earlier pictures are unharmed.
    for (size_t cut : {clip.size() - 1000, clip.size() - 7000, clip.size() - 30000}) {
        writeBytes(dir.file("short.pva"), std::vector<uint8_t>(clip.begin(), clip.begin() + static_cast<long>(cut)));
        ASSERT_TRUE(file.open(dir.file("short.pva"), error));
        for (const SamplePacket& p : packets) {
            if (p.streamId != 1 || p.types == "-" || p.offset >= cut) continue;
            const Shown s = show(file, decoder, p.offset);
            if (p.offset + 300000 < cut) {
                EXPECT_TRUE(s.ok) << cut << " @" << p.offset << ": " << s.error;
            } else if (!s.ok) {
                EXPECT_FALSE(s.error.empty());
            }
        }
    }

    // The file shrinks, then grows again while it is open.
    std::filesystem::copy_file(sample("clip.pva"), dir.file("gone.pva"));
    ASSERT_TRUE(file.open(dir.file("gone.pva"), error));
    std::filesystem::resize_file(dir.file("gone.pva"), 20000);
    const Shown shrunk = show(file, decoder, packets[30].offset);
    EXPECT_FALSE(shrunk.ok);
    EXPECT_NE(shrunk.error.find("past the end"), std::string::npos) << shrunk.error;
    writeBytes(dir.file("gone.pva"), clip);
    EXPECT_TRUE(show(file, decoder, packets[30].offset).ok);
}

} // namespace
