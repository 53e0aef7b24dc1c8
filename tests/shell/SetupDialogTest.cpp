#include "shell/ShellRig.h"
#include "support/SyntheticSource.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

class SetupDialogTest : public ::testing::Test, protected ShellRig {
protected:
    void SetUp() override
    {
        start();
        ASSERT_EQ(SyntheticSource().gops(6).load(app, 0), 1);
        editor.selectUnit(Pane::source, 0, SelectEnd::start);
        editor.selectUnit(Pane::source, 3, SelectEnd::end);
        ASSERT_EQ(editor.insertSrcPicPkts(true), 1);
        ASSERT_TRUE(main().click(1027));
        ASSERT_NE(setup(), nullptr);
    }
    FakeWindow& dialog() { return *setup(); }
    FakeControl& box(int id) { return dialog().control(id); }
    bool on(int id) { return box(id).enabled; }
};

TEST_F(SetupDialogTest, OpensOnceShowingTheLiveOptions)
{
    EXPECT_EQ(dialog().title, "Orvane Setup");
    EXPECT_TRUE(dialog().visible);
    EXPECT_FALSE(box(1055).checked);
    EXPECT_TRUE(box(1058).checked);
    EXPECT_TRUE(box(1059).checked && box(1061).checked && box(1068).checked);
    EXPECT_FALSE(box(1060).checked || box(1063).checked || box(1066).checked || box(1067).checked);
    EXPECT_EQ(box(1062).text, "0");
    EXPECT_EQ(box(1065).text, "-500");
    EXPECT_EQ(box(1064).text, "650");
    EXPECT_TRUE(on(1060) && on(1059) && on(1061) && on(1062) && on(1065) && on(1064));

    ASSERT_TRUE(main().click(1027));
    EXPECT_EQ(windows.windows.size(), 2u) << "a second Setup does nothing";
    EXPECT_EQ(shell.setupDialog().open(), -1);
}

TEST_F(SetupDialogTest, TheCutBoxesActAsARadioPairAndSwitchTheAssemblyOptions)
{
    ASSERT_TRUE(dialog().click(1055));
    EXPECT_EQ(context.workingCopy.cutAtIFrames, 0);
    EXPECT_TRUE(box(1055).checked);
    EXPECT_FALSE(box(1058).checked);
    EXPECT_FALSE(on(1060) || on(1059) || on(1061) || on(1062) || on(1065));
    EXPECT_TRUE(on(1064));

    dialog().click(1058);
    EXPECT_EQ(context.workingCopy.cutAtIFrames, 1);
    EXPECT_FALSE(box(1055).checked);
    EXPECT_TRUE(on(1060) && on(1062));
    dialog().click(1061);   // no new time stamps: no offsets
    EXPECT_EQ(context.workingCopy.assCalcNewPts, 0);
    EXPECT_TRUE(on(1060) && !on(1062) && !on(1065));

    for (int id : {1060, 1059, 1063, 1066, 1067, 1068}) dialog().click(id);
    const Settings& c = context.workingCopy;
    EXPECT_EQ(std::vector<int>({c.assAppendNextFrame, c.assCompleteAudioPkt, c.splitPvaDstFile, c.saveNoAudio,
                                c.saveNoAVPacketHeader, c.fastBufferScan}),
              std::vector<int>({1, 0, 1, 1, 1, 0}));
    EXPECT_EQ(app.settings.saveNoAudio, 0) << "nothing is applied before OK";
}

TEST_F(SetupDialogTest, NumbersAreTakenOnlyWhenTheyAreWholeIntegers)
{
    dialog().type(1064, "700");
    dialog().type(1064, "700x");
    // Split sizes below 4 MB are refused where settings are read: kept out here too.
    dialog().type(1064, "3");
    dialog().type(1064, "-8");
    dialog().type(1062, "-");
    dialog().type(1062, "-120");
    dialog().type(1065, "");
    dialog().type(1065, "99999999999");
    EXPECT_EQ(context.workingCopy.splitPvaDstFileSizeMB, 700);
    EXPECT_EQ(context.workingCopy.assAudioPtsOffset, -120);
    EXPECT_EQ(context.workingCopy.assCompleteAPktEndOffset, -500);
    dialog().click(1001);
    EXPECT_EQ(setup(), nullptr);
    EXPECT_EQ(app.settings.splitPvaDstFileSizeMB, 700);
    EXPECT_EQ(app.settings.assAudioPtsOffset, -120);
}

TEST_F(SetupDialogTest, OkEmptiesSourcesAndListOnlyWhenTheCutRuleChanged)
{
    dialog().click(1066);
    dialog().click(1001);
    EXPECT_EQ(app.settings.saveNoAudio, 1);
    EXPECT_EQ(app.sourceCount, 1);
    EXPECT_EQ(editor.currentList().count, 4);
    EXPECT_EQ(editor.attachedWindow(), &main()) << "applying the options leaves the window's controls in place";

    main().click(1027);
    dialog().click(1055);
    dialog().click(1001);
    EXPECT_EQ(app.settings.cutAtIFrames, 0);
    EXPECT_EQ(app.sourceCount, 0);
    EXPECT_EQ(editor.currentList().count, 0);
    EXPECT_EQ(editor.history->levelCount, 0);
}

TEST_F(SetupDialogTest, AnnulerDropsTheEditsAndSaveOptionsWritesTheFileAndStaysOpen)
{
    dialog().click(1067);
    dialog().type(1064, "100");
    dialog().click(1002);
    EXPECT_EQ(setup(), nullptr);
    EXPECT_EQ(app.settings.saveNoAVPacketHeader, 0);
    main().click(1027);
    EXPECT_FALSE(box(1067).checked);
    EXPECT_EQ(box(1064).text, "650");

    dialog().click(1063);
    dialog().click(1003);
    EXPECT_NE(setup(), nullptr);
    EXPECT_EQ(app.settings.splitPvaDstFile, 1);
    EXPECT_NE(readText(ini).find("splitPvaDstFile=1\n"), std::string::npos);
    dialog().click(1002);
    EXPECT_EQ(app.settings.splitPvaDstFile, 1);
}

// "Raccords propres" shows assCleanJoins and goes into Orvane.ini after the eleven
// keys; the file read back (as at the next start) gives it again.
TEST_F(SetupDialogTest, TheCleanJoinsBoxIsStoredAfterTheElevenAndReadBack)
{
    EXPECT_FALSE(box(1069).checked) << "the rig runs with clean joins off";
    for (int value : {1, 0}) {
        dialog().click(1069);
        EXPECT_EQ(box(1069).checked, value == 1);
        dialog().click(1003);
        EXPECT_EQ(app.settings.assCleanJoins, value);
        const std::string text = readText(ini);
        EXPECT_EQ(text.substr(text.find("fastBufferScan=")), "fastBufferScan=1\nassCleanJoins=" + std::to_string(value) + "\n");
        Settings read;
        read.assCleanJoins = 1 - value;
        ASSERT_EQ(readSettingsFile(read, ini.c_str()), 1);
        EXPECT_EQ(read.assCleanJoins, value);
    }
}

// "Réencoder aux coupes" shows saveRecodeAtCuts; Orvane.ini names it only while it is 0,
// so a file saved with it on (the default) is the one saved before the box existed.
TEST_F(SetupDialogTest, TheRecodeBoxIsStoredOnlyWhileSetAndReadBack)
{
    EXPECT_TRUE(box(1071).checked);
    dialog().click(1003);
    const std::string before = readText(ini);
    EXPECT_EQ(before.find("saveRecodeAtCuts"), std::string::npos);
    for (int value : {0, 1}) {
        dialog().click(1071);
        EXPECT_EQ(box(1071).checked, value == 1);
        dialog().click(1003);
        EXPECT_EQ(app.settings.saveRecodeAtCuts, value);
        const std::string text = readText(ini);
        EXPECT_EQ(text, value ? before : before + "saveRecodeAtCuts=0\n");
        Settings read;
        ASSERT_EQ(readSettingsFile(read, ini.c_str()), 1);
        EXPECT_EQ(read.saveRecodeAtCuts, value);
    }
}

TEST_F(SetupDialogTest, ACancelButtonRefreshesTheCopyAndItsFlagIsNotAppliedLater)
{
    dialog().click(1066);
    // A scan would show the cancel button; its click puts the live options back
    // into the copy and the dialog.
    main().control(1057).visible = true;
    ASSERT_TRUE(main().click(1057));
    EXPECT_EQ(app.settings.cancelRequested, 1);
    EXPECT_EQ(context.workingCopy.saveNoAudio, 0);
    EXPECT_FALSE(box(1066).checked);
    app.settings.cancelRequested = 0;   // the scan took it

    dialog().click(1068);
    dialog().click(1001);
    EXPECT_EQ(app.settings.fastBufferScan, 0);
    EXPECT_EQ(app.settings.cancelRequested, 0) << "a stale cancel would stop the next scan at once";
}

TEST_F(SetupDialogTest, ADialogThatCannotBeMadeIsReportedAndCanBeTriedAgain)
{
    dialog().click(1002);
    windows.failCreations = 1;
    main().click(1027);
    ASSERT_EQ(messageBox.shown.size(), 1u);
    EXPECT_EQ(messageBox.shown[0].caption, "ERROR");
    EXPECT_EQ(messageBox.shown[0].text, "Can't create dialog window");
    EXPECT_EQ(setup(), nullptr);
    main().click(1027);
    EXPECT_NE(setup(), nullptr);
}

TEST_F(SetupDialogTest, AnyClickOnTheBackgroundDragsTheDialog)
{
    FakeWindow& d = dialog();
    d.topLeft = {10, 10};
    d.leftDown({50, 60});
    d.moveMouse({70, 65}, true);
    EXPECT_EQ(d.topLeft, (platform::Point{30, 15}));
    d.leftUp({70, 65});
    EXPECT_FALSE(d.captured);
    d.sendClose();
    EXPECT_EQ(setup(), nullptr);
    EXPECT_FALSE(shell.setupDialog().isOpen());
}

} // namespace
