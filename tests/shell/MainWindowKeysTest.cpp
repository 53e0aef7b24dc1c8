// The main window worked by keys, its questions before it loses a changed list or
// loads a recording twice, and projects saved and opened from it.
#include "cut/ProjectFile.h"
#include "support/TestSupport.h"
#include "shell/ShellRig.h"
#include "support/SyntheticSource.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;
using platform::Key;
using platform::KeyEvent;

namespace {

KeyEvent key(Key k, bool control = false, bool shift = false)
{
    KeyEvent e;
    e.key = k;
    e.control = control;
    e.shift = shift;
    return e;
}

KeyEvent character(char c, bool control = false, bool shift = false)
{
    KeyEvent e = key(Key::character, control, shift);
    e.character = c;
    return e;
}

class MainWindowKeys : public ::testing::Test, protected ShellRig {
protected:
    bool press(const KeyEvent& e) { return main().handler.onKey(e); }
    void pressAll(std::initializer_list<KeyEvent> keys)
    {
        for (const KeyEvent& e : keys) EXPECT_TRUE(press(e));
    }
    std::vector<int32_t> units() const
    {
        std::vector<int32_t> u;
        for (int32_t k = 0; k < editor.currentList().count; ++k) u.push_back(editor.currentList().unit[k]);
        return u;
    }
    void asking() { context.services.askQuestions = true; }
};

TEST_F(MainWindowKeys, KeysMoveSelectEditAndPlayInThePaneWithTheFocus)
{
    start();
    ASSERT_EQ(SyntheticSource().gops(11).load(app, 0), 1);
    app.sources[0].fileName = "/rec/a.pva";
    SourceStream& src = app.sources[0];
    const size_t from = mark();

    pressAll({key(Key::end)});
    EXPECT_EQ(src.cursor, 9);
    pressAll({key(Key::home), key(Key::right), key(Key::right), character('['), key(Key::right), key(Key::right),
              character(']')});
    EXPECT_EQ(src.cursor, 4);
    EXPECT_TRUE(src.selStart == 2 && src.selEnd == 4);
    // Every move of the source cursor shows the viewer the new position.
    EXPECT_EQ(messagesSince(from).size(), 6u);
    pressAll({key(Key::enter)});
    EXPECT_EQ(units(), (std::vector<int32_t>{2, 3, 4}));

    // Tab: the list pane takes the keys; Insert puts the selection at its cursor.
    pressAll({key(Key::tab)});
    EXPECT_EQ(shell.mainDialog().keyPane(), Pane::list);
    pressAll({key(Key::right), key(Key::insert)});
    EXPECT_EQ(units(), (std::vector<int32_t>{2, 2, 3, 4, 3, 4}));
    pressAll({key(Key::home), character('i'), key(Key::right), key(Key::right), key(Key::right), character('o'),
              key(Key::del)});
    EXPECT_EQ(units(), (std::vector<int32_t>{3, 4}));
    pressAll({character('z', true)});
    EXPECT_EQ(units().size(), 6u);
    pressAll({character('y', true)});
    EXPECT_EQ(units().size(), 2u);
    pressAll({character('z', true), character('z', true, true)});
    EXPECT_EQ(units().size(), 2u);
    pressAll({key(Key::del, false, true)});
    EXPECT_TRUE(units().empty());
    // Back in the source pane, Page Down moves a page as the bar does.
    pressAll({key(Key::backtab, false, true), key(Key::home), key(Key::pageDown)});
    EXPECT_EQ(src.cursor, 5);

    // Space plays and stops; J, K and L play backward, stop and play forward.
    pressAll({key(Key::space)});
    EXPECT_EQ(context.playState, 1);
    EXPECT_EQ(main().control(1099).position, 6);
    pressAll({key(Key::space)});
    EXPECT_EQ(context.playState, 0);
    pressAll({character('j')});
    EXPECT_EQ(context.playState, -1);
    pressAll({character('k')});
    EXPECT_EQ(context.playState, 0);
    pressAll({character('l')});
    EXPECT_EQ(context.playState, 1);
    pressAll({key(Key::home)});
    EXPECT_EQ(context.playState, 0) << "a jump stops playing as a page step does";

    // Keys that are not the window's go to the control with the focus.
    EXPECT_FALSE(press(character('x')));
    EXPECT_FALSE(press(character('s', false, true)));
    EXPECT_FALSE(press(key(Key::up)));
}

TEST_F(MainWindowKeys, WhileAnOperationRunsOnlyEscapeActsAndCancelsIt)
{
    start();
    ASSERT_EQ(SyntheticSource().gops(6).load(app, 0), 1);
    editor.selectRange(Pane::source, 0, 2);
    ++app.busy;
    EXPECT_TRUE(press(key(Key::enter)));
    EXPECT_TRUE(press(key(Key::right)));
    EXPECT_EQ(editor.currentList().count, 0);
    EXPECT_EQ(app.sources[0].cursor, 0);
    EXPECT_EQ(app.settings.cancelRequested, 0);
    EXPECT_TRUE(press(key(Key::escape)));
    EXPECT_EQ(app.settings.cancelRequested, 1);
    --app.busy;
    app.settings.cancelRequested = 0;
    EXPECT_TRUE(press(key(Key::escape)));
    EXPECT_EQ(app.settings.cancelRequested, 0) << "nothing to cancel";
    // Buttons by key: the viewer sizes and the top-most box, which toggles first.
    const size_t from = mark();
    pressAll({character('2', true), character('5', true), character('t', true), character('t', true)});
    EXPECT_EQ(describeSince(from),
              (std::vector<std::string>{"post 1031 3 4", "post 1031 4 1", "post 1032 1 4", "post 1032 0 4"}));
    EXPECT_TRUE(press(key(Key::f1)));
    EXPECT_EQ(shown().rfind("ORVANE", 0), 0u);
}

TEST_F(MainWindowKeys, EveryCommandHasAKeyThatItsTipShows)
{
    start();
    for (int id : {mainid::add, mainid::insert, mainid::deleteSelected, mainid::deleteAll, mainid::undo, mainid::redo,
                   mainid::save, mainid::saveAs, mainid::saveSelection, mainid::newSource, mainid::previousSource,
                   mainid::nextSource, mainid::setup, mainid::about, mainid::minimise, mainid::close,
                   mainid::viewer100, mainid::viewer75, mainid::viewer50, mainid::viewer25, mainid::viewerMax,
                   mainid::onTop, mainid::cancelScan, mainid::cancelSave, mainid::speed})
        EXPECT_NE(main().control(id).toolTip.find("key: "), std::string::npos) << id;
    EXPECT_EQ(main().control(mainid::insert).toolTip,
              "insert selected source pva mpeg packets to the new pva at the current position\nkey: Insert");
    EXPECT_EQ(main().control(mainid::save).toolTip, "key: Ctrl+S, Ctrl+Shift+P: save the project");
}

class WindowQuestions : public MainWindowKeys {
protected:
    std::string a = dir.file("a.pva");
    void SetUp() override { std::filesystem::copy_file(sample("clip.pva"), a); }
    void loadAndEdit()
    {
        files.answer = a;
        ASSERT_TRUE(main().click(mainid::newSource));
        ASSERT_EQ(app.sourceCount, 1) << shown();
        editor.selectRange(Pane::source, 1, 3);
        ASSERT_TRUE(press(key(Key::enter)));
    }
};

TEST_F(WindowQuestions, ClosingWithAChangedListAsksToSaveItAsAProject)
{
    asking();
    start();
    loadAndEdit();
    FakeWindow& w = main();
    ASSERT_TRUE(main().click(mainid::close));
    ASSERT_EQ(messageBox.asked.size(), 1u) << "asked with the cancel answer given by closing the box";
    EXPECT_EQ(messageBox.asked[0].answers, (std::vector<std::string>{"Save project", "Close", "Cancel"}));
    EXPECT_NE(messageBox.asked[0].text.find("has changed since it was last saved"), std::string::npos);
    EXPECT_FALSE(main().destroyed);

    // Saving the project closes the window; the project holds the list.
    messageBox.answers = {0};
    files.answer = dir.file("p.orvane");
    ASSERT_TRUE(w.click(mainid::close));
    EXPECT_TRUE(w.destroyed);
    Project p;
    ASSERT_EQ(parseProject(readText(dir.file("p.orvane")), p), "");
    ASSERT_EQ(p.entries.size(), 3u);
    EXPECT_EQ(p.entries[0].unit, 1);
    EXPECT_EQ(p.sources[0].path, std::filesystem::canonical(a).string());
}

TEST_F(WindowQuestions, NoQuestionOnceSavedAndNoneWhenClosedWithoutOne)
{
    asking();
    start();
    loadAndEdit();
    // A saved new PVA counts as saved; the next edit changes the list again.
    files.answer = dir.file("out.pva");
    ASSERT_TRUE(press(character('s', true, true)));
    ASSERT_TRUE(std::filesystem::exists(dir.file("out.pva"))) << shown();
    EXPECT_FALSE(shell.mainDialog().listChangedSinceSaved());
    ASSERT_TRUE(press(character('z', true)));
    ASSERT_TRUE(press(character('y', true)));
    EXPECT_TRUE(shell.mainDialog().listChangedSinceSaved());
    // "Close" closes without saving.
    messageBox.answers = {1};
    FakeWindow& w = main();
    ASSERT_TRUE(w.click(mainid::close));
    EXPECT_TRUE(w.destroyed);
    EXPECT_EQ(messageBox.asked.size(), 1u);
}

TEST_F(WindowQuestions, ASignalClosesWithoutAQuestion)
{
    asking();
    start();
    loadAndEdit();
    FakeWindow& w = main();
    shell.mainDialog().closeWithoutQuestion();
    EXPECT_TRUE(w.destroyed);
    EXPECT_TRUE(messageBox.asked.empty());
}

TEST_F(WindowQuestions, LoadingALoadedRecordingAgainAsksFirst)
{
    asking();
    start();
    files.answer = a;
    ASSERT_TRUE(main().click(mainid::newSource));
    ASSERT_TRUE(main().click(mainid::newSource));
    ASSERT_EQ(messageBox.asked.size(), 1u);
    EXPECT_EQ(messageBox.asked[0].text, a + "\nis loaded already as source 1.\nLoad it once more?");
    EXPECT_EQ(app.sourceCount, 1);
    messageBox.answers = {0};
    ASSERT_TRUE(main().click(mainid::newSource));
    EXPECT_EQ(app.sourceCount, 2);
    EXPECT_TRUE(enabledGroup());
}

TEST_F(WindowQuestions, AProjectSavedByKeyOpensByKeyAndFromTheCommandLine)
{
    asking();
    start();
    loadAndEdit();
    const std::vector<int32_t> listed = units();
    files.answer = dir.file("p.orvane");
    ASSERT_TRUE(press(character('p', true, true)));
    EXPECT_FALSE(shell.mainDialog().listChangedSinceSaved());
    ASSERT_TRUE(press(key(Key::del, false, true)));
    EXPECT_TRUE(units().empty());

    // Opening over a changed list asks; "Cancel" keeps it.
    ASSERT_EQ(editor.insertUnits(0, 0, 0, 0), 1);
    ASSERT_TRUE(press(character('p', true)));
    ASSERT_EQ(messageBox.asked.size(), 1u);
    EXPECT_EQ(units(), std::vector<int32_t>{0});
    messageBox.answers = {1};
    ASSERT_TRUE(press(character('p', true)));
    EXPECT_EQ(units(), listed);
    EXPECT_EQ(app.sourceCount, 1);
    EXPECT_NE(shown().find("project opened: " + dir.file("p.orvane")), std::string::npos) << shown();
    EXPECT_TRUE(enabledGroup());

    // A damaged project changes nothing.
    writeBytes(dir.file("bad.orvane"), {'O', 'R', 'V', 'A', 'N', 'E', '-', 'P', 'R', 'O', 'J', 'E', 'C', 'T', ' ', '1'});
    EXPECT_EQ(shell.mainDialog().openProjectNamed(dir.file("bad.orvane")), -1);
    EXPECT_EQ(units(), listed);
    EXPECT_NE(shown().find("ERROR: can't open the project"), std::string::npos);
}

TEST_F(WindowQuestions, DroppedFilesLoadUpToTheSixteenSlotsAndAProjectOpensAlone)
{
    start();
    std::vector<std::string> many(17, a);
    EXPECT_TRUE(main().handler.onDropFiles(many));
    EXPECT_EQ(app.sourceCount, 16);
    EXPECT_NE(shown().find("ERROR: 16 recordings are loaded: " + a + " and those after it are not"), std::string::npos);
    EXPECT_TRUE(enabledGroup());

    ASSERT_EQ(editor.insertUnits(3, 1, 2, 0), 1);
    ASSERT_EQ(writeProjectFile(editor, dir.file("p.orvane").c_str()), 1);
    // A project among recordings is not opened.
    EXPECT_TRUE(main().handler.onDropFiles({dir.file("p.orvane"), a}));
    EXPECT_NE(shown().find(dir.file("p.orvane") + " is a project: drop a project alone"), std::string::npos);
    EXPECT_EQ(app.sourceCount, 16);
    EXPECT_TRUE(main().handler.onDropFiles({dir.file("p.orvane")}));
    EXPECT_EQ(app.sourceCount, 16);
    EXPECT_EQ(units(), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(editor.currentList().source[0], 3);
    // While a scan or a save runs, nothing is taken.
    ++app.busy;
    EXPECT_FALSE(main().handler.onDropFiles({a}));
    --app.busy;
}

TEST_F(WindowQuestions, TheCommandLineOpensAProject)
{
    {
        ShellRig first;
        ASSERT_EQ(first.app.scanSource(a.c_str(), 0, platform::quietOperation(first.app.settings.cancelRequested)), 1);
        ASSERT_EQ(first.editor.insertUnits(0, 2, 4, 0), 1);
        ASSERT_EQ(writeProjectFile(first.editor, dir.file("p.orvane").c_str()), 1);
    }
    start(dir.file("p.orvane"));
    EXPECT_EQ(app.sourceCount, 1);
    EXPECT_EQ(units(), (std::vector<int32_t>{2, 3, 4}));
    EXPECT_FALSE(shell.mainDialog().listChangedSinceSaved());
}

} // namespace

namespace {

// A cut list by key, out and in again, and by a drop.
TEST_F(WindowQuestions, CutListsExportAndAddByKeyAndByDrop)
{
    start();
    files.answer = a;
    ASSERT_TRUE(main().click(mainid::newSource));
    ASSERT_EQ(editor.insertUnits(0, 1, 3, INT32_MAX), 1);
    ASSERT_EQ(editor.insertUnits(0, 6, 7, INT32_MAX), 1);
    const std::vector<int32_t> listed = units();
    files.answer = dir.file("list.edl");
    ASSERT_TRUE(press(character('l', true, true)));
    EXPECT_NE(shown().find("EDL cut list saved: " + dir.file("list.edl")), std::string::npos) << shown();
    ASSERT_TRUE(press(key(Key::del, false, true)));
    ASSERT_TRUE(press(character('l', true)));
    EXPECT_EQ(units(), listed);
    EXPECT_NE(shown().find("cut list added: " + dir.file("list.edl")), std::string::npos);
    ASSERT_TRUE(press(key(Key::del, false, true)));
    EXPECT_TRUE(main().handler.onDropFiles({dir.file("list.edl")}));
    EXPECT_EQ(units(), listed);
    EXPECT_EQ(app.sourceCount, 1);
    // A name that says no format is refused before anything is written.
    files.answer = dir.file("list.xyz");
    ASSERT_TRUE(press(character('l', true, true)));
    EXPECT_FALSE(fileExists(dir.file("list.xyz")));
    EXPECT_NE(shown().find("the name does not say the format"), std::string::npos);
}

} // namespace
