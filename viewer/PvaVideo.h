#pragma once
// Finds in a PVA recording what must be decoded to show the picture of one video
// packet: the pictures from the nearest usable sequence header up to it.
#include "source/VideoPictures.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace viewer {

// One picture of the elementary stream with the headers in front of it.
struct AccessUnit {
    std::vector<uint8_t> bytes;
    uint64_t packet = 0;         // file offset of the video packet its picture header lies in
    char type = '?';             // 'I', 'P', 'B'
    bool sequenceHeader = false;
    bool gopHeader = false;
    bool closedGop = false;
    bool hasPts = false;
    uint32_t pts = 0;
};

struct DecodePlan {
    // The units to feed the decoder, in order; the first begins with a sequence
    // header. B pictures that nothing refers to are left out, except the target.
    std::vector<AccessUnit> units;
    size_t target = 0;           // index in units of the picture asked for
    uint64_t position = 0;
};

class PvaVideoFile {
public:
    PvaVideoFile() = default;
    ~PvaVideoFile();
    PvaVideoFile(const PvaVideoFile&) = delete;
    PvaVideoFile& operator=(const PvaVideoFile&) = delete;

    // Opens read-only. On failure `error` is a short sentence for the user.
    bool open(const std::string& path, std::string& error);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    uint64_t size() const { return size_; }
    // The recording's first video time stamp, as the cutter counts its times from it.
    uint32_t startPts() const { return startPts_; }
    // Where the first video packet with a time stamp begins (0 when none was found
    // near the start): the picture shown for position 0 when garbage comes first.
    uint64_t firstPicturePacket() const { return firstPicturePacket_; }

    // The picture of the video packet at `position`: the first picture whose header
    // lies in that packet (or, failing that, the next one). False with a short
    // sentence in `error` when there is none to decode, or when its picture is larger
    // than a broadcast's. `stop` is asked between the steps of the search; when it
    // says so, the plan is given up with "Cancelled".
    bool plan(uint64_t position, DecodePlan& plan, std::string& error, const std::function<bool()>& stop = {});

    // How far back from the position the sequence header is looked for.
    static constexpr uint64_t maxLookBack = 32u << 20;
    // The largest picture shown: what a broadcast's MPEG-2 carries at most. A
    // sequence header claiming more is damage or a trap (16383 x 12287 costs a
    // decoder gigabytes) and is refused before anything is decoded.
    static constexpr int maxWidth = 1920;
    static constexpr int maxHeight = 1152;

private:
    bool readAt(uint64_t offset, size_t length, std::vector<uint8_t>& out);
    void findStartPts();

    // Kept between positions: fresh memory for every picture costs more than reading it.
    std::vector<uint8_t> window_;
    VideoPictures pictures_;
    int fd_ = -1;
    uint64_t size_ = 0;
    uint32_t startPts_ = 0;
    uint64_t firstPicturePacket_ = 0;
};

// "hh:mm:ss.hh" of a time stamp difference in 90 kHz ticks.
std::string formatTime(uint32_t ticks);

} // namespace viewer
