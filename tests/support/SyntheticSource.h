#pragma once
// Builds a source's packet index in memory, as a scan would leave it, so that the
// editor and the assembler can be tested on exact packet layouts without files.
#include <cstdint>
#include <vector>

class SourceAnalyser;

namespace testsupport {

struct SyntheticPacket {
    uint8_t streamId = 1;
    uint8_t flags = 0;     // 0x10: time stamp present
    uint8_t picType = 0;   // 0 none, 1 I, 2 P, 3 B
    uint32_t vPts = 0;     // relative time stamps in force at the packet
    uint32_t aPts = 0;
    uint16_t length = 1000;
};

// Video packets are 1000 bytes of payload, audio packets 500.
class SyntheticSource {
public:
    std::vector<SyntheticPacket> packets;

    SyntheticSource& picture(uint8_t picType, uint32_t pts);   // video with time stamp and picture start
    SyntheticSource& videoData();
    SyntheticSource& audioPes(uint32_t pts);                   // audio beginning a PES packet with time stamp
    SyntheticSource& audioData();

    // GOPs of 12 pictures I B B P B B ..., each picture four packets: picture,
    // video data, audio PES (audioLead ticks after the picture's time stamp; negative:
    // audio behind the video in the multiplex), audio data. Pictures 3600 apart.
    SyntheticSource& gops(int count, uint32_t firstPts = 0, int32_t audioLead = 1800);

    // Fills slot `slot` and makes it the current source. Cut points: video packets
    // with a time stamp holding an I picture, or all of them when cutAtIFrames is false.
    int load(SourceAnalyser& app, int slot, bool cutAtIFrames = true) const;

private:
    SyntheticSource& push(uint8_t streamId, uint8_t flags, uint8_t picType);
    uint32_t vPts_ = 0, aPts_ = 0;
};

} // namespace testsupport
