// Scans and saves of generated recordings started from the window's buttons, with
// the event pump standing in for the user during the operation.
#include "shell/ShellRig.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;

namespace {

class WindowOperations : public ::testing::Test, protected ShellRig {
protected:
    void SetUp() override { start(); }
    // "Nouvelle Source PVA" on a sample; true when it was loaded.
    bool open(const std::string& name)
    {
        files.answer = sample(name);
        const int32_t before = app.sourceCount;
        EXPECT_TRUE(main().click(1054));
        return app.sourceCount == before + 1;
    }
    void addUnits(int32_t a, int32_t b)
    {
        editor.selectUnit(Pane::source, a, SelectEnd::start);
        editor.selectUnit(Pane::source, b, SelectEnd::end);
        ASSERT_TRUE(main().click(1055));
    }
    // What the pump saw at its first call: the group off, the operation's bar and
    // cancel button shown, a click on "Add " refused.
    struct Busy {
        bool seen = false, groupOff = false, barShown = false, cancelShown = false, addRefused = false;
    } busy;
    void watch(int bar, int cancel)
    {
        pump.serveCalls = 0;
        pump.onServe = [this, bar, cancel](int call) {
            if (call != 1) return;
            busy = {true, disabledGroup(), main().control(bar).visible, main().control(cancel).visible,
                    !main().click(1055)};
        };
    }
};

TEST_F(WindowOperations, AScanFromTheButtonRunsWithTheCommandsOffAndHandsTheViewerTheFile)
{
    watch(1064, 1057);
    const size_t from = mark();
    ASSERT_TRUE(open("clip.pva")) << shown();
    EXPECT_TRUE(busy.seen && busy.groupOff && busy.barShown && busy.cancelShown && busy.addRefused);
    EXPECT_TRUE(enabledGroup());
    EXPECT_FALSE(main().control(1064).visible || main().control(1057).visible);
    EXPECT_EQ(files.requests.at(0).title, "set PVA file");
    const std::string name = sample("clip.pva");
    EXPECT_EQ(describeSince(from), (std::vector<std::string>{"send 1024 0 0", "send 74 4097 0 [1:" + name + std::string(1, '\0') + "]",
                                                             "send 1028 0 0"}));
    main().paint();
    EXPECT_EQ(main().control(1067).text, "Source PVA:  Nr.0   File: " + name);

    // A cancelled file dialog scans nothing and sends only the file change.
    files.cancel = true;
    const size_t again = mark();
    main().click(1054);
    EXPECT_EQ(app.sourceCount, 1);
    EXPECT_EQ(describeSince(again), std::vector<std::string>{"send 1024 0 0"});
    EXPECT_TRUE(enabledGroup());
}

// A file without a single packet is refused as a recording: no slot, no source
// line over empty cells; the next recording opened is source 0.
TEST_F(WindowOperations, AFileWithoutPacketsTakesNoSlot)
{
    ScratchDir dir("nopackets");
    const std::string es = dir.file("video.m2v");
    writeBytes(es, concat({gopHeader(0), pictureHeader(1), std::vector<uint8_t>(3000, 0x55)}));
    files.answer = es;
    EXPECT_TRUE(main().click(1054));
    EXPECT_EQ(app.sourceCount, 0);
    EXPECT_NE(shown().find("ERROR: " + es + " is not a PVA recording: no AV packet found\r\n"), std::string::npos)
        << shown();
    main().paint();
    EXPECT_EQ(main().control(1067).text.find("Source PVA"), std::string::npos) << main().control(1067).text;
    EXPECT_TRUE(enabledGroup());
    ASSERT_TRUE(open("clip.pva")) << shown();
    main().paint();
    EXPECT_EQ(main().control(1067).text, "Source PVA:  Nr.0   File: " + sample("clip.pva"));
}

TEST_F(WindowOperations, TheCancelButtonStopsAScanHalfWay)
{
    pump.onServe = [this](int call) {
        if (call == 40) {
            EXPECT_TRUE(main().click(1057));
        }
    };
    EXPECT_FALSE(open("rec60.pva"));
    EXPECT_EQ(pump.serveCalls, 40);
    EXPECT_EQ(app.settings.cancelRequested, 0);
    EXPECT_TRUE(enabledGroup());
    EXPECT_FALSE(main().control(1064).visible || main().control(1057).visible);
    pump.onServe = nullptr;
    EXPECT_TRUE(open("clip.pva")) << "the next scan runs to its end";
}

TEST_F(WindowOperations, SavesRunWithTheCommandsOffAndCanBeCancelled)
{
    ASSERT_TRUE(open("rec60.pva"));
    addUnits(0, 20);
    const std::string out = dir.file("new.pva");
    files.answer = out;
    watch(1065, 1058);
    const size_t from = mark();
    main().slide(1099, 6);
    ASSERT_TRUE(main().click(1070));
    EXPECT_TRUE(busy.seen && busy.groupOff && busy.barShown && busy.cancelShown && busy.addRefused);
    EXPECT_EQ(context.playState, 1) << "saving does not stop playing";
    EXPECT_GT(std::filesystem::file_size(out), 1000000u);
    EXPECT_TRUE(enabledGroup());
    EXPECT_TRUE(main().control(1072).enabled && !main().control(1073).enabled) << "the add can be undone, nothing redone";
    const auto m = describeSince(from);
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0], "send 1024 0 0");
    EXPECT_EQ(m[1].substr(0, 15), "send 74 4097 0 ");

    // "Sauver" knows the name by now and asks for none.
    const uintmax_t whole = std::filesystem::file_size(out);
    std::filesystem::remove(out);
    main().click(1071);
    EXPECT_EQ(files.requests.size(), 2u);
    EXPECT_EQ(std::filesystem::file_size(out), whole);

    // "Sauver Sélection", cancelled from its button half way.
    editor.selectUnit(Pane::list, 0, SelectEnd::start);
    editor.selectUnit(Pane::list, 15, SelectEnd::end);
    const std::string part = dir.file("part.pva");
    files.answer = part;
    pump.serveCalls = 0;
    pump.onServe = [this](int call) {
        if (call == 30) {
            EXPECT_TRUE(main().click(1058));
        }
    };
    main().click(1075);
    EXPECT_EQ(files.requests.size(), 3u);
    EXPECT_EQ(pump.serveCalls, 30);
    EXPECT_EQ(app.settings.cancelRequested, 0);
    EXPECT_FALSE(main().control(1065).visible || main().control(1058).visible);
    EXPECT_TRUE(enabledGroup());
    EXPECT_LT(testsupport::fileExists(part) ? std::filesystem::file_size(part) : 0, whole / 2);
}

TEST_F(WindowOperations, ClosingTheWindowDuringAScanCancelsItFirstAndClosesAfter)
{
    bool openDuringScan = false;
    pump.onServe = [&](int call) {
        if (call != 25) return;
        main().sendClose();   // the window system's close; the button is disabled
        openDuringScan = !main().destroyed && main().control(1064).visible;
    };
    FakeWindow& w = main();
    files.answer = sample("rec60.pva");
    w.click(1054);
    EXPECT_TRUE(openDuringScan);
    EXPECT_EQ(pump.serveCalls, 25);
    EXPECT_EQ(app.sourceCount, 0);
    EXPECT_FALSE(w.control(1064).visible) << "the scan cleaned up before the window went";
    EXPECT_TRUE(w.destroyed);
    EXPECT_EQ(app.settings.cancelRequested, 0);
    int code = -1;
    EXPECT_TRUE(queue.quitPosted(code));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(describe(viewer.messages().back()), "post 16 0 0");
}

TEST_F(WindowOperations, ANewCutRuleIsRefusedWhileAScanOrASaveRuns)
{
    ASSERT_TRUE(open("clip.pva"));
    addUnits(0, 3);
    main().click(1027);
    const char* refusal = "ERROR: the cut rule can't change while a scan or a save runs; the options were not applied\r\n";
    pump.serveCalls = 0;
    pump.onServe = [&](int call) {
        if (call != 3) return;
        setup()->click(1055);
        setup()->click(1003);   // applies and would save the options
        setup()->click(1001);
    };
    EXPECT_TRUE(open("clip.pva"));
    EXPECT_EQ(app.settings.cutAtIFrames, 1);
    EXPECT_EQ(app.sourceCount, 2);
    EXPECT_NE(shown().find(refusal), std::string::npos);
    EXPECT_FALSE(testsupport::fileExists(ini));

    // Under a save, the same; afterwards the change goes through.
    main().click(1027);
    files.answer = dir.file("cut.pva");
    pump.serveCalls = 0;
    pump.onServe = [&](int call) {
        if (call != 2) return;
        setup()->click(1055);
        setup()->click(1003);
    };
    console.clear();
    main().click(1070);
    EXPECT_NE(shown().find(refusal), std::string::npos);
    EXPECT_EQ(app.settings.cutAtIFrames, 1);
    EXPECT_TRUE(testsupport::fileExists(dir.file("cut.pva")));
    setup()->click(1001);
    EXPECT_EQ(app.settings.cutAtIFrames, 0);
    EXPECT_EQ(app.sourceCount, 0);
}

} // namespace

namespace {

TEST(StartUpScan, RunsWithTheCommandsOffAndAnEarlyCloseEndsIt)
{
    ShellRig rig;
    bool groupOff = false;
    rig.pump.onServe = [&](int call) {
        if (call == 1) groupOff = rig.disabledGroup();
        if (call == 20) rig.main().sendClose();
    };
    EXPECT_EQ(rig.start("\"" + sample("rec60.pva") + "\""), 0);
    EXPECT_TRUE(groupOff) << "no second scan can start into the slot being filled";
    EXPECT_TRUE(rig.windows.windows.at(0)->destroyed);
    EXPECT_EQ(rig.app.sourceCount, 0);
    EXPECT_EQ(rig.describeSince(0), std::vector<std::string>{"post 16 0 0"});
}

} // namespace
