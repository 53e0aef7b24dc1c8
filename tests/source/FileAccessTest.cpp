#include "source/FileAccess.h"

#include "core/LogConsole.h"
#include "platform/fake/FaultySystemCalls.h"
#include "source/OutputFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

using testsupport::readBytes;

namespace {

std::vector<uint8_t> bytesOf(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

class FileAccessTest : public ::testing::Test {
protected:
    void TearDown() override { fileAccessProbe().reset(); }
    std::string make(const std::string& name, const std::string& content)
    {
        testsupport::writeBytes(dir.file(name), bytesOf(content));
        return dir.file(name);
    }
    testsupport::ScratchDir dir{"fileaccess"};
};

// Whether an open succeeds (the handle is closed again at once).
bool opens(const std::string& path, const char* mode)
{
    FileHandle h = openFile(path.c_str(), mode);
    if (h) closeFile(h);
    return h != nullptr;
}

TEST_F(FileAccessTest, ModesAndSharing)
{
    std::string p = make("a.bin", "0123456789");
    for (const char* bad : {"x", "", "br"}) EXPECT_FALSE(opens(p, bad)) << bad;
    EXPECT_FALSE(opens(dir.file("missing"), "rb"));
    EXPECT_FALSE(opens(dir.path(), "rb")) << "a directory is not a file";
    EXPECT_FALSE(opens(dir.file("no/dir/x"), "ab"));
    EXPECT_TRUE(opens(dir.file("new.bin"), "a")) << "'a' creates a missing file";

    FileHandle w = openFile(p.c_str(), "wb");
    ASSERT_NE(w, nullptr);
    EXPECT_FALSE(opens(p, "ab")) << "a second writer is refused";
    EXPECT_FALSE(opens(p, "rb")) << "nobody reads a file while it is written";
    EXPECT_EQ(writeFile("AB", 1, 2, w), 2u);
    closeFile(w);
    EXPECT_EQ(readBytes(p), bytesOf("AB23456789")) << "'w' overwrites from the start, no truncation";

    FileHandle r = openFile(p.c_str(), "rzz");
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(opens(p, "r")) << "readers share";
    EXPECT_FALSE(opens(p, "ab")) << "a file being read is not written";
    EXPECT_EQ(writeFile("x", 1, 1, r), 0u);
    closeFile(r);

    FileHandle a = openFile(p.c_str(), "ab");
    EXPECT_EQ(writeFile("xyz", 3, 1, a), 3u);
    closeFile(a);
    EXPECT_EQ(readBytes(p), bytesOf("AB23456789xyz"));
}

TEST_F(FileAccessTest, ReadCountsBytesAndSeekTakesUnsignedDistances)
{
    FileHandle h = openFile(make("r.bin", "0123456789ABC").c_str(), "rb");
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
    EXPECT_EQ(seekFile(h, 0, 3), 1);
    EXPECT_EQ(seekFile(nullptr, 0, 0), 1);
    closeFile(h);
}

// (fileSize's 4 GiB flag and messages are covered through the scanner's refusals.)
TEST_F(FileAccessTest, DeleteRemovesOnlyWhatStandsInTheWay)
{
    std::string p = make("old.pva", "x");
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

// Only regular files are read (a device never ends, a pipe waits for a writer),
// and no open waits for the other end of a pipe.
TEST_F(FileAccessTest, PipesAndDevicesAreNotReadAndNothingWaits)
{
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(opens(fifo, "rb"));
    EXPECT_FALSE(opens(fifo, "ab")) << "nobody reads it";
    EXPECT_FALSE(opens("/dev/zero", "rb"));
    EXPECT_FALSE(opens(dir.path(), "ab"));
    LogConsole log;
    log.attachWindow(nullptr, 1001);
    EXPECT_EQ(fileSize(fifo.c_str(), log), 0u);
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}

// The output of a save appears under its name only once it is complete; the
// longest file name still leaves room for the temporary one beside it.
TEST_F(FileAccessTest, AnOutputFileIsInPlaceOnlyOnceCommitted)
{
    const std::string name = dir.file(std::string(255, 'n'));
    {
        OutputFile out;
        ASSERT_EQ(out.open(name.c_str()), OutputFile::Opened::ok);
        EXPECT_EQ(std::filesystem::path(out.temporaryName()).parent_path(), std::filesystem::path(dir.path()));
        EXPECT_EQ(writeFile("abc", 1, 3, out.handle()), 3u);
        EXPECT_FALSE(testsupport::fileExists(name));
        EXPECT_TRUE(out.commit());
        EXPECT_FALSE(out.isOpen());
    }
    EXPECT_EQ(readBytes(name), bytesOf("abc"));
    {
        OutputFile unfinished;   // let go without a commit: discarded
        ASSERT_EQ(unfinished.open(name.c_str()), OutputFile::Opened::ok);
        EXPECT_EQ(writeFile("xyz!", 1, 4, unfinished.handle()), 4u);
    }
    EXPECT_EQ(readBytes(name), bytesOf("abc"));
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 1);

    OutputFile none;
    EXPECT_EQ(none.open(""), OutputFile::Opened::failed);
    EXPECT_EQ(none.open(dir.path().c_str()), OutputFile::Opened::directory);
    EXPECT_FALSE(none.commit());
}

// A read error after some bytes delivers those; a full disk in the middle of a write
// fails the write, with its first bytes on disk.
TEST_F(FileAccessTest, ErrorsPartWayThrough)
{
    FileHandle h = openFile(make("rf.bin", "0123456789ABCDEF").c_str(), "rb");
    ASSERT_NE(h, nullptr);
    fileAccessProbe().failReadAfterBytes = 5;
    char buf[8] = {};
    EXPECT_EQ(readFile(buf, 8, 1, h), 5u);
    EXPECT_EQ(std::string(buf, 5), "01234");
    closeFile(h);

    const std::string p = dir.file("wf.bin");
    h = openFile(p.c_str(), "ab");
    fileAccessProbe().failWriteAfterBytes = 6;
    EXPECT_EQ(writeFile("abcd", 1, 4, h), 4u);
    EXPECT_EQ(writeFile("efghij", 1, 6, h), 0u);
    closeFile(h);
    EXPECT_EQ(readBytes(p), bytesOf("abcdef"));
}

} // namespace
