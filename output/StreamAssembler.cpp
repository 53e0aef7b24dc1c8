#include "output/StreamAssembler.h"

#include "cut/CutEditor.h"
#include "shell/LogConsole.h"
#include "source/SourceAnalyser.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr uint32_t startOffsetTicks = 45000;        // the new PVA starts half a second in
constexpr uint32_t sequenceAudioLeadTicks = 45000;  // audio bound before a later sequence
constexpr uint32_t continuationStepTicks = 3600;    // one picture at 25 fps
constexpr int64_t lookAheadPackets = 100;

const SourceStream* usableSource(const CutEditor& editor, int32_t s)
{
    if (s < 0 || s >= maxSources) return nullptr;
    const SourceStream& src = editor.app.sources[s];
    if (!src.allocated() || src.pktCount <= 0) return nullptr;
    return &src;
}

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

// The common start of the three transfers: the source, the range and the capacity rule.
const SourceStream* beginTransfer(CutEditor& editor, int32_t s, uint32_t first, uint32_t& last, int& result)
{
    result = 1;
    const SourceStream* src = usableSource(editor, s);
    NewPvaPacketList& list = editor.packetList;
    if (!src || !editor.ready()) {
        result = -1;
        return nullptr;
    }
    if (!clampRange(*src, first, last)) return nullptr;
    if (uint64_t{list.numOfAVpkt} + (last - first) >= newPacketLimit) {
        if (editor.app.log) editor.app.log->write("ERROR:addAVPkts: New PVA to big\n", 1);
        result = -1;
        return nullptr;
    }
    return src;
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
    const SourceStream* src = usableSource(editor, list.source[i]);
    return src && list.firstPacket[i] >= 0 && list.firstPacket[i] < list.endPacket[i] &&
           list.endPacket[i] <= src->pktCount;
}

} // namespace

int addAVPkts(CutEditor& editor, int32_t s, uint32_t first, uint32_t last, uint32_t audioStartPts,
              uint32_t audioPtsOffset, uint32_t videoPtsOffset, int calcNewPts)
{
    int result;
    const SourceStream* src = beginTransfer(editor, s, first, last, result);
    if (!src) return result;
    NewPvaPacketList& list = editor.packetList;
    bool audioOn = audioStartPts == 0;
    for (uint32_t j = first; j <= last; ++j) {
        const uint8_t id = src->pktHeader[j].streamId;
        if (id == pvaStreamVideo) {
            appendVideo(list, *src, s, j, videoPtsOffset, calcNewPts);
        } else if (id == pvaStreamAudio) {
            if (isAudioPesStart(*src, j) && src->aPts[j] >= audioStartPts) audioOn = true;
            if (audioOn) appendAudio(list, *src, s, j, audioPtsOffset, calcNewPts);
        }
    }
    return 1;
}

int appendAVPkts(CutEditor& editor, int32_t s, uint32_t first, uint32_t last, uint32_t audioEndPts,
                 uint32_t audioPtsOffset, int calcNewPts)
{
    int result;
    const SourceStream* src = beginTransfer(editor, s, first, last, result);
    if (!src) return result;
    NewPvaPacketList& list = editor.packetList;
    for (uint32_t j = first; j <= last; ++j) {
        if (src->pktHeader[j].streamId != pvaStreamAudio) continue;
        if (isAudioPesStart(*src, j) && src->aPts[j] >= audioEndPts) break;
        appendAudio(list, *src, s, j, audioPtsOffset, calcNewPts);
    }
    return 1;
}

int preAddAVAudioPkts(CutEditor& editor, int32_t s, uint32_t first, uint32_t last, uint32_t audioStartPts,
                      uint32_t audioPtsOffset, int calcNewPts)
{
    int result;
    const SourceStream* src = beginTransfer(editor, s, first, last, result);
    if (!src) return result;
    NewPvaPacketList& list = editor.packetList;
    bool taking = false;
    for (uint32_t j = first; j <= last; ++j) {
        if (src->pktHeader[j].streamId != pvaStreamAudio) continue;
        if (!taking && isAudioPesStart(*src, j) && src->aPts[j] >= audioStartPts) taking = true;
        if (taking) appendAudio(list, *src, s, j, audioPtsOffset, calcNewPts);
    }
    return 1;
}

int containsAudioPesStart(const CutEditor& editor, int32_t s, uint32_t first, uint32_t last)
{
    const SourceStream* src = usableSource(editor, s);
    if (!src || !clampRange(*src, first, last)) return 0;
    for (uint32_t j = first; j <= last; ++j)
        if (isAudioPesStart(*src, j)) return 1;
    return 0;
}

int assembleNewStream(CutEditor& editor, int selectionOnly)
{
    NewPvaPacketList& packets = editor.packetList;
    packets.numOfAVpkt = 0;
    if (!editor.ready()) return -1;
    const CutList& list = editor.currentList();
    if (list.count == 0) return 0;

    const Settings& settings = editor.app.settings;
    const int calc = settings.assCalcNewPts;
    // Settings are plain ints from a file: do the millisecond products unsigned so
    // that any value wraps like the time stamps instead of overflowing.
    uint32_t audioPtsOffset = startOffsetTicks;
    uint32_t videoPtsOffset = (500u - static_cast<uint32_t>(settings.assAudioPtsOffset)) * 90u;
    uint32_t nextSequencePts = 0;

    int32_t first = 0, last = list.count - 1;
    if (selectionOnly == 1) {
        if (list.selStart < 0 || list.selEnd < 0) return 1;
        first = list.selStart;
        last = std::min(list.selEnd, list.count - 1);
    }

    bool previousEnded = false;
    for (int32_t i = first; i <= last; ++i) {
        const int32_t s = list.source[i];
        const bool sequenceStart = i == first || previousEnded;
        const bool sequenceEnd =
            i == last || list.source[i + 1] != s || list.endPacket[i] != list.firstPacket[i + 1];
        previousEnded = sequenceEnd;
        if (!entryUsable(editor, list, i)) {
            previousEnded = true;
            continue;
        }
        const SourceStream& src = editor.app.sources[s];
        const int64_t lastPacket = src.pktCount - 1;

        const uint32_t addStart = static_cast<uint32_t>(list.firstPacket[i]);
        uint32_t addEnd = static_cast<uint32_t>(list.endPacket[i] - 1);
        uint32_t audioStartPts = 0;

        if (sequenceStart) {
            if (calc == 1 && i != 0) {
                const uint32_t d = nextSequencePts - src.vPts[addStart];
                videoPtsOffset += d;
                audioPtsOffset += d;
            }
            if (i == first) {
                // Audio that is already playing when the first picture starts goes in
                // front, unless an audio PES packet begins during that picture.
                int64_t checkEnd = addEnd;   // a unit without a later P or B picture is one picture
                for (uint32_t j = addStart; j < addEnd; ++j) {
                    if (src.picType[j] == 2 || src.picType[j] == 3) {
                        checkEnd = int64_t{j} - 1;
                        break;
                    }
                }
                const bool audioBeginsInPicture =
                    checkEnd >= addStart &&
                    containsAudioPesStart(editor, s, addStart, static_cast<uint32_t>(checkEnd)) == 1;
                if (!audioBeginsInPicture) {
                    for (uint32_t n = addStart; n >= 1; --n) {
                        if (isAudioPesStart(src, n)) {
                            if (n < addStart) preAddAVAudioPkts(editor, s, n, addStart - 1, 0, audioPtsOffset, calc);
                            break;
                        }
                    }
                }
            } else if (settings.assCompleteAudioPkt == 1) {
                audioStartPts = src.vPts[addStart] - sequenceAudioLeadTicks;
            }
        }

        if (!sequenceEnd) {
            addAVPkts(editor, s, addStart, addEnd, audioStartPts, audioPtsOffset, videoPtsOffset, calc);
            continue;
        }

        const int64_t e = list.endPacket[i];
        const int64_t lookAheadEnd = std::min(e + lookAheadPackets, lastPacket);
        // The unit may end at the index's end; the picture after it is then the last one known.
        const uint32_t nextPicturePts = src.vPts[std::min(e, lastPacket)];

        if (settings.assAppendNextFrame == 1 || i == last) {
            for (int64_t j = e; j <= lookAheadEnd; ++j) {
                if (src.picType[j] == 3) {
                    addEnd = static_cast<uint32_t>(j - 1);
                    break;
                }
                if (j == lastPacket) {
                    addEnd = static_cast<uint32_t>(lastPacket);
                    break;
                }
            }
        }

        addAVPkts(editor, s, addStart, addEnd, audioStartPts, audioPtsOffset, videoPtsOffset, calc);

        if (settings.assCompleteAudioPkt == 1) {
            const uint32_t audioEndPts =
                nextPicturePts + static_cast<uint32_t>(settings.assCompleteAPktEndOffset) * 90u;
            if (int64_t{addEnd} + 1 <= lookAheadEnd)
                appendAVPkts(editor, s, addEnd + 1, static_cast<uint32_t>(lookAheadEnd), audioEndPts,
                             audioPtsOffset, calc);
        }

        if (calc == 1) {
            const uint32_t c = nextPicturePts;
            nextSequencePts = c;
            for (int64_t j = addEnd; j < lookAheadEnd; ++j) {
                const PvaPacketHeader& h = src.pktHeader[j];
                if (h.streamId == pvaStreamVideo && (h.flags & pvaFlagPts) != 0) {
                    nextSequencePts = src.vPts[j] >= c ? src.vPts[j] : c + continuationStepTicks;
                    break;
                }
            }
        }
    }
    return 1;
}
