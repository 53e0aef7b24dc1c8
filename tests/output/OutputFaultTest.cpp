#include "WriterRig.h"

#include <filesystem>

using namespace writertest;
using testsupport::readBytes;
namespace fs = std::filesystem;

namespace {

struct FaultRig : Rig {
    platform::fake::FakeControl progress, cancel;
    std::string source;
    std::vector<uint8_t> good;   // the output of an undisturbed save

    FaultRig() : Rig(bigPictures(30, 1, 50).bytes)   // about 9 MB
    {
        app->settings.saveProgress = &progress;
        app->settings.saveCancelButton = &cancel;
        source = path("src.pva");
        good = saved("good.pva");
        EXPECT_GT(good.size(), 2 * saveFlushMark);
        log->clear();
    }

    // Saves to `name`, which must fail with `message`, leave the controls hidden
    // and the output (if any) a prefix of the good one. Returns the log.
    std::string expectCleanFailure(const std::string& name, const std::string& message)
    {
        EXPECT_EQ(save(name), -1);
        const std::string t = text();
        EXPECT_NE(t.find(message), std::string::npos) << t;
        EXPECT_FALSE(progress.visible || cancel.visible);
        EXPECT_EQ(app->saveRunning, 0);
        if (fs::is_regular_file(path(name))) {
            const std::vector<uint8_t> w = readBytes(path(name));
            EXPECT_TRUE(w.size() <= good.size() && std::equal(w.begin(), w.end(), good.begin())) << name;
        }
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
    EXPECT_FALSE(testsupport::fileExists(rig.path("a.pva")));

    // Truncated after the scan: the first flush went out, the half packet at the cut did not.
    fs::resize_file(rig.source, 5 * 1024 * 1024 + 77);
    rig.expectCleanFailure("b.pva", "    at pos ");
    EXPECT_GE(fs::file_size(rig.path("b.pva")), saveFlushMark);
    EXPECT_LT(fs::file_size(rig.path("b.pva")), 5u * 1024 * 1024);

    fs::remove(rig.source);
    rig.expectCleanFailure("c.pva", "ERROR: can't read " + rig.source + "\r\n");
}

TEST(OutputFault, OutputCannotBeOpenedReplacedOrWritten)
{
    FaultRig rig;
    rig.expectCleanFailure("no/such/dir/out.pva", "ERROR: can't open " + rig.path("no/such/dir/out.pva") + "\r\n");
    fs::create_directories(rig.path("taken/inside"));
    rig.expectCleanFailure("taken", "ERROR: can't delete " + rig.path("taken") + "\r\n");

    // A write failing at once or half way keeps what was written.
    for (uint32_t failAfter : {0u, saveFlushMark + 1000000}) {
        const std::string name = "out" + std::to_string(failAfter) + ".pva";
        fileAccessProbe().failWriteAfterBytes = failAfter;
        const std::string t = rig.expectCleanFailure(name, "ERROR: can't write: " + rig.path(name) + "\r\n");
        EXPECT_EQ(t.find("Save Pva"), t.rfind("Save Pva"));
        EXPECT_EQ(fs::file_size(rig.path(name)), failAfter);
    }
}

} // namespace
