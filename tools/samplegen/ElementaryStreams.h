#pragma once
// The encoded elementary streams, cut into the units the packetiser sends:
// one unit per picture (with the sequence and GOP headers that precede it) and
// one unit per audio frame.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace samplegen {

struct PictureUnit {
    size_t offset = 0;      // in VideoStream::bytes
    size_t size = 0;
    char type = '?';        // 'I', 'P', 'B'
    uint16_t temporalRef = 0;
    long gopWordAt = -1;    // offset of the 4 bytes after 00 00 01 B8 within the unit, or -1
};

struct VideoStream {
    std::vector<uint8_t> bytes;
    std::vector<PictureUnit> pictures;     // decode order
    std::vector<size_t> gopStarts;         // index of the first picture of each GOP
    // Display index of each picture: decode index of its GOP's first picture + temporal reference.
    std::vector<long> displayIndex;
    // Largest (decode index - display index), in pictures: how far PTS must lead decode time.
    long reorderDelay = 0;
};

struct AudioStream {
    std::vector<uint8_t> bytes;
    std::vector<size_t> frameOffsets;
    std::vector<size_t> frameSizes;
};

bool readFileBytes(const std::string& path, std::vector<uint8_t>& out);

// Both return false with a message in error when the stream is not what we encoded.
bool parseVideo(std::vector<uint8_t> bytes, VideoStream& out, std::string& error);
bool parseAudio(std::vector<uint8_t> bytes, AudioStream& out, std::string& error);

// GOP word (the 32 bits after the GOP start code) with its time code set to a picture count at 25 fps;
// the drop-frame, closed-GOP and broken-link bits and the trailing bits are kept.
uint32_t gopWordWithTimeCode(uint32_t word, uint64_t pictureCount);

} // namespace samplegen
