#include "output/StreamAssembler.h"

#include "cut/CutEditor.h"
#include "output/OutputWriter.h"
#include "platform/Operation.h"
#include "core/LogConsole.h"
#include "source/SourceAnalyser.h"
#include "support/SyntheticSource.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using testsupport::SyntheticSource;
using Packets = std::vector<uint32_t>;

namespace {

Packets range(uint32_t first, uint32_t last, Packets v = {})
{
    for (uint32_t j = first; j <= last; ++j) v.push_back(j);
    return v;
}

class StreamAssemblerTest : public ::testing::Test {
protected:
    LogConsole log;
    std::string messages;
    SourceAnalyser app{log};
    CutEditor editor{app};
    Settings& settings = app.settings;

    void SetUp() override
    {
        testsupport::recordShown(log, messages);
        ASSERT_TRUE(editor.ready());
        settings.assCleanJoins = 0;   // the plain assembly; clean joins are tested on their own
    }

    // Loads `rec` into `slot` and replaces the cut list by the unit ranges given.
    void use(const SyntheticSource& rec, std::vector<std::pair<int32_t, int32_t>> units, int slot = 0,
             bool cutAtIFrames = true)
    {
        ASSERT_EQ(rec.load(app, slot, cutAtIFrames), 1);
        if (editor.currentList().count > 0) editor.deleteSelection(true);
        for (auto [a, b] : units) add(a, b);
    }
    void add(int32_t a, int32_t b)
    {
        editor.selectUnit(Pane::source, a, SelectEnd::start);
        editor.selectUnit(Pane::source, b, SelectEnd::end);
        ASSERT_EQ(editor.insertSrcPicPkts(true), 1);
    }
    // The packet numbers of the assembled list.
    Packets assembled(int selectionOnly = 0)
    {
        assembleNewStream(editor, selectionOnly);
        const NewPvaPacketList& l = editor.packetList;
        return Packets(l.packet.get(), l.packet.get() + l.numOfAVpkt);
    }
    // Position of packet j of source s in the new list, or -1.
    int64_t at(uint32_t j, int32_t s = 0) const
    {
        const NewPvaPacketList& l = editor.packetList;
        for (uint32_t k = 0; k < l.numOfAVpkt; ++k)
            if (l.packet[k] == j && l.source[k] == s) return k;
        return -1;
    }
    uint32_t newVideoPts(uint32_t j) const { return editor.packetList.newVideoPts[at(j)]; }
    uint32_t newAudioPts(uint32_t j) const { return editor.packetList.newAudioPts[at(j)]; }
};

// Layout of SyntheticSource::gops: picture k is packets 4k (video with time stamp
// 3600 k), 4k + 1 (video data), 4k + 2 (audio PES), 4k + 3 (audio data); GOP g
// (unit g) is packets 48 g to 48 g + 47, and packet 48 g + 4 holds a B picture.

TEST_F(StreamAssemblerTest, ConsecutiveUnitsFormOneSequenceExtendedAtTheEnd)
{
    use(SyntheticSource().gops(6, 0, -60000), {{1, 3}});   // audio 667 ms behind the video in the multiplex
    // Units 1 to 3 whole, the last one up to the B picture at 196, then the audio
    // whose PES time stamp stays below vPts[192] - 500 ms = 127800.
    Packets expected = range(48, 195);
    expected.insert(expected.end(), {198, 199, 202, 203, 206, 207, 210, 211});
    EXPECT_EQ(assembled(), expected);
    // Entry 0 keeps its time base, half a second later.
    EXPECT_EQ(newVideoPts(48), 43200u + 45000u);
    EXPECT_EQ(newAudioPts(50), 43200u - 60000u + 45000u);
    EXPECT_EQ(newVideoPts(192), 172800u + 45000u);

    settings.assCompleteAudioPkt = 0;
    EXPECT_EQ(assembled(), range(48, 195));
}

TEST_F(StreamAssemblerTest, AGapBetweenUnitsStartsASequenceThatRunsOn)
{
    use(SyntheticSource().gops(6), {{1, 1}, {3, 3}});
    // Without assAppendNextFrame only the last entry is extended; the second
    // sequence's first unit is bounded at 500 ms before its first picture, which
    // its own audio is above, so nothing is left out.
    EXPECT_EQ(assembled(), range(144, 195, range(48, 95)));
    EXPECT_EQ(newVideoPts(92), 82800u + 45000u);   // last picture of the first unit
    EXPECT_EQ(newVideoPts(144), 82800u + 45000u + 3600u);
    EXPECT_EQ(newAudioPts(146), newVideoPts(144) + 1800u);

    settings.assAppendNextFrame = 1;
    EXPECT_EQ(assembled(), range(144, 195, range(48, 99)));
    // The sequence now ends with picture 24 (packet 96); the next one follows on.
    EXPECT_EQ(newVideoPts(96), 86400u + 45000u);
    EXPECT_EQ(newVideoPts(144), 86400u + 45000u + 3600u);

    settings.assCalcNewPts = 0;
    assembled();
    EXPECT_EQ(newVideoPts(48), 43200u);
    EXPECT_EQ(newVideoPts(144), 129600u);
    EXPECT_EQ(newAudioPts(146), 131400u);
}

TEST_F(StreamAssemblerTest, ContinuationSearchStartsAtTheRangesLastPacket)
{
    // Display-order time stamps: B pictures carry lower time stamps than the I before them.
    SyntheticSource rec;
    rec.picture(1, 7200).picture(3, 0).picture(3, 3600).picture(2, 18000).picture(3, 10800).picture(3, 14400);
    rec.picture(1, 28800).videoData().picture(3, 21600).picture(3, 25200).picture(2, 39600);
    rec.picture(1, 50400).videoData().picture(1, 61200).videoData();
    use(rec, {{0, 0}, {2, 2}});   // cut points 0, 6, 11, 13
    settings.assCompleteAudioPkt = 0;

    // The range ends with a B picture (packet 5) below C = vPts[6]: continue one picture after C.
    EXPECT_EQ(assembled(), range(11, 14, range(0, 5)));
    EXPECT_EQ(newVideoPts(11), 28800u + 3600u + 45000u);

    settings.assAppendNextFrame = 1;
    // Extended through the I picture up to the B picture at 8, which lies before C as well.
    EXPECT_EQ(assembled(), range(11, 14, range(0, 7)));
    EXPECT_EQ(newVideoPts(6), 28800u + 45000u);
    EXPECT_EQ(newVideoPts(11), 28800u + 3600u + 45000u);
}

TEST_F(StreamAssemblerTest, EndExtensionStopsAtBPictureSourceEndOrLookAhead)
{
    settings.assCompleteAudioPkt = 0;
    // The source ends before any B picture: the range runs to its last packet.
    use(SyntheticSource().gops(2).picture(1, 86400).videoData().audioPes(86400).audioData().picture(2, 90000).videoData(),
        {{1, 1}});
    EXPECT_EQ(assembled(), range(48, 101));
    for (int gap : {99, 100, 101}) {
        // A B picture `gap` packets after the unit's end: found only within 100 packets.
        SyntheticSource rec;
        rec.gops(2).picture(1, 86400);
        for (int k = 1; k < gap; ++k) rec.videoData();
        use(rec.picture(3, 90000).videoData().videoData(), {{1, 1}});
        EXPECT_EQ(assembled(), range(48, gap <= 100 ? 96 + gap - 1 : 95)) << gap;
    }
}

TEST_F(StreamAssemblerTest, FirstEntryTakesTheAudioPlayingWhenItsFirstPictureStarts)
{
    settings.assCompleteAudioPkt = 0;
    // No audio PES begins during the first picture of unit 1 (packets 6 to 8).
    SyntheticSource rec;
    rec.picture(1, 0).audioPes(100).audioData().picture(3, 3600).audioPes(3700).videoData();
    rec.picture(1, 7200).videoData().audioData().picture(3, 10800).audioPes(10900).audioData();
    use(rec.picture(1, 14400).videoData().picture(3, 18000).picture(1, 21600), {{1, 1}});
    EXPECT_EQ(assembled(), range(6, 13, {4}));
    EXPECT_EQ(newAudioPts(4), 3700u + 45000u);

    // Packet 0 is never searched.
    use(SyntheticSource().audioPes(0).picture(1, 0).videoData().picture(2, 3600).picture(1, 7200).videoData(), {{0, 0}},
        1);
    EXPECT_EQ(assembled(), range(1, 5));

    // A unit of one picture (cut at every picture) is its own first picture: the
    // audio PES inside it counts, so nothing earlier is pre-added.
    SyntheticSource single;
    single.picture(1, 0).audioPes(100).audioData().picture(1, 3600).audioData().audioPes(3700);
    use(single.picture(1, 7200).videoData(), {{1, 1}}, 2, false);
    EXPECT_EQ(assembled(), range(3, 7));
}

TEST_F(StreamAssemblerTest, LaterSequenceAudioBoundWrapsNearItsSourceStart)
{
    use(SyntheticSource().gops(3), {{0, 0}});
    // Second source: its unit 0 starts at vPts 0, so the bound is 2^32 - 45000.
    SyntheticSource second;
    second.picture(1, 0).audioPes(0u - 50000u).audioData().audioPes(0u - 40000u).audioData();
    second.picture(3, 3600).audioPes(1800).videoData();
    second.picture(1, 7200).audioData().audioPes(5400).videoData();
    ASSERT_EQ(second.picture(1, 10800).videoData().picture(3, 14400).load(app, 1), 1);
    add(0, 1);

    assembled();
    Packets fromSecond;
    for (uint32_t k = 0; k < editor.packetList.numOfAVpkt; ++k)
        if (editor.packetList.source[k] == 1) fromSecond.push_back(editor.packetList.packet[k]);
    // Packets 1 and 2 lie below the bound; from packet 3 on and in the second unit all is taken.
    EXPECT_EQ(fromSecond, range(3, 13, {0}));
}

TEST_F(StreamAssemblerTest, SelectionSaveStartsAtItsFirstSelectedEntryAndAudioOffsetApplies)
{
    use(SyntheticSource().gops(7), {{0, 5}});
    settings.assAudioPtsOffset = 100;

    // No complete selection: nothing, but not an empty cut list.
    editor.selectUnit(Pane::list, 5, SelectEnd::end);
    EXPECT_EQ(assembleNewStream(editor, 1), 1);
    EXPECT_EQ(editor.packetList.numOfAVpkt, 0u);

    editor.selectUnit(Pane::list, 3, SelectEnd::start);
    EXPECT_EQ(assembled(1), range(144, 291));
    EXPECT_EQ(newVideoPts(144), 36000u);   // the offset moves the video 100 ms earlier
    EXPECT_EQ(newAudioPts(146), 1800u + 45000u);
    settings.assAudioPtsOffset = -2000000000;   // from a hand-edited file: wraps, no overflow
    assembled(1);
    EXPECT_EQ(newVideoPts(144), (500u + 2000000000u) * 90u);

    editor.deleteSelection(true);
    EXPECT_EQ(assembleNewStream(editor, 0), 0);
    EXPECT_EQ(editor.packetList.numOfAVpkt, 0u);
}

TEST_F(StreamAssemblerTest, TransfersRefuseARangeThatWouldOverflowTheList)
{
    SyntheticSource rec;
    rec.packets.assign(100000, {pvaStreamVideo, 0, 0, 0, 0, 100});
    rec.packets[5] = {pvaStreamAudio, 0, 0, 0, 0, 100};
    ASSERT_EQ(rec.load(app, 0), 1);
    NewPvaPacketList& l = editor.packetList;

    // The list grows past what fixed columns held (1,499,999 packets) ...
    l.numOfAVpkt = 1400000;
    EXPECT_EQ(addAVPkts(editor, 0, 0, 99999, 0, 0, 0, 1), 1);
    EXPECT_EQ(l.numOfAVpkt, 1500000u);
    EXPECT_EQ(std::make_pair(l.packet[1499999], l.source[1499999]), std::make_pair(99999u, 0));
    EXPECT_EQ(messages, "");

    // ... up to a limit far above any recording, here lowered to where they ended.
    app.limits.newPvaPackets = 1499999;
    l.numOfAVpkt = 1400000;
    EXPECT_EQ(addAVPkts(editor, 0, 0, 99999, 0, 0, 0, 1), -1);
    EXPECT_EQ(messages, "ERROR:addAVPkts: New PVA to big: more than 1499999 packets\n");
    // The rule counts every packet of the range, also those that are not appended.
    EXPECT_EQ(appendAVPkts(editor, 0, 0, 99999, 0, 0, 1), -1);
    EXPECT_EQ(preAddAVAudioPkts(editor, 0, 0, 99999, 0, 0, 1), -1);
    EXPECT_EQ(l.numOfAVpkt, 1400000u);
    EXPECT_EQ(addAVPkts(editor, 0, 0, 999, 0, 0, 0, 1), 1);
    EXPECT_EQ(l.numOfAVpkt, 1401000u);

    // The last free entries can be filled exactly.
    l.numOfAVpkt = 1400000;
    EXPECT_EQ(addAVPkts(editor, 0, 1, 99999, 0, 0, 0, 1), 1);
    EXPECT_EQ(l.numOfAVpkt, 1499999u);

    // Empty ranges append nothing and are never refused; ranges past the index are cut.
    EXPECT_EQ(addAVPkts(editor, 0, 6, 5, 0, 0, 0, 1), 1);
    l.numOfAVpkt = 0;
    EXPECT_EQ(addAVPkts(editor, 0, 99990, 0xFFFFFFFFu, 0, 0, 0, 1), 1);
    EXPECT_EQ(l.numOfAVpkt, 10u);
    EXPECT_EQ(containsAudioPesStart(editor, 0, 0, 99999), 0);
    EXPECT_EQ(addAVPkts(editor, 7, 0, 5, 0, 0, 0, 1), -1);   // no such source

    // Without memory for the range nothing of it is appended.
    app.limits = Capacities{};
    l.numOfAVpkt = static_cast<uint32_t>(l.packet.capacity());
    growingArrayProbe().failAfterBytes = 0;
    messages.clear();
    EXPECT_EQ(addAVPkts(editor, 0, 0, 9, 0, 0, 0, 1), -1);
    EXPECT_EQ(appendAVPkts(editor, 0, 0, 9, 0, 0, 1), -1);
    EXPECT_EQ(messages, "ERROR: OUT OF MEMORY\nERROR: OUT OF MEMORY\n");
    EXPECT_EQ(l.numOfAVpkt, static_cast<uint32_t>(l.packet.capacity()));
    growingArrayProbe().reset();
}

// An assembly that runs out of room does not report every range it drops: it
// counts the packets the transfers would have taken, and the writer says once how
// many did not fit and saves nothing rather than a new PVA with pieces missing.
TEST_F(StreamAssemblerTest, AListThatDoesNotFitIsCountedAndNothingIsSaved)
{
    SyntheticSource rec;
    for (int unit = 0; unit < 3; ++unit) {
        rec.picture(1, static_cast<uint32_t>(unit) * 3600u);
        for (int k = 0; k < 99999; ++k) rec.videoData();
    }
    rec.packets[7] = {pvaStreamAudio, 0, 0, 0, 0, 100};
    ASSERT_EQ(rec.load(app, 0), 1);
    NewPvaPacketList& l = editor.packetList;
    // The limit is far above any recording; here it is where fixed columns ended.
    app.limits.newPvaPackets = 1499999;

    // Counted exactly as the transfer would have appended, without a message.
    l.numOfAVpkt = 1400000;
    l.quietRefusals = true;
    EXPECT_EQ(addAVPkts(editor, 0, 0, 99999, 5000, 0, 0, 1), -1);   // the audio packet is before any PES start
    EXPECT_EQ(l.refusedPackets, 99999u);
    EXPECT_EQ(appendAVPkts(editor, 0, 0, 99999, 0, 0, 1), -1);
    EXPECT_EQ(l.refusedPackets, 100000u);
    EXPECT_EQ(messages, "");
    l.quietRefusals = false;

    // Units 0-1 eight times: 1.6 million packets for a list of 1,499,999.
    for (int k = 0; k < 8; ++k) add(0, 1);
    testsupport::ScratchDir dir("toobig");
    const std::string out = dir.file("out.pva");
    messages.clear();
    EXPECT_EQ(saveNewStream(editor, out.c_str(), 0, platform::quietOperation(app.settings.cancelRequested)), -1);
    EXPECT_EQ(messages, "ERROR:addAVPkts: New PVA to big: " + std::to_string(l.refusedPackets) + " of " +
                            std::to_string(l.numOfAVpkt + l.refusedPackets) +
                            " AV packets do not fit (at most 1499999), nothing saved\n");
    EXPECT_GT(l.numOfAVpkt + l.refusedPackets, uint64_t{app.limits.newPvaPackets});
    EXPECT_GE(l.refusedPackets, 100000u);
    EXPECT_FALSE(testsupport::fileExists(out));

    // A list that fits again saves: the count starts afresh with every assembly.
    editor.deleteSelection(true);
    add(0, 0);
    EXPECT_EQ(assembleNewStream(editor, 0), 1);
    EXPECT_EQ(l.refusedPackets, 0u);

    // Without memory for the list it is the same, said once as what it is.
    app.limits = Capacities{};
    for (int k = 0; k < 20; ++k) add(0, 1);   // 4 million packets, more than the list has room for
    growingArrayProbe().failAfterBytes = 0;
    messages.clear();
    EXPECT_EQ(saveNewStream(editor, out.c_str(), 0, platform::quietOperation(app.settings.cancelRequested)), -1);
    growingArrayProbe().reset();
    EXPECT_EQ(messages, "ERROR: OUT OF MEMORY\nERROR:addAVPkts: New PVA to big: " + std::to_string(l.refusedPackets)
                            + " of " + std::to_string(l.numOfAVpkt + l.refusedPackets)
                            + " AV packets do not fit, nothing saved\n");
    EXPECT_FALSE(testsupport::fileExists(out));
}

} // namespace
