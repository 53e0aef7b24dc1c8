#pragma once
// The header of an MPEG audio frame (layers I to III; MPEG-1, MPEG-2 and 2.5).
#include <cstddef>
#include <cstdint>

struct MpegAudioFrame {
    uint32_t bytes = 0;        // the whole frame, its padding included
    uint32_t padding = 0;      // the padding among those bytes
    uint32_t samples = 0;      // per channel
    uint32_t sampleRate = 0;   // Hz
};

// Reads the frame header at h (left bytes there); false when it is none.
bool parseMpegAudioFrame(const uint8_t* h, size_t left, MpegAudioFrame& out);
