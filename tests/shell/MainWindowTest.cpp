#include "shell/ProductTexts.h"
#include "shell/ShellRig.h"
#include "support/SyntheticSource.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace testsupport;
using platform::Point;
using platform::Rect;

namespace {

// The console keeps CR LF line breaks once it shows in the window.
std::string crlf(std::string s)
{
    for (size_t at = 0; (at = s.find('\n', at)) != std::string::npos; at += 2) s.insert(at, "\r");
    return s;
}

// One unit of the synthetic sources: 12 pictures of 4 packets, 3032 bytes each.
constexpr uint32_t unitBytes = 12 * 3032;

class MainWindow : public ::testing::Test, protected ShellRig {
protected:
    // Source `slot` with `units` cut units, shown in a painted window.
    SourceStream& load(int slot, int units, const std::string& name)
    {
        EXPECT_EQ(SyntheticSource().gops(units + 1).load(app, slot), 1);
        app.sources[slot].fileName = name;
        main().paint();
        main().takeInvalidations();
        return app.sources[slot];
    }
    std::vector<Rect> invalidatedRects()
    {
        std::vector<Rect> out;
        for (const auto& i : main().takeInvalidations()) {
            EXPECT_TRUE(i.erase);
            out.push_back(i.rect);
        }
        return out;
    }
    Rect sourcePane() const { return context.views.sourcePaneRect(); }
    Rect listPane() const { return context.views.listPaneRect(); }
    std::vector<uint32_t> viewerTimes(size_t from) const
    {
        std::vector<uint32_t> out;
        for (const auto& c : messagesSince(from)) out.push_back(c.at);
        return out;
    }
};

TEST_F(MainWindow, StartUpBuildsTheWindowInOrderAndThenWaits)
{
    writeBytes(ini, {'c', 'u', 't', 'A', 't', 'I', 'F', 'r', 'a', 'm', 'e', 's', '=', '0', '\n'});
    EXPECT_EQ(start(), queue.idleQuitCode);
    FakeWindow& w = main();
    EXPECT_TRUE(w.visible);
    EXPECT_EQ(w.title, productLine);
    EXPECT_EQ(shown(), crlf(std::string(productLine) + contactLine + viewerCredit + viewerSource
                            + "note: pva files of 4GB and more can be cut\n"));
    EXPECT_EQ(w.control(1001).text, shown());

    const std::vector<int> hidden = {1057, 1064, 1058, 1065, 1056, 1059, 1061, 1033, 1031,
                                     1037, 1080, 1032, 1036, 1038, 1020, 1024, 1023};
    for (auto& [id, control] : w.controls)
        EXPECT_EQ(control->visible, std::find(hidden.begin(), hidden.end(), id) == hidden.end()) << id;
    EXPECT_EQ(w.control(1099).rangeHigh, 10);
    EXPECT_EQ(w.control(1099).position, 5);
    EXPECT_EQ(w.bar(1051).current.max, 100000);
    EXPECT_EQ(w.bar(1052).current.page, 100000);

    // The settings file was read, and the window's controls went where they are shown on.
    EXPECT_EQ(app.settings.cutAtIFrames, 0);
    EXPECT_EQ(editor.attachedWindow(), &w);
    EXPECT_EQ(context.scanProgress.bar(), &w.control(1064));
    EXPECT_EQ(context.scanProgress.cancelButton(), &w.control(1057));
    EXPECT_EQ(context.scanProgress.line(), &w.control(1067));
    EXPECT_EQ(context.saveProgress.bar(), &w.control(1065));
    EXPECT_EQ(context.saveProgress.cancelButton(), &w.control(1058));
    EXPECT_EQ(context.saveProgress.line(), &w.control(1068));
    EXPECT_EQ(context.views.listInfoLine(), &w.control(1068));
    EXPECT_FALSE(w.control(1072).enabled || w.control(1073).enabled);

    // Each tip keeps its text on its first line; the command's keys follow.
    EXPECT_EQ(w.control(1055).toolTip, "add selected source pva mpeg packets to the end of the new pva\nkey: Enter");
    EXPECT_EQ(w.control(1029).toolTip, "switches the source *.pva files\nkey: Ctrl+Page Up");
    EXPECT_EQ(w.control(1020).toolTip, "show the player dialog and open the saved new *.pva file");
    EXPECT_EQ(w.control(1027).toolTip, "key: F2");

    // A running viewer is only looked for; nothing is sent without a source.
    EXPECT_EQ(viewer.count("find"), 1);
    EXPECT_TRUE(viewer.messages().empty());
    EXPECT_EQ(w.invalidations.back().whole, true);
}

TEST_F(MainWindow, StartUpFailsWithAMessageBoxWhenTheWindowCannotBeMade)
{
    windows.failCreations = 1;
    EXPECT_EQ(start(), 0);
    ASSERT_EQ(messageBox.shown.size(), 1u);
    EXPECT_EQ(messageBox.shown[0].caption, "ERROR");
    EXPECT_EQ(messageBox.shown[0].text, "Can't create main dialog window");
    EXPECT_TRUE(viewer.calls.empty());
}

TEST_F(MainWindow, AMissingViewerIsStartedAndWaitedForOrReported)
{
    viewer.running = false;
    viewer.findsBeforeWindow = 3;
    start();
    EXPECT_EQ(viewer.calls[1].what, "start");
    EXPECT_EQ(viewer.calls[1].program, "DVD2AVI_PVAVIEW");
    EXPECT_EQ(viewer.count("find"), 1 + 4);
    EXPECT_EQ(clock.slept, 3 * 50u);
    EXPECT_NE(shown().find("Starting: DVD2AVI_PVAVIEW\r\n"), std::string::npos);

    ShellRig broken;
    broken.viewer.running = false;
    broken.viewer.startSucceeds = false;
    EXPECT_EQ(broken.start(), broken.queue.idleQuitCode);
    EXPECT_NE(broken.shown().find(crlf(std::string("ERROR: Can't start DVD2AVI_PVAVIEW\n") + viewerSource)),
              std::string::npos);

    ShellRig silent;
    silent.viewer.running = false;
    silent.viewer.startedViewerAppears = false;
    silent.start();
    EXPECT_EQ(silent.viewer.count("find"), 1 + 100);
    EXPECT_EQ(silent.clock.slept, 5000u);
    EXPECT_NE(silent.shown().find("ERROR: Can't find DVB-Viewer\r\n"), std::string::npos);
}

// A viewer that could not be started is not started again on every scroll step (each
// start would hold the window for the whole wait): only after the file changes or
// after a minute.
TEST_F(MainWindow, AFailedViewerStartIsRememberedUntilTheFileChangesOrAMinutePassed)
{
    viewer.running = false;
    viewer.startedViewerAppears = false;
    start();
    EXPECT_EQ(viewer.count("start"), 1);
    EXPECT_EQ(clock.slept, 5000u);
    for (int k = 0; k < 3; ++k) main().scroll(1051, platform::scrollLineRight);
    EXPECT_EQ(viewer.count("start"), 1);
    EXPECT_EQ(clock.slept, 5000u);
    EXPECT_EQ(viewer.count("post"), 3);

    context.viewer.notifyViewerFileChange();
    main().scroll(1051, platform::scrollLineRight);
    EXPECT_EQ(viewer.count("start"), 2);
    main().scroll(1051, platform::scrollLineRight);
    EXPECT_EQ(viewer.count("start"), 2);
    clock.now += ViewerLink::retryAfterMs;
    main().scroll(1051, platform::scrollLineRight);
    EXPECT_EQ(viewer.count("start"), 3);
    // Once it is there, it is looked for as before.
    viewer.running = true;
    main().scroll(1051, platform::scrollLineRight);
    EXPECT_EQ(viewer.count("start"), 3);
}

// A viewer that is there but does not answer: a switch of the source holds the window
// for the waits in front of the first messages only (200 + 200 ms, not 200 + 200 +
// 200 + 600 + 200), and the position is not sent after a file that was not taken.
TEST_F(MainWindow, AViewerThatDoesNotAnswerDoesNotHoldTheWindowForTheWholeExchange)
{
    start();
    load(0, 20, "/rec/a.pva");
    viewer.answers = false;
    const auto before = clock.slept;
    const size_t from = mark();
    main().click(1029);
    EXPECT_EQ(clock.slept - before, 400u);
    ASSERT_EQ(messagesSince(from).size(), 2u);
    EXPECT_EQ(messagesSince(from)[0].message.number, platform::viewerMessageFileChange);
    EXPECT_EQ(messagesSince(from)[1].message.number, platform::viewerMessageFile);
    // Answering again, the exchange is the whole one.
    viewer.answers = true;
    const auto again = clock.slept;
    main().click(1029);
    EXPECT_EQ(clock.slept - again, 1400u);
}

TEST(CommandLine, TheArgumentsAreOneFileNameWithoutItsOuterQuotes)
{
    EXPECT_EQ(commandLineText({"/tmp/my", "rec.pva"}), "/tmp/my rec.pva");
    ScratchDir dir("cmdline");
    const std::string path = dir.file("my rec.pva");
    PacketBuilder b;
    for (uint32_t g = 0; g < 4; ++g)
        b.videoPts(g * 10800, concat({gopHeader(0), pictureHeader(1), std::vector<uint8_t>(16, 0xFF)}))
            .videoPts(g * 10800 + 3600, concat({pictureHeader(2), std::vector<uint8_t>(16, 0xFF)}));
    writeBytes(path, b.bytes);

    for (const std::string& line : {"\"" + path + "\"", path}) {
        ShellRig rig;
        rig.start(line);
        EXPECT_NE(rig.shown().find(crlf(line + "\n" + path + "\n")), std::string::npos) << rig.shown();
        ASSERT_EQ(rig.app.sourceCount, 1);
        EXPECT_EQ(rig.app.sources[0].fileName, path);
        // The file and the position of the unit at the cursor, a second apart.
        const auto m = rig.viewer.messages();
        ASSERT_EQ(m.size(), 2u);
        EXPECT_EQ(ShellRig::describe(m[0]), "send 74 4097 0 [1:" + path + std::string(1, '\0') + "]");
        EXPECT_EQ(m[0].message.data.size(), path.size() + 1);
        EXPECT_EQ(ShellRig::describe(m[1]), "send 1028 0 0");
        EXPECT_EQ(m[1].at - m[0].at, 600u);
        EXPECT_TRUE(rig.enabledGroup());
    }

    ShellRig quote;
    quote.start("\"");
    EXPECT_NE(quote.shown().find("\"\r\n\r\n"), std::string::npos) << quote.shown();
    EXPECT_NE(quote.shown().find("ERROR: can't read \r\n"), std::string::npos) << quote.shown();
    EXPECT_EQ(quote.app.sourceCount, 0);
    EXPECT_TRUE(quote.viewer.messages().empty());

    ShellRig none;
    none.start("");
    EXPECT_EQ(none.shown().find("ERROR"), std::string::npos);
}

TEST_F(MainWindow, ListCommandsEditAndRedrawTheListPane)
{
    start();
    load(0, 10, "/rec/a.pva");
    editor.selectUnit(Pane::source, 2, SelectEnd::start);
    editor.selectUnit(Pane::source, 4, SelectEnd::end);
    const size_t from = mark();
    auto units = [&] {
        std::vector<int32_t> u;
        for (int32_t k = 0; k < editor.currentList().count; ++k) u.push_back(editor.currentList().unit[k]);
        return u;
    };

    ASSERT_TRUE(main().click(1055));
    EXPECT_EQ(invalidatedRects(), std::vector<Rect>{listPane()});
    editor.currentListForEdit().cursor = 1;
    main().click(1060);
    EXPECT_EQ(units(), (std::vector<int32_t>{2, 2, 3, 4, 3, 4}));
    editor.selectUnit(Pane::list, 0, SelectEnd::start);
    editor.selectUnit(Pane::list, 3, SelectEnd::end);
    main().click(1069);
    EXPECT_EQ(units(), (std::vector<int32_t>{3, 4}));
    main().click(1072);
    EXPECT_EQ(units().size(), 6u);
    EXPECT_TRUE(main().control(1073).enabled);
    main().click(1073);
    EXPECT_EQ(units().size(), 2u);
    main().click(1074);
    EXPECT_TRUE(units().empty());
    EXPECT_EQ(invalidatedRects(), std::vector<Rect>(5, listPane()));
    EXPECT_TRUE(messagesSince(from).empty());
    // Notifications other than a click do nothing.
    main().handler.onCommand(1072, platform::commandEditChanged);
    EXPECT_TRUE(units().empty());
}

TEST_F(MainWindow, SwitchingSourcesStopsPlayingAndHandsTheViewerTheNewFile)
{
    start();
    load(0, 10, "/rec/a.pva");
    load(1, 4, "/rec/b.pva").cursor = 2;
    app.currentSource = 0;
    main().slide(1099, 8);
    EXPECT_EQ(context.playState, 1);
    const size_t from = mark();
    const uint32_t t0 = clock.now;
    ASSERT_TRUE(main().click(1030));
    EXPECT_EQ(app.currentSource, 1);
    EXPECT_EQ(context.playState, 0);
    EXPECT_EQ(main().control(1099).position, 5);
    EXPECT_EQ(main().bar(1051).current.page, 25000);
    EXPECT_EQ(main().bar(1051).current.pos, 50000);
    EXPECT_EQ(describeSince(from), (std::vector<std::string>{"send 1024 0 0", "send 74 4097 0 [1:/rec/b.pva" + std::string(1, '\0') + "]",
                                                             "send 1028 0 " + std::to_string(2 * unitBytes)}));
    EXPECT_EQ(viewerTimes(from), (std::vector<uint32_t>{t0 + 200, t0 + 600, t0 + 1200}));
    EXPECT_EQ(clock.now, t0 + 1400);
    EXPECT_EQ(invalidatedRects(), std::vector<Rect>{sourcePane()});

    main().click(1030);   // already the last source: stays, still tells the viewer
    EXPECT_EQ(app.currentSource, 1);
    main().click(1029);
    EXPECT_EQ(app.currentSource, 0);
}

TEST_F(MainWindow, ViewerButtonsPostTheirMessages)
{
    start();
    const size_t from = mark();
    for (int id : {1084, 1085, 1081, 1082, 1022, 1083, 1083}) ASSERT_TRUE(main().click(id)) << id;
    EXPECT_EQ(describeSince(from),
              (std::vector<std::string>{"post 1031 1 1", "post 1031 3 4", "post 1031 1 2", "post 1031 1 4", "post 1031 4 1",
                                        "post 1032 1 4", "post 1032 0 4"}));
    // Nothing was sent without a source, and no control without a command takes a click.
    for (int id : {1020, 1023, 1024, 1031, 1032, 1033, 1036, 1037, 1038, 1061, 1080}) EXPECT_FALSE(main().click(id)) << id;
}

TEST_F(MainWindow, AboutMinimiseAndClose)
{
    start();
    const int scrolled = main().control(1001).scrolledLines;
    main().click(1026);
    EXPECT_EQ(shown(), crlf(aboutText));
    EXPECT_EQ(main().control(1001).scrolledLines, scrolled) << "the about text shows from its first line";
    main().click(1034);
    EXPECT_EQ(main().minimiseCalls, 1);

    main().slide(1099, 9);
    FakeWindow& w = main();
    const size_t from = mark();
    ASSERT_TRUE(w.click(1035));
    EXPECT_EQ(context.playState, 0);
    EXPECT_EQ(w.control(1099).position, 9);
    EXPECT_TRUE(w.destroyed);
    EXPECT_EQ(describeSince(from), std::vector<std::string>{"post 16 0 0"});
    int code = -5;
    EXPECT_TRUE(queue.quitPosted(code));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(context.scanProgress.bar(), nullptr);
    EXPECT_EQ(context.saveProgress.line(), nullptr);
    EXPECT_EQ(editor.attachedWindow(), nullptr);
    EXPECT_EQ(context.views.listInfoLine(), nullptr);
    EXPECT_EQ(editor.updateUndoButtons(), -1);
    console.write("after the window\n", 1);   // reaches no control of the closed window
    EXPECT_EQ(w.control(1001).text.find("after the window"), std::string::npos);
}

TEST_F(MainWindow, SourceScrollActionsMoveThePaneAndPostThePosition)
{
    start();
    SourceStream& src = load(0, 100, "/rec/a.pva");
    src.cursor = 98;
    size_t from = mark();
    main().scroll(1051, platform::scrollLineRight);
    EXPECT_EQ(src.cursor, 99);
    EXPECT_EQ(invalidatedRects(), std::vector<Rect>{sourcePane()});
    main().scroll(1051, platform::scrollLineRight);   // at the end: no redraw, still posted
    EXPECT_TRUE(invalidatedRects().empty());
    main().scroll(1051, platform::scrollThumbPosition);
    main().scroll(1051, platform::scrollEnd);
    EXPECT_EQ(describeSince(from), std::vector<std::string>(2, "post 1028 0 " + std::to_string(99 * unitBytes)));

    // Page steps and the thumb stop playing; the arrows do not.
    main().slide(1099, 6);
    main().scroll(1051, platform::scrollLineLeft);
    EXPECT_EQ(context.playState, 1);
    main().scroll(1051, platform::scrollPageLeft);
    EXPECT_EQ(context.playState, 0);
    EXPECT_EQ(main().control(1099).position, 5);
    EXPECT_EQ(src.cursor, 93);
    main().bar(1051).track = 50000;
    main().scroll(1051, platform::scrollThumbTrack);
    EXPECT_EQ(src.cursor, 50);

    // The list bar moves the list only and never involves the viewer.
    editor.selectUnit(Pane::source, 0, SelectEnd::start);
    editor.selectUnit(Pane::source, 9, SelectEnd::end);
    main().click(1055);
    invalidatedRects();
    from = mark();
    main().scroll(1052, platform::scrollPageRight);
    EXPECT_EQ(editor.currentList().cursor, 5);
    EXPECT_EQ(invalidatedRects(), std::vector<Rect>{listPane()});
    EXPECT_TRUE(viewer.calls.size() == from);

    // A viewer that was closed is started again by the next action, and is then
    // given the file and position, and the posted position again.
    viewer.quit();
    from = mark();
    main().scroll(1051, platform::scrollLineLeft);
    EXPECT_NE(shown().find("Starting: DVD2AVI_PVAVIEW"), std::string::npos);
    const std::string pos = std::to_string(49 * unitBytes);
    EXPECT_EQ(describeSince(from), (std::vector<std::string>{"send 74 4097 0 [1:/rec/a.pva" + std::string(1, '\0') + "]",
                                                             "send 1028 0 " + pos, "post 1028 0 " + pos}));
}

// The unit at the cursor of a recording of more than 4 GiB: its whole offset goes to
// the viewer, with the file and when posted.
TEST_F(MainWindow, PositionsBeyondFourGiBReachTheViewerWhole)
{
    start();
    SourceStream& src = load(0, 10, "/rec/long.pva");
    const uint64_t beyond = uint64_t{5} << 30;
    for (int32_t k = 0; k < src.pktCount; ++k) src.pktPos[k] += beyond;
    src.cursor = 3;
    viewer.quit();
    const size_t from = mark();
    main().scroll(1051, platform::scrollLineRight);
    const std::string pos = std::to_string(beyond + 4 * unitBytes);
    EXPECT_EQ(describeSince(from), (std::vector<std::string>{"send 74 4097 0 [1:/rec/long.pva" + std::string(1, '\0') + "]",
                                                             "send 1028 0 " + pos, "post 1028 0 " + pos}));
}

TEST_F(MainWindow, TheSpeedSliderSetsDirectionAndInterval)
{
    start();
    const std::pair<int, uint32_t> table[11] = {{-1, 13}, {-1, 20}, {-1, 31}, {-1, 55}, {-1, 125}, {0, 1000},
                                                {1, 125}, {1, 55}, {1, 31}, {1, 20}, {1, 13}};
    for (int p = 0; p <= 10; ++p) {
        main().slide(1099, p);
        EXPECT_EQ(std::make_pair(int(context.playState), context.stepInterval), table[p]) << p;
    }
}

TEST_F(MainWindow, PlaySteppingStepsOnlyWhileNoInputWaitsAndStopsAtTheArrowButtons)
{
    start();
    SourceStream& src = load(0, 200, "/rec/a.pva");
    queue.resetQuit();
    const uint32_t t0 = clock.now;
    queue.postAt(t0, [&] { main().slide(1099, 7); });
    // A steady stream of mouse moves, each taking as long as the gap to the next:
    // one always waits.
    for (uint32_t t = t0 + 200; t <= t0 + 400; t += 5)
        queue.postAt(t, [&] {
            main().moveMouse({5, 5}, false);
            clock.now += 5;
        });
    queue.postAt(t0 + 700, [&] { main().click(1029); });
    const size_t from = mark();
    EXPECT_EQ(shell.mainLoop(), queue.idleQuitCode);

    std::vector<uint32_t> steps;
    for (const auto& c : messagesSince(from))
        if (c.what == "post") steps.push_back(c.at);
    ASSERT_GE(steps.size(), 6u);
    EXPECT_EQ(src.cursor, static_cast<int32_t>(steps.size()));
    for (size_t k = 1; k < steps.size(); ++k) EXPECT_GT(steps[k] - steps[k - 1], 55u) << k;
    for (uint32_t t : steps) {
        EXPECT_FALSE(t > t0 + 200 && t <= t0 + 400) << t - t0;
        EXPECT_LE(t, t0 + 700);
    }
    EXPECT_LE(steps.front() - t0, 70u);
    EXPECT_EQ(std::count_if(steps.begin(), steps.end(), [&](uint32_t t) { return t > t0 + 400; }), 5);
    EXPECT_EQ(main().control(1099).position, 5);
    EXPECT_EQ(context.playState, 0);
}

// The scan's speed line stays in the source pane's info line while the scan runs:
// the panes, repainted meanwhile, do not put their own line over it.
TEST_F(MainWindow, TheSpeedLineIsNotOverwrittenByRepaintsDuringAScan)
{
    start();
    PacketBuilder b;   // 64 packets of 64 KiB
    b.videoPts(1000, concat({gopHeader(0), pictureHeader(1)}));
    for (int i = 0; i < 64; ++i) b.raw(1, 0, std::vector<uint8_t>(65528, 0xFF));
    files.answer = dir.file("big.pva");
    writeBytes(files.answer, b.bytes);
    clock.stepMs = 125;
    FakeControl& line = main().control(1067);
    std::vector<std::string> during;
    pump.onServe = [&](int) {
        main().paint();
        if (!line.texts.empty()) during.push_back(line.texts.back());
    };
    main().click(1054);
    pump.onServe = nullptr;
    ASSERT_EQ(app.sourceCount, 1) << shown();
    const auto first = std::find_if(during.begin(), during.end(),
                                    [](const std::string& t) { return t.rfind("Scan PVA", 0) == 0; });
    ASSERT_NE(first, during.end());
    EXPECT_TRUE(std::all_of(first, during.end(), [](const std::string& t) { return t.rfind("Scan PVA", 0) == 0; }));
    // Afterwards the pane has its line back.
    main().paint();
    EXPECT_EQ(line.texts.back().rfind("Source PVA:", 0), 0u) << line.texts.back();
}

// At either end of the source play stepping has nowhere to go: nothing is sent
// while nothing moves, however long the slider stays off its centre.
TEST_F(MainWindow, PlaySteppingSendsNothingAtEitherEndOfTheSource)
{
    start();
    SourceStream& src = load(0, 3, "/rec/a.pva");
    main().scroll(1051, platform::scrollLineRight);
    main().scroll(1051, platform::scrollLineRight);
    ASSERT_EQ(src.cursor, 2);
    auto play = [&](int slider) {
        queue.resetQuit();
        const uint32_t t0 = clock.now;
        queue.postAt(t0, [&, slider] { main().slide(1099, slider); });
        queue.postAt(t0 + 2000, [&] { main().click(1029); });
        const size_t from = mark();
        shell.mainLoop();
        size_t posts = 0;
        for (const auto& c : messagesSince(from)) posts += c.what == "post";
        return posts;
    };
    EXPECT_EQ(play(10), 0u);
    EXPECT_EQ(src.cursor, 2);
    EXPECT_EQ(play(0), 2u);   // back to the first unit, then nothing more
    EXPECT_EQ(src.cursor, 0);
}

TEST_F(MainWindow, AViewerThatCannotStartIsTriedAgainOnlyAfterAFileChange)
{
    viewer.running = false;
    viewer.startSucceeds = false;
    start();
    load(0, 200, "/rec/a.pva");
    EXPECT_EQ(viewer.count("start"), 1);
    queue.resetQuit();
    const uint32_t t0 = clock.now;
    queue.postAt(t0, [&] { main().slide(1099, 10); });
    queue.postAt(t0 + 1000, [&] { main().click(1029); });
    shell.mainLoop();
    EXPECT_GT(app.sources[0].cursor, 40);
    // The failed start is remembered: the play run does not try again. The switch
    // (1029) ends it and lets the next click try once; the click after does not.
    EXPECT_EQ(viewer.count("start"), 1);
    main().scroll(1051, platform::scrollLineRight);
    main().scroll(1051, platform::scrollLineRight);
    EXPECT_EQ(viewer.count("start"), 2);
    // After the next file change one click tries again, and one play run.
    context.viewer.notifyViewerFileChange();
    main().scroll(1051, platform::scrollLineRight);
    main().scroll(1051, platform::scrollLineRight);
    EXPECT_EQ(viewer.count("start"), 3);
    context.viewer.notifyViewerFileChange();
    queue.resetQuit();
    const uint32_t t1 = clock.now;
    queue.postAt(t1, [&] { main().slide(1099, 10); });
    queue.postAt(t1 + 1000, [&] { main().slide(1099, 5); });
    shell.mainLoop();
    EXPECT_EQ(viewer.count("start"), 4);
}

TEST_F(MainWindow, TheWheelMovesThePaneUnderTheCursorOneStepPerTurn)
{
    start();
    SourceStream& src = load(0, 20, "/rec/a.pva");
    src.cursor = 5;
    editor.selectUnit(Pane::source, 0, SelectEnd::start);
    editor.selectUnit(Pane::source, 9, SelectEnd::end);
    main().click(1055);
    editor.currentListForEdit().cursor = 5;
    main().slide(1099, 3);
    invalidatedRects();
    const size_t from = mark();

    main().wheel({300, 130}, 120);
    main().wheel({300, 130}, 720);
    EXPECT_EQ(src.cursor, 3);
    main().wheel({300, 130}, -1);
    EXPECT_EQ(src.cursor, 4);
    EXPECT_EQ(invalidatedRects(), std::vector<Rect>(3, sourcePane()));
    main().wheel({300, 250}, -120);
    EXPECT_EQ(editor.currentList().cursor, 6);
    main().wheel({300, 250}, 120);
    EXPECT_EQ(editor.currentList().cursor, 5);
    EXPECT_EQ(invalidatedRects(), std::vector<Rect>(2, listPane()));
    main().wheel({300, 20}, 120);
    EXPECT_TRUE(invalidatedRects().empty());
    EXPECT_EQ(viewer.calls.size(), from);
    EXPECT_EQ(context.playState, -1) << "the wheel does not stop playing";
}

TEST_F(MainWindow, ClicksSelectInThePanesAndDragTheWindowOutsideThem)
{
    start();
    SourceStream& src = load(0, 20, "/rec/a.pva");
    src.cursor = 10;
    main().slide(1099, 8);
    FakeWindow& w = main();

    w.leftDown({150, 130});   // second cell of the source pane: unit 9
    EXPECT_EQ(src.selStart, 9);
    EXPECT_EQ(context.playState, 0);
    EXPECT_EQ(invalidatedRects(), (std::vector<Rect>{sourcePane(), listPane()}));
    EXPECT_FALSE(w.captured);
    w.moveMouse({200, 200}, true);
    EXPECT_TRUE(w.moves.empty()) << "a click in a pane never drags";
    w.rightDown({600, 130});   // fifth cell: unit 12
    EXPECT_EQ(src.selEnd, 12);
    w.leftUp({600, 130});

    // Outside the panes the window follows the mouse, except with shift held.
    w.topLeft = {100, 50};
    w.leftDown({300, 20});
    EXPECT_TRUE(w.captured);
    w.moveMouse({310, 25}, true);
    EXPECT_EQ(w.topLeft, (Point{110, 55}));
    w.moveMouse({330, 45}, true, true);
    EXPECT_EQ(w.topLeft, (Point{110, 55}));
    w.moveMouse({320, 30}, true);
    EXPECT_EQ(w.topLeft, (Point{130, 65}));
    w.leftUp({320, 30});
    EXPECT_FALSE(w.captured);
    w.moveMouse({400, 100}, true);
    EXPECT_EQ(w.moves.size(), 2u);

    // A right click outside does nothing but stop playing.
    main().slide(1099, 2);
    invalidatedRects();
    w.rightDown({300, 20});
    EXPECT_EQ(context.playState, 0);
    EXPECT_FALSE(w.captured);
    EXPECT_TRUE(invalidatedRects().empty());

    // Where the window system moves windows itself, it gets the drag.
    w.systemMoveAvailable = true;
    w.leftDown({300, 20});
    EXPECT_EQ(w.systemMoves, 1);
    EXPECT_FALSE(w.captured);
}

TEST_F(MainWindow, PaintingDrawsTheBackgroundThenBothPanesWhereTheClientSizePutsThem)
{
    start();
    main().client = {900, 600};
    const FakeCanvas c = main().paint();
    ASSERT_FALSE(c.ops.empty());
    EXPECT_EQ(c.ops[0].kind, FakeCanvas::Kind::bitmap);
    EXPECT_EQ(c.ops[0].text, "BITMAP_MAIN");
    EXPECT_EQ(c.ops[0].size, (platform::Size{900, 600}));
    EXPECT_EQ(sourcePane(), (Rect{20, 132, 880, 227}));
    EXPECT_EQ(listPane(), (Rect{20, 300, 880, 393}));
    const auto rects = c.all(FakeCanvas::Kind::rectangle);
    ASSERT_EQ(rects.size(), 10u);
    EXPECT_EQ(rects[0].rect, (Rect{20, 132, 192, 227}));
    EXPECT_EQ(rects[9].rect, (Rect{708, 300, 880, 393}));
    EXPECT_EQ(main().control(1067).text, productLine);
    EXPECT_EQ(main().control(1068).text, "New PVA: 0  0.0MB Sel: 0.0MB 00:00:00");
}

} // namespace
