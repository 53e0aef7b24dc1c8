#include "source/PvaPacket.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>

namespace {

using Pes = std::array<uint8_t, 5>;

TEST(PvaPacket, HeaderLengthIsBigEndianInFilesAndHostOrderInMemory)
{
    const uint8_t file[8] = {0x41, 0x56, 0x02, 0x07, 0x55, 0x13, 0x12, 0x34};
    PvaPacketHeader h = readPacketHeader(file);
    EXPECT_TRUE(hasAvSync(file));
    EXPECT_EQ(h.streamId, pvaStreamAudio);
    EXPECT_EQ(h.counter, 0x07);
    EXPECT_EQ(h.reserved, 0x55);
    EXPECT_EQ(h.flags, 0x13);
    EXPECT_EQ(h.length, 0x1234);

    uint8_t out[8] = {};
    writePacketHeader(h, out);
    EXPECT_EQ(0, std::memcmp(out, file, 8));

    h.length = 0xFF00;
    writePacketHeader(h, out);
    EXPECT_EQ(out[6], 0xFF);
    EXPECT_EQ(out[7], 0x00);

    const uint8_t notAv[8] = {0x41, 0x57, 1, 0, 0, 0, 0, 0};
    EXPECT_FALSE(hasAvSync(notAv));
}

TEST(PvaPacket, PesTimeStampDecodingDropsBit32AndMarkers)
{
    EXPECT_EQ(decodePesPts(Pes{0x21, 0x00, 0x01, 0x00, 0x01}.data()), 0u);
    EXPECT_EQ(decodePesPts(Pes{0x2F, 0xFF, 0xFF, 0xFF, 0xFF}.data()), 0xFFFFFFFFu);
    EXPECT_EQ(decodePesPts(Pes{0x29, 0x00, 0x01, 0x00, 0x01}.data()), 0u);   // bit 32 alone
    // 90000 = 0x15F90: bits 15-21 = 2, bits 7-14 = 0xBF, bits 0-6 = 0x10.
    EXPECT_EQ(decodePesPts(Pes{0x21, 0x00, 0x05, 0xBF, 0x21}.data()), 90000u);
}

TEST(PvaPacket, PesTimeStampEncodingKeepsEveryOtherBit)
{
    Pes b{0x21, 0x00, 0x01, 0x00, 0x01};
    encodePesPts(b.data(), 0xFFFFFFFFu);
    EXPECT_EQ(b, (Pes{0x27, 0xFF, 0xFF, 0xFF, 0xFF}));

    Pes ones{0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    encodePesPts(ones.data(), 0);
    EXPECT_EQ(ones, (Pes{0xF9, 0x00, 0x01, 0x00, 0x01}));

    const uint32_t values[] = {0u, 1u, 90000u, 0x40000000u, 0x80000000u, 0x12345678u, 0xFFFFFFF0u, 0xFFFFFFFFu};
    for (uint32_t v : values) {
        Pes p{0x31, 0xAA, 0x55, 0xAA, 0x55};
        encodePesPts(p.data(), v);
        EXPECT_EQ(decodePesPts(p.data()), v) << std::hex << v;
        EXPECT_EQ(p[0] & 0xF9, 0x31);
        EXPECT_EQ(p[2] & 1, 1);
        EXPECT_EQ(p[4] & 1, 1);
    }
}

TEST(PvaPacket, VideoTimeStampIsBigEndianInTheFirstFourBytes)
{
    uint8_t payload[6] = {0, 0, 0, 0, 0xEE, 0xEE};
    writeVideoPts(payload, 0x01020304u);
    EXPECT_EQ(payload[0], 1);
    EXPECT_EQ(payload[3], 4);
    EXPECT_EQ(payload[4], 0xEE);
    EXPECT_EQ(readVideoPts(payload), 0x01020304u);
}

} // namespace
