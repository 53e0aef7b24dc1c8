// Project files on generated recordings: what a project saves reopens to the same
// new PVA, a moved source is found by its fingerprint, and a damaged or foreign
// file changes nothing.
#include "core/LogConsole.h"
#include "cut/CutEditor.h"
#include "cut/ProjectFile.h"
#include "output/OutputWriter.h"
#include "platform/Operation.h"
#include "source/SourceAnalyser.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// One editing session: a console, the sources and the editor.
struct Session {
    LogConsole log;
    std::string shown;
    SourceAnalyser app{log};
    CutEditor editor{app};
    int32_t cancel = 0;
    platform::OperationContext op = platform::quietOperation(cancel);

    Session()
    {
        recordShown(log, shown);
        app.settings.assCleanJoins = 0;
    }
    bool scan(const std::string& path) { return app.scanSource(path.c_str(), 0, op) == 1; }
    std::vector<uint8_t> save(const std::string& path)
    {
        EXPECT_EQ(saveNewStream(editor, path.c_str(), 0, op), 1) << shown;
        return readBytes(path);
    }
    // What the list holds, entry by entry.
    std::vector<std::pair<int32_t, int32_t>> list() const
    {
        std::vector<std::pair<int32_t, int32_t>> out;
        const CutList& l = editor.currentList();
        for (int32_t i = 0; i < l.count; ++i) out.emplace_back(l.source[i], l.unit[i]);
        return out;
    }
};

class ProjectFile : public ::testing::Test {
protected:
    ScratchDir dir{"project"};
    std::string a = dir.file("a.pva"), b = dir.file("b.pva");

    void SetUp() override
    {
        fs::copy_file(sample("clip.pva"), a);
        fs::copy_file(sample("rec60.pva"), b);
    }
    // Two sources, units of both, an insertion, a deletion and an undone step.
    void edit(Session& s)
    {
        ASSERT_TRUE(s.scan(a) && s.scan(b)) << s.shown;
        ASSERT_EQ(s.editor.insertUnits(0, 1, 3, INT32_MAX), 1);
        ASSERT_EQ(s.editor.insertUnits(1, 2, 6, INT32_MAX), 1);
        ASSERT_EQ(s.editor.insertUnits(0, 5, 5, 1), 1);
        ASSERT_EQ(s.editor.deleteEntries(4, 5), 1);
        ASSERT_EQ(s.editor.insertUnits(1, 0, 0, 0), 1);
        ASSERT_EQ(s.editor.undo(), 1);
        s.editor.outputName = dir.file("film.pva");
    }
};

TEST_F(ProjectFile, ReopensToTheSameNewPvaByteForByteAndWritesTheSameProject)
{
    Session first;
    edit(first);
    first.app.settings.cutAtIFrames = 1;
    const std::vector<uint8_t> before = first.save(dir.file("before.pva"));
    ASSERT_EQ(writeProjectFile(first.editor, dir.file("p.orvane").c_str()), 1) << first.shown;
    const std::string text = readText(dir.file("p.orvane"));
    EXPECT_EQ(text.rfind("ORVANE-PROJECT 1\n", 0), 0u);
    Project parsed;
    ASSERT_EQ(parseProject(text, parsed), "");
    EXPECT_EQ(projectText(parsed), text);
    EXPECT_EQ(parsed.outputName, dir.file("film.pva"));

    // A session with other settings: the project's own come back with it.
    Session second;
    second.app.settings.cutAtIFrames = 0;
    second.app.settings.saveNoAudio = 1;
    ASSERT_EQ(openProjectFile(second.editor, dir.file("p.orvane").c_str(), second.op), 1) << second.shown;
    EXPECT_EQ(second.app.settings.cutAtIFrames, 1);
    EXPECT_EQ(second.app.settings.saveNoAudio, 0);
    EXPECT_EQ(second.list(), first.list());
    EXPECT_EQ(second.editor.outputName, dir.file("film.pva"));
    EXPECT_EQ(second.save(dir.file("after.pva")), before);
    ASSERT_EQ(writeProjectFile(second.editor, dir.file("again.orvane").c_str()), 1);
    EXPECT_EQ(readText(dir.file("again.orvane")), text);
    // Opening it is one step: undo leaves the empty list, redo brings it back.
    EXPECT_EQ(second.editor.history->levelCount, 1);
}

TEST_F(ProjectFile, AMovedSourceIsFoundByItsFingerprintAndAChangedOneIsRefused)
{
    Session first;
    edit(first);
    const std::vector<uint8_t> before = first.save(dir.file("before.pva"));
    fs::create_directory(dir.file("elsewhere"));
    ASSERT_EQ(writeProjectFile(first.editor, dir.file("elsewhere/p.orvane").c_str()), 1);

    // Renamed beside the project: found by size and fingerprint.
    fs::rename(b, dir.file("elsewhere/renamed.pva"));
    Session second;
    ASSERT_EQ(openProjectFile(second.editor, dir.file("elsewhere/p.orvane").c_str(), second.op), 1) << second.shown;
    EXPECT_NE(second.shown.find("found by its fingerprint as " + dir.file("elsewhere/renamed.pva")), std::string::npos)
        << second.shown;
    EXPECT_EQ(second.app.sources[1].fileName, dir.file("elsewhere/renamed.pva"));
    EXPECT_EQ(second.save(dir.file("after.pva")), before);

    // A different recording under the old name is not taken for it, and nothing of
    // a session that holds a list changes.
    fs::copy_file(sample("clip.pva"), b);
    fs::remove(dir.file("elsewhere/renamed.pva"));
    Session third;
    ASSERT_TRUE(third.scan(a));
    ASSERT_EQ(third.editor.insertUnits(0, 0, 1, 0), 1);
    const auto listBefore = third.list();
    EXPECT_EQ(openProjectFile(third.editor, dir.file("elsewhere/p.orvane").c_str(), third.op), -1);
    EXPECT_NE(third.shown.find("ERROR: project source " + fs::canonical(dir.path()).string()
                               + "/b.pva: it is not the recording the project was made with"),
              std::string::npos)
        << third.shown;
    EXPECT_EQ(third.app.sourceCount, 1);
    EXPECT_EQ(third.list(), listBefore);

    // The one who opens it may point to the recording; a wrong one is said and asked again.
    fs::copy_file(sample("rec60.pva"), dir.file("found.pva"));
    std::vector<std::string> asked;
    std::vector<std::string> answers = {a, dir.file("found.pva")};
    LocateSource locate = [&](const ProjectSource&, const std::string& why, std::string& path) {
        asked.push_back(why);
        if (answers.empty()) return false;
        path = answers.front();
        answers.erase(answers.begin());
        return true;
    };
    Session fourth;
    ASSERT_EQ(openProjectFile(fourth.editor, dir.file("elsewhere/p.orvane").c_str(), fourth.op, locate), 1)
        << fourth.shown;
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1], a + " is not the recording the project was made with");
    EXPECT_EQ(fourth.save(dir.file("pointed.pva")), before);
}

TEST_F(ProjectFile, ADamagedOrForeignFileGivesItsReasonAndChangesNothing)
{
    Session first;
    edit(first);
    ASSERT_EQ(writeProjectFile(first.editor, dir.file("p.orvane").c_str()), 1);
    const std::string good = readText(dir.file("p.orvane"));
    const size_t entry = good.find("entry ");
    const size_t source = good.find("source ");
    struct Case {
        std::string text, reason;
    };
    const std::vector<Case> cases = {
        {"", "it is empty"},
        {std::string(reinterpret_cast<const char*>(readBytes(a).data()), 4000), "it is not an Orvane project file"},
        {"ORVANE-PROJECT 2\nend\n", "it is a project of format 2; this program reads format 1"},
        {good.substr(0, good.size() - 4), "it has no end line (cut short?)"},
        {good.substr(0, good.size() - 2), "ends inside a line (cut short?)"},
        {good.substr(0, entry) + "entry 7 0 0\n" + good.substr(entry), "an entry of a source not listed before it"},
        {good.substr(0, entry) + "entry 0 x 0\n" + good.substr(entry), "an entry is SOURCE UNIT PTS"},
        {good.substr(0, source) + "source 12 nothex path\n" + good.substr(source), "a source is SIZE FINGERPRINT PATH"},
        {good.substr(0, entry) + "colour blue\n" + good.substr(entry), "unknown line 'colour'"},
        {good + "entry 0 0 0\n", "text after the end line"},
        {"ORVANE-PROJECT 1\nsetting cutAtIFrames=1\nend\n", "it names no source"},
        {"ORVANE-PROJECT 1\nsetting colour=1\nend\n", "unknown setting 'colour'"},
        {"ORVANE-PROJECT 1\noutput a%zz\nend\n", "a wrong or second output line"},
    };
    Session s;
    ASSERT_TRUE(s.scan(b));
    ASSERT_EQ(s.editor.insertUnits(0, 3, 4, 0), 1);
    s.app.settings.cutAtIFrames = 0;
    const auto listBefore = s.list();
    for (const Case& c : cases) {
        writeBytes(dir.file("bad.orvane"), std::vector<uint8_t>(c.text.begin(), c.text.end()));
        s.shown.clear();
        EXPECT_EQ(openProjectFile(s.editor, dir.file("bad.orvane").c_str(), s.op), -1) << c.reason;
        EXPECT_EQ(s.shown.rfind("ERROR: can't open the project " + dir.file("bad.orvane") + ": ", 0), 0u) << s.shown;
        EXPECT_NE(s.shown.find(c.reason), std::string::npos) << s.shown;
        EXPECT_EQ(s.app.sourceCount, 1);
        EXPECT_EQ(s.app.sources[0].fileName, b);
        EXPECT_EQ(s.list(), listBefore);
        EXPECT_EQ(s.app.settings.cutAtIFrames, 0);
    }
    s.shown.clear();
    EXPECT_EQ(openProjectFile(s.editor, dir.file("missing.orvane").c_str(), s.op), -1);
    EXPECT_NE(s.shown.find("it can't be opened"), std::string::npos);
    EXPECT_EQ(s.list(), listBefore);
}

// Saved with a cut at every picture and opened with cuts at I pictures only, the
// entries find the GOP units they fall in, each listed once.
TEST_F(ProjectFile, EntriesFindTheirUnitsByTimeStampWhenTheUnitsChange)
{
    Session pictures;
    pictures.app.settings.cutAtIFrames = 0;
    ASSERT_TRUE(pictures.scan(b));
    // Pictures 14 to 40: inside the second GOP on to inside the fourth.
    ASSERT_EQ(pictures.editor.insertUnits(0, 14, 40, 0), 1);
    ASSERT_EQ(writeProjectFile(pictures.editor, dir.file("p.orvane").c_str()), 1);
    std::string text = readText(dir.file("p.orvane"));
    const size_t at = text.find("cutAtIFrames=0");
    ASSERT_NE(at, std::string::npos);
    text[at + 13] = '1';
    writeBytes(dir.file("gops.orvane"), std::vector<uint8_t>(text.begin(), text.end()));

    Session gops;
    ASSERT_EQ(openProjectFile(gops.editor, dir.file("gops.orvane").c_str(), gops.op), 1) << gops.shown;
    EXPECT_EQ(gops.app.settings.cutAtIFrames, 1);
    const SourceStream& src = gops.app.sources[0];
    const CutList& list = gops.editor.currentList();
    ASSERT_GT(list.count, 1);
    // Consecutive GOP units: the first holds picture 14, the last picture 40.
    const SourceStream& all = pictures.app.sources[0];
    auto unitStart = [](const SourceStream& s, int32_t u) { return s.vPts[s.cutPointPkt[u]] - s.vPts[s.cutPointPkt[0]]; };
    const uint32_t first = unitStart(all, 14), last = unitStart(all, 40);
    EXPECT_LE(unitStart(src, list.unit[0]), first);
    EXPECT_GT(unitStart(src, list.unit[0] + 1), first);
    EXPECT_LE(unitStart(src, list.unit[list.count - 1]), last);
    for (int32_t i = 1; i < list.count; ++i) EXPECT_EQ(list.unit[i], list.unit[i - 1] + 1);
    EXPECT_NE(gops.shown.find("entries of the project fall inside a cut unit"), std::string::npos) << gops.shown;
}

} // namespace
