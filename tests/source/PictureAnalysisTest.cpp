#include "source/PictureAnalysis.h"

#include "core/LogConsole.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

using testsupport::concat;
using testsupport::pictureHeader;

namespace {

const std::vector<uint8_t> sampleBlock = {0x00, 0x00, 0x01, 0xB8, 0x00, 0x08, 0x20, 0x40, 0x00,
                                          0x00, 0x01, 0x00, 0x00, 0x0F, 0xF8, 0x00, 0x00, 0x00};

struct Result {
    int32_t iCount = 0, pictures = 0, gops = 0;
    uint8_t type = 0xEE;
    uint32_t gopWord = 0xDEADBEEF;
    auto tie() const { return std::make_tuple(iCount, pictures, gops, int(type), gopWord); }
};

struct PictureAnalysisTest : ::testing::Test {
    std::unique_ptr<LogConsole> log = std::make_unique<LogConsole>();
    PictureAnalysisTest() { log->attachWindow(nullptr, 1001); }

    // Runs over an exactly sized heap copy, so that a sanitizer sees any overread.
    Result analyse(const std::vector<uint8_t>& block, int logMode = 0, Result r = {})
    {
        std::unique_ptr<uint8_t[]> exact(new uint8_t[block.size() ? block.size() : 1]);
        if (!block.empty()) std::memcpy(exact.get(), block.data(), block.size());
        EXPECT_EQ(analysePictures(exact.get(), static_cast<uint32_t>(block.size()), r.iCount, r.pictures,
                                  r.gops, r.type, r.gopWord, logMode, *log),
                  0);
        return r;
    }
    std::string logged() const { return std::string(log->text(), log->length()); }
};

TEST_F(PictureAnalysisTest, GopAndIPictureInOneBlockAndTheLogModes)
{
    Result r = analyse(sampleBlock, 0, Result{5, 10, 2});
    EXPECT_EQ(r.tie(), (Result{6, 11, 3, 1, 0x00082040u}.tie()));
    EXPECT_EQ(log->length(), 0);

    analyse(sampleBlock, 1);
    EXPECT_EQ(logged(), " GOP:  00:00:01.00  Fr:8: 0 f   ->1");
    log->clear();
    analyse(concat({sampleBlock, pictureHeader(2, 0x3FF), {0, 0}}), 2);
    EXPECT_EQ(logged(), " GOP:  00:00:01.00  Fr:8: 0 f   ->1\r\n Fr:18: ff d7   ->2\r\n");
    log->clear();
    analyse(sampleBlock, 3);
    EXPECT_EQ(log->length(), 0);
}

// Start codes at every offset and block length (through the wide search paths too)
// agree with a position-by-position search. Start codes are seen only up to length - 7
// and a GOP word only when whole; blocks of up to 6 bytes count nothing; the last
// picture type wins and only I counts as I. With this seed each of those edges comes
// up dozens of times.
TEST_F(PictureAnalysisTest, AgreesWithAPlainSearchOnDenseStartCodes)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 400; ++round) {
        std::vector<uint8_t> block(rng() % 80);
        for (auto& b : block) b = static_cast<uint8_t>(rng() % 4 == 0 ? 0 : rng() % 3 == 0 ? 1 : rng());
        for (size_t i = 0; i + 4 <= block.size(); i += 1 + rng() % 9) {
            const uint8_t code = rng() % 2 ? 0x00 : 0xB8;
            block[i] = 0, block[i + 1] = 0, block[i + 2] = 1, block[i + 3] = code;
        }
        Result want;
        want.type = 0;
        for (size_t p = 0; p + 6 < block.size(); ++p) {
            if (block[p] || block[p + 1] || block[p + 2] != 1) continue;
            if (block[p + 3] == 0xB8 && p + 7 < block.size()) {
                want.gopWord = uint32_t(block[p + 4]) << 24 | uint32_t(block[p + 5]) << 16
                    | uint32_t(block[p + 6]) << 8 | block[p + 7];
                ++want.gops;
            } else if (block[p + 3] == 0) {
                want.type = (block[p + 5] >> 3) & 7;
                want.iCount += want.type == 1;
                ++want.pictures;
            }
        }
        ASSERT_EQ(analyse(block).tie(), want.tie()) << round;
    }
}

TEST_F(PictureAnalysisTest, TimeCodeFieldsIgnoreDropFlagAndMarker)
{
    // drop-frame 1, 23 h, 59 min, marker 1, 59 s, 24 pictures, closed GOP and low bits set
    const uint32_t word = (1u << 31) | (23u << 26) | (59u << 20) | (1u << 19) | (59u << 13) | (24u << 7) | 0x7F;
    EXPECT_EQ(formatTimeCode(word, *log), 1);
    EXPECT_EQ(logged(), " 23:59:59.24 ");
}

} // namespace
