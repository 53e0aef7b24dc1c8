#include "support/SyntheticSource.h"

#include "source/SourceAnalyser.h"

#include <algorithm>

namespace testsupport {

SyntheticSource& SyntheticSource::push(uint8_t streamId, uint8_t flags, uint8_t picType)
{
    packets.push_back({streamId, flags, picType, vPts_, aPts_, static_cast<uint16_t>(streamId == pvaStreamVideo ? 1000 : 500)});
    return *this;
}

SyntheticSource& SyntheticSource::picture(uint8_t picType, uint32_t pts)
{
    vPts_ = pts;
    return push(pvaStreamVideo, pvaFlagPts, picType);
}

SyntheticSource& SyntheticSource::videoData() { return push(pvaStreamVideo, 0, 0); }

SyntheticSource& SyntheticSource::audioPes(uint32_t pts)
{
    aPts_ = pts;
    return push(pvaStreamAudio, pvaFlagPts, 0);
}

SyntheticSource& SyntheticSource::audioData() { return push(pvaStreamAudio, 0, 0); }

SyntheticSource& SyntheticSource::gops(int count, uint32_t firstPts, int32_t audioLead)
{
    for (int p = 0; p < count * 12; ++p) {
        const uint32_t pts = firstPts + static_cast<uint32_t>(p) * 3600u;
        picture(p % 12 == 0 ? 1 : (p % 3 == 0 ? 2 : 3), pts).videoData();
        audioPes(pts + static_cast<uint32_t>(audioLead)).audioData();
    }
    return *this;
}

int SyntheticSource::load(SourceAnalyser& app, int slot, bool cutAtIFrames) const
{
    if (app.allocSourceArrays(slot) != 1) return -1;
    SourceStream& s = app.sources[slot];
    if (!s.reservePackets(packets.size()) || !s.reserveCutPoints(packets.size())) return -1;
    s.fileName = "synthetic.pva";
    uint64_t pos = 0;
    int32_t cuts = 0, pictures = 0;
    for (size_t k = 0; k < packets.size(); ++k) {
        const SyntheticPacket& p = packets[k];
        s.pktHeader[k] = PvaPacketHeader{'A', 'V', p.streamId, 0, 0x55, p.flags, p.length};
        s.picType[k] = p.picType;
        s.vPts[k] = p.vPts;
        s.aPts[k] = p.aPts;
        s.gopTimeCode[k] = 0;
        s.pktPos[k] = pos;
        pos += 8u + p.length;
        if (p.picType != 0) ++pictures;
        if (p.streamId == pvaStreamVideo && (p.flags & pvaFlagPts) && (!cutAtIFrames || p.picType == 1)) {
            s.cutPointPkt[cuts] = static_cast<int32_t>(k);
            s.cutPointFrame[cuts++] = pictures - 1;
        }
    }
    s.pktCount = static_cast<int32_t>(packets.size());
    s.scanEnd = pos;
    s.vStartPts = 0;
    s.vEndPts = packets.empty() ? 0 : packets.back().vPts;
    s.lastCutPoint = std::max(cuts - 1, 0);
    s.cursor = 0;
    s.selStart = s.selEnd = -1;
    app.sourceCount = std::max(app.sourceCount, slot + 1);
    app.currentSource = slot;
    return 1;
}

} // namespace testsupport
