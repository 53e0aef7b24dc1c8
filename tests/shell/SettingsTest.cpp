#include "shell/Settings.h"

#include "shell/LogConsole.h"
#include "platform/fake/Fakes.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using testsupport::ScratchDir;

namespace {

void writeText(const std::string& path, const std::string& text)
{
    testsupport::writeBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

bool sameOptions(const Settings& a, const Settings& b)
{
    return a.cutAtIFrames == b.cutAtIFrames && a.assAppendNextFrame == b.assAppendNextFrame
        && a.assCompleteAudioPkt == b.assCompleteAudioPkt && a.assCalcNewPts == b.assCalcNewPts
        && a.splitPvaDstFile == b.splitPvaDstFile && a.saveNoAudio == b.saveNoAudio
        && a.saveNoAVPacketHeader == b.saveNoAVPacketHeader && a.assAudioPtsOffset == b.assAudioPtsOffset
        && a.assCompleteAPktEndOffset == b.assCompleteAPktEndOffset
        && a.splitPvaDstFileSizeMB == b.splitPvaDstFileSizeMB && a.fastBufferScan == b.fastBufferScan;
}

struct SettingsTest : ::testing::Test {
    platform::fake::ScopedFakeHost host;
    std::unique_ptr<LogConsole> log = std::make_unique<LogConsole>();
    ScratchDir dir{"settings"};
    std::string ini = dir.file("Orvane.ini");
    Settings live;

    SettingsTest() { log->attachWindow(nullptr, 1001); }
};

TEST_F(SettingsTest, WrittenFileHasElevenLinesInOrderAndReadsBack)
{
    live.cutAtIFrames = 0;
    live.assAppendNextFrame = 1;
    live.assCompleteAudioPkt = 0;
    live.assCalcNewPts = 0;
    live.splitPvaDstFile = 1;
    live.saveNoAudio = 1;
    live.saveNoAVPacketHeader = 1;
    live.assAudioPtsOffset = -40;
    live.assCompleteAPktEndOffset = 250;
    live.splitPvaDstFileSizeMB = 0;
    live.fastBufferScan = 0;
    ASSERT_EQ(writeSettingsFile(live, ini.c_str(), *log), 1);
    EXPECT_EQ(log->length(), 0);
    EXPECT_EQ(testsupport::readText(ini),
              "cutAtIFrames=0\nassAppendNextFrame=1\nassCompleteAudioPkt=0\nassCalcNewPts=0\n"
              "splitPvaDstFile=1\nsaveNoAudio=1\nsaveNoAVPacketHeader=1\nassAudioPtsOffset=-40\n"
              "assCompleteAPktEndOffset=250\nsplitPvaDstFileSizeMB=0\nfastBufferScan=0\n");

    Settings next;
    ASSERT_EQ(readSettingsFile(next, ini.c_str()), 1);
    EXPECT_TRUE(sameOptions(next, live));
}

TEST_F(SettingsTest, MatchingRules)
{
    writeText(ini,
              "splitPvaDstFileSizeMB=100\n"
              "cutAtIFrames = 0\n"           // space before '=': no match
              "assAudioPtsOffset=  -25\n"    // spaces and a sign after '=': fine
              "saveNoAudio=+1 trailing\n"
              "CutAtIFrames=0\n"             // case matters
              "xsaveNoAVPacketHeader=1\n"    // must begin the line
              "fastBufferScan=\n"            // no number
              "assCalcNewPts=abc\n"
              "assCompleteAudioPkt=99999999999\n"   // does not fit: ignored
              "[section]\n"
              "assCompleteAPktEndOffset=7\r\n");
    ASSERT_EQ(readSettingsFile(live, ini.c_str()), 1);
    Settings expected;
    expected.splitPvaDstFileSizeMB = 100;
    expected.assAudioPtsOffset = -25;
    expected.saveNoAudio = 1;
    expected.assCompleteAPktEndOffset = 7;
    EXPECT_TRUE(sameOptions(live, expected));
}

TEST_F(SettingsTest, SplitKeysNeverTakeEachOthersLinesAndLastValueWins)
{
    writeText(ini, "splitPvaDstFile=1\nsplitPvaDstFileSizeMB=-3\nsplitPvaDstFile=0\nsplitPvaDstFile=1\n");
    ASSERT_EQ(readSettingsFile(live, ini.c_str()), 1);
    EXPECT_EQ(live.splitPvaDstFile, 1);
    EXPECT_EQ(live.splitPvaDstFileSizeMB, -3);

    Settings other;
    writeText(ini, "splitPvaDstFileSizeMB=0");   // no line end on the last line
    ASSERT_EQ(readSettingsFile(other, ini.c_str()), 1);
    EXPECT_EQ(other.splitPvaDstFile, 0);
    EXPECT_EQ(other.splitPvaDstFileSizeMB, 0);
}

TEST_F(SettingsTest, LongLinesAreReadInPieces)
{
    // The first 16383 characters of a line are one piece, the rest another; each is matched.
    std::string text = "cutAtIFrames=0" + std::string(16383 - 14, ' ') + "saveNoAudio=1\nfastBufferScan=0\n";
    writeText(ini, text);
    ASSERT_EQ(readSettingsFile(live, ini.c_str()), 1);
    EXPECT_EQ(live.cutAtIFrames, 0);
    EXPECT_EQ(live.saveNoAudio, 1);
    EXPECT_EQ(live.fastBufferScan, 0);
}

TEST_F(SettingsTest, MissingFileChangesNothingAndFailedWritesAreReported)
{
    EXPECT_EQ(readSettingsFile(live, dir.file("none.ini").c_str()), -1);
    EXPECT_TRUE(sameOptions(live, Settings{}));
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

TEST_F(SettingsTest, SingleAssignmentUsesTheFileRules)
{
    EXPECT_EQ(applySettingsLine(live, "splitPvaDstFileSizeMB=700"), 1);
    EXPECT_EQ(live.splitPvaDstFileSizeMB, 700);
    EXPECT_EQ(live.splitPvaDstFile, 0);
    EXPECT_EQ(applySettingsLine(live, "assCompleteAPktEndOffset=- 5"), -1);
    EXPECT_EQ(applySettingsLine(live, "mainWindow=1"), -1);
    EXPECT_EQ(applySettingsLine(live, "cutAtIFrames=2"), 1);   // no range check
    EXPECT_EQ(live.cutAtIFrames, 2);
}

} // namespace
