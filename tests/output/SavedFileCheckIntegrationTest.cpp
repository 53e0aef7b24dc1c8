// The check of a saved file as the window runs it: through the operation context,
// with its progress and its cancel button; and the setting that asks for it.
#include "core/LogConsole.h"
#include "core/Settings.h"
#include "cut/CutEditor.h"
#include "output/OutputWriter.h"
#include "output/SavedFileCheck.h"
#include "platform/fake/Fakes.h"
#include "source/SourceAnalyser.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

using namespace testsupport;

namespace {

// Every step a progress sink is shown.
struct RecordedProgress final : platform::ProgressSink {
    std::vector<int> shown;   // -1 started, -2 ended, else a percentage
    void running(bool started) override { shown.push_back(started ? -1 : -2); }
    void progress(int percent) override { shown.push_back(percent); }
    bool showsInfoLine() const override { return false; }
    void infoLine(const char*) override {}
};

struct CheckRig {
    ScratchDir dir{"savedcheck"};
    std::unique_ptr<LogConsole> log = std::make_unique<LogConsole>();
    std::unique_ptr<SourceAnalyser> app = std::make_unique<SourceAnalyser>(*log);
    std::unique_ptr<CutEditor> editor = std::make_unique<CutEditor>(*app);
    platform::fake::FakeOperation fake;
    RecordedProgress progress;
    std::string shown;

    // The plain assembly, whose open-GOP join the check names.
    CheckRig()
    {
        recordShown(*log, shown);
        app->settings.assCleanJoins = 0;
    }
    platform::OperationContext op() { return fake.context(progress, app->settings.cancelRequested); }
};

TEST(SavedFileCheck, ShowsItsProgressAndStopsAtTheCancelButtonLeavingTheFileAsItIs)
{
    CheckRig rig;
    ASSERT_EQ(rig.app->scanSource(sample("rec60.pva").c_str(), 0, rig.op()), 1);
    ASSERT_EQ(rig.editor->insertUnits(0, 10, 40, 0), 1);
    ASSERT_EQ(rig.editor->insertUnits(0, 60, 80, INT32_MAX), 1);
    const std::string out = rig.dir.file("new.pva");
    ASSERT_EQ(saveNewStream(*rig.editor, out.c_str(), 0, rig.op()), 1);
    const std::vector<uint8_t> saved = readBytes(out);

    rig.progress.shown.clear();
    rig.shown.clear();
    const CheckReport clean = checkSavedFile({out}, *rig.editor, 0, *rig.log, rig.op());
    EXPECT_EQ(clean.result, 0);   // the open GOP at the join
    EXPECT_EQ(clean.problems, 1u);
    EXPECT_EQ(clean.firstProblem,
              "join 1 at 00:00:14.88: 2 pictures (B B) decode differently from the same pictures of source 0");
    EXPECT_NE(rig.shown.find("check: " + clean.firstProblem + "\n"), std::string::npos) << rig.shown;
    // The progress runs from the start to the end of the output and then of the
    // sources' pictures, never back, with the window served meanwhile.
    const std::vector<int>& p = rig.progress.shown;
    ASSERT_GE(p.size(), 4u);
    EXPECT_EQ(p.front(), -1);
    EXPECT_EQ(p.back(), -2);
    for (size_t i = 2; i + 1 < p.size(); ++i) EXPECT_GE(p[i], p[i - 1]);
    EXPECT_GE(p[p.size() - 2], 95);
    EXPECT_GT(rig.fake.pump.serveCalls, 600);

    // Cancelled half way: nothing is said about the file but that it was not checked.
    rig.shown.clear();
    const int calls = rig.fake.pump.serveCalls;
    rig.fake.pump.onServe = [&](int call) {
        if (call == calls + 300) rig.app->settings.cancelRequested = 1;
    };
    const CheckReport cancelled = checkSavedFile({out}, *rig.editor, 0, *rig.log, rig.op());
    EXPECT_EQ(cancelled.result, -1);
    EXPECT_EQ(rig.app->settings.cancelRequested, 0);
    EXPECT_EQ(rig.fake.pump.serveCalls, calls + 300);
    EXPECT_EQ(rig.shown, "Check: " + out + "\ncheck: " + out + " was not checked: the check was cancelled\n");
    EXPECT_EQ(rig.progress.shown.back(), -2);
    EXPECT_EQ(readBytes(out), saved);
}

TEST(SavedFileCheck, TheSettingIsAKeyAfterTheElevenThatAnElevenLineFileLeavesUnsaid)
{
    ScratchDir dir{"checksetting"};
    std::unique_ptr<LogConsole> log = std::make_unique<LogConsole>();
    log->attachWindow(nullptr, 1001);
    const std::string eleven = "cutAtIFrames=1\nassAppendNextFrame=0\nassCompleteAudioPkt=1\nassCalcNewPts=1\n"
                               "splitPvaDstFile=0\nsaveNoAudio=0\nsaveNoAVPacketHeader=0\nassAudioPtsOffset=0\n"
                               "assCompleteAPktEndOffset=-500\nsplitPvaDstFileSizeMB=650\nfastBufferScan=1\n";
    const std::string ini = dir.file("Orvane.ini");
    writeBytes(ini, std::vector<uint8_t>(eleven.begin(), eleven.end()));
    Settings live;
    ASSERT_EQ(readSettingsFile(live, ini.c_str(), log.get()), 1);
    EXPECT_EQ(live.saveCheckAfterSave, -1);
    // Unsaid, the window checks and orvane-cli does not.
    EXPECT_TRUE(checkAfterSaveWanted(live.saveCheckAfterSave, true));
    EXPECT_FALSE(checkAfterSaveWanted(live.saveCheckAfterSave, false));
    ASSERT_EQ(writeSettingsFile(live, ini.c_str(), *log), 1);
    const std::string written = eleven + "assCleanJoins=1\n";
    EXPECT_EQ(readText(ini), written);

    // Once said, either way, it is the last line and wins over both defaults.
    for (int value : {0, 1}) {
        ASSERT_EQ(applySettingsLine(live, ("saveCheckAfterSave=" + std::to_string(value)).c_str()), 1);
        ASSERT_EQ(writeSettingsFile(live, ini.c_str(), *log), 1);
        EXPECT_EQ(readText(ini), written + "saveCheckAfterSave=" + std::to_string(value) + "\n");
        Settings again;
        ASSERT_EQ(readSettingsFile(again, ini.c_str(), log.get()), 1);
        EXPECT_EQ(again.saveCheckAfterSave, value);
        EXPECT_EQ(checkAfterSaveWanted(again.saveCheckAfterSave, true), value == 1);
        EXPECT_EQ(checkAfterSaveWanted(again.saveCheckAfterSave, false), value == 1);
    }
    EXPECT_EQ(log->length(), 0);
}

} // namespace
