#include "core/Settings.h"

#include "core/LogConsole.h"
#include "platform/fake/Fakes.h"
#include "platform/fake/FaultySystemCalls.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
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

// The settings file is written as the outputs are: beside it, put in its place
// when complete. A full disk leaves the earlier settings; a link is written
// through with the file's permissions kept. Only a regular file of a sane size is
// read, and what is not read is said.
TEST_F(SettingsTest, WrittenWhollyOrNotAtAllAndReadOnlyFromARegularFile)
{
    namespace fs = std::filesystem;
    Settings changed;
    changed.saveNoAudio = 1;
    changed.splitPvaDstFileSizeMB = 100;
    const std::string earlier = textOf(changed);
    ASSERT_EQ(writeSettingsFile(changed, ini.c_str(), *log), 1);
    auto entries = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const auto before = entries();
    for (int64_t failAfter : {0, 40}) {
        fileAccessProbe().failWriteAfterBytes = failAfter;
        EXPECT_EQ(writeSettingsFile(Settings{}, ini.c_str(), *log), -1);
        fileAccessProbe().reset();
        EXPECT_STREQ(log->text(), ("ERROR: can't write " + ini + "\r\n").c_str());
        log->clear();
        EXPECT_EQ(testsupport::readText(ini), earlier) << failAfter;
        EXPECT_EQ(entries(), before) << "nothing unfinished stays";
    }

    // Through a link, into its target, which keeps its permission bits.
    fs::create_directory(dir.file("real"));
    const std::string real = dir.file("real/settings.ini");
    testsupport::writeBytes(real, {'x'});
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write);
    const std::string link = dir.file("link.ini");
    fs::create_symlink(real, link);
    ASSERT_EQ(writeSettingsFile(changed, link.c_str(), *log), 1) << log->text();
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(testsupport::readText(real), earlier);
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

    // A directory, a file far too large to be settings: defaults kept, each said.
    const std::string folder = dir.file("folder.ini");
    fs::create_directory(folder);
    std::string huge = "saveNoAudio=1\n";
    huge.resize(2 * 1048576, '#');
    const std::string big = dir.file("big.ini");
    testsupport::writeBytes(big, std::vector<uint8_t>(huge.begin(), huge.end()));
    EXPECT_EQ(readSettingsFile(live, folder.c_str(), log.get()), -1);
    EXPECT_EQ(readSettingsFile(live, big.c_str(), log.get()), -1);
    EXPECT_EQ(textOf(live), textOf(Settings{}));
    EXPECT_STREQ(log->text(), ("ERROR: " + folder + " ignored: it is a directory\r\nERROR: " + big +
                               " ignored: it is larger than 1048576 bytes\r\n")
                                  .c_str());
    // A long line is still read in pieces, as lines of text are.
    log->clear();
    ASSERT_EQ(read(std::string(16383, '#') + "saveNoAudio=1\n", log.get()), 1);
    EXPECT_EQ(live.saveNoAudio, 1);
    EXPECT_EQ(log->length(), 0);
}

} // namespace
