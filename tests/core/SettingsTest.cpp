#include "core/Settings.h"

#include "core/LogConsole.h"
#include "platform/fake/Fakes.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>

namespace {

struct SettingsTest : ::testing::Test {
    std::unique_ptr<LogConsole> log = std::make_unique<LogConsole>();
    testsupport::ScratchDir dir{"settings"};
    std::string ini = dir.file("Orvane.ini");
    Settings live;

    SettingsTest() { log->attachWindow(nullptr, 1001); }
    int read(const std::string& text, LogConsole* console = nullptr)
    {
        testsupport::writeBytes(ini, std::vector<uint8_t>(text.begin(), text.end()));
        return readSettingsFile(live, ini.c_str(), console);
    }
    // The options as the settings file states them.
    std::string textOf(const Settings& s)
    {
        const std::string out = dir.file("out.ini");
        EXPECT_EQ(writeSettingsFile(s, out.c_str(), *log), 1);
        return testsupport::readText(out);
    }
};

TEST_F(SettingsTest, WrittenFileHasElevenLinesInOrderAndReadsBack)
{
    // Every value differs from its default, so each key must be read.
    const std::string text = "cutAtIFrames=0\nassAppendNextFrame=1\nassCompleteAudioPkt=0\nassCalcNewPts=0\n"
                             "splitPvaDstFile=1\nsaveNoAudio=1\nsaveNoAVPacketHeader=1\nassAudioPtsOffset=-40\n"
                             "assCompleteAPktEndOffset=250\nsplitPvaDstFileSizeMB=4\nfastBufferScan=0\n";
    ASSERT_EQ(read(text), 1);
    // The eleven as they were, then the keys added since, at their defaults.
    EXPECT_EQ(live.assCleanJoins, 1);
    EXPECT_EQ(textOf(live), text + "assCleanJoins=1\n");
    ASSERT_EQ(read(text + "assCleanJoins=0\n"), 1);
    EXPECT_EQ(live.assCleanJoins, 0);
    EXPECT_EQ(textOf(live), text + "assCleanJoins=0\n");
    EXPECT_EQ(log->length(), 0);
}

TEST_F(SettingsTest, MatchingRules)
{
    ASSERT_EQ(read("splitPvaDstFileSizeMB=100\n"
                   "cutAtIFrames = 0\n"           // space before '=': no match
                   "assAudioPtsOffset=  -25\n"    // spaces and a sign after '=': fine
                   "saveNoAudio=+1 trailing\n"
                   "CutAtIFrames=0\n"             // case matters
                   "xsaveNoAVPacketHeader=1\n"    // must begin the line
                   "fastBufferScan=\n"            // no number
                   "assCalcNewPts=abc\n"
                   "assCompleteAudioPkt=99999999999\n"   // does not fit: ignored
                   "[section]\n"
                   "assCompleteAPktEndOffset=7\r\n"),
              1);
    Settings expected;
    expected.splitPvaDstFileSizeMB = 100;
    expected.assAudioPtsOffset = -25;
    expected.saveNoAudio = 1;
    expected.assCompleteAPktEndOffset = 7;
    EXPECT_EQ(textOf(live), textOf(expected));

    // The split keys never take each other's lines; the last value wins.
    ASSERT_EQ(read("splitPvaDstFile=1\nsplitPvaDstFileSizeMB=30\nsplitPvaDstFile=0\nsplitPvaDstFile=1\n"), 1);
    EXPECT_EQ(live.splitPvaDstFile, 1);
    EXPECT_EQ(live.splitPvaDstFileSizeMB, 30);
    ASSERT_EQ(read("splitPvaDstFileSizeMB=4100"), 1);   // no line end on the last line
    EXPECT_EQ(live.splitPvaDstFile, 1);
    EXPECT_EQ(live.splitPvaDstFileSizeMB, 4100);

    // The first 16383 characters of a line are one piece, the rest another; each is matched.
    ASSERT_EQ(read("cutAtIFrames=7" + std::string(16383 - 14, ' ') + "saveNoAudio=5\nfastBufferScan=9\n"), 1);
    EXPECT_EQ(live.cutAtIFrames, 7);
    EXPECT_EQ(live.saveNoAudio, 5);
    EXPECT_EQ(live.fastBufferScan, 9);
}

TEST_F(SettingsTest, SingleAssignmentUsesTheFileRules)
{
    EXPECT_EQ(applySettingsLine(live, "splitPvaDstFileSizeMB=700"), 1);
    EXPECT_EQ(live.splitPvaDstFileSizeMB, 700);
    EXPECT_EQ(applySettingsLine(live, "assCompleteAPktEndOffset=- 5"), -1);
    EXPECT_EQ(applySettingsLine(live, "mainWindow=1"), -1);
    EXPECT_EQ(applySettingsLine(live, "cutAtIFrames=2"), 1);   // no range check
    EXPECT_EQ(live.cutAtIFrames, 2);
}

// A part size below 4 MB would give no split at all or a part per flush under
// another name: refused where it is read, with the previous value kept.
TEST_F(SettingsTest, SplitSizesBelowFourMegabytesAreRefusedKeepingTheValue)
{
    for (int32_t mb : {4, 5, 4099, 4100, INT32_MAX}) EXPECT_TRUE(splitSizeAcceptable(mb)) << mb;
    for (int32_t mb : {3, 1, 0, -3, INT32_MIN}) EXPECT_FALSE(splitSizeAcceptable(mb)) << mb;

    ASSERT_EQ(read("splitPvaDstFileSizeMB=100\nsplitPvaDstFileSizeMB=3\nsaveNoAudio=1\n"), 1);
    EXPECT_EQ(live.splitPvaDstFileSizeMB, 100);
    EXPECT_EQ(live.saveNoAudio, 1);
    EXPECT_EQ(log->length(), 0) << "without a console nothing is said";
    ASSERT_EQ(read("splitPvaDstFileSizeMB=0\n", log.get()), 1);
    EXPECT_EQ(live.splitPvaDstFileSizeMB, 100);
    EXPECT_STREQ(log->text(), ("ERROR: " + ini + ": splitPvaDstFileSizeMB=0 refused: a part needs at least 4 MB; "
                               "keeping 100\r\n").c_str());

    log->clear();
    EXPECT_EQ(applySettingsLine(live, "splitPvaDstFileSizeMB=-1", log.get()), 0);
    EXPECT_EQ(applySettingsLine(live, "splitPvaDstFileSizeMB=2"), 0);
    EXPECT_EQ(live.splitPvaDstFileSizeMB, 100);
    EXPECT_STREQ(log->text(), "ERROR: splitPvaDstFileSizeMB=-1 refused: a part needs at least 4 MB; keeping 100\r\n");
    EXPECT_EQ(applySettingsLine(live, "splitPvaDstFileSizeMB=4", log.get()), 1);
    EXPECT_EQ(live.splitPvaDstFileSizeMB, 4);
}

TEST_F(SettingsTest, MissingFileChangesNothingAndFailedWritesAreReported)
{
    EXPECT_EQ(readSettingsFile(live, dir.file("none.ini").c_str()), -1);
    EXPECT_EQ(textOf(live), textOf(Settings{}));
    EXPECT_EQ(log->length(), 0);

    const std::string bad = dir.file("no/such/dir/Orvane.ini");
    EXPECT_EQ(writeSettingsFile(live, bad.c_str(), *log), -1);
    EXPECT_STREQ(log->text(), ("ERROR: can't write " + bad + "\r\n").c_str());

    // A full disk shows only when the data is flushed: still a failure.
    if (!testsupport::fileExists("/dev/full")) return;
    log->clear();
    EXPECT_EQ(writeSettingsFile(live, "/dev/full", *log), -1);
    EXPECT_STREQ(log->text(), "ERROR: can't write /dev/full\r\n");
}

} // namespace
