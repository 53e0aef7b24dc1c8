#include "source/FileAccess.h"

#include "platform/fake/Fakes.h"
#include "shell/LogConsole.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <memory>
#include <unistd.h>

using testsupport::readBytes;
using testsupport::writeBytes;

namespace {

std::vector<uint8_t> bytesOf(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

class FileAccessTest : public ::testing::Test {
protected:
    void TearDown() override { fileAccessProbe().reset(); }
    platform::fake::ScopedFakeHost host;
    testsupport::ScratchDir dir{"fileaccess"};
    std::unique_ptr<LogConsole> log = std::make_unique<LogConsole>();
};

TEST_F(FileAccessTest, ModesAndSharing)
{
    std::string p = dir.file("a.bin");
    writeBytes(p, bytesOf("0123456789"));
    for (const char* bad : {"x", "", "br"}) EXPECT_EQ(openFile(p.c_str(), bad), nullptr) << bad;
    EXPECT_EQ(openFile(dir.file("missing").c_str(), "rb"), nullptr);
    EXPECT_EQ(openFile(dir.path().c_str(), "rb"), nullptr) << "a directory is not a file";
    EXPECT_EQ(openFile(dir.file("no/dir/x").c_str(), "ab"), nullptr);

    FileHandle w = openFile(p.c_str(), "wb");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(openFile(p.c_str(), "ab"), nullptr) << "a second writer is refused";
    EXPECT_EQ(openFile(p.c_str(), "rb"), nullptr) << "nobody reads a file while it is written";
    EXPECT_EQ(writeFile("AB", 1, 2, w), 2u);
    closeFile(w);
    EXPECT_EQ(readBytes(p), bytesOf("AB23456789")) << "'w' overwrites from the start, no truncation";

    FileHandle r1 = openFile(p.c_str(), "rzz");
    FileHandle r2 = openFile(p.c_str(), "r");
    ASSERT_NE(r1, nullptr);
    EXPECT_NE(r2, nullptr) << "readers share";
    EXPECT_EQ(openFile(p.c_str(), "ab"), nullptr) << "a file being read is not written";
    EXPECT_EQ(writeFile("x", 1, 1, r1), 0u);
    closeFile(r1);
    closeFile(r2);

    FileHandle a = openFile(p.c_str(), "ab");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(writeFile("xyz", 3, 1, a), 3u);
    closeFile(a);
    EXPECT_EQ(readBytes(p), bytesOf("AB23456789xyz"));
    a = openFile(dir.file("new.bin").c_str(), "a");
    ASSERT_NE(a, nullptr) << "'a' creates a missing file";
    closeFile(a);
}

TEST_F(FileAccessTest, ReadCountsBytesAndSeekTakesUnsignedDistances)
{
    std::string p = dir.file("r.bin");
    writeBytes(p, bytesOf("0123456789ABC"));
    FileHandle h = openFile(p.c_str(), "rb");
    ASSERT_NE(h, nullptr);
    char buf[16] = {};
    EXPECT_EQ(readFile(buf, 4, 2, h), 8u) << "bytes, not items";
    EXPECT_EQ(readFile(buf, 8, 1, h), 5u);
    EXPECT_EQ(std::string(buf, 5), "89ABC");
    EXPECT_EQ(readFile(buf, 8, 1, h), 0u);

    EXPECT_EQ(seekFile(h, 3, 0), 0);
    EXPECT_EQ(seekFile(h, 2, 1), 0);
    EXPECT_EQ(readFile(buf, 0x10000, 0x10001, h), 0u) << "a request beyond 32 bits must not wrap";
    ASSERT_EQ(readFile(buf, 1, 1, h), 1u);
    EXPECT_EQ(buf[0], '5');
    EXPECT_EQ(seekFile(h, 0xFFFFFFF0u, 0), 0) << "above 2 GiB is still forward";
    EXPECT_EQ(readFile(buf, 1, 1, h), 0u);
    EXPECT_EQ(seekFile(h, 0, 2), 0);
    EXPECT_EQ(readFile(buf, 1, 1, h), 0u);
    EXPECT_EQ(seekFile(h, 0, 3), 1);
    EXPECT_EQ(seekFile(nullptr, 0, 0), 1);
    closeFile(h);
}

TEST_F(FileAccessTest, FileSizeMessagesAndFourGiB)
{
    std::string missing = dir.file("gone.pva");
    EXPECT_EQ(fileSize(missing.c_str(), *log), 0xFFFFFFFFu);
    EXPECT_EQ(std::string(log->text()), "Error: Can't open " + missing + "\n");

    std::string p = dir.file("huge.pva");
    int fd = ::open(p.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 4294967296LL + 10), 0); // sparse: no disk space
    ::close(fd);
    bool over = false;
    EXPECT_EQ(fileSize(p.c_str(), *log, &over), 10u);
    EXPECT_TRUE(over);
    ASSERT_EQ(::truncate(p.c_str(), 1234), 0);
    EXPECT_EQ(fileSize(p.c_str(), *log, &over), 1234u);
    EXPECT_FALSE(over);

    EXPECT_TRUE(deleteFile(p.c_str()));
    EXPECT_FALSE(testsupport::fileExists(p));
    EXPECT_TRUE(deleteFile(p.c_str())) << "already gone counts as gone";
    EXPECT_FALSE(deleteFile(dir.path().c_str()));

    // A pipe (like a device) is written as it is and never removed.
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_TRUE(deleteFile(fifo.c_str()));
    EXPECT_TRUE(testsupport::fileExists(fifo));
}

TEST_F(FileAccessTest, InjectedReadFailureDeliversUpToTheMark)
{
    std::string p = dir.file("rf.bin");
    writeBytes(p, bytesOf("0123456789ABCDEF"));
    FileHandle h = openFile(p.c_str(), "rb");
    ASSERT_NE(h, nullptr);
    fileAccessProbe().failReadAfterBytes = 5;
    char buf[8] = {};
    EXPECT_EQ(readFile(buf, 8, 1, h), 5u);
    EXPECT_EQ(std::string(buf, 5), "01234");
    EXPECT_EQ(seekFile(h, 0, 0), 0);
    EXPECT_EQ(readFile(buf, 1, 1, h), 0u) << "stays failed until the mark is lifted";
    fileAccessProbe().failReadAfterBytes = -1;
    EXPECT_EQ(readFile(buf, 2, 1, h), 2u);
    EXPECT_EQ(fileAccessProbe().reads, 4u);
    EXPECT_EQ(fileAccessProbe().seeks, 1u);
    closeFile(h);
}

TEST_F(FileAccessTest, InjectedWriteFailureFailsTheWriteWithThePartialBytesOnDisk)
{
    std::string p = dir.file("wf.bin");
    FileHandle h = openFile(p.c_str(), "ab");
    ASSERT_NE(h, nullptr);
    fileAccessProbe().failWriteAfterBytes = 6;
    EXPECT_EQ(writeFile("abcd", 1, 4, h), 4u);
    EXPECT_EQ(writeFile("efghij", 1, 6, h), 0u) << "disk full in the middle of a write";
    EXPECT_EQ(writeFile("k", 1, 1, h), 0u);
    EXPECT_EQ(writeFile("", 1, 0, h), 0u);
    closeFile(h);
    EXPECT_EQ(readBytes(p), bytesOf("abcdef"));
}

} // namespace
