#include "WriterRig.h"

#include <filesystem>

using namespace writertest;
using testsupport::readBytes;

namespace {

// About 9 MB in 6,000-byte video packets, with an I picture every 50 packets.
std::vector<uint8_t> recording()
{
    PacketBuilder b;
    for (int k = 0; k < 30; ++k) {
        std::vector<uint8_t> es = testsupport::concat({testsupport::gopHeader(0), testsupport::pictureHeader(1)});
        es.resize(3000, 0xAA);
        b.videoPts(900000 + static_cast<uint32_t>(k) * 3600, es);
        b.audioPes(900000 + static_cast<uint32_t>(k) * 3600, std::vector<uint8_t>(300, 0x55));
        for (int d = 0; d < 50; ++d) b.video(std::vector<uint8_t>(6000, static_cast<uint8_t>(k)));
    }
    return b.bytes;
}

struct FaultRig : Rig {
    platform::fake::FakeControl progress, cancel;
    std::string source;
    std::vector<uint8_t> good;   // the output of an undisturbed save

    FaultRig()
    {
        app->settings.saveProgress = &progress;
        app->settings.saveCancelButton = &cancel;
        source = load("src.pva", recording());
        add(0);
        EXPECT_EQ(save("good.pva"), 1);
        good = readBytes(path("good.pva"));
        EXPECT_GT(good.size(), 2 * saveFlushMark);
        log->clear();
    }

    // Failures leave the controls hidden and the output a prefix of the good one.
    void expectCleanFailure(const std::string& out, const std::string& message)
    {
        EXPECT_NE(text().find(message), std::string::npos) << text();
        EXPECT_FALSE(progress.visible);
        EXPECT_FALSE(cancel.visible);
        EXPECT_EQ(app->saveRunning, 0);
        if (std::filesystem::is_regular_file(out)) {
            std::vector<uint8_t> written = readBytes(out);
            ASSERT_LE(written.size(), good.size());
            EXPECT_TRUE(std::equal(written.begin(), written.end(), good.begin()));
        }
    }
};

TEST(OutputFault, SourceGoneOrUnreadable)
{
    FaultRig rig;
    fileAccessProbe().failReadAfterBytes = 0;
    EXPECT_EQ(rig.save("a.pva"), -1);
    rig.expectCleanFailure(rig.path("a.pva"), "ERROR: can't read " + rig.source + "    at pos 8\r\n");
    EXPECT_FALSE(testsupport::fileExists(rig.path("a.pva")));
    fileAccessProbe().reset();

    std::filesystem::remove(rig.source);
    EXPECT_EQ(rig.save("b.pva"), -1);
    rig.expectCleanFailure(rig.path("b.pva"), "ERROR: can't read " + rig.source + "\r\n");
}

TEST(OutputFault, SourceTruncatedAfterTheScan)
{
    FaultRig rig;
    std::filesystem::resize_file(rig.source, 5 * 1024 * 1024 + 77);
    EXPECT_EQ(rig.save("out.pva"), -1);
    rig.expectCleanFailure(rig.path("out.pva"), "    at pos ");
    // The first flush went out; the half packet at the cut did not.
    EXPECT_GE(std::filesystem::file_size(rig.path("out.pva")), saveFlushMark);
    EXPECT_LT(std::filesystem::file_size(rig.path("out.pva")), 5u * 1024 * 1024);
}

TEST(OutputFault, OutputCannotBeOpenedReplacedOrWritten)
{
    FaultRig rig;
    const std::string missing = rig.path("no/such/dir/out.pva");
    EXPECT_EQ(rig.save("no/such/dir/out.pva"), -1);
    rig.expectCleanFailure(missing, "ERROR: can't open " + missing + "\r\n");

    std::filesystem::create_directory(rig.path("taken"));
    std::filesystem::create_directory(rig.path("taken/inside"));
    EXPECT_EQ(rig.save("taken"), -1);
    rig.expectCleanFailure(rig.path("taken"), "ERROR: can't delete " + rig.path("taken") + "\r\n");

    fileAccessProbe().failWriteAfterBytes = 0;
    EXPECT_EQ(rig.save("full.pva"), -1);
    rig.expectCleanFailure(rig.path("full.pva"), "ERROR: can't write: " + rig.path("full.pva") + "\r\n");
    EXPECT_EQ(std::filesystem::file_size(rig.path("full.pva")), 0u);
}

TEST(OutputFault, WriteFailingHalfWayKeepsWhatWasWritten)
{
    FaultRig rig;
    fileAccessProbe().failWriteAfterBytes = saveFlushMark + 1000000;
    EXPECT_EQ(rig.save("out.pva"), -1);
    rig.expectCleanFailure(rig.path("out.pva"), "ERROR: can't write: " + rig.path("out.pva") + "\r\n");
    EXPECT_EQ(std::filesystem::file_size(rig.path("out.pva")), saveFlushMark + 1000000u);
    EXPECT_EQ(rig.text().find("Save Pva"), rig.text().rfind("Save Pva"));
}

} // namespace
