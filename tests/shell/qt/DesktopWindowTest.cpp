// The desktop program with its real widgets and its real logic in one process,
// offscreen: whole sessions driven by clicks, keys and wheel turns from inside the
// program's own main loop, judged by the engine's records, the frames a stand-in
// viewer receives and grabs of the window.
#include "DesktopTestSupport.h"
#include "platform/fake/Fakes.h"
#include "platform/qt/QtTestSupport.h"
#include "shell/qt/DesktopProgram.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <memory>

using namespace desktoptest;
using namespace testsupport;
using platform::fake::FakeFileDialog;
using Strings = std::vector<std::string>;

namespace {

constexpr int normalFill = 0xC8C8C8, selectedFill = 0x646464, black = 0x000000;

// The panes of a 657 x 457 client area.
constexpr QRect sourcePane(QPoint(14, 100), QPoint(643, 172));
constexpr QRect listPane(QPoint(14, 228), QPoint(643, 298));

int cellLeft(const QRect& pane, int k) { return pane.left() + (pane.right() - pane.left()) * k / 5; }
int cellRight(const QRect& pane, int k) { return pane.left() + (k + 1) * (pane.right() - pane.left()) / 5; }
QPoint cellCentre(const QRect& pane, int k) { return {(cellLeft(pane, k) + cellRight(pane, k)) / 2, pane.center().y()}; }

int rgb(const QImage& image, int x, int y) { return static_cast<int>(image.pixel(x, y) & 0xFFFFFF); }

// The fill of cell k, taken where no text and no marker lies.
int cellFill(const QImage& image, const QRect& pane, int k) { return rgb(image, cellLeft(pane, k) + 4, pane.center().y()); }

class DesktopSession : public ::testing::Test {
protected:
    ScratchDir dir{"desk"};
    ScopedWorkingDir cwd{dir.path()};
    PrivateRuntimeDir runtime;
    StandInViewer viewer;
    FakeFileDialog files;
    std::unique_ptr<DesktopProgram> program = std::make_unique<DesktopProgram>(&files);
    Script script;

    platform::qt::QtDialogWindow& main() { return *program->mainWindow(); }
    QWidget* window() { return main().widget(); }
    QWidget* control(int id) { return main().control(id)->widget(); }
    QWidget* setupControl(int id) { return program->setupWindow()->control(id)->widget(); }
    void press(int id) { click(control(id)); }
    SourceAnalyser& app() { return program->app(); }
    const CutList& list() { return program->editor().currentList(); }
    ShellContext& context() { return program->shell().context(); }
    std::string shown()
    {
        return std::string(program->console().text(), static_cast<size_t>(program->console().length()));
    }
    QImage grab(const char* name = nullptr)
    {
        const QImage image = window()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        if (const char* to = std::getenv("ORVANE_WINDOW_GRABS"); to && name)
            image.save(QString::fromLocal8Bit(to) + "/" + name + ".png");
        return image;
    }
    // Every command of the group off, or on: undo and redo then as the history
    // allows (nothing to undo after a scan: both stay off).
    bool groupEnabled(bool enabled)
    {
        const CutHistory& h = *program->editor().history;
        for (int id : commandGroup) {
            bool expected = enabled;
            if (enabled && id == mainid::undo) expected = h.levelCount > 0;
            if (enabled && id == mainid::redo) expected = h.levelCount > h.currentLevel + 1;
            if (control(id)->isEnabled() != expected) return false;
        }
        return true;
    }
    std::string fileFrame(const std::string& name)
    {
        return "send 74 " + std::to_string(main().nativeId()) + " 0 [1:" + name + std::string(1, '\0') + "]";
    }
    std::string positionFrame(bool sent)
    {
        return std::string(sent ? "send" : "post") + " 1028 0 " + std::to_string(program->editor().currentFilePosition());
    }
    int run(const std::string& commandLine)
    {
        script.start([this] { program->requestClose(); },
                     [this] { return program->mainWindow() && context().operationsRunning() == 0; });
        const int code = program->run(commandLine);
        EXPECT_TRUE(script.finished());
        return code;
    }
    // A point of the window's own background: outside the panes and every control.
    QPoint background()
    {
        for (int y = 2; y < 457; y += 3)
            for (int x = 2; x < 657; x += 3) {
                const QPoint p(x, y);
                if (!window()->childAt(p) && !sourcePane.contains(p) && !listPane.contains(p)) return p;
            }
        ADD_FAILURE() << "no free background";
        return {};
    }
};

TEST_F(DesktopSession, EveryCommandOfTheWindowThroughRealClicks)
{
    ASSERT_TRUE(viewer.listening());
    const std::string clip = dir.file("my clip.pva");
    std::filesystem::copy_file(sample("clip.pva"), clip);
    const std::string quoted = "\"" + clip + "\"";

    script.then([&] {
        // Start-up: the quoted command line shown as given, then without its quotes,
        // and the recording under that name scanned and handed to the viewer.
        EXPECT_NE(shown().find(quoted + "\r\n" + clip + "\r\n"), std::string::npos) << shown();
        ASSERT_EQ(app().sourceCount, 1);
        EXPECT_EQ(app().sources[0].fileName, clip);
        EXPECT_EQ(viewer.describe(), (Strings{fileFrame(clip), "send 1028 0 0"}));
        EXPECT_EQ(viewer.frames().at(0).message.data.size(), clip.size() + 1);
        EXPECT_NE(main().nativeId(), 0u);
        EXPECT_TRUE(window()->windowTitle().startsWith("ORVANE 3.50"));
        EXPECT_TRUE(groupEnabled(true));
        EXPECT_FALSE(control(mainid::undo)->isEnabled() || control(mainid::redo)->isEnabled());
        EXPECT_EQ(window()->size(), QSize(657, 457));

        // The source pane as drawn: cursor 0 in the centre cell, the cells before it
        // empty, no selection, the triangles on the centre cell's left edge only.
        const QImage idle = grab("idle");
        for (int k = 0; k < 5; ++k) EXPECT_EQ(cellFill(idle, sourcePane, k), normalFill) << k;
        const int x0 = cellLeft(sourcePane, 2), x1 = cellLeft(sourcePane, 1);
        EXPECT_EQ(rgb(idle, x0 - 3, sourcePane.top() + 3), black);
        EXPECT_EQ(rgb(idle, x0 - 3, sourcePane.bottom() - 4), black);
        EXPECT_EQ(rgb(idle, x1 - 3, sourcePane.top() + 3), normalFill);
        EXPECT_EQ(rgb(idle, x1 - 3, sourcePane.bottom() - 4), normalFill);
        EXPECT_EQ(static_cast<QLabel*>(control(1067))->text().toStdString(), "Source PVA:  Nr.0   File: " + clip);

        // The source scroll bar's right arrow: one unit on, its position posted.
        const size_t from = viewer.count();
        auto* bar = static_cast<QScrollBar*>(control(1051));
        click(bar, Qt::LeftButton, QPoint(bar->width() - 4, bar->height() / 2));
        EXPECT_EQ(app().sources[0].cursor, 1);
        ASSERT_TRUE(serveUntil([&] { return viewer.count() > from; }));
        EXPECT_EQ(viewer.describe(from), Strings{positionFrame(false)});
        EXPECT_NE(program->editor().currentFilePosition(), 0u);

        // Units 1 to 3 selected with a left and a right click in the pane.
        qttest::windowClick(window(), cellCentre(sourcePane, 2));
        qttest::windowClick(window(), cellCentre(sourcePane, 4), Qt::RightButton);
        EXPECT_EQ(app().sources[0].selStart, 1);
        EXPECT_EQ(app().sources[0].selEnd, 3);
        const QImage selected = grab();
        EXPECT_EQ(cellFill(selected, sourcePane, 1), normalFill);
        for (int k = 2; k < 5; ++k) EXPECT_EQ(cellFill(selected, sourcePane, k), selectedFill) << k;
        EXPECT_TRUE(static_cast<QLabel*>(control(1067))->text().contains("Selection: "));
    });

    script.then([&] {
        // The list: add twice, insert, then delete, undo, redo, delete all, undo.
        press(1055);
        EXPECT_EQ(list().count, 3);
        press(1055);
        EXPECT_EQ(list().count, 6);
        press(1060);
        EXPECT_EQ(list().count, 9);
        qttest::windowClick(window(), cellCentre(listPane, 2));
        qttest::windowClick(window(), cellCentre(listPane, 3), Qt::RightButton);
        const int selectedEntries = list().selEnd - list().selStart + 1;
        ASSERT_EQ(selectedEntries, 2);
        press(1069);
        EXPECT_EQ(list().count, 7);
        press(1072);
        EXPECT_EQ(list().count, 9);
        press(1073);
        EXPECT_EQ(list().count, 7);
        press(1074);
        EXPECT_EQ(list().count, 0);
        press(1072);
        EXPECT_EQ(list().count, 7);

        // The list pane as drawn: a cut bar wherever the next entry does not continue.
        const QImage image = grab("scanned-with-list");
        EXPECT_TRUE(static_cast<QLabel*>(control(1068))->text().startsWith("New PVA: 7 "))
            << static_cast<QLabel*>(control(1068))->text().toStdString();
        const CutList& l = list();
        int bars = 0;
        for (int k = 0; k < 5; ++k) {
            const int i = l.cursor - 2 + k;
            if (i < 0 || i >= l.count - 1) continue;
            const bool cut = l.endPacket[i] != l.firstPacket[i + 1] || l.source[i] != l.source[i + 1];
            bars += cut;
            EXPECT_EQ(rgb(image, cellRight(listPane, k) - 4, listPane.center().y()) == black, cut) << k;
        }
        EXPECT_GT(bars, 0);
        EXPECT_EQ(rgb(image, cellLeft(listPane, 2) - 3, listPane.top() + 3), black);
    });

    script.then([&] {
        // A second source from the file dialog, then "<" and ">" between the two.
        files.answer = sample("rec60.pva");
        size_t from = viewer.count();
        press(1054);
        ASSERT_EQ(app().sourceCount, 2);
        EXPECT_EQ(files.requests.back().title, "set PVA file");
        EXPECT_EQ(viewer.describe(from), (Strings{"send 1024 0 0", fileFrame(sample("rec60.pva")), "send 1028 0 0"}));
        from = viewer.count();
        press(1029);
        EXPECT_EQ(app().currentSource, 0);
        EXPECT_EQ(viewer.describe(from), (Strings{"send 1024 0 0", fileFrame(clip), positionFrame(true)}));
        from = viewer.count();
        press(1030);
        EXPECT_EQ(app().currentSource, 1);
        EXPECT_EQ(viewer.describe(from), (Strings{"send 1024 0 0", fileFrame(sample("rec60.pva")), "send 1028 0 0"}));
        press(1029);
    });

    script.then([&] {
        // The saves: "Sauver" asks for a name the first time, "Sauver sous" always,
        // "Sauver Sélection" writes the selected entries only.
        const std::string whole = dir.file("whole.pva"), again = dir.file("again.pva"), part = dir.file("part.pva");
        files.answer = whole;
        size_t from = viewer.count();
        press(1071);
        EXPECT_EQ(viewer.describe(from), (Strings{"send 1024 0 0", fileFrame(clip), positionFrame(true)}));
        EXPECT_TRUE(groupEnabled(true));
        files.answer = again;
        press(1070);
        qttest::windowClick(window(), cellCentre(listPane, 2));
        qttest::windowClick(window(), cellCentre(listPane, 2), Qt::RightButton);
        files.answer = part;
        press(1075);
        EXPECT_EQ(files.requests.size(), 4u);
        ASSERT_TRUE(fileExists(whole) && fileExists(again) && fileExists(part)) << shown();
        EXPECT_EQ(std::filesystem::file_size(whole), std::filesystem::file_size(again));
        EXPECT_GT(std::filesystem::file_size(part), 0u);
        EXPECT_LT(std::filesystem::file_size(part), std::filesystem::file_size(whole));
        const size_t sizeBefore = std::filesystem::file_size(whole);
        // A second "Sauver" writes to the name it has without asking.
        press(1071);
        EXPECT_EQ(files.requests.size(), 4u);
        EXPECT_EQ(std::filesystem::file_size(again), sizeBefore);

        // The viewer buttons post their sizes, "OnTop" its state each time.
        from = viewer.count();
        for (int id : {1084, 1085, 1081, 1082, 1022, 1083, 1083}) press(id);
        ASSERT_TRUE(serveUntil([&] { return viewer.count() >= from + 7; }));
        EXPECT_EQ(viewer.describe(from), (Strings{"post 1031 1 1", "post 1031 3 4", "post 1031 1 2", "post 1031 1 4",
                                                  "post 1031 4 1", "post 1032 1 4", "post 1032 0 4"}));
        // "A propos " puts the about text alone in the console.
        press(1026);
        EXPECT_EQ(static_cast<QPlainTextEdit*>(control(1001))->toPlainText().toStdString().rfind("ORVANE", 0), 0u);

        press(1034);
        EXPECT_TRUE(window()->isMinimized());
        window()->showNormal();
    });

    script.then([&] {
        const size_t from = viewer.count();
        press(1035);
        EXPECT_EQ(program->mainWindow(), nullptr);
        ASSERT_TRUE(serveUntil([&] { return viewer.count() > from; }));
        EXPECT_EQ(viewer.describe(from), Strings{"post 16 0 0"});
    });

    EXPECT_EQ(run(quoted), 0);
}

TEST_F(DesktopSession, LongOperationsCancelFromTheirButtonsAndPlayStepsOnlyWhileNothingWaits)
{
    // Large enough that the pump serves the window many times before the end.
    const std::string big = std::string(ORVANE_SAMPLE_DIR) + "/gui-long400.pva";
    const RunResult made = testsupport::run(binary("pva-samplegen") + " long 400 '" + big + "'");
    ASSERT_EQ(made.status, 0) << made.err;

    script.then([&] {
        EXPECT_EQ(app().sourceCount, 0);
        // A scan of a large recording, cancelled from its button half way.
        bool busyGroupOff = false, sawBar = false;
        int barAt = -1;
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            if (!control(1057)->isVisible() || barAt >= 0) return;
            busyGroupOff = groupEnabled(false);
            auto* bar = static_cast<QProgressBar*>(control(1064));
            sawBar = bar->isVisible();
            barAt = bar->value();
            click(control(1057));
        });
        watcher.start(1);
        files.answer = big;
        press(1054);
        watcher.stop();
        EXPECT_TRUE(busyGroupOff && sawBar);
        EXPECT_GE(barAt, 0);
        EXPECT_LT(barAt, static_cast<QProgressBar*>(control(1064))->maximum());
        EXPECT_EQ(app().sourceCount, 0) << shown();
        EXPECT_FALSE(control(1057)->isVisible() || control(1064)->isVisible());
        EXPECT_TRUE(groupEnabled(true));
        EXPECT_EQ(app().settings.cancelRequested, 0);

        // The same recording scanned to the end, all of it listed, then a save
        // cancelled from its button half way.
        press(1054);
        ASSERT_EQ(app().sourceCount, 1) << shown();
        program->editor().selectUnit(Pane::source, 0, SelectEnd::start);
        program->editor().selectUnit(Pane::source, app().sources[0].lastCutPoint - 1, SelectEnd::end);
        press(1055);
        barAt = -1;
        busyGroupOff = sawBar = false;
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            if (!control(1058)->isVisible() || barAt >= 0) return;
            busyGroupOff = groupEnabled(false);
            sawBar = control(1065)->isVisible();
            barAt = static_cast<QProgressBar*>(control(1065))->value();
            if (const char* to = std::getenv("ORVANE_WINDOW_GRABS"))
                grab().save(QString::fromLocal8Bit(to) + "/saving.png");
            click(control(1058));
        });
        watcher.start(1);
        const std::string out = dir.file("out.pva");
        files.answer = out;
        press(1070);
        watcher.stop();
        EXPECT_TRUE(busyGroupOff && sawBar);
        EXPECT_LT(barAt, 100);
        EXPECT_TRUE(!fileExists(out) || std::filesystem::file_size(out) < std::filesystem::file_size(big));
        EXPECT_FALSE(control(1058)->isVisible() || control(1065)->isVisible());
        EXPECT_TRUE(groupEnabled(true));
    });

    // Play stepping: the slider two steps right of its centre steps forward every
    // 55 ms, posting each new position.
    size_t playFrom = 0;
    int32_t cursorBefore = 0;
    script.then([&] {
        cursorBefore = app().sources[0].cursor;
        playFrom = viewer.count();
        auto* slider = static_cast<QSlider*>(control(1099));
        QTest::keyClick(slider, Qt::Key_Right);
        QTest::keyClick(slider, Qt::Key_Right);
        EXPECT_EQ(slider->value(), 7);
        EXPECT_EQ(context().playState, 1);
        EXPECT_EQ(context().stepInterval, 55u);
    });
    struct Flood : QObject {
        QElapsedTimer clock;
        int ms = 0;
        int served = 0;
        bool event(QEvent* e) override
        {
            if (e->type() != QEvent::User) return QObject::event(e);
            ++served;
            if (clock.elapsed() < ms) QCoreApplication::postEvent(this, new QEvent(QEvent::User));
            return true;
        }
    } flood;
    size_t floodFrom = 0;
    script.then(
        [&] {
            const std::vector<StandInViewer::Frame> frames = viewer.frames();
            std::vector<double> at;
            uint64_t last = 0;
            for (size_t k = playFrom; k < frames.size(); ++k) {
                EXPECT_EQ(frames[k].message.number, 1028u);
                EXPECT_GT(frames[k].message.lParam, last);
                last = frames[k].message.lParam;
                at.push_back(frames[k].atMs);
            }
            // Taken here on another thread: single arrivals may lag a little.
            ASSERT_GE(at.size(), 10u);
            EXPECT_LE(at.size(), 19u);
            for (size_t k = 1; k < at.size(); ++k) EXPECT_GE(at[k] - at[k - 1], 30.0) << k;
            EXPECT_GE((at.back() - at.front()) / static_cast<double>(at.size() - 1), 54.0);
            EXPECT_EQ(app().sources[0].cursor, cursorBefore + static_cast<int32_t>(at.size()));
            // A steady stream of waiting events holds the steps back.
            flood.clock.start();
            flood.ms = 500;
            QCoreApplication::postEvent(&flood, new QEvent(QEvent::User));
            floodFrom = viewer.count();
        },
        1000);
    script.then(
        [&] {
            EXPECT_GT(flood.served, 100);
            EXPECT_LE(viewer.count(), floodFrom + 1);
            floodFrom = viewer.count();
        },
        400);
    script.then(
        [&] {
            EXPECT_GE(viewer.count(), floodFrom + 3);
            // "<" puts the slider back to its centre and stops.
            press(1029);
            EXPECT_EQ(static_cast<QSlider*>(control(1099))->value(), 5);
            EXPECT_EQ(context().playState, 0);
            floodFrom = viewer.count();
        },
        500);
    script.then(
        [&] {
            EXPECT_EQ(viewer.count(), floodFrom);

            // The wheel: over a pane it steps that pane, over the console it steps
            // the pane under the cursor (none there), never the console's text and
            // never the viewer.
            const size_t from = viewer.count();
            const int32_t cursor = app().sources[0].cursor;
            wheel(window(), cellCentre(sourcePane, 1), -120);
            EXPECT_EQ(app().sources[0].cursor, cursor + 1);
            wheel(window(), cellCentre(sourcePane, 3), 120);
            wheel(window(), cellCentre(sourcePane, 3), 120);
            EXPECT_EQ(app().sources[0].cursor, cursor - 1);
            const int32_t listCursor = list().cursor;
            wheel(window(), cellCentre(listPane, 0), -120);
            EXPECT_EQ(list().cursor, listCursor + 1);
            auto* console = static_cast<QPlainTextEdit*>(control(1001));
            for (int k = 0; k < 40; ++k) program->console().write("a line to scroll\n", 1);
            const int consoleAt = console->verticalScrollBar()->value();
            ASSERT_GT(consoleAt, 0);
            wheel(window(), qttest::inWindow(console->viewport(), console->viewport()->rect().center()), 120);
            EXPECT_EQ(console->verticalScrollBar()->value(), consoleAt);
            EXPECT_EQ(app().sources[0].cursor, cursor - 1);
            EXPECT_EQ(list().cursor, listCursor + 1);
            EXPECT_EQ(viewer.count(), from);

            // Dragging: the free background moves the window with the mouse, not
            // with shift held; a click in a pane never moves it.
            auto drag = [&](QPoint at, Qt::KeyboardModifiers modifiers) {
                const QPoint start = window()->pos();
                qttest::windowMouse(window(), QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton, modifiers);
                QCursor::setPos(window()->mapToGlobal(at) + QPoint(30, 20));
                qttest::windowMouse(window(), QEvent::MouseMove, at + QPoint(30, 20), Qt::NoButton, Qt::LeftButton,
                                    modifiers);
                qttest::windowMouse(window(), QEvent::MouseButtonRelease, at + QPoint(30, 20), Qt::LeftButton,
                                    Qt::NoButton, modifiers);
                return window()->pos() - start;
            };
            const QPoint free = background();
            EXPECT_EQ(drag(free, Qt::NoModifier), QPoint(30, 20));
            EXPECT_EQ(drag(free, Qt::ShiftModifier), QPoint(0, 0));
            EXPECT_EQ(drag(cellCentre(sourcePane, 0), Qt::NoModifier), QPoint(0, 0));
            EXPECT_EQ(drag(cellCentre(listPane, 4), Qt::NoModifier), QPoint(0, 0));
            press(1035);
        },
        200);

    EXPECT_EQ(run(""), 0);
}

TEST_F(DesktopSession, TheSetupDialogEditsAppliesAndStoresTheOptions)
{
    auto box = [&](int id) { return static_cast<QAbstractButton*>(setupControl(id)); };
    auto edit = [&](int id) { return static_cast<QLineEdit*>(setupControl(id)); };
    const Settings& live = app().settings;
    Settings& copy = context().workingCopy;

    script.then([&] {
        ASSERT_EQ(app().sourceCount, 1) << shown();
        press(1027);
        platform::qt::QtDialogWindow* setup = program->setupWindow();
        ASSERT_NE(setup, nullptr);
        EXPECT_TRUE(setup->widget()->isVisible());
        EXPECT_EQ(setup->widget()->windowTitle(), "Orvane Setup");
        if (const char* to = std::getenv("ORVANE_WINDOW_GRABS"))
            setup->widget()->grab().save(QString::fromLocal8Bit(to) + "/setup.png");
        // A second "Setup" leaves the one dialog as it is.
        press(1027);
        EXPECT_EQ(program->setupWindow(), setup);
        int shownDialogs = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            shownDialogs += w->objectName() == "PVADIALOG" && w->isVisible();
        EXPECT_EQ(shownDialogs, 1);

        // The two cut boxes are a pair; cutting at every picture switches the
        // assembly options and both offsets off.
        ASSERT_EQ(live.cutAtIFrames, 1);
        ASSERT_EQ(live.assCalcNewPts, 1);
        click(box(1055));
        EXPECT_TRUE(box(1055)->isChecked());
        EXPECT_FALSE(box(1058)->isChecked());
        EXPECT_EQ(copy.cutAtIFrames, 0);
        for (int id : {1060, 1059, 1061, 1062, 1065}) EXPECT_FALSE(setupControl(id)->isEnabled()) << id;
        for (int id : {1063, 1064, 1066, 1067, 1068}) EXPECT_TRUE(setupControl(id)->isEnabled()) << id;
        click(box(1058));
        EXPECT_FALSE(box(1055)->isChecked());
        EXPECT_EQ(copy.cutAtIFrames, 1);
        for (int id : {1060, 1059, 1061, 1062, 1065}) EXPECT_TRUE(setupControl(id)->isEnabled()) << id;
        // The offsets follow the new-time-stamps box.
        click(box(1061));
        EXPECT_EQ(copy.assCalcNewPts, 0);
        EXPECT_FALSE(setupControl(1062)->isEnabled() || setupControl(1065)->isEnabled());
        click(box(1061));
        EXPECT_TRUE(setupControl(1062)->isEnabled() && setupControl(1065)->isEnabled());
        // Every other box is its option.
        const std::pair<int, int32_t Settings::*> options[] = {
            {1060, &Settings::assAppendNextFrame}, {1059, &Settings::assCompleteAudioPkt},
            {1063, &Settings::splitPvaDstFile},    {1066, &Settings::saveNoAudio},
            {1067, &Settings::saveNoAVPacketHeader}, {1068, &Settings::fastBufferScan}};
        for (const auto& [id, field] : options) {
            const int32_t before = copy.*field;
            click(box(id));
            EXPECT_EQ(copy.*field, before ? 0 : 1) << id;
            EXPECT_EQ(box(id)->isChecked(), copy.*field != 0) << id;
            EXPECT_EQ(live.*field, before) << id;
        }

        // Numbers: what is not a whole number keeps the last valid one.
        edit(1064)->selectAll();
        QTest::keyClicks(edit(1064), "50");
        EXPECT_EQ(copy.splitPvaDstFileSizeMB, 50);
        QTest::keyClicks(edit(1064), "x");
        EXPECT_EQ(copy.splitPvaDstFileSizeMB, 50);
        edit(1064)->selectAll();
        QTest::keyClicks(edit(1064), "3");
        EXPECT_EQ(copy.splitPvaDstFileSizeMB, 50);
        edit(1062)->selectAll();
        QTest::keyClicks(edit(1062), "-");
        EXPECT_EQ(copy.assAudioPtsOffset, live.assAudioPtsOffset);
        QTest::keyClicks(edit(1062), "40");
        EXPECT_EQ(copy.assAudioPtsOffset, -40);

        // "Annuler" applies nothing; the dialog opens again on the live values.
        click(setupControl(1002));
        EXPECT_EQ(program->setupWindow(), nullptr);
        EXPECT_EQ(live.splitPvaDstFileSizeMB, 650);
        EXPECT_EQ(live.assAudioPtsOffset, 0);
        press(1027);
        ASSERT_NE(program->setupWindow(), nullptr);
        EXPECT_EQ(edit(1064)->text(), "650");
        EXPECT_FALSE(box(1063)->isChecked());

        // "SAUVER OPTIONS " applies and writes Orvane.ini; the dialog stays.
        edit(1064)->selectAll();
        QTest::keyClicks(edit(1064), "50");
        click(box(1063));
        click(setupControl(1003));
        EXPECT_NE(program->setupWindow(), nullptr);
        EXPECT_EQ(live.splitPvaDstFileSizeMB, 50);
        EXPECT_EQ(live.splitPvaDstFile, 1);
        const std::string ini = readText(dir.file("Orvane.ini"));
        EXPECT_NE(ini.find("splitPvaDstFileSizeMB=50"), std::string::npos) << ini;
        EXPECT_NE(ini.find("splitPvaDstFile=1"), std::string::npos) << ini;

        // "OK" without a changed cut rule keeps the source; with one it drops it.
        click(setupControl(1001));
        EXPECT_EQ(program->setupWindow(), nullptr);
        EXPECT_EQ(app().sourceCount, 1);
        press(1027);
        click(box(1055));
        click(setupControl(1001));
        EXPECT_EQ(app().sourceCount, 0);
        EXPECT_EQ(live.cutAtIFrames, 0);
        press(1035);
    });

    EXPECT_EQ(run(sample("clip.pva")), 0);
}

// An Orvane.ini that is a pipe nobody writes does not hold the window at its
// start: it is not read, and the console says so. Should the start wait on the
// pipe after all, a writer opens and closes it after a while so that the test
// fails instead of hanging.
TEST_F(DesktopSession, ASettingsFileThatIsAPipeIsIgnoredAtTheStart)
{
    ASSERT_EQ(::mkfifo(dir.file("Orvane.ini").c_str(), 0600), 0);
    std::atomic<bool> started{false}, unblocked{false};
    std::thread watchdog([&] {
        for (int k = 0; k < 300 && !started; ++k) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (started) return;
        unblocked = true;
        const int fd = ::open(dir.file("Orvane.ini").c_str(), O_WRONLY);
        if (fd >= 0) ::close(fd);
    });
    script.then([&] {
        started = true;
        EXPECT_NE(shown().find("ERROR: Orvane.ini ignored: it is not a regular file\r\n"), std::string::npos) << shown();
        EXPECT_EQ(app().settings.splitPvaDstFileSizeMB, 650);
        press(1035);
    });
    EXPECT_EQ(run(""), 0);
    started = true;
    watchdog.join();
    EXPECT_FALSE(unblocked) << "the start waited for a writer of Orvane.ini";
}

} // namespace
