#include "source/ReadAheadReader.h"

#include "platform/fake/Fakes.h"
#include "platform/fake/FaultySystemCalls.h"
#include "core/LogConsole.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <utility>

namespace {

constexpr uint32_t MiB = 1048576;
using Pair = std::pair<uint64_t, uint64_t>;

// Every offset gets a recognisable byte, so a read from the wrong place shows.
uint8_t byteAt(uint32_t o) { return static_cast<uint8_t>(o ^ (o >> 8) ^ (o >> 16) ^ (o >> 24)); }

::testing::AssertionResult holdsFileBytes(const uint8_t* data, uint32_t n, uint32_t offset)
{
    for (uint32_t i = 0; i < n; ++i)
        if (data[i] != byteAt(offset + i))
            return ::testing::AssertionFailure() << "byte " << i << " of a read at " << offset << " is wrong";
    return ::testing::AssertionSuccess();
}

class ReadAheadReaderTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        reader.close();
        fileAccessProbe().reset();
    }

    std::string makeFile(uint32_t size)
    {
        std::vector<uint8_t> v(size);
        for (uint32_t i = 0; i < size; ++i) v[i] = byteAt(i);
        std::string p = dir.file("src" + std::to_string(size) + ".pva");
        testsupport::writeBytes(p, v);
        return p;
    }

    void openAndResetProbe(const std::string& path)
    {
        fileAccessProbe().reset();
        h = reader.open(path.c_str(), "rb", *log);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(fileAccessProbe().opens, 1u);
        fileAccessProbe().reset();
    }

    // Reads [from, to) in 8-byte pieces, as the scanner reads headers, checking each.
    void readPieces(uint32_t from, uint32_t to)
    {
        uint8_t piece[8];
        reader.seek(from, 0);
        for (uint32_t pos = from; pos < to; pos += 8) {
            ASSERT_EQ(reader.read(piece, 8, 1), 8u) << "at " << pos;
            ASSERT_TRUE(holdsFileBytes(piece, 8, pos));
        }
    }
    // Reads up to 8 bytes at `at`; returns how many came, each checked.
    uint32_t readAt(uint32_t at)
    {
        uint8_t piece[8];
        reader.seek(at, 0);
        const uint32_t n = reader.read(piece, 8, 1);
        EXPECT_TRUE(holdsFileBytes(piece, n, at));
        return n;
    }

    // System reads and seeks since the last call.
    Pair calls()
    {
        Pair c{fileAccessProbe().reads, fileAccessProbe().seeks};
        fileAccessProbe().reset();
        return c;
    }
    Pair window() const { return {reader.state().windowStart, reader.state().windowEnd}; }
    ReadAheadReader::State state() const { return reader.state(); }

    testsupport::ScratchDir dir{"bufreader"};
    std::unique_ptr<LogConsole> log = std::make_unique<LogConsole>();
    ReadAheadReader reader;
    FileHandle h = nullptr;
};

TEST_F(ReadAheadReaderTest, SmallFileIsReadDirectlyWithLazySeeks)
{
    openAndResetProbe(makeFile(3 * MiB));
    readPieces(0, 16);
    EXPECT_EQ(calls(), Pair(2, 1)) << "the read at open went to the end: back to 0 once, then on without seeking";
    EXPECT_EQ(reader.seek(2 * MiB + 3, 0), 0);
    EXPECT_EQ(calls(), Pair(0, 0)) << "seeks are lazy";
    readPieces(2 * MiB + 3, 2 * MiB + 3 + 64);
    EXPECT_EQ(calls(), Pair(8, 1));

    EXPECT_EQ(readAt(3 * MiB - 5), 5u);
    uint8_t piece[8];
    EXPECT_EQ(reader.read(piece, 8, 1), 0u);
}

TEST_F(ReadAheadReaderTest, SequentialScanRefillsWhileMoreThanAWindowRemains)
{
    openAndResetProbe(makeFile(10 * MiB));
    readPieces(0, 4 * MiB);
    EXPECT_EQ(calls(), Pair(0, 0));
    readPieces(4 * MiB, 8 * MiB);
    EXPECT_EQ(window(), Pair(4 * MiB, 8 * MiB));
    EXPECT_EQ(calls(), Pair(1, 1)) << "a refill always seeks";

    // From 8 MiB no more than a window remains: direct reads, on from where
    // the refill left the handle.
    readPieces(8 * MiB, 10 * MiB);
    EXPECT_EQ(calls(), Pair(2 * MiB / 8, 0));
    uint8_t piece[8];
    EXPECT_EQ(reader.read(piece, 8, 1), 0u);
}

TEST_F(ReadAheadReaderTest, FileOfExactlyOneWindowIsServedFromMemory)
{
    openAndResetProbe(makeFile(4 * MiB));
    readPieces(0, 4 * MiB);
    readPieces(17, 33);
    EXPECT_EQ(calls(), Pair(0, 0));
    EXPECT_EQ(readAt(4 * MiB - 4), 4u);
}

TEST_F(ReadAheadReaderTest, MissesRefillAtThePositionOnlyWhenMoreThanAWindowRemains)
{
    openAndResetProbe(makeFile(10 * MiB));
    readPieces(4 * MiB - 3, 4 * MiB + 5);
    EXPECT_EQ(window(), Pair(4 * MiB - 3, 8 * MiB - 3)) << "refilled at the position, not the old window end";
    readPieces(100, 108);
    EXPECT_EQ(state().windowStart, 100u) << "no older window is kept";

    readPieces(6 * MiB, 6 * MiB + 8);
    EXPECT_EQ(state().windowEnd, 0u) << "exactly a window left is not enough";
    readPieces(6 * MiB - 1, 6 * MiB + 7);
    EXPECT_EQ(state().windowEnd, 10 * MiB - 1);

    std::vector<uint8_t> big(5 * MiB);
    reader.seek(1000, 0);
    ASSERT_EQ(reader.read(big.data(), 1, 5 * MiB), 5 * MiB) << "larger than a window: direct";
    EXPECT_TRUE(holdsFileBytes(big.data(), 5 * MiB, 1000));
}

TEST_F(ReadAheadReaderTest, ViewServesTheWindowWithoutCopyingAndFallsBackOutsideIt)
{
    openAndResetProbe(makeFile(10 * MiB));
    uint8_t fallback[8192];
    uint32_t got = 0;
    reader.seek(1000, 0);
    const uint8_t* inside = reader.view(fallback, 6000, &got);
    EXPECT_EQ(got, 6000u);
    EXPECT_NE(inside, fallback) << "bytes inside the window are not copied";
    EXPECT_TRUE(holdsFileBytes(inside, 6000, 1000));
    EXPECT_EQ(calls().first, 0u);

    // Straddling the window end: the bytes come through the fallback buffer.
    reader.seek(4 * MiB - 100, 0);
    EXPECT_EQ(reader.view(fallback, 200, &got), fallback);
    EXPECT_EQ(got, 200u);
    EXPECT_TRUE(holdsFileBytes(fallback, 200, 4 * MiB - 100));
}

// (That a reopened file reads from its start shows in the scanner tests, which scan file after file.)
TEST_F(ReadAheadReaderTest, OnlyAbsoluteSeeksAndOneFileAtATime)
{
    std::string p = makeFile(3 * MiB);
    EXPECT_EQ(reader.open(p.c_str(), "ab", *log), nullptr);
    openAndResetProbe(p);
    EXPECT_EQ(reader.seek(40, 0), 0);
    EXPECT_EQ(reader.seek(8, 1) + reader.seek(8, 2), 2);
    EXPECT_EQ(reader.open(p.c_str(), "rb", *log), nullptr);
    EXPECT_TRUE(state().open);
    EXPECT_EQ(state().position, 40u) << "refused seeks and opens leave the reader alone";

    // Each scan owns its reader: a second one reads the same file on its own.
    ReadAheadReader other;
    ASSERT_NE(other.open(p.c_str(), "rb", *log), nullptr);
    EXPECT_EQ(other.seek(1000, 0), 0);
    uint8_t piece[8];
    ASSERT_EQ(other.read(piece, 8, 1), 8u);
    EXPECT_TRUE(holdsFileBytes(piece, 8, 1000));
    other.close();
    EXPECT_EQ(other.read(piece, 8, 1) + other.seek(8, 0), 1u) << "closed: no reads, no seeks";
    EXPECT_EQ(readAt(40), 8u) << "the first reader is where it was";
    reader.close();
    EXPECT_EQ(reader.read(piece, 8, 1), 0u);
    EXPECT_FALSE(state().open);
}

// The scanner's resynchronisation search reads the reader's handle through the
// plain layer; afterwards the reader cannot trust its idea of the file pointer.
TEST_F(ReadAheadReaderTest, ReseeksAfterThePlainLayerMovedTheHandle)
{
    openAndResetProbe(makeFile(3 * MiB));
    readPieces(0, 8);
    uint8_t scratch[100];
    ASSERT_EQ(readFile(scratch, 1, 100, h), 100u);
    calls();
    readPieces(8, 16);
    EXPECT_EQ(calls().second, 1u);
    ASSERT_EQ(seekFile(h, 7, 0), 0);
    readPieces(16, 32);
    EXPECT_EQ(calls().second, 2u) << "the outside seek and one of our own";
}

TEST_F(ReadAheadReaderTest, FaultsNeverYieldWrongBytes)
{
    std::string p = makeFile(10 * MiB);
    fileAccessProbe().failReaderAllocation = true;
    h = reader.open(p.c_str(), "rb", *log);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(std::string(log->text()), "ERROR: Can't malloc 4194304 bytes\n");
    readPieces(0, 64);
    readPieces(5 * MiB, 5 * MiB + 64);
    reader.close();

    openAndResetProbe(p);
    reader.seek(4 * MiB, 0);
    fileAccessProbe().failReadAfterBytes = MiB;   // the refill comes back short
    uint8_t piece[8];
    EXPECT_EQ(reader.read(piece, 8, 1), 0u);
    EXPECT_EQ(state().position, 4 * MiB);
    fileAccessProbe().failReadAfterBytes = -1;
    readPieces(4 * MiB, 4 * MiB + 16);
}

TEST_F(ReadAheadReaderTest, FileOfFourGiBAndMoreDoesNotOverrun)
{
    std::string p = dir.file("huge.pva");
    testsupport::writeBytes(p, {});
    const uint64_t size = 4294967296ull + 10;
    ASSERT_EQ(::truncate(p.c_str(), static_cast<off_t>(size)), 0);   // sparse: no disk space
    // Bytes beyond 4 GiB, to tell them from the zeros of the hole.
    int fd = ::open(p.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const uint8_t tail[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(::pwrite(fd, tail, sizeof tail, static_cast<off_t>(size - 8)), 6);
    ::close(fd);
    openAndResetProbe(p);
    EXPECT_EQ(state().fileSize, size);
    std::vector<uint8_t> out(16, 0xAA);
    reader.seek(4 * MiB - 4, 0);
    EXPECT_EQ(reader.read(out.data(), 8, 1), 8u);
    reader.seek(0xFFFFFFFCu, 0);
    EXPECT_EQ(reader.read(out.data(), 8, 1), 8u);
    EXPECT_EQ(out[8], 0xAA) << "nothing written past the request";
    // Past 4 GiB the position does not wrap to the start of the file.
    reader.seek(size - 12, 0);
    EXPECT_EQ(reader.read(out.data(), 8, 1), 8u);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 8), (std::vector<uint8_t>{0, 0, 0, 0, 1, 2, 3, 4}));
    EXPECT_EQ(reader.read(out.data(), 8, 1), 4u);
    EXPECT_EQ(state().position, size);
    // A window formed above 4 GiB.
    reader.close();
    ASSERT_EQ(::truncate(p.c_str(), static_cast<off_t>(size + 8 * MiB)), 0);
    openAndResetProbe(p);
    reader.seek(size - 8, 0);
    EXPECT_EQ(reader.read(out.data(), 8, 1), 8u);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(window(), Pair(size - 8, size - 8 + 4 * MiB));
}

} // namespace
