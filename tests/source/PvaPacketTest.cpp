#include "source/PvaPacket.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace {

using Pes = std::array<uint8_t, 5>;
using Bytes8 = std::array<uint8_t, 8>;

TEST(PvaPacket, HeaderLengthIsBigEndianInFilesAndHostOrderInMemory)
{
    const Bytes8 file = {0x41, 0x56, 0x02, 0x07, 0x55, 0x13, 0x12, 0x34};
    PvaPacketHeader h = readPacketHeader(file.data());
    EXPECT_TRUE(hasAvSync(file.data()));
    EXPECT_EQ((std::array<int, 5>{h.streamId, h.counter, h.reserved, h.flags, h.length}),
              (std::array<int, 5>{pvaStreamAudio, 0x07, 0x55, 0x13, 0x1234}));
    Bytes8 out{};
    writePacketHeader(h, out.data());
    EXPECT_EQ(out, file);

    const Bytes8 notAv = {0x41, 0x57, 1, 0, 0, 0, 0, 0};
    EXPECT_FALSE(hasAvSync(notAv.data()));
}

TEST(PvaPacket, PesTimeStamps)
{
    EXPECT_EQ(decodePesPts(Pes{0x21, 0x00, 0x01, 0x00, 0x01}.data()), 0u);
    EXPECT_EQ(decodePesPts(Pes{0x2F, 0xFF, 0xFF, 0xFF, 0xFF}.data()), 0xFFFFFFFFu);
    EXPECT_EQ(decodePesPts(Pes{0x29, 0x00, 0x01, 0x00, 0x01}.data()), 0u);   // bit 32 alone
    EXPECT_EQ(decodePesPts(Pes{0x21, 0x00, 0x05, 0xBF, 0x21}.data()), 90000u);

    Pes b{0x21, 0x00, 0x01, 0x00, 0x01};
    encodePesPts(b.data(), 0xFFFFFFFFu);
    EXPECT_EQ(b, (Pes{0x27, 0xFF, 0xFF, 0xFF, 0xFF}));
    Pes ones{0xFF, 0xFF, 0xFF, 0xFF, 0xFF};   // only the time-stamp bits change
    encodePesPts(ones.data(), 0);
    EXPECT_EQ(ones, (Pes{0xF9, 0x00, 0x01, 0x00, 0x01}));

    for (uint32_t v : {1u, 90000u, 0x40000000u, 0x80000000u, 0x12345678u, 0xFFFFFFF0u}) {
        Pes p{0x31, 0xAA, 0x55, 0xAA, 0x55};
        encodePesPts(p.data(), v);
        EXPECT_EQ(decodePesPts(p.data()), v) << std::hex << v;
        EXPECT_EQ((std::array<int, 3>{p[0] & 0xF9, p[2] & 1, p[4] & 1}), (std::array<int, 3>{0x31, 1, 1})) << v;
    }
}

TEST(PvaPacket, VideoTimeStampIsBigEndianInTheFirstFourBytes)
{
    std::array<uint8_t, 5> payload = {0, 0, 0, 0, 0xEE};
    writeVideoPts(payload.data(), 0x01020304u);
    EXPECT_EQ(payload, (std::array<uint8_t, 5>{1, 2, 3, 4, 0xEE}));
    EXPECT_EQ(readVideoPts(payload.data()), 0x01020304u);
}

} // namespace
