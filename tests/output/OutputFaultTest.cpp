#include "WriterRig.h"

#include <filesystem>
#include <iostream>
#include <set>
#include <sys/mount.h>
#include <sys/statvfs.h>

using namespace writertest;
using testsupport::readBytes;
namespace fs = std::filesystem;

namespace {

const std::vector<uint8_t> earlierFile{'e', 'a', 'r', 'l', 'i', 'e', 'r'};

struct FaultRig : Rig {
    platform::fake::FakeControl progress, cancel;
    std::string source;
    std::vector<uint8_t> good;   // the output of an undisturbed save

    FaultRig() : Rig(bigPictures(30, 1, 50).bytes)   // about 9 MB
    {
        controls = platform::ControlProgress(&progress, &cancel, nullptr);
        source = path("src.pva");
        good = saved("good.pva");
        EXPECT_GT(good.size(), 2 * saveFlushMark);
        log->clear();
    }

    // Everything under the rig's directory, with the size of each file.
    std::set<std::pair<std::string, uintmax_t>> entries() const
    {
        std::set<std::pair<std::string, uintmax_t>> all;
        for (const auto& e : fs::recursive_directory_iterator(dir.path()))
            all.emplace(e.path().string(), e.is_regular_file() ? e.file_size() : 0);
        return all;
    }

    // Saves to `name`, which must fail with `message` and leave everything as it
    // was: an earlier file of that name (put there first when there can be one),
    // no unfinished file anywhere, the controls hidden. Returns the log.
    std::string expectCleanFailure(const std::string& name, const std::string& message)
    {
        const std::string target = path(name);
        const bool earlier = !fs::exists(target) && fs::is_directory(fs::path(target).parent_path());
        if (earlier) testsupport::writeBytes(target, earlierFile);
        const auto before = entries();
        EXPECT_EQ(save(name), -1);
        const std::string t = text();
        EXPECT_NE(t.find(message), std::string::npos) << t;
        EXPECT_NE(t.find(target + " not replaced: an earlier file of that name is left as it was\r\n"),
                  std::string::npos)
            << t;
        EXPECT_FALSE(progress.visible || cancel.visible);
        EXPECT_EQ(app->busy, 0);
        if (earlier) {
            EXPECT_EQ(readBytes(target), earlierFile) << name;
        }
        EXPECT_EQ(entries(), before) << name << ": a failed save leaves nothing behind";
        fileAccessProbe().reset();
        log->clear();
        return t;
    }
};

TEST(OutputFault, SourceUnreadableTruncatedOrGone)
{
    FaultRig rig;
    fileAccessProbe().failReadAfterBytes = 0;
    rig.expectCleanFailure("a.pva", "ERROR: can't read " + rig.source + "    at pos 8\r\n");

    // Truncated after the scan: the save stops at the cut, after its first flush.
    fs::resize_file(rig.source, 5 * 1024 * 1024 + 77);
    rig.expectCleanFailure("b.pva", "    at pos ");

    fs::remove(rig.source);
    rig.expectCleanFailure("c.pva", "ERROR: can't read " + rig.source + "\r\n");
}

TEST(OutputFault, OutputCannotBeOpenedReplacedOrWritten)
{
    FaultRig rig;
    rig.expectCleanFailure("no/such/dir/out.pva", "ERROR: can't open " + rig.path("no/such/dir/out.pva") + "\r\n");
    fs::create_directories(rig.path("taken/inside"));
    rig.expectCleanFailure("taken", "ERROR: can't delete " + rig.path("taken") + "\r\n");

    // A write failing at once or half way.
    for (uint32_t failAfter : {0u, saveFlushMark + 1000000}) {
        const std::string name = "out" + std::to_string(failAfter) + ".pva";
        fileAccessProbe().failWriteAfterBytes = failAfter;
        const std::string t = rig.expectCleanFailure(name, "ERROR: can't write: " + rig.path(name) + "\r\n");
        EXPECT_EQ(t.find("Save Pva"), t.rfind("Save Pva"));
    }
}

// A small tmpfs on `where` for as long as it lives, where the machine allows
// mounting (root, outside a locked-down container).
class SmallFileSystem {
public:
    SmallFileSystem(const std::string& where, const char* size) : where_(where)
    {
        fs::create_directories(where);
        mounted_ = ::mount("tmpfs", where.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, size) == 0;
    }
    ~SmallFileSystem()
    {
        if (mounted_) ::umount2(where_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    uint64_t freeBytes() const
    {
        struct statvfs v;
        return ::statvfs(where_.c_str(), &v) == 0 ? uint64_t{v.f_bavail} * v.f_frsize : 0;
    }

private:
    std::string where_;
    bool mounted_ = false;
};

// The disk fills in the middle of a save over an earlier file: that file survives
// and the unfinished one gives its room back. The file layer failing a write half
// way as a full disk does, and a real full file system where one can be mounted.
TEST(OutputFault, FullDiskKeepsTheEarlierFile)
{
    FaultRig rig;
    fileAccessProbe().failWriteAfterBytes = saveFlushMark + 12345;
    rig.expectCleanFailure("keep.pva", "ERROR: can't write: " + rig.path("keep.pva") + "\r\n");

    const SmallFileSystem small(rig.path("small"), "size=6m");
    if (!small.mounted()) {
        ::testing::Test::RecordProperty("tmpfs", "not mounted: only the fault seam filled the disk");
        std::cout << "no tmpfs could be mounted here: only the fault seam filled the disk\n";
        return;
    }
    const std::string name = "small/keep.pva";
    testsupport::writeBytes(rig.path(name), earlierFile);
    const uint64_t freeBefore = small.freeBytes();
    const std::string t = rig.expectCleanFailure(name, "ERROR: can't write: " + rig.path(name) + "\r\n");
    EXPECT_NE(t.find("Save Pva: " + rig.path(name)), std::string::npos);
    EXPECT_EQ(small.freeBytes(), freeBefore) << "the unfinished file is gone";
}

// The output is written through one handle: a file that takes the output's name
// during the save does not receive the rest of the data, and the earlier file,
// moved away, is not written to.
TEST(OutputFault, OutputMovedOrReplacedDuringTheSave)
{
    FaultRig rig;
    const std::string out = rig.path("out.pva");
    testsupport::writeBytes(out, earlierFile);
    int writes = 0;
    fileAccessProbe().afterWrite = [&] {
        if (++writes != 1) return;
        fs::rename(out, rig.path("moved.pva"));
        testsupport::writeBytes(out, {'o', 't', 'h', 'e', 'r'});
    };
    ASSERT_EQ(rig.save("out.pva"), 1) << rig.text();
    EXPECT_GT(writes, 2);
    EXPECT_EQ(readBytes(out), rig.good);
    EXPECT_EQ(readBytes(rig.path("moved.pva")), earlierFile);

    // The unfinished file itself is taken away and its name given to another:
    // nothing is put in place, and neither file is removed.
    writes = 0;
    std::string unfinished;
    fileAccessProbe().afterWrite = [&] {
        if (++writes != 1) return;
        for (const auto& e : fs::directory_iterator(rig.dir.path()))
            if (e.path().filename().string().rfind(".out.pva.", 0) == 0) unfinished = e.path().string();
        fs::rename(unfinished, rig.path("taken.pva"));
        testsupport::writeBytes(unfinished, {'n', 'o', 't', ' ', 'o', 'u', 'r', 's'});
    };
    rig.log->clear();
    EXPECT_EQ(rig.save("out.pva"), -1);
    ASSERT_FALSE(unfinished.empty());
    const std::string t = rig.text();
    EXPECT_NE(t.find("ERROR: can't replace " + out + "\r\n" + out + " not replaced: "), std::string::npos) << t;
    EXPECT_EQ(readBytes(out), rig.good);
    EXPECT_EQ(readBytes(unfinished), (std::vector<uint8_t>{'n', 'o', 't', ' ', 'o', 'u', 'r', 's'}));
    EXPECT_EQ(readBytes(rig.path("taken.pva")), rig.good);
}

} // namespace

namespace {

std::vector<uint8_t> marker(int k) { return {'e', 'a', 'r', 'l', 'i', 'e', 'r', static_cast<uint8_t>('0' + k)}; }

// The parts of a split save take their names together once the last one is
// complete. A save that fails in its second part leaves every part of an earlier,
// longer set of that name as it was, says so for each, and leaves nothing else
// behind; a shorter save that completes replaces its parts and leaves the later
// ones of the earlier set alone. On a real file system that fills: the earlier set
// is whole afterwards and the room of the unfinished parts is given back.
TEST(OutputFault, SplitSavePutsAllItsPartsInPlaceOrNone)
{
    FaultRig rig;
    rig.app->settings.splitPvaDstFile = 1;
    rig.app->settings.splitPvaDstFileSizeMB = 4;
    ASSERT_EQ(rig.save("good.pva"), 1) << rig.text();
    const auto parts = readParts(rig.path("good"));
    ASSERT_GE(parts.size(), 3u);
    ASSERT_LT(parts.size(), 6u);
    EXPECT_EQ(joined(parts), rig.good);

    auto part = [&](size_t k) { return rig.path("set_" + std::to_string(k) + ".pva"); };
    for (size_t k = 0; k < 6; ++k) testsupport::writeBytes(part(k), marker(static_cast<int>(k)));
    const auto before = rig.entries();
    rig.log->clear();
    fileAccessProbe().failWriteAfterBytes = static_cast<int64_t>(parts[0].size()) + 1000;
    EXPECT_EQ(rig.save("set.pva"), -1);
    fileAccessProbe().reset();
    const std::string t = rig.text();
    EXPECT_NE(t.find("ERROR: can't write: " + part(1) + "\r\n"), std::string::npos) << t;
    for (size_t k = 0; k < 6; ++k) {
        EXPECT_EQ(readBytes(part(k)), marker(static_cast<int>(k))) << k;
        const std::string said = k < 2 ? part(k) + " not replaced: an earlier file of that name is left as it was\r\n"
                                       : part(k) + " left as it was: a later part of an earlier save of that name\r\n";
        EXPECT_NE(t.find(said), std::string::npos) << t;
    }
    EXPECT_EQ(rig.entries(), before) << "no unfinished part stays";

    // A shorter save that completes: its parts in place, the later ones untouched.
    rig.log->clear();
    ASSERT_EQ(rig.save("set.pva"), 1) << rig.text();
    for (size_t k = 0; k < 6; ++k) EXPECT_EQ(readBytes(part(k)), k < parts.size() ? parts[k] : marker(static_cast<int>(k)));
    EXPECT_EQ(rig.text().find("left as it was"), std::string::npos);

    const SmallFileSystem small(rig.path("small"), "size=14m");
    if (!small.mounted()) {
        std::cout << "no tmpfs could be mounted here: only the fault seam filled the disk\n";
        return;
    }
    ASSERT_EQ(rig.save("small/set.pva"), 1) << rig.text();
    std::vector<std::vector<uint8_t>> earlier;
    for (size_t k = 0; k < parts.size(); ++k) earlier.push_back(readBytes(rig.path("small/set_" + std::to_string(k) + ".pva")));
    const uint64_t freeBefore = small.freeBytes();
    ASSERT_LT(freeBefore, rig.good.size()) << "the second set must not fit beside the first";
    // Other time stamps: other bytes in every part.
    rig.app->settings.assAudioPtsOffset = 40;
    rig.log->clear();
    EXPECT_EQ(rig.save("small/set.pva"), -1);
    EXPECT_NE(rig.text().find("ERROR: can't write: "), std::string::npos) << rig.text();
    for (size_t k = 0; k < parts.size(); ++k)
        EXPECT_EQ(readBytes(rig.path("small/set_" + std::to_string(k) + ".pva")), earlier[k]) << k;
    EXPECT_EQ(small.freeBytes(), freeBefore);
    size_t files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(rig.path("small"))) ++files;
    EXPECT_EQ(files, parts.size());
}

// The directory of the output moved away in the middle of the save: nothing
// lands in the moved directory and the unfinished file is not left there.
TEST(OutputFault, AnOutputDirectoryMovedDuringTheSaveKeepsNothingUnfinished)
{
    FaultRig rig;
    fs::create_directory(rig.path("d"));
    testsupport::writeBytes(rig.path("d/out.pva"), earlierFile);
    int writes = 0;
    fileAccessProbe().afterWrite = [&] {
        if (++writes == 1) fs::rename(rig.path("d"), rig.path("moved"));
    };
    EXPECT_EQ(rig.save("d/out.pva"), -1);
    fileAccessProbe().reset();
    EXPECT_GT(writes, 1);
    EXPECT_NE(rig.text().find("ERROR: can't replace " + rig.path("d/out.pva") + "\r\n"), std::string::npos) << rig.text();
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(rig.path("moved"))) left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"out.pva"});
    EXPECT_EQ(readBytes(rig.path("moved/out.pva")), earlierFile);
}

} // namespace

// A source that changed after its scan is never copied as if it were the one
// indexed: overwritten during the save (the packets read after that are not the
// ones scanned), cut short and grown again, or replaced by another file. Each
// stops with a line that names the source and the position, and leaves the
// earlier output as it was.
TEST(OutputFault, ASourceThatChangedSinceItsScanIsNotCopied)
{
    FaultRig rig;
    const std::vector<uint8_t> original = readBytes(rig.source);
    const std::vector<uint8_t> noise(original.size(), 0x5A);

    int writes = 0;
    fileAccessProbe().afterWrite = [&] {
        if (++writes != 1) return;
        std::FILE* f = std::fopen(rig.source.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        std::fwrite(noise.data(), 1, noise.size(), f);
        std::fclose(f);
    };
    const std::string changed = rig.expectCleanFailure("a.pva", "ERROR: can't copy " + rig.source + "    at pos ");
    EXPECT_NE(changed.find(": the packet there is not the one scanned (the file changed)\r\n"), std::string::npos)
        << changed;
    fileAccessProbe().afterWrite = nullptr;

    // Cut short and grown again to its old size: the same file, not the same bytes.
    testsupport::writeBytes(rig.source, original);
    fs::resize_file(rig.source, 1000);
    fs::resize_file(rig.source, original.size());
    rig.expectCleanFailure("b.pva", "ERROR: can't copy " + rig.source + "    at pos ");

    // Another file under the name, however much alike.
    testsupport::writeBytes(rig.path("other.pva"), original);
    fs::rename(rig.path("other.pva"), rig.source);
    rig.expectCleanFailure("c.pva", "ERROR: can't read " + rig.source +
                                        "    at pos 8: it is not the file that was scanned (replaced since)\r\n");
}
