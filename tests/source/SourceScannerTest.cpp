#include "platform/fake/Fakes.h"
#include "core/LogConsole.h"
#include "platform/fake/FaultySystemCalls.h"
#include "source/FileAccess.h"
#include "source/SourceAnalyser.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <grp.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

using namespace testsupport;
using platform::fake::FakeControl;
using platform::fake::FakeOperation;

namespace {

const std::vector<uint8_t> pad(16, 0xFF);
std::vector<uint8_t> pic(int type) { return concat({pictureHeader(type), pad}); }
std::vector<uint8_t> gopI(uint32_t word = 0x00082040) { return concat({gopHeader(word), pictureHeader(1), pad}); }

template <class T> std::vector<T> first(const GrowingArray<T>& column, int n)
{
    return std::vector<T>(column.get(), column.get() + n);
}

// (packet, frame) of every cut point.
std::vector<std::pair<int32_t, int32_t>> cutPoints(const SourceStream& s)
{
    std::vector<std::pair<int32_t, int32_t>> out;
    for (int32_t i = 0; i <= s.lastCutPoint; ++i) out.emplace_back(s.cutPointPkt[i], s.cutPointFrame[i]);
    return out;
}

class Scanner : public ::testing::Test {
protected:
    FakeOperation fakes;
    // What the scan shows its progress on: nothing unless a test gives it controls.
    platform::ControlProgress controls;
    ScratchDir dir{"scanner"};
    LogConsole console;
    std::string said;   // every message shown on the console
    std::unique_ptr<SourceAnalyser> app;

    void SetUp() override
    {
        testsupport::recordShown(console, said);
        app = std::make_unique<SourceAnalyser>(console);
    }
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        std::string p = dir.file(name);
        writeBytes(p, bytes);
        return p;
    }
    int scan(const std::string& path, int withLog = 0)
    {
        return app->scanSource(path.c_str(), withLog, fakes.context(controls, app->settings.cancelRequested));
    }
    // Scans a hand-made recording into the next slot and returns that slot.
    const SourceStream& scanBuilt(const PacketBuilder& b, const std::string& name = "r.pva")
    {
        EXPECT_EQ(scan(write(name, b.bytes)), 1) << said;
        return app->current();
    }
    const SourceStream& src(int i = 0) const { return app->sources[i]; }
};

// Jumps back of more than a second, which move only the end, are checked on
// pts_jump_back.pva by the integration test.
TEST_F(Scanner, TimeStampsAreRelativeToAStartThatFollowsSmallStepsBack)
{
    PacketBuilder b;
    b.videoPts(1000, gopI()).audioPes(3000, {1, 2, 3});
    const SourceStream& s = scanBuilt(b);
    EXPECT_EQ(std::make_pair(s.pktCount, s.vStartPts), std::make_pair(2, 1000u));
    EXPECT_EQ(first(s.vPts, 2), (std::vector<uint32_t>{0, 0}));
    EXPECT_EQ(first(s.aPts, 2), (std::vector<uint32_t>{0u - 1000u, 2000}));   // no audio time stamp in force yet
    EXPECT_NE(said.find(dir.file("r.pva") + ": 69 Bytes   vStartPts 3E8  vEndPts 3E8  Frames 1 \n"), std::string::npos) << said;

    PacketBuilder back;
    back.videoPts(1000, pic(1)).videoPts(900, pic(3)).videoPts(200000, pic(2));
    const SourceStream& a = scanBuilt(back);
    EXPECT_EQ(std::make_pair(a.vStartPts, a.vEndPts), std::make_pair(900u, 200000u));
    EXPECT_EQ(a.vPts[0], 100u);
}

TEST_F(Scanner, CutPointsAtIPicturesOrAtEveryVideoTimeStamp)
{
    PacketBuilder b;
    b.audioPes(500, {})
        .videoPts(1000, concat({gopI(), pic(1), std::vector<uint8_t>(10000, 0xFF)}))   // two I pictures, larger than the buffer
        .video({1, 2, 3})
        .raw(2, 0x10, {0, 0, 1, 0xC0, 0, 4, 0x81, 0x80, 0x05, 0x21})   // PES cut short
        .videoPts(4600, pic(2))
        .videoPts(8200, {0xFF, 0xFF})   // no picture header: repeats the frame number
        .raw(1, 0x10, {0x00, 0x01})     // too short for a time stamp: no cut point
        .videoPts(11800, gopI(0x00082140));
    const SourceStream& atI = scanBuilt(b);
    EXPECT_EQ(cutPoints(atI), (std::vector<std::pair<int32_t, int32_t>>{{1, 1}, {7, 3}}));
    EXPECT_EQ(atI.pktPos[2], 22u + 8 + 4 + 56 + 10000);
    EXPECT_EQ(atI.aPts[3], 500u - 1000u);   // the previous audio time stamp stays
    EXPECT_EQ(first(atI.picType, 8), (std::vector<uint8_t>{0, 1, 0, 0, 2, 0, 0, 1}));
    EXPECT_EQ(atI.vPts[5], 8200u - 1000u);
    EXPECT_EQ(atI.gopTimeCode[6], 0x00082040u);
    EXPECT_EQ(atI.gopTimeCode[7], 0x00082140u);

    app->settings.cutAtIFrames = 0;
    EXPECT_EQ(cutPoints(scanBuilt(b)), (std::vector<std::pair<int32_t, int32_t>>{{1, 1}, {4, 2}, {5, 2}, {7, 3}}));
    app->settings.cutAtIFrames = 7;   // a hand-edited value other than 0 cuts at I pictures
    EXPECT_EQ(cutPoints(scanBuilt(b)), cutPoints(atI));
}

TEST_F(Scanner, GarbageBeforeTheFirstPacketIsSkipped)
{
    PacketBuilder b;
    b.garbage({0x00, 0x41, 0x56, 0x03, 0x41}).videoPts(1000, gopI()).audioPes(1200, {});
    const SourceStream& s = scanBuilt(b);
    EXPECT_NE(said.find("ERROR: No file end but no (more) AV header found\n"
                        "Try to repair pva file at pos 0 , mpegpkt -1  \n"
                        "Found more AV Data at 5\n"),
              std::string::npos)
        << said;
    EXPECT_EQ(std::make_tuple(s.pktCount, s.pktPos[0], s.cutPointPkt[0]), std::make_tuple(2, uint64_t{5}, 0));

    // A single stray byte: the packet right behind it is not lost.
    PacketBuilder one;
    one.garbage({0x13}).videoPts(1000, gopI()).audioPes(1200, {});
    const SourceStream& o = scanBuilt(one);
    EXPECT_EQ(std::make_pair(o.pktCount, o.pktPos[0]), std::make_pair(2, uint64_t{1}));
}

TEST_F(Scanner, DamagedLengthDropsThePacketAndRenumbersTheRest)
{
    PacketBuilder b;
    b.videoPts(1000, gopI()).video({1, 2, 3});
    const uint32_t pos2 = uint32_t(b.bytes.size());
    b.videoPts(4600, gopI());
    const uint32_t pos3 = uint32_t(b.bytes.size());
    b.audioPes(2000, {});
    const uint32_t pos4 = uint32_t(b.bytes.size());
    b.videoPts(8200, gopI());
    b.bytes[pos2 + 7] += 3;   // the next header is now 3 bytes off
    const SourceStream& s = scanBuilt(b);
    EXPECT_NE(said.find("Try to repair pva file at pos " + std::to_string(pos2) + " , mpegpkt 0  \n" +
                        "Found more AV Data at " + std::to_string(pos3) + "\n"),
              std::string::npos)
        << said;
    EXPECT_EQ(s.pktCount, 4);
    EXPECT_EQ(first(s.pktPos, 4), (std::vector<uint64_t>{0, 44, pos3, pos4}));
    // The dropped packet's picture was counted.
    EXPECT_EQ(cutPoints(s), (std::vector<std::pair<int32_t, int32_t>>{{0, 0}, {3, 2}}));
}

// Trailing garbage (with its message) is covered on trailing_garbage.pva by the integration test.
TEST_F(Scanner, PartialHeaderAtTheEndIsNoDamage)
{
    PacketBuilder b;
    b.videoPts(1000, gopI()).audioPes(1200, {}).videoPts(4600, pic(2));
    for (std::vector<uint8_t> tail : {std::vector<uint8_t>{0x41, 0x56, 0x01}, std::vector<uint8_t>(7, 0x33)}) {
        PacketBuilder partial = b;
        partial.garbage(tail);
        EXPECT_EQ(scanBuilt(partial).pktCount, 3);
    }
    EXPECT_EQ(said.find("ERROR"), std::string::npos) << said;
}

// A recorder that stopped in the middle of a packet (a full disk, a crash): that
// packet is not indexed, and the byte count ends with the last complete one.
TEST_F(Scanner, APacketCutShortIsNotIndexed)
{
    PacketBuilder b;
    b.videoPts(1000, gopI()).audioPes(1200, {1, 2, 3}).videoPts(4600, gopI()).raw(1, 0, std::vector<uint8_t>(30, 9));
    const uint32_t complete = static_cast<uint32_t>(b.bytes.size());
    b.videoPts(8200, gopI());
    for (int buffered : {1, 0}) {
        app->settings.fastBufferScan = buffered;
        for (uint32_t cut : {complete + 8, complete + 12, complete + 20, static_cast<uint32_t>(b.bytes.size()) - 1}) {
            said.clear();
            const SourceStream& s = scanBuilt(PacketBuilder{std::vector<uint8_t>(b.bytes.begin(), b.bytes.begin() + cut)});
            EXPECT_EQ(std::make_tuple(s.pktCount, s.scanEnd, s.lastCutPoint), std::make_tuple(4, complete, 1)) << cut;
            EXPECT_NE(said.find(": " + std::to_string(complete) + " Bytes   vStartPts 3E8  vEndPts 11F8  Frames 2 \n"),
                      std::string::npos)
                << said;
            EXPECT_EQ(said.find("ERROR"), std::string::npos) << said;
        }
    }

    // A recording still being written grows during its scan: what arrives is read.
    const std::string growing = write("growing.pva", std::vector<uint8_t>(b.bytes.begin(), b.bytes.end() - 5));
    fakes.pump.serveCalls = 0;
    fakes.pump.onServe = [&](int call) {
        if (call != 1) return;
        std::FILE* f = std::fopen(growing.c_str(), "ab");
        std::fwrite(&b.bytes[b.bytes.size() - 5], 1, 5, f);
        std::fclose(f);
    };
    ASSERT_EQ(scan(growing), 1);
    EXPECT_EQ(std::make_pair(app->current().pktCount, app->current().scanEnd),
              std::make_pair(5, static_cast<uint64_t>(b.bytes.size())));
}

// A pipe, a device or a directory would hang the scan or never end: refused at
// once, before anything is opened or shown.
TEST_F(Scanner, SourcesThatAreNotRegularFilesAreRefusedAtOnce)
{
    FakeControl progress;
    controls = platform::ControlProgress(&progress, nullptr, nullptr);
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir.file("zero.pva"));
    fileAccessProbe().reset();
    for (const std::string& p : {fifo, std::string("/dev/zero"), std::string("/dev/urandom"), dir.file("zero.pva"),
                                 dir.path()}) {
        for (int withLog : {0, 1}) {
            said.clear();
            EXPECT_EQ(scan(p, withLog), -1) << p;
            EXPECT_EQ(said, "ERROR: can't read " + p + ": it is not a regular file\n");
        }
    }
    EXPECT_EQ(progress.showCalls, 0);
    EXPECT_EQ(app->sourceCount, 0);
    EXPECT_FALSE(fileExists(fifo + ".txt") || fileExists(dir.file("zero.pva.txt")));
    EXPECT_EQ(fileAccessProbe().opens, 0u) << "refused before anything is opened";
}

// The scan log's name taken by a directory, or a directory the user may not
// write to: said once, and the scan fails before reading the file.
TEST_F(Scanner, AScanLogThatCannotBeWrittenFailsTheScan)
{
    PacketBuilder b;
    b.videoPts(90000, gopI()).audioPes(91800, {0xAA, 0xBB}).videoPts(93600, gopI());
    const std::string p = write("log.pva", b.bytes);
    std::filesystem::create_directories(p + ".txt/inside");
    EXPECT_EQ(scan(p, 1), -1);
    EXPECT_EQ(said, "Creating Scan Log: " + p + ".txt\nERROR: can't write " + p + ".txt\n" + p +
                        ": 0 Bytes   vStartPts 0  vEndPts 0  Frames 0 \n");
    EXPECT_TRUE(!console.fileCopy() && console.display());
    EXPECT_EQ(app->sourceCount, 0);
    EXPECT_TRUE(std::filesystem::is_directory(p + ".txt/inside"));

    // Root writes anywhere: a child that gives up root's rights meets a directory
    // it may read but not write. That directory lies in the system's temporary
    // directory, so the child reaches it even when the build tree is closed to
    // others. Anyone else gets a directory of the build tree made read-only.
    const bool root = ::geteuid() == 0;
    std::optional<ScratchDir> scratch;
    std::string lockedDir;
    if (root) {
        char pattern[] = "/tmp/orvane-scanlog-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        lockedDir = pattern;
        ASSERT_EQ(::chmod(lockedDir.c_str(), 0755), 0);
    } else {
        scratch.emplace("scanlog");
        lockedDir = scratch->path();
    }
    const std::string q = lockedDir + "/rec.pva";
    writeBytes(q, b.bytes);
    ASSERT_EQ(::chmod(q.c_str(), 0644), 0);
    if (!root) {
        ASSERT_EQ(::chmod(lockedDir.c_str(), 0555), 0);
    }
    said.clear();
    constexpr int cannotDrop = 10, cannotReach = 12;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (root && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(cannotDrop);
        if (::access(q.c_str(), R_OK) != 0) ::_exit(cannotReach);
        const int result = scan(q, 1);
        const bool reported = said == "Creating Scan Log: " + q + ".txt\nERROR: can't write " + q + ".txt\n" + q +
                                           ": 0 Bytes   vStartPts 0  vEndPts 0  Frames 0 \n";
        if (!reported) std::fputs(said.c_str(), stderr);
        ::_exit(result == -1 && reported && !fileExists(q + ".txt") ? 0 : 11);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::chmod(lockedDir.c_str(), 0755);
    if (root) std::filesystem::remove_all(lockedDir);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    if (WEXITSTATUS(status) == cannotDrop || WEXITSTATUS(status) == cannotReach)
        GTEST_SKIP() << "the scan log could not be tested without root's rights: the test process cannot "
                     << (WEXITSTATUS(status) == cannotDrop ? "give them up" : "reach " + q + " without them");
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(Scanner, CancelFreesTheSlotForTheNextScan)
{
    PacketBuilder b;
    for (int i = 0; i < 10; ++i) b.videoPts(1000 + 3600 * i, gopI());
    std::string p = write("c.pva", b.bytes);
    ASSERT_EQ(scan(p), 1);

    fakes.pump.onServe = [this](int call) {
        if (call == 3) app->settings.cancelRequested = 1;
    };
    fakes.pump.serveCalls = 0;
    EXPECT_EQ(scan(p), -1);
    EXPECT_EQ(fakes.pump.serveCalls, 3);
    EXPECT_EQ(std::make_tuple(app->sourceCount, app->currentSource, app->settings.cancelRequested, src(1).pktCount),
              std::make_tuple(1, 0, 0, 0));
    EXPECT_NE(said.find(p + ": 132 Bytes   vStartPts 3E8  vEndPts 2008  Frames 3 \n"), std::string::npos) << said;

    const PvaPacketHeader* arrays = src(1).pktHeader.get();
    fakes.pump.onServe = nullptr;
    ASSERT_EQ(scan(p), 1);
    EXPECT_EQ(std::make_tuple(app->currentSource, src(1).pktCount), std::make_tuple(1, 10));
    EXPECT_EQ(src(1).pktHeader.get(), arrays);

    app->settings.cancelRequested = 1;   // already set: nothing is read
    EXPECT_EQ(scan(p), -1);
    EXPECT_EQ(std::make_tuple(app->settings.cancelRequested, app->sourceCount), std::make_tuple(0, 2));
}

TEST_F(Scanner, RefusalsBeforeTheFileIsRead)
{
    FakeControl progress, cancel;
    controls = platform::ControlProgress(&progress, &cancel, nullptr);

    std::string missing = dir.file("missing.pva");
    EXPECT_EQ(scan(missing), -1);
    EXPECT_NE(said.find("Error: Can't open " + missing + "\nERROR: can't read " + missing + "\n"), std::string::npos);
    EXPECT_FALSE(progress.visible || cancel.visible);

    PacketBuilder b;
    b.videoPts(1000, gopI());
    std::string p = write("s.pva", b.bytes);
    for (int i = 0; i < maxSources; ++i) ASSERT_EQ(scan(p), 1);
    app->currentSource = 3;
    said.clear();
    EXPECT_EQ(scan(missing), -1);
    EXPECT_EQ(said, "ERROR: To much source PVA streams\n");
    EXPECT_EQ(std::make_tuple(app->currentSource, app->sourceCount), std::make_tuple(3, maxSources));
}

TEST_F(Scanner, PacketLimit)
{
    const uint8_t zeroLength[8] = {0x41, 0x56, 0x01, 0x00, 0x55, 0x00, 0x00, 0x00};
    std::vector<uint8_t> bytes;
    bytes.reserve(8 * 1500001);
    for (int32_t i = 0; i < 1500000; ++i) bytes.insert(bytes.end(), zeroLength, zeroLength + 8);
    // The index grows past what fixed columns held (1,499,999 packets) ...
    ASSERT_EQ(scan(write("many.pva", bytes)), 1);
    EXPECT_EQ(std::make_pair(src(0).pktCount, src(0).pktPos[1499999]), std::make_pair(1500000, uint64_t{8} * 1499999));

    // ... up to a limit far above any recording, here lowered to where they ended.
    app->limits.packetsPerSource = 1499999;
    bytes.resize(8 * 1499999);
    ASSERT_EQ(scan(write("max.pva", bytes)), 1);
    EXPECT_EQ(src(1).pktCount, 1499999);

    bytes.insert(bytes.end(), zeroLength, zeroLength + 8);
    EXPECT_EQ(scan(write("over.pva", bytes)), -1);
    EXPECT_NE(said.find("ERROR: source PVA file to big or bad PVA file format: more than 1499999 packets\n"),
              std::string::npos);
    EXPECT_EQ(std::make_tuple(app->sourceCount, src(2).pktCount), std::make_tuple(2, 0));
}

// A machine out of memory fails the scan and frees the slot; nothing else is lost.
TEST_F(Scanner, ScanWithoutMemoryForTheIndexFails)
{
    const uint8_t zeroLength[8] = {0x41, 0x56, 0x01, 0x00, 0x55, 0x00, 0x00, 0x00};
    std::vector<uint8_t> bytes;
    for (int32_t i = 0; i < 300000; ++i) bytes.insert(bytes.end(), zeroLength, zeroLength + 8);
    const std::string p = write("many.pva", bytes);
    PacketBuilder b;
    b.videoPts(1000, gopI()).videoPts(4600, gopI());
    scanBuilt(b);
    // Room for a first part of the index (a few MB), not for 300,000 packets.
    growingArrayProbe().failAfterBytes = 4 << 20;
    said.clear();
    EXPECT_EQ(scan(p), -1);
    growingArrayProbe().reset();
    EXPECT_NE(said.find("ERROR: OUT OF MEMORY\n"), std::string::npos) << said;
    EXPECT_EQ(std::make_tuple(app->sourceCount, app->currentSource, src(1).pktCount), std::make_tuple(1, 0, 0));
    EXPECT_EQ(src(0).pktCount, 2);
    EXPECT_EQ(scan(p), 1);
    EXPECT_EQ(src(1).pktCount, 300000);
}

TEST_F(Scanner, ScanLogHasOneLinePerPacket)
{
    PacketBuilder b;
    b.videoPts(90000, gopI())
        .audioPes(91800, {0xAA, 0xBB})
        .audio({1, 2, 3})
        .audioPes(80000, {0xAA, 0xBB})
        .raw(3, 0x10, {9, 9})   // no line end of its own
        .video({0xFF});
    std::string p = write("log.pva", b.bytes);
    writeBytes(p + ".txt", {'o', 'l', 'd'});
    ASSERT_EQ(scan(p, 1), 1);
    EXPECT_EQ(readText(p + ".txt"),
              "pos        paket        type                  size        PTS_DWORD   offset_to_first_Video_PTS_ms\n"
              "000000000::00000: ID: 1 VIDEO  count:000  len:00036  0000 PTS: 90000  0000   GOP:  00:00:01.00  "
              "Fr:12: 0 f   ->1\n"
              "000000044::00001: ID: 2 AUDIO  count:001  len:00016       PTS: 91800 0020 <- Audio with PES\n"
              "000000068::00002: ID: 2 AUDIO  count:002  len:00003  \n"
              "000000079::00003: ID: 2 AUDIO  count:003  len:00016       PTS: 80000 -0111 <- Audio with PES\n"
              "000000103::00004: count:004  len:00002  "
              "000000113::00005: ID: 1 VIDEO  count:005  len:00001  \n");
    EXPECT_EQ(said, "Creating Scan Log: " + p + ".txt\n" + p + ": 122 Bytes   vStartPts 15F90  vEndPts 15F90  Frames 1 \n");
    EXPECT_TRUE(!console.fileCopy() && console.display());
}

TEST_F(Scanner, WindowFeedbackWhileScanning)
{
    FakeControl progress, cancel, info;
    controls = platform::ControlProgress(&progress, &cancel, &info);
    fakes.clock.stepMs = 125;
    int visibleDuringScan = 0;
    fakes.pump.onServe = [&](int) { visibleDuringScan += progress.visible && cancel.visible; };

    PacketBuilder b;   // 64 packets of 64 KiB: 4 MiB
    for (int i = 0; i < 64; ++i) b.raw(1, 0, std::vector<uint8_t>(65528, 0xFF));
    scanBuilt(b);
    EXPECT_EQ(fakes.pump.serveCalls, 64);
    EXPECT_EQ(visibleDuringScan, 64);
    EXPECT_FALSE(progress.visible || cancel.visible);
    EXPECT_EQ(std::make_pair(progress.rangeLow, progress.rangeHigh), std::make_pair(0, 100));
    std::vector<int> percent;   // 0 at the start, then one per packet: 1/64 is 1 %
    for (int i = 0; i <= 64; ++i) percent.push_back(i * 100 / 64);
    EXPECT_EQ(progress.positions, percent);
    // One clock reading per packet, 125 ms apart: a line every 5 packets.
    ASSERT_EQ(info.texts.size(), 12u);
    EXPECT_EQ(info.texts[0], "Scan PVA    0MB  0.50 MB/s");
    EXPECT_EQ(info.texts[11], "Scan PVA    4MB  0.50 MB/s");
}

TEST_F(Scanner, BothReadersBuildTheSameIndex)
{
    // Over 8 MiB, so that the read-ahead forms and refills windows, with repairs
    // inside and across them.
    PacketBuilder b;
    uint32_t pts = 50000;
    for (int gop = 0; gop < 150; ++gop) {
        b.videoPts(pts, concat({gopI(0x00080000 + gop), std::vector<uint8_t>(gop % 7 == 0 ? 9000 : 5000, 0xEE)}));
        for (int k = 0; k < 10; ++k) {
            b.audioPes(pts + 2160 * k, std::vector<uint8_t>(500, 0x11));
            b.video(std::vector<uint8_t>(6000, 0x22));
            b.videoPts(pts + 3600 * (k + 1), pic(k % 3 ? 3 : 2));
        }
        if (gop % 10 == 3) b.garbage({0x41, 0x41, 0x56, 0x07, 0x00});
        if (gop % 10 == 6) b.raw(3, 0x10, {}).raw(1, 0, {});
        pts += 36000;
    }
    ASSERT_GT(b.bytes.size(), 8u << 20);
    app->settings.fastBufferScan = 1;
    const SourceStream& x = scanBuilt(b);
    std::string saidBuffered = said;
    said.clear();
    app->settings.fastBufferScan = 0;
    const SourceStream& y = scanBuilt(b);
    // Both scans let the file go: a writer is refused while anyone reads it.
    FileHandle writer = openFile(dir.file("r.pva").c_str(), "ab");
    EXPECT_NE(writer, nullptr);
    closeFile(writer);
    EXPECT_EQ(said, saidBuffered);
    EXPECT_NE(said.find("Found more AV Data"), std::string::npos);

    ASSERT_EQ(x.pktCount, y.pktCount);
    EXPECT_GT(x.pktCount, 4000);
    int differing = 0;
    for (int32_t k = 0; k < x.pktCount; ++k) {
        differing += std::memcmp(&x.pktHeader[k], &y.pktHeader[k], 8) != 0 || x.picType[k] != y.picType[k] ||
                     x.vPts[k] != y.vPts[k] || x.aPts[k] != y.aPts[k] || x.gopTimeCode[k] != y.gopTimeCode[k] ||
                     x.pktPos[k] != y.pktPos[k];
    }
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(std::make_tuple(x.vStartPts, x.vEndPts, x.scanEnd), std::make_tuple(y.vStartPts, y.vEndPts, y.scanEnd));
    EXPECT_EQ(x.lastCutPoint, 149);
    EXPECT_EQ(cutPoints(x), cutPoints(y));
}

// The scan log is written beside its name and takes it when the scan ends: a
// cancelled scan leaves an earlier log whole and nothing else behind. It never
// replaces a loaded recording, whatever that recording is called.
TEST_F(Scanner, AScanLogTakesItsNameAtTheEndAndNeverThatOfASource)
{
    PacketBuilder b;
    for (int i = 0; i < 10; ++i) b.videoPts(1000 + 3600 * i, gopI());
    const std::string p = write("c.pva", b.bytes);
    writeBytes(p + ".txt", {'o', 'l', 'd'});
    auto names = [&] {
        std::vector<std::string> all;
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) all.push_back(e.path().filename().string());
        std::sort(all.begin(), all.end());
        return all;
    };
    const auto before = names();
    bool logOpenMeanwhile = false;
    fakes.pump.onServe = [&](int call) {
        if (call == 1) logOpenMeanwhile = names().size() == before.size() + 1;
        if (call == 3) app->settings.cancelRequested = 1;
    };
    EXPECT_EQ(scan(p, 1), -1);
    fakes.pump.onServe = nullptr;
    EXPECT_TRUE(logOpenMeanwhile) << "the log is written under another name";
    EXPECT_EQ(readText(p + ".txt"), "old");
    EXPECT_EQ(names(), before);
    EXPECT_STREQ(console.fileName(), (p + ".txt").c_str());

    // A recording called like the log of another, loaded first, stays as it is.
    const std::string other = write("d.pva", b.bytes);
    const std::string recording = write("d.pva.txt", b.bytes);
    ASSERT_EQ(scan(recording), 1);
    said.clear();
    EXPECT_EQ(scan(other, 1), -1);
    EXPECT_EQ(readBytes(recording), b.bytes);
    EXPECT_EQ(said.rfind("ERROR: can't write " + recording + ": it is the source PVA file " + recording + "\n", 0), 0u)
        << said;
    EXPECT_EQ(app->sourceCount, 1);
}

} // namespace
