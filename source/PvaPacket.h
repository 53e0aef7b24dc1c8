#pragma once
#include <cstdint>

// The 8-byte header of every AV packet.
struct PvaPacketHeader {
    uint8_t sync1;      // 'A'
    uint8_t sync2;      // 'V'
    uint8_t streamId;   // 1 video, 2 audio
    uint8_t counter;
    uint8_t reserved;
    uint8_t flags;      // 0x10: time stamp present; bits 0-1: byte count
    uint16_t length;    // payload length, host order in memory, big-endian in files
};
static_assert(sizeof(PvaPacketHeader) == 8);

inline constexpr uint8_t pvaStreamVideo = 1;
inline constexpr uint8_t pvaStreamAudio = 2;
inline constexpr uint8_t pvaFlagPts = 0x10;
inline constexpr uint32_t pvaHeaderSize = 8;

// Reads a header from 8 file bytes (length big-endian there).
PvaPacketHeader readPacketHeader(const uint8_t bytes[8]);
// Writes a header as 8 file bytes (length big-endian).
void writePacketHeader(const PvaPacketHeader& h, uint8_t bytes[8]);
inline bool hasAvSync(const uint8_t bytes[8]) { return bytes[0] == 0x41 && bytes[1] == 0x56; }

// The 32-bit time stamp held in the five PES bytes (bit 32 drops out).
uint32_t decodePesPts(const uint8_t b[5]);
// Puts v into the five PES bytes in place, changing only the time-stamp bits.
void encodePesPts(uint8_t b[5], uint32_t v);

// Video time stamp: the first four payload bytes, big-endian.
uint32_t readVideoPts(const uint8_t payload[4]);
void writeVideoPts(uint8_t payload[4], uint32_t v);
