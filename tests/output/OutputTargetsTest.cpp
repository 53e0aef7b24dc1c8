// What a save does with the name it is given: a file, a symbolic link, a device
// or a pipe. Only what the user named is written; nothing else is created,
// removed or replaced, and no temporary file survives.
#include "WriterRig.h"

#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace writertest;
using testsupport::readBytes;
namespace fs = std::filesystem;

namespace {

const std::vector<uint8_t> earlier{'e', 'a', 'r', 'l', 'i', 'e', 'r'};

std::set<std::string> namesIn(const std::string& dir)
{
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir)) names.insert(e.path().lexically_relative(dir).string());
    return names;
}

unsigned modeOf(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Reads a descriptor to its end on a thread of its own.
struct Drain {
    std::vector<uint8_t> bytes;
    std::thread thread;
    explicit Drain(int fd)
    {
        thread = std::thread([this, fd] {
            uint8_t block[65536];
            for (ssize_t n; (n = ::read(fd, block, sizeof block)) > 0;) bytes.insert(bytes.end(), block, block + n);
            ::close(fd);
        });
    }
    // A named pipe opened for reading on the drain's own thread: the blocking open
    // counts as a reader at once and returns when the save opens the pipe, so the
    // first read cannot see an end of data before the writer has come.
    explicit Drain(const std::string& fifo)
    {
        thread = std::thread([this, fifo] {
            const int fd = ::open(fifo.c_str(), O_RDONLY);
            if (fd < 0) return;
            uint8_t block[65536];
            for (ssize_t n; (n = ::read(fd, block, sizeof block)) > 0;) bytes.insert(bytes.end(), block, block + n);
            ::close(fd);
        });
    }
    std::vector<uint8_t> wait()
    {
        thread.join();
        return bytes;
    }
};

struct TargetRig : Rig {
    std::vector<uint8_t> good;
    TargetRig() : Rig(pictures(12, 4).bytes) { good = saved("good.pva"); }
};

TEST(OutputTargets, ALinkIsWrittenThroughToItsTargetWhichKeepsItsPermissions)
{
    TargetRig rig;
    fs::create_directory(rig.path("real"));
    const std::string target = rig.path("real/target.pva");
    testsupport::writeBytes(target, earlier);
    ASSERT_EQ(::chmod(target.c_str(), 0604), 0);
    fs::create_symlink("real/target.pva", rig.path("link.pva"));
    fs::create_symlink("link.pva", rig.path("chain.pva"));
    fs::create_symlink("real/new.pva", rig.path("dangling.pva"));
    const std::set<std::string> before = namesIn(rig.dir.path());

    ASSERT_EQ(rig.save("link.pva"), 1) << rig.text();
    EXPECT_EQ(readBytes(target), rig.good);
    EXPECT_EQ(modeOf(target), 0604u);
    EXPECT_EQ(fs::read_symlink(rig.path("link.pva")), "real/target.pva");

    testsupport::writeBytes(target, earlier);
    ASSERT_EQ(rig.save("chain.pva"), 1) << rig.text();
    EXPECT_EQ(readBytes(target), rig.good);
    EXPECT_TRUE(fs::is_symlink(rig.path("chain.pva")) && fs::is_symlink(rig.path("link.pva")));
    EXPECT_EQ(namesIn(rig.dir.path()), before);

    // A link to a name not taken yet creates that name, with the usual permissions.
    ASSERT_EQ(rig.save("dangling.pva"), 1) << rig.text();
    EXPECT_EQ(readBytes(rig.path("real/new.pva")), rig.good);
    EXPECT_EQ(fs::read_symlink(rig.path("dangling.pva")), "real/new.pva");
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(modeOf(rig.path("real/new.pva")), 0666u & ~mask);
    std::set<std::string> after = before;
    after.insert("real/new.pva");
    EXPECT_EQ(namesIn(rig.dir.path()), after);
}

// A character device takes the output as a stream and stays what it is, also
// behind a link.
TEST(OutputTargets, DevicesAreWrittenAsStreamsAndNeverReplaced)
{
    TargetRig rig;
    fs::create_symlink("/dev/null", rig.path("null-link"));
    const std::set<std::string> before = namesIn(rig.dir.path());
    for (const char* device : {"/dev/null", "/dev/zero"}) {
        rig.log->clear();
        EXPECT_EQ(saveNewStream(*rig.editor, device, 0, rig.operation()), 1) << rig.text();
        EXPECT_NE(rig.text().find(std::string("Save Pva: ") + device + "\r\n"), std::string::npos);
        EXPECT_TRUE(fs::is_character_file(device)) << device;
    }
    EXPECT_EQ(rig.save("null-link"), 1) << rig.text();
    EXPECT_TRUE(fs::is_symlink(rig.path("null-link")));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_EQ(namesIn(rig.dir.path()), before);
}

// The report's case: a link to the writing end of a pipe, as /proc/self/fd/1 in a
// shell pipeline. The reader gets the whole new PVA; the link stays a link.
TEST(OutputTargets, APipeGetsTheWholeOutputAndALinkToItStays)
{
    TargetRig rig;
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    Drain reader(ends[0]);
    fs::create_symlink("/proc/self/fd/" + std::to_string(ends[1]), rig.path("L"));
    EXPECT_EQ(rig.save("L"), 1) << rig.text();
    ::close(ends[1]);
    EXPECT_EQ(reader.wait(), rig.good);
    EXPECT_TRUE(fs::is_symlink(rig.path("L")));

    // A named pipe with a reader.
    const std::string fifo = rig.path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Drain fifoReader(fifo);
    EXPECT_EQ(rig.save("fifo"), 1) << rig.text();
    EXPECT_EQ(fifoReader.wait(), rig.good);
    EXPECT_TRUE(fs::is_fifo(fifo));
}

// A named pipe nobody reads: the save waits for a reader with the window alive,
// and the cancel button ends the wait. The pipe is left as it was.
TEST(OutputTargets, APipeWithoutAReaderWaitsUntilCancelled)
{
    TargetRig rig;
    const std::string fifo = rig.path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::set<std::string> before = namesIn(rig.dir.path());
    rig.log->clear();
    rig.host.pump.serveCalls = 0;
    int waiting = 0;
    rig.host.pump.onServe = [&](int) {
        if (rig.text().find("Waiting for a reader of " + fifo + "\r\n") != std::string::npos && ++waiting == 5)
            rig.app->settings.cancelRequested = 1;
    };
    EXPECT_EQ(rig.save("fifo"), -1);
    EXPECT_EQ(waiting, 5);
    EXPECT_GT(rig.host.clock.slept, 0u);
    EXPECT_EQ(rig.app->settings.cancelRequested, 0);
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_EQ(namesIn(rig.dir.path()), before);
    EXPECT_EQ(rig.text().find(" not replaced"), std::string::npos) << "nothing to say of a pipe";
}

} // namespace
