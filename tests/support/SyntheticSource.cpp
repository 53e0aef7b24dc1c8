#include "support/SyntheticSource.h"

#include "source/SourceAnalyser.h"

#include <algorithm>

namespace testsupport {

SyntheticSource& SyntheticSource::picture(uint8_t picType, uint32_t pts, uint16_t length)
{
    vPts_ = pts;
    packets.push_back({pvaStreamVideo, pvaFlagPts, picType, vPts_, aPts_, length});
    return *this;
}

SyntheticSource& SyntheticSource::videoData(uint16_t length)
{
    packets.push_back({pvaStreamVideo, 0, 0, vPts_, aPts_, length});
    return *this;
}

SyntheticSource& SyntheticSource::audioPes(uint32_t pts, uint16_t length)
{
    aPts_ = pts;
    packets.push_back({pvaStreamAudio, pvaFlagPts, 0, vPts_, aPts_, length});
    return *this;
}

SyntheticSource& SyntheticSource::audioData(uint16_t length)
{
    packets.push_back({pvaStreamAudio, 0, 0, vPts_, aPts_, length});
    return *this;
}

SyntheticSource& SyntheticSource::other(uint8_t streamId, uint16_t length)
{
    packets.push_back({streamId, 0, 0, vPts_, aPts_, length});
    return *this;
}

SyntheticSource& SyntheticSource::gops(int count, int picturesPerGop, uint32_t firstPts, int32_t audioLead)
{
    for (int g = 0; g < count; ++g) {
        for (int p = 0; p < picturesPerGop; ++p) {
            const uint8_t type = p == 0 ? 1 : (p % 3 == 0 ? 2 : 3);
            const uint32_t pts = firstPts + static_cast<uint32_t>(pictures_) * 3600u;
            picture(type, pts);
            videoData();
            audioPes(pts + static_cast<uint32_t>(audioLead));
            audioData();
            ++pictures_;
        }
    }
    return *this;
}

int SyntheticSource::load(SourceAnalyser& app, int slot, bool cutAtIFrames, const char* name) const
{
    if (app.allocSourceArrays(slot) != 1) return -1;
    SourceStream& s = app.sources[slot];
    s.fileName = name;
    uint32_t pos = 0;
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
        const bool videoWithPts = p.streamId == pvaStreamVideo && (p.flags & pvaFlagPts);
        if (videoWithPts && (cutAtIFrames ? p.picType == 1 : true)) {
            s.cutPointPkt[cuts] = static_cast<int32_t>(k);
            s.cutPointFrame[cuts] = pictures - 1;
            ++cuts;
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
