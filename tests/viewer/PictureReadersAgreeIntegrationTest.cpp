// The scanner and the viewer read the pictures through the one picture reader:
// on every generated sample, the scanner's index (picture type per packet,
// pictures per unit) and the viewer's plan for each packet agree with the pictures
// the reader lists for the whole file, and so with each other.
#include "core/LogConsole.h"
#include "platform/fake/Fakes.h"
#include "source/SourceAnalyser.h"
#include "source/VideoPictures.h"
#include "viewer/PvaVideo.h"

#include "support/ViewerTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <map>

using namespace testsupport;

namespace {

struct Picture {
    char type;
    bool seenPerPacket;   // its header lies where the scanner looks, packet by packet
};

char typeLetter(uint8_t t) { return t == 1 ? 'I' : t == 2 ? 'P' : t == 3 ? 'B' : '?'; }

TEST(PictureReaders, ScannerAndViewerAgreeOnEveryPictureOfEverySample)
{
    platform::fake::FakeOperation fakes;
    LogConsole console;
    std::string said;
    recordShown(console, said);
    for (const char* name : {"clip.pva", "rec60.pva", "garbage_before.pva", "garbage_between.pva",
                             "damaged_length.pva", "trailing_garbage.pva", "zero_length.pva", "stream3.pva",
                             "pts_jump_back.pva", "joined.pva", "pts_wrap.pva"}) {
        SCOPED_TRACE(name);
        SourceAnalyser app(console);
        ASSERT_EQ(app.scanSource(sample(name).c_str(), 0, fakes.context(app.settings.cancelRequested)), 1) << said;
        const SourceStream& s = app.current();

        std::ifstream in(sample(name), std::ios::binary);
        const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        const PacketWalker walker(file.data(), file.size(), 0);
        VideoPictures reader;
        reader.read(walker, 0);
        // The pictures whose start code's code byte lies in each packet, in order.
        std::map<uint64_t, std::vector<Picture>> byPacket;
        for (const VideoPicture& p : reader.pictures()) {
            ASSERT_EQ(p.fields, 0) << "the samples hold frame pictures only";
            const VideoPacket& k = reader.packets()[reader.packetOf(p.picture + 3)];
            // The scanner looks at the payload from its first byte to 10 bytes before
            // its end; a header across the packet's end is not seen there.
            const uint64_t inPayload = k.payloadSkip + (p.picture - k.streamBegin);
            const uint32_t length = readPacketHeader(walker.at(k.offset)).length;
            const bool whole = p.picture >= k.streamBegin && inPayload + 11 <= length;
            byPacket[p.packet].push_back({typeLetter(p.codingType), whole});
        }

        viewer::PvaVideoFile view;
        std::string error;
        ASSERT_TRUE(view.open(sample(name), error)) << error;
        const bool everyPacket = std::string(name) != "rec60.pva";   // a minute of video: every 5th
        // Pictures per unit, counted by where their packets lie: a packet that a repair
        // took back out of the index still had its pictures counted.
        for (int32_t u = 0; u < s.lastCutPoint; ++u) {
            const uint64_t from = s.pktPos[s.cutPointPkt[u]], to = s.pktPos[s.cutPointPkt[u + 1]];
            int32_t seen = 0;
            for (auto it = byPacket.lower_bound(from); it != byPacket.end() && it->first < to; ++it)
                for (const Picture& p : it->second) seen += p.seenPerPacket;
            EXPECT_EQ(seen, s.cutPointFrame[u + 1] - s.cutPointFrame[u]) << "unit " << u;
        }
        int32_t planned = 0, withPictures = 0;
        for (int32_t k = 0; k < s.pktCount; ++k) {
            if (s.pktHeader[k].streamId != pvaStreamVideo) continue;
            auto found = byPacket.find(s.pktPos[k]);
            char lastSeen = 0;
            if (found != byPacket.end())
                for (const Picture& p : found->second)
                    if (p.seenPerPacket) lastSeen = p.type;
            ASSERT_EQ("-IPB"[s.picType[k] & 3], lastSeen ? lastSeen : '-') << "packet at " << s.pktPos[k];
            if (found == byPacket.end() || (!everyPacket && withPictures++ % 5 != 0)) continue;
            viewer::DecodePlan plan;
            ASSERT_TRUE(view.plan(s.pktPos[k], plan, error)) << s.pktPos[k] << ": " << error;
            const viewer::AccessUnit& target = plan.units[plan.target];
            EXPECT_EQ(target.packet, s.pktPos[k]);
            EXPECT_EQ(target.type, found->second.front().type) << "packet at " << s.pktPos[k];
            EXPECT_EQ(plan.units.front().sequenceHeader, true);
            ++planned;
        }
        EXPECT_GT(planned, 20);
    }
}

} // namespace

namespace {

// 8 MiB of "AV" headers whose lengths chain into each other, and then the rest of a
// recording from a P picture on, two bytes off their rhythm: every one of them is a
// candidate start of the packets that fails only at the flood's end, and walking
// again from each of them would take hours. The plan looks back through all of it
// for a sequence header.
TEST(PictureReaders, AFloodOfFalseHeadersInFrontOfAPictureCostsLinearTime)
{
    std::ifstream in(sample("clip.pva"), std::ios::binary);
    const std::vector<uint8_t> clip{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    uint64_t from = 0, later = 0;
    for (const viewertest::SamplePacket& p : viewertest::samplePackets("clip.pva")) {
        if (p.streamId != 1 || p.types == "-") continue;
        if (!from && p.types[0] == 'P') from = p.offset;
        else if (from && !later && p.types.find('I') != std::string::npos) later = p.offset;
    }
    ASSERT_TRUE(from && later);
    std::vector<uint8_t> bytes;
    for (int i = 0; i < (8 << 20) / 4; ++i) bytes.insert(bytes.end(), {'A', 'V', 0x01, 0x00});
    bytes.insert(bytes.end(), {'A', 'V'});
    const uint64_t at = bytes.size();
    bytes.insert(bytes.end(), clip.begin() + static_cast<std::ptrdiff_t>(from), clip.end());
    ScratchDir dir("vwflood");
    writeBytes(dir.file("flood.pva"), bytes);

    viewer::PvaVideoFile view;
    std::string error;
    ASSERT_TRUE(view.open(dir.file("flood.pva"), error)) << error;
    const auto started = std::chrono::steady_clock::now();
    viewer::DecodePlan plan;
    EXPECT_FALSE(view.plan(at, plan, error));
    EXPECT_NE(error.find("No I picture with a sequence header"), std::string::npos) << error;
    // The next I picture and what follows it are found as before.
    ASSERT_TRUE(view.plan(at + later - from, plan, error)) << error;
    EXPECT_EQ(plan.units[plan.target].packet, at + later - from);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

} // namespace
