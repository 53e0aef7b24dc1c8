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

class SyntheticSource {
public:
    std::vector<SyntheticPacket> packets;

    // A video packet with a time stamp that begins a picture of the given type.
    SyntheticSource& picture(uint8_t picType, uint32_t pts, uint16_t length = 1000);
    // A video packet without time stamp or picture header.
    SyntheticSource& videoData(uint16_t length = 1000);
    // An audio packet that begins a PES packet with a time stamp.
    SyntheticSource& audioPes(uint32_t pts, uint16_t length = 500);
    // An audio packet continuing the PES packet before it.
    SyntheticSource& audioData(uint16_t length = 500);
    SyntheticSource& other(uint8_t streamId, uint16_t length = 100);

    // Broadcast-like pictures: GOPs of I B B P B B ... with one video data packet,
    // one audio PES packet (audioLead ticks after the picture's time stamp, may be
    // negative: audio behind the video in the multiplex) and one
    // audio data packet per picture, so four packets per picture. Time stamps rise
    // by 3600 per picture from firstPts.
    SyntheticSource& gops(int count, int picturesPerGop = 12, uint32_t firstPts = 0, int32_t audioLead = 1800);

    // Fills slot `slot` (allocating its arrays) and makes it the current, loaded
    // source. Cut points: video packets with a time stamp holding an I picture, or
    // every one of them when cutAtIFrames is false. Returns the allocation's result.
    int load(SourceAnalyser& app, int slot, bool cutAtIFrames = true, const char* name = "synthetic.pva") const;

    int32_t size() const { return static_cast<int32_t>(packets.size()); }

private:
    uint32_t vPts_ = 0, aPts_ = 0;
    int32_t pictures_ = 0;
};

} // namespace testsupport
