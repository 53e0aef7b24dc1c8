#include "platform/fake/Fakes.h"
#include "core/LogConsole.h"
#include "source/SourceAnalyser.h"
#include "source/SourceSelection.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

struct Selection : ::testing::Test {
    platform::fake::FakeOperation fakes;
    platform::fake::FakeFileDialog dialog;
    ScratchDir dir{"selection"};
    LogConsole console;
    std::string said;
    std::unique_ptr<SourceAnalyser> app;

    void SetUp() override
    {
        testsupport::recordShown(console, said);
        app = std::make_unique<SourceAnalyser>(console);
    }
};

TEST_F(Selection, DialogAsksForAnExistingPvaFileAndScansIt)
{
    dialog.cancel = true;
    EXPECT_EQ(openSourceDialog(*app, &dialog, 0, fakes.context(app->settings.cancelRequested)), -1);
    EXPECT_EQ(app->sourceCount, 0);
    EXPECT_TRUE(said.empty());

    PacketBuilder b;
    b.videoPts(1000, concat({gopHeader(0), pictureHeader(1), std::vector<uint8_t>(16, 0xFF)}));
    const std::string recording = dir.file("r.pva");
    writeBytes(recording, b.bytes);
    dialog.cancel = false;
    dialog.answer = recording;
    EXPECT_EQ(openSourceDialog(*app, &dialog, 1, fakes.context(app->settings.cancelRequested)), 1);
    EXPECT_EQ(app->sourceCount, 1);
    EXPECT_TRUE(fileExists(recording + ".txt"));   // withLog reaches the scan

    ASSERT_EQ(dialog.requests.size(), 2u);
    const auto& r = dialog.requests[1];
    std::string filters;
    for (const auto& f : r.filters) filters += f.shown + "|" + f.pattern + "|";
    EXPECT_EQ(r.title + "|" + filters, "set PVA file|*.pva *.pav|*.pva;*.pav|*.* |*.*|");
    EXPECT_TRUE(r.mustExist);

    // A chosen file counts as chosen even when the scan refuses it.
    app->sourceCount = maxSources;
    said.clear();
    EXPECT_EQ(openSourceDialog(*app, &dialog, 0, fakes.context(app->settings.cancelRequested)), 1);
    EXPECT_EQ(said, "ERROR: To much source PVA streams\n");
    EXPECT_EQ(openSourceDialog(*app, nullptr, 0, fakes.context(app->settings.cancelRequested)), -1);
}

TEST_F(Selection, PreviousAndNextStopAtTheEnds)
{
    int hooks = 0;
    app->onCurrentSourceChanged = [&] { ++hooks; };
    app->selectNextSource();   // nothing loaded
    EXPECT_EQ(app->currentSource, 0);
    app->sourceCount = 2;
    app->selectPreviousSource();
    EXPECT_EQ(app->currentSource, 0);
    app->selectNextSource();
    app->selectNextSource();
    EXPECT_EQ(app->currentSource, 1);
    EXPECT_EQ(hooks, 4);
}

// A slot is a source once its scan has succeeded; it is usable when it has packets.
TEST_F(Selection, SourcesAreSelectableWhenLoadedAndUsableWhenTheyHavePackets)
{
    int hooks = 0;
    app->onCurrentSourceChanged = [&] { ++hooks; };
    PacketBuilder b;
    b.videoPts(1000, concat({gopHeader(0), pictureHeader(1)})).videoPts(4600, pictureHeader(2));
    writeBytes(dir.file("r.pva"), b.bytes);
    writeBytes(dir.file("empty.pva"), {});
    bool usableWhileScanning = true;
    fakes.pump.onServe = [&](int) { usableWhileScanning = app->usableSource(app->currentSource) != nullptr; };
    ASSERT_EQ(app->scanSource(dir.file("r.pva").c_str(), 0, fakes.context(app->settings.cancelRequested)), 1);
    fakes.pump.onServe = nullptr;
    EXPECT_FALSE(usableWhileScanning) << "a slot being filled is no source yet";
    // A file without a packet is no source: it takes no slot.
    EXPECT_EQ(app->scanSource(dir.file("empty.pva").c_str(), 0, fakes.context(app->settings.cancelRequested)), -1);
    EXPECT_EQ(app->sourceCount, 1);
    ASSERT_EQ(app->scanSource(dir.file("r.pva").c_str(), 0, fakes.context(app->settings.cancelRequested)), 1);

    EXPECT_EQ(app->usableSource(0), &app->sources[0]);
    EXPECT_EQ(app->usableSource(1), &app->sources[1]);
    app->sources[1].pktCount = 0;
    EXPECT_EQ(app->usableSource(1), nullptr);   // loaded, but without packets
    for (int32_t s : {-1, 2, maxSources}) EXPECT_EQ(app->usableSource(s), nullptr) << s;

    EXPECT_EQ(app->selectSource(0), 1);
    EXPECT_EQ(app->selectSource(1), 1);
    EXPECT_EQ(app->currentSource, 1);
    EXPECT_EQ(app->selectSource(2), -1);
    EXPECT_EQ(app->selectSource(-1), -1);
    EXPECT_EQ(app->currentSource, 1);
    EXPECT_EQ(hooks, 2);
}

} // namespace
