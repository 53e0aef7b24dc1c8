#include "source/PvaPacket.h"

PvaPacketHeader readPacketHeader(const uint8_t bytes[8])
{
    PvaPacketHeader h;
    h.sync1 = bytes[0];
    h.sync2 = bytes[1];
    h.streamId = bytes[2];
    h.counter = bytes[3];
    h.reserved = bytes[4];
    h.flags = bytes[5];
    h.length = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
    return h;
}

void writePacketHeader(const PvaPacketHeader& h, uint8_t bytes[8])
{
    bytes[0] = h.sync1;
    bytes[1] = h.sync2;
    bytes[2] = h.streamId;
    bytes[3] = h.counter;
    bytes[4] = h.reserved;
    bytes[5] = h.flags;
    bytes[6] = static_cast<uint8_t>(h.length >> 8);
    bytes[7] = static_cast<uint8_t>(h.length);
}

// The 33-bit PES time stamp modulo 2^32: bit 32 (bit 3 of b0), the prefix and
// the marker bits drop out.
uint32_t decodePesPts(const uint8_t b[5])
{
    return (static_cast<uint32_t>((b[0] >> 1) & 0x03) << 30) | (static_cast<uint32_t>(b[1]) << 22)
        | (static_cast<uint32_t>(b[2] >> 1) << 15) | (static_cast<uint32_t>(b[3]) << 7)
        | static_cast<uint32_t>(b[4] >> 1);
}

void encodePesPts(uint8_t b[5], uint32_t v)
{
    b[0] = static_cast<uint8_t>((b[0] & ~0x06) | (((v >> 30) & 0x03) << 1));
    b[1] = static_cast<uint8_t>(v >> 22);
    b[2] = static_cast<uint8_t>((b[2] & 0x01) | (((v >> 15) & 0x7F) << 1));
    b[3] = static_cast<uint8_t>(v >> 7);
    b[4] = static_cast<uint8_t>((b[4] & 0x01) | ((v & 0x7F) << 1));
}

uint32_t readVideoPts(const uint8_t payload[4])
{
    return (static_cast<uint32_t>(payload[0]) << 24) | (static_cast<uint32_t>(payload[1]) << 16)
        | (static_cast<uint32_t>(payload[2]) << 8) | static_cast<uint32_t>(payload[3]);
}

void writeVideoPts(uint8_t payload[4], uint32_t v)
{
    payload[0] = static_cast<uint8_t>(v >> 24);
    payload[1] = static_cast<uint8_t>(v >> 16);
    payload[2] = static_cast<uint8_t>(v >> 8);
    payload[3] = static_cast<uint8_t>(v);
}
