// A recording of more than 4 GiB that takes little disk: real packets at the start,
// around the 4 GiB mark and beyond it, and between them packets of 65,535 bytes
// whose payloads are holes in the file (video without a time stamp, which a scan
// passes without reading). The scan, its log and its repair, the viewer position
// and a save of units below, across and beyond 4 GiB. The scans go through the
// plain file layer, which seeks over the holes: the read-ahead reader would read
// all 4 GiB (it is tested beyond 4 GiB on its own and on a real long recording).
#include "WriterRig.h"

#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

using namespace testsupport;

namespace {

constexpr uint64_t fourGiB = uint64_t{1} << 32;
constexpr uint64_t pictureStart = fourGiB - 200;   // the first picture packet reaches over 4 GiB

struct Sparse {
    std::string path;
    uint64_t mid = 0;     // the two pictures around 4 GiB
    uint64_t tail = 0;    // four more beyond, with garbage after the second
    uint64_t garbageAt = 0, resumeAt = 0, droppedAt = 0;
    uint64_t size = 0;
    int32_t fillers = 0;
};

bool writeAt(int fd, const std::vector<uint8_t>& bytes, uint64_t at)
{
    return ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(at)) == static_cast<ssize_t>(bytes.size());
}

// 4 packets a picture: a video packet with a time stamp, an audio PES packet, an
// audio continuation and a video continuation (see writertest::pictures).
std::string makeSparse(const std::string& path, Sparse& s)
{
    std::error_code ec;
    const auto space = std::filesystem::space(std::filesystem::path(path).parent_path(), ec);
    // One block of the file system for every filler header.
    if (ec || space.available < (600ull << 20))
        return "needs 600 MB free beside " + path + " for a sparse recording of 4 GiB";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return "cannot write " + path;
    bool ok = true;
    const PacketBuilder head = writertest::pictures(1, 1, 900000);
    ok &= writeAt(fd, head.bytes, 0);
    uint64_t at = head.bytes.size();
    auto filler = [&](uint16_t length) {
        ok &= writeAt(fd, {0x41, 0x56, 0x01, 0x00, 0x55, 0x00, static_cast<uint8_t>(length >> 8),
                           static_cast<uint8_t>(length)}, at);
        at += 8u + length;
        ++s.fillers;
    };
    while (pictureStart - at > 65543 + 8) filler(65535);
    if (pictureStart - at > 65543) filler(65527);
    filler(static_cast<uint16_t>(pictureStart - at - 8));

    s.mid = at;
    PacketBuilder mid = writertest::pictures(2, 1, 900000 + 3600);
    s.tail = s.mid + mid.bytes.size();
    PacketBuilder tail = writertest::pictures(2, 1, 900000 + 3 * 3600);
    s.droppedAt = s.tail + tail.bytes.size() - 108;   // the video continuation before the garbage
    s.garbageAt = s.tail + tail.bytes.size();
    tail.garbage({0x13, 0x41, 0x00});
    s.resumeAt = s.tail + tail.bytes.size();
    const PacketBuilder more = writertest::pictures(2, 1, 900000 + 5 * 3600);
    tail.bytes.insert(tail.bytes.end(), more.bytes.begin(), more.bytes.end());
    ok &= writeAt(fd, mid.bytes, s.mid) && writeAt(fd, tail.bytes, s.tail);
    ok &= ::close(fd) == 0;
    s.size = s.tail + tail.bytes.size();
    s.path = path;
    return ok ? "" : "cannot write " + path;
}

std::vector<uint8_t> bytesAt(const std::string& path, uint64_t at, size_t n)
{
    std::vector<uint8_t> out(n);
    const int fd = ::open(path.c_str(), O_RDONLY);
    const ssize_t got = fd < 0 ? -1 : ::pread(fd, out.data(), n, static_cast<off_t>(at));
    if (fd >= 0) ::close(fd);
    out.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return out;
}

class BeyondFourGiB : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new ScratchDir("beyond4g");
        problem_ = makeSparse(dir_->file("big.pva"), sparse_);
    }
    static void TearDownTestSuite()
    {
        delete dir_;   // the recording goes with its directory
        dir_ = nullptr;
    }
    void SetUp() override { ASSERT_EQ(problem_, ""); }

    static ScratchDir* dir_;
    static Sparse sparse_;
    static std::string problem_;
    const Sparse& s = sparse_;
    writertest::Rig rig;

    int scan(int withLog = 0)
    {
        rig.app->settings.fastBufferScan = 0;
        return rig.app->scanSource(s.path.c_str(), withLog, rig.operation());
    }
    std::string shown() const
    {
        std::string text = rig.text();
        std::erase(text, '\r');
        return text;
    }
    const SourceStream& src(int i) const { return rig.app->sources[i]; }
    int32_t headPackets() const { return 4 + s.fillers; }
};

ScratchDir* BeyondFourGiB::dir_ = nullptr;
Sparse BeyondFourGiB::sparse_;
std::string BeyondFourGiB::problem_;

TEST_F(BeyondFourGiB, EveryPacketIsIndexedWithItsFullOffset)
{
    ASSERT_EQ(scan(), 1) << rig.text();
    const std::string repair = "ERROR: No file end but no (more) AV header found\nTry to repair pva file at pos "
        + std::to_string(s.droppedAt) + " , mpegpkt 4  \nFound more AV Data at " + std::to_string(s.resumeAt) + "\n";
    char summary[512];
    std::snprintf(summary, sizeof summary, "%s: %llu Bytes   vStartPts %X  vEndPts %X  Frames 7 \n", s.path.c_str(),
                  static_cast<unsigned long long>(s.size), 900000u, 900000u + 6 * 3600);
    EXPECT_EQ(shown(), repair + summary);

    const SourceStream& x = src(0);
    // The packet before the garbage is dropped.
    ASSERT_EQ(x.pktCount, headPackets() + 8 + 16 - 1);
    EXPECT_EQ(x.scanEnd, s.size);
    EXPECT_EQ(x.pktPos[headPackets() - 1] + 8 + x.pktHeader[headPackets() - 1].length, s.mid);
    EXPECT_EQ(x.pktPos[headPackets()], s.mid);
    EXPECT_EQ(x.pktPos[headPackets() + 8], s.tail);
    EXPECT_EQ(x.pktPos[headPackets() + 15], s.resumeAt);
    EXPECT_EQ(x.lastCutPoint, 6);
    EXPECT_EQ(x.cutPointPkt[1], headPackets());

    // The viewer is sent the full offset of the unit at the cursor.
    rig.app->sources[0].cursor = 3;
    EXPECT_EQ(rig.editor->currentFilePosition(), s.tail);
}

TEST_F(BeyondFourGiB, ScanLogWritesOffsetsBeyondFourGiBWithAllTheirDigits)
{
    ASSERT_EQ(scan(1), 1) << rig.text();
    const std::string log = readText(s.path + ".txt");
    std::remove((s.path + ".txt").c_str());
    char expected[96];
    std::snprintf(expected, sizeof expected, "\n%llu::%05d: ID: 1 VIDEO  count:000  len:00204  ",
                  static_cast<unsigned long long>(s.tail), headPackets() + 8);
    EXPECT_NE(log.find(expected), std::string::npos) << expected;
    EXPECT_NE(log.find("Try to repair pva file at pos " + std::to_string(s.droppedAt) + " , mpegpkt 4  \n"),
              std::string::npos);
}

TEST_F(BeyondFourGiB, SavedPacketsAreReadFromTheirFullOffsets)
{
    ASSERT_EQ(scan(), 1) << rig.text();
    // Units 1-2 start below 4 GiB and end above it; units 4-5 lie wholly above,
    // across the repaired place.
    for (auto [a, b] : {std::pair{1, 2}, std::pair{4, 5}}) {
        rig.app->sources[0].selStart = a;
        rig.app->sources[0].selEnd = b;
        ASSERT_EQ(rig.editor->insertSrcPicPkts(true), 1);
    }
    const std::vector<writertest::Packet> out = writertest::parse(rig.saved("out.pva"));
    const NewPvaPacketList& list = rig.editor->packetList;
    ASSERT_EQ(out.size(), list.numOfAVpkt);
    ASSERT_GE(out.size(), 12u);
    const SourceStream& x = src(0);
    for (size_t k = 0; k < out.size(); ++k) {
        const uint32_t j = list.packet[k];
        const PvaPacketHeader& h = x.pktHeader[j];
        std::vector<uint8_t> want = bytesAt(s.path, x.pktPos[j] + 8, h.length);
        std::vector<uint8_t> got = out[k].payload;
        ASSERT_EQ(got.size(), want.size()) << k;
        // Only the time stamp may differ.
        if (h.flags & pvaFlagPts) {
            const size_t from = h.streamId == pvaStreamVideo ? 0 : 9, to = h.streamId == pvaStreamVideo ? 4 : 14;
            for (size_t i = from; i < to; ++i) got[i] = want[i] = 0;
        }
        EXPECT_EQ(got, want) << "packet " << k << " (source packet " << j << " at " << x.pktPos[j] << ")";
    }
    EXPECT_GE(x.pktPos[list.packet[0]], pictureStart);
    EXPECT_LT(x.pktPos[list.packet[0]], fourGiB);
    EXPECT_GT(x.pktPos[list.packet[list.numOfAVpkt - 1]], s.resumeAt);
}

} // namespace
