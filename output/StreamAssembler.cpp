#include "output/StreamAssembler.h"

#include "core/LogConsole.h"
#include "cut/CutEditor.h"
#include "source/SourceAnalyser.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr uint32_t startOffsetTicks = 45000;        // the new PVA starts half a second in
constexpr uint32_t sequenceAudioLeadTicks = 45000;  // audio bound before a later sequence
constexpr uint32_t continuationStepTicks = 3600;    // one picture at 25 fps
constexpr int64_t lookAheadPackets = 100;

bool isAudioPesStart(const SourceStream& src, uint32_t j)
{
    const PvaPacketHeader& h = src.pktHeader[j];
    return h.streamId == pvaStreamAudio && (h.flags & pvaFlagPts) != 0;
}

// Narrows [first, last] to the packets the source has. False when nothing is left.
bool clampRange(const SourceStream& src, uint32_t first, uint32_t& last)
{
    if (first > last) return false;
    const uint32_t lastPacket = static_cast<uint32_t>(src.pktCount - 1);
    if (last > lastPacket) last = lastPacket;
    return first <= last;
}

enum class Transfer { take, empty, full, unusable };

// The common start of the three transfers: the source, the range and the capacity rule.
Transfer beginTransfer(CutEditor& editor, int32_t s, uint32_t first, uint32_t& last, const SourceStream*& src)
{
    src = editor.app.usableSource(s);
    NewPvaPacketList& list = editor.packetList;
    if (!src || !editor.ready()) return Transfer::unusable;
    if (!clampRange(*src, first, last)) return Transfer::empty;
    const uint64_t limit = editor.app.limits.newPvaPackets;
    if (uint64_t{list.numOfAVpkt} + (last - first) >= limit) {
        if (!list.quietRefusals)
            editor.app.log.writef("ERROR:addAVPkts: New PVA to big: more than %llu packets\n",
                                  static_cast<unsigned long long>(limit));
        return Transfer::full;
    }
    // Room for every packet of the range, although only some may be taken. Without
    // it the range is refused as one that does not fit, and said once.
    if (!list.reserve(size_t{list.numOfAVpkt} + (last - first) + 1)) {
        if (!list.quietRefusals || list.refusedPackets == 0) editor.app.log.write("ERROR: OUT OF MEMORY\n", 1);
        return Transfer::full;
    }
    return Transfer::take;
}

void appendVideo(NewPvaPacketList& list, const SourceStream& src, int32_t s, uint32_t j, uint32_t videoPtsOffset,
                 int calcNewPts)
{
    const uint32_t k = list.numOfAVpkt++;
    list.source[k] = s;
    list.packet[k] = j;
    list.newVideoPts[k] = calcNewPts == 1 ? src.vPts[j] + videoPtsOffset : src.vPts[j];
}

void appendAudio(NewPvaPacketList& list, const SourceStream& src, int32_t s, uint32_t j, uint32_t audioPtsOffset,
                 int calcNewPts)
{
    const uint32_t k = list.numOfAVpkt++;
    list.source[k] = s;
    list.packet[k] = j;
    list.newAudioPts[k] = calcNewPts == 1 ? src.aPts[j] + audioPtsOffset : src.aPts[j];
}

// A cut-list entry is usable when its source is loaded and its unit lies inside the index.
bool entryUsable(const CutEditor& editor, const CutList& list, int32_t i)
{
    const SourceStream* src = editor.app.usableSource(list.source[i]);
    return src && list.firstPacket[i] >= 0 && list.firstPacket[i] < list.endPacket[i] &&
           list.endPacket[i] <= src->pktCount;
}

} // namespace

namespace {

// Runs one transfer. walk(src, first, last, take) calls take(j, video) for every
// packet the transfer appends, in file order. A range the list has no room for
// appends nothing; its packets are counted as refused.
template <class Walk>
int runTransfer(CutEditor& editor, int32_t s, uint32_t first, uint32_t last, uint32_t audioPtsOffset,
                uint32_t videoPtsOffset, int calcNewPts, Walk walk)
{
    NewPvaPacketList& list = editor.packetList;
    const SourceStream* src = nullptr;
    switch (beginTransfer(editor, s, first, last, src)) {
    case Transfer::unusable: return -1;
    case Transfer::empty: return 1;
    case Transfer::full:
        walk(*src, first, last, [&](uint32_t, bool) { ++list.refusedPackets; });
        return -1;
    case Transfer::take: break;
    }
    walk(*src, first, last, [&](uint32_t j, bool video) {
        if (video)
            appendVideo(list, *src, s, j, videoPtsOffset, calcNewPts);
        else
            appendAudio(list, *src, s, j, audioPtsOffset, calcNewPts);
    });
    return 1;
}

} // namespace

int addAVPkts(CutEditor& editor, int32_t s, uint32_t first, uint32_t last, uint32_t audioStartPts,
              uint32_t audioPtsOffset, uint32_t videoPtsOffset, int calcNewPts)
{
    return runTransfer(editor, s, first, last, audioPtsOffset, videoPtsOffset, calcNewPts,
                       [audioStartPts](const SourceStream& src, uint32_t a, uint32_t b, auto take) {
                           bool audioOn = audioStartPts == 0;
                           for (uint32_t j = a; j <= b; ++j) {
                               const uint8_t id = src.pktHeader[j].streamId;
                               if (id == pvaStreamVideo) {
                                   take(j, true);
                               } else if (id == pvaStreamAudio) {
                                   if (isAudioPesStart(src, j) && src.aPts[j] >= audioStartPts) audioOn = true;
                                   if (audioOn) take(j, false);
                               }
                           }
                       });
}

int appendAVPkts(CutEditor& editor, int32_t s, uint32_t first, uint32_t last, uint32_t audioEndPts,
                 uint32_t audioPtsOffset, int calcNewPts)
{
    return runTransfer(editor, s, first, last, audioPtsOffset, 0, calcNewPts,
                       [audioEndPts](const SourceStream& src, uint32_t a, uint32_t b, auto take) {
                           for (uint32_t j = a; j <= b; ++j) {
                               if (src.pktHeader[j].streamId != pvaStreamAudio) continue;
                               if (isAudioPesStart(src, j) && src.aPts[j] >= audioEndPts) break;
                               take(j, false);
                           }
                       });
}

int preAddAVAudioPkts(CutEditor& editor, int32_t s, uint32_t first, uint32_t last, uint32_t audioStartPts,
                      uint32_t audioPtsOffset, int calcNewPts)
{
    return runTransfer(editor, s, first, last, audioPtsOffset, 0, calcNewPts,
                       [audioStartPts](const SourceStream& src, uint32_t a, uint32_t b, auto take) {
                           bool taking = false;
                           for (uint32_t j = a; j <= b; ++j) {
                               if (src.pktHeader[j].streamId != pvaStreamAudio) continue;
                               if (!taking && isAudioPesStart(src, j) && src.aPts[j] >= audioStartPts) taking = true;
                               if (taking) take(j, false);
                           }
                       });
}

int containsAudioPesStart(const CutEditor& editor, int32_t s, uint32_t first, uint32_t last)
{
    const SourceStream* src = editor.app.usableSource(s);
    if (!src || !clampRange(*src, first, last)) return 0;
    for (uint32_t j = first; j <= last; ++j)
        if (isAudioPesStart(*src, j)) return 1;
    return 0;
}

EntryRange entriesToAssemble(const CutList& list, int selectionOnly)
{
    if (selectionOnly != 1) return {0, list.count - 1};
    if (list.selStart < 0 || list.selEnd < 0) return {};
    return {list.selStart, std::min(list.selEnd, list.count - 1)};
}

namespace {

// The packets added for one entry: first..last, and the audio bound (0: none).
struct PacketRange {
    uint32_t first;
    uint32_t last;
    uint32_t audioStartPts = 0;
};

// One run of assembleNewStream over the chosen entries: the running time-stamp
// offsets and the point at which the next sequence continues the time line.
class Assembly {
public:
    Assembly(CutEditor& editor, const CutList& list, EntryRange entries)
        : editor_(editor), list_(list), settings_(editor.app.settings), entries_(entries),
          calc_(settings_.assCalcNewPts),
          // Settings are plain ints from a file: do the millisecond products unsigned
          // so that any value wraps like the time stamps instead of overflowing.
          videoPtsOffset_((500u - static_cast<uint32_t>(settings_.assAudioPtsOffset)) * 90u)
    {}

    void addEntry(int32_t i);

private:
    bool endsSequence(int32_t i) const;
    void startSequence(int32_t i, const SourceStream& src, PacketRange& range);
    void joinTimeStamps(int32_t i, const SourceStream& src, const PacketRange& range);
    void preAddPlayingAudio(int32_t s, const SourceStream& src, const PacketRange& range);
    void endSequence(int32_t i, const SourceStream& src, PacketRange& range);
    void extendToNextPicture(const SourceStream& src, int64_t e, int64_t lookAheadEnd, PacketRange& range);
    void takeTrailingAudio(int32_t s, uint32_t nextPicturePts, int64_t lookAheadEnd, const PacketRange& range);
    void noteContinuation(const SourceStream& src, uint32_t nextPicturePts, int64_t lookAheadEnd,
                          const PacketRange& range);
    void add(int32_t s, const PacketRange& range)
    {
        addAVPkts(editor_, s, range.first, range.last, range.audioStartPts, audioPtsOffset_, videoPtsOffset_, calc_);
    }

    CutEditor& editor_;
    const CutList& list_;
    const Settings& settings_;
    const EntryRange entries_;
    const int calc_;
    uint32_t audioPtsOffset_ = startOffsetTicks;
    uint32_t videoPtsOffset_;
    uint32_t nextSequencePts_ = 0;
    bool previousEnded_ = false;
};

void Assembly::addEntry(int32_t i)
{
    const bool sequenceStart = i == entries_.first || previousEnded_;
    const bool sequenceEnd = endsSequence(i);
    previousEnded_ = sequenceEnd;
    if (!entryUsable(editor_, list_, i)) {
        previousEnded_ = true;
        return;
    }
    const SourceStream& src = editor_.app.sources[list_.source[i]];
    PacketRange range{static_cast<uint32_t>(list_.firstPacket[i]), static_cast<uint32_t>(list_.endPacket[i] - 1)};
    if (sequenceStart) startSequence(i, src, range);
    if (sequenceEnd)
        endSequence(i, src, range);
    else
        add(list_.source[i], range);   // inside a sequence: exactly the unit
}

// The next entry does not continue this one's unit in the same source.
bool Assembly::endsSequence(int32_t i) const
{
    return i == entries_.last || list_.source[i + 1] != list_.source[i]
        || list_.endPacket[i] != list_.firstPacket[i + 1];
}

void Assembly::startSequence(int32_t i, const SourceStream& src, PacketRange& range)
{
    joinTimeStamps(i, src, range);
    if (i == entries_.first)
        preAddPlayingAudio(list_.source[i], src, range);
    else if (settings_.assCompleteAudioPkt == 1)
        range.audioStartPts = src.vPts[range.first] - sequenceAudioLeadTicks;
}

// The sequence's first picture continues the time line where the previous one
// stopped. Entry 0 keeps its source's time base.
void Assembly::joinTimeStamps(int32_t i, const SourceStream& src, const PacketRange& range)
{
    if (calc_ != 1 || i == 0) return;
    const uint32_t d = nextSequencePts_ - src.vPts[range.first];
    videoPtsOffset_ += d;
    audioPtsOffset_ += d;
}

// Audio that is already playing when the first picture starts goes in front,
// unless an audio PES packet begins during that picture.
void Assembly::preAddPlayingAudio(int32_t s, const SourceStream& src, const PacketRange& range)
{
    int64_t checkEnd = range.last;   // a unit without a later P or B picture is one picture
    for (uint32_t j = range.first; j < range.last; ++j) {
        if (src.picType[j] == 2 || src.picType[j] == 3) {
            checkEnd = int64_t{j} - 1;
            break;
        }
    }
    const bool audioBeginsInPicture =
        checkEnd >= range.first && containsAudioPesStart(editor_, s, range.first, static_cast<uint32_t>(checkEnd)) == 1;
    if (audioBeginsInPicture) return;
    for (uint32_t n = range.first; n >= 1; --n) {
        if (isAudioPesStart(src, n)) {
            if (n < range.first) preAddAVAudioPkts(editor_, s, n, range.first - 1, 0, audioPtsOffset_, calc_);
            return;
        }
    }
}

void Assembly::endSequence(int32_t i, const SourceStream& src, PacketRange& range)
{
    const int32_t s = list_.source[i];
    const int64_t lastPacket = src.pktCount - 1;
    const int64_t e = list_.endPacket[i];
    const int64_t lookAheadEnd = std::min(e + lookAheadPackets, lastPacket);
    // The unit may end at the index's end; the picture after it is then the last one known.
    const uint32_t nextPicturePts = src.vPts[std::min(e, lastPacket)];

    if (settings_.assAppendNextFrame == 1 || i == entries_.last) extendToNextPicture(src, e, lookAheadEnd, range);
    add(s, range);
    if (settings_.assCompleteAudioPkt == 1) takeTrailingAudio(s, nextPicturePts, lookAheadEnd, range);
    if (calc_ == 1) noteContinuation(src, nextPicturePts, lookAheadEnd, range);
}

// Takes in the packets after the unit up to the first B picture, or to the end of
// the source when that comes first within the look-ahead.
void Assembly::extendToNextPicture(const SourceStream& src, int64_t e, int64_t lookAheadEnd, PacketRange& range)
{
    const int64_t lastPacket = src.pktCount - 1;
    for (int64_t j = e; j <= lookAheadEnd; ++j) {
        if (src.picType[j] == 3) {
            range.last = static_cast<uint32_t>(j - 1);
            return;
        }
        if (j == lastPacket) {
            range.last = static_cast<uint32_t>(lastPacket);
            return;
        }
    }
}

// The audio after the range, up to the PES packet that reaches the end offset
// before the picture that follows the range.
void Assembly::takeTrailingAudio(int32_t s, uint32_t nextPicturePts, int64_t lookAheadEnd, const PacketRange& range)
{
    const uint32_t audioEndPts = nextPicturePts + static_cast<uint32_t>(settings_.assCompleteAPktEndOffset) * 90u;
    if (int64_t{range.last} + 1 <= lookAheadEnd)
        appendAVPkts(editor_, s, range.last + 1, static_cast<uint32_t>(lookAheadEnd), audioEndPts, audioPtsOffset_,
                     calc_);
}

// Where the next sequence continues: the next video time stamp after the range,
// or one picture after the picture that follows the unit when time runs backwards.
void Assembly::noteContinuation(const SourceStream& src, uint32_t nextPicturePts, int64_t lookAheadEnd,
                                const PacketRange& range)
{
    nextSequencePts_ = nextPicturePts;
    for (int64_t j = range.last; j < lookAheadEnd; ++j) {
        const PvaPacketHeader& h = src.pktHeader[j];
        if (h.streamId == pvaStreamVideo && (h.flags & pvaFlagPts) != 0) {
            nextSequencePts_ = src.vPts[j] >= nextPicturePts ? src.vPts[j] : nextPicturePts + continuationStepTicks;
            return;
        }
    }
}

} // namespace

int assembleNewStream(CutEditor& editor, int selectionOnly)
{
    NewPvaPacketList& packets = editor.packetList;
    packets.numOfAVpkt = 0;
    packets.recodedEntries.clear();
    packets.refusedPackets = 0;
    if (!editor.ready()) return -1;
    const CutList& list = editor.currentList();
    if (list.count == 0) return 0;

    const EntryRange entries = entriesToAssemble(list, selectionOnly);
    Assembly assembly(editor, list, entries);
    packets.quietRefusals = true;
    for (int32_t i = entries.first; i <= entries.last; ++i) assembly.addEntry(i);
    packets.quietRefusals = false;
    return 1;
}
