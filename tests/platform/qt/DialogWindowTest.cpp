// Both dialogs built from their templates with real widgets: what the user does
// to them reaches the handler as the right calls, and the window does what the
// program asks of it.
#include "QtTestSupport.h"

#include "platform/qt/QtMessageQueue.h"
#include "platform/qt/QtWindowSystem.h"
#include "resources/bitmaps/Bitmaps.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using platform::ScrollBar;
using platform::qt::QtDialogWindow;
using qttest::RecordingHandler;
using Strings = std::vector<std::string>;

class DialogWindowTest : public ::testing::Test {
protected:
    QtDialogWindow* open(const char* name)
    {
        QtDialogWindow* w = system.createDialog(name, handler);
        if (!w) return nullptr;
        w->show(true);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w->widget()));
        handler.calls.clear();
        return w;
    }
    QWidget* widget(QtDialogWindow* w, int id) { return w->control(id)->widget(); }
    QPoint centreOf(QtDialogWindow* w, int id)
    {
        QWidget* c = widget(w, id);
        return qttest::inWindow(c, c->rect().center());
    }

    platform::qt::QtWindowSystem system;
    RecordingHandler handler;
};

TEST_F(DialogWindowTest, InitRunsInsideCreateOnAHiddenWindowWithEveryControl)
{
    bool visibleAtInit = true;
    bool consoleAtInit = false;
    handler.init = [&](platform::Window& w) {
        auto& window = static_cast<QtDialogWindow&>(w);
        visibleAtInit = window.widget()->isVisible();
        consoleAtInit = w.child(1001) != nullptr && w.scrollBar(1051) != nullptr;
        w.setTitle("ORVANE 3.50  test\n");
    };
    QtDialogWindow* w = system.createDialog("MAINCUTDIALOG", handler);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(handler.calls, Strings{"init"});
    EXPECT_FALSE(visibleAtInit);
    EXPECT_TRUE(consoleAtInit);
    EXPECT_EQ(w->widget()->windowTitle(), "ORVANE 3.50  test");
    EXPECT_TRUE(w->widget()->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(w->clientSize(), (platform::Size{657, 457}));
    EXPECT_EQ(w->child(4711), nullptr);
    EXPECT_EQ(w->scrollBar(1054), nullptr);
    EXPECT_EQ(system.createDialog("NOSUCHDIALOG", handler), nullptr);
}

TEST_F(DialogWindowTest, ButtonsCheckBoxesAndEditsReportCommands)
{
    QtDialogWindow* main = open("MAINCUTDIALOG");
    qttest::windowClick(main->widget(), centreOf(main, 1054));
    qttest::windowClick(main->widget(), centreOf(main, 1055));
    // "OnTop" has toggled when its command arrives, and toggles back on the next click.
    std::vector<bool> onTopStates;
    handler.command = [&](int id, int) {
        if (id == 1083) onTopStates.push_back(main->child(1083)->isChecked());
    };
    qttest::windowClick(main->widget(), centreOf(main, 1083));
    qttest::windowClick(main->widget(), centreOf(main, 1083));
    EXPECT_EQ(onTopStates, (std::vector<bool>{true, false}));
    // A disabled button reports nothing.
    main->child(1071)->enable(false);
    qttest::windowClick(main->widget(), centreOf(main, 1071));
    EXPECT_EQ(handler.actions(), (Strings{"command 1054 0", "command 1055 0", "command 1083 0", "command 1083 0",
                                          "leftdown " + std::to_string(centreOf(main, 1071).x()) + "," +
                                              std::to_string(centreOf(main, 1071).y()) + " L",
                                          "leftup " + std::to_string(centreOf(main, 1071).x()) + "," +
                                              std::to_string(centreOf(main, 1071).y())}));

    handler.calls.clear();
    handler.command = nullptr;
    QtDialogWindow* setup = open("PVADIALOG");
    std::vector<bool> checkedAtCommand;
    handler.command = [&](int id, int) {
        if (id == 1055) checkedAtCommand.push_back(setup->child(1055)->isChecked());
    };
    qttest::windowClick(setup->widget(), centreOf(setup, 1055));
    // Setting a check box from the program is not a click.
    setup->child(1055)->setChecked(false);
    EXPECT_FALSE(setup->child(1055)->isChecked());
    // Typing into an edit control, and setting its text, are changes of it.
    QTest::keyClicks(widget(setup, 1064), "65");
    EXPECT_EQ(setup->child(1064)->currentText(), "65");
    setup->child(1062)->setText("-12");
    EXPECT_EQ(checkedAtCommand, std::vector<bool>{true});
    EXPECT_EQ(handler.actions(), (Strings{"command 1055 0", "command 1064 768", "command 1064 768", "command 1062 768"}));
}

TEST_F(DialogWindowTest, ScrollBarReportsActionsAndMovesOnlyWhenTheProgramMovesIt)
{
    QtDialogWindow* main = open("MAINCUTDIALOG");
    ScrollBar* bar = main->scrollBar(1051);
    auto* qbar = static_cast<QScrollBar*>(widget(main, 1051));
    ScrollBar::Info info;
    info.min = 0;
    info.max = 100000;
    info.page = 33333;
    info.pos = 99999;
    bar->setInfo(info, ScrollBar::setsRange | ScrollBar::setsPage | ScrollBar::setsPosition);
    // The highest position is max - page + 1.
    EXPECT_EQ(bar->info().pos, 66668);
    info.pos = 10000;
    bar->setInfo(info, ScrollBar::setsPosition);
    EXPECT_EQ(bar->info().max, 100000);
    EXPECT_EQ(bar->info().page, 33333);
    EXPECT_EQ(qbar->value(), 10000);

    // Arrows and page areas report their action; the bar stays until the
    // program moves it, here by 1000 on a right arrow only.
    int trackAtThumbTrack = -1;
    handler.scroll = [&](int id, int code) {
        if (id == 1051 && code == platform::scrollLineRight) {
            ScrollBar::Info moved;
            moved.pos = bar->info().pos + 1000;
            bar->setInfo(moved, ScrollBar::setsPosition);
        }
        if (code == platform::scrollThumbTrack) trackAtThumbTrack = bar->trackPosition();
    };
    const QPoint leftArrow = qttest::inWindow(qbar, QPoint(3, qbar->height() / 2));
    const QPoint rightArrow = qttest::inWindow(qbar, QPoint(qbar->width() - 3, qbar->height() / 2));
    const QPoint rightPage = qttest::inWindow(qbar, QPoint(qbar->width() - 40, qbar->height() / 2));
    qttest::windowClick(main->widget(), leftArrow);
    EXPECT_EQ(bar->info().pos, 10000);
    EXPECT_EQ(qbar->value(), 10000);
    qttest::windowClick(main->widget(), rightArrow);
    EXPECT_EQ(bar->info().pos, 11000);
    EXPECT_EQ(qbar->value(), 11000);
    qttest::windowClick(main->widget(), rightPage);
    EXPECT_EQ(qbar->value(), 11000);
    EXPECT_EQ(handler.actions(), (Strings{"scroll 1051 0", "scroll 1051 1", "scroll 1051 3"}));

    // The thumb follows a drag, reported with its track position, and goes back
    // to the set position when the program did not move it.
    handler.calls.clear();
    QStyleOptionSlider option;
    option.initFrom(qbar);
    option.orientation = Qt::Horizontal;
    option.state |= QStyle::State_Horizontal;
    option.minimum = qbar->minimum();
    option.maximum = qbar->maximum();
    option.sliderPosition = option.sliderValue = qbar->value();
    option.singleStep = qbar->singleStep();
    option.pageStep = qbar->pageStep();
    const QRect thumb = qbar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, qbar);
    const QPoint grip = qttest::inWindow(qbar, thumb.center());
    const int thumbX = grip.x(), y = grip.y();
    qttest::windowMouse(main->widget(), QEvent::MouseButtonPress, {thumbX, y}, Qt::LeftButton, Qt::LeftButton);
    qttest::windowMouse(main->widget(), QEvent::MouseMove, {thumbX + 150, y}, Qt::NoButton, Qt::LeftButton);
    EXPECT_GT(trackAtThumbTrack, 11000);
    EXPECT_EQ(bar->info().pos, 11000);
    qttest::windowMouse(main->widget(), QEvent::MouseButtonRelease, {thumbX + 150, y}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(qbar->value(), 11000);
    EXPECT_EQ(bar->trackPosition(), 11000);
    EXPECT_EQ(handler.actions(), (Strings{"scroll 1051 5", "scroll 1051 4", "scroll 1051 8"}));

    handler.calls.clear();
    handler.scroll = nullptr;
    qttest::windowClick(main->widget(), qttest::inWindow(widget(main, 1052), QPoint(3, 5)));
    EXPECT_EQ(handler.actions(), Strings{"scroll 1052 0"});
}

TEST_F(DialogWindowTest, SpeedSliderReportsItsMovesButNotTheProgramsSettings)
{
    QtDialogWindow* main = open("MAINCUTDIALOG");
    platform::Control* slider = main->child(1099);
    slider->setRange(0, 10);
    slider->setPosition(5);
    EXPECT_EQ(slider->currentPosition(), 5);
    std::vector<int> positions;
    handler.scroll = [&](int id, int) { positions.push_back(main->child(id)->currentPosition()); };
    widget(main, 1099)->setFocus();
    QTest::keyClick(widget(main, 1099), Qt::Key_Right);
    QTest::keyClick(widget(main, 1099), Qt::Key_PageUp);
    EXPECT_EQ(positions, (std::vector<int>{6, 8}));
    EXPECT_EQ(handler.actions(), (Strings{"scroll 1099 1", "scroll 1099 3"}));
}

TEST_F(DialogWindowTest, MouseOnTheBackgroundReachesTheHandlerAndOnAControlDoesNot)
{
    QtDialogWindow* main = open("MAINCUTDIALOG");
    QWidget* dialog = main->widget();
    // In the source pane, then on the free margin beside it.
    qttest::windowMouse(dialog, QEvent::MouseButtonPress, {300, 130}, Qt::LeftButton, Qt::LeftButton);
    qttest::windowMouse(dialog, QEvent::MouseMove, {310, 135}, Qt::NoButton, Qt::LeftButton, Qt::ShiftModifier);
    qttest::windowMouse(dialog, QEvent::MouseButtonRelease, {310, 135}, Qt::LeftButton, Qt::NoButton);
    qttest::windowClick(dialog, {650, 140}, Qt::RightButton);
    // A static text passes its clicks to the dialog; a button, the console and
    // a scroll bar take them.
    const QPoint infoLine = centreOf(main, 1067);
    qttest::windowClick(dialog, infoLine);
    qttest::windowClick(dialog, centreOf(main, 1001));
    qttest::windowClick(dialog, centreOf(main, 1027));
    const auto at = [](QPoint p) { return std::to_string(p.x()) + "," + std::to_string(p.y()); };
    EXPECT_EQ(handler.actions(), (Strings{"leftdown 300,130 L", "leftup 310,135", "rightdown 650,140 R",
                                          "leftdown " + at(infoLine) + " L", "leftup " + at(infoLine),
                                          "command 1027 0"}));
    EXPECT_NE(std::find(handler.calls.begin(), handler.calls.end(), "move 310,135 L S"), handler.calls.end());
}

TEST_F(DialogWindowTest, WheelOverWindowConsoleAndScrollBarGoesToTheDialog)
{
    QtDialogWindow* main = open("MAINCUTDIALOG");
    QWidget* dialog = main->widget();
    std::string lines;
    for (int i = 0; i < 200; ++i) lines += "line " + std::to_string(i) + "\r\n";
    main->child(1001)->setText(lines.c_str());
    auto* console = static_cast<QPlainTextEdit*>(widget(main, 1001));
    const int consoleTop = console->verticalScrollBar()->value();

    qttest::windowWheel(dialog, {300, 130}, 120);
    qttest::windowWheel(dialog, centreOf(main, 1001), -120);
    qttest::windowWheel(dialog, qttest::inWindow(console->verticalScrollBar(), QPoint(5, 30)), -240);
    qttest::windowWheel(dialog, centreOf(main, 1051), 120);
    // Half notches add up to one turn.
    qttest::windowWheel(dialog, {300, 260}, -60);
    qttest::windowWheel(dialog, {300, 260}, -60);
    EXPECT_EQ(console->verticalScrollBar()->value(), consoleTop);
    const auto at = [](QPoint p) { return std::to_string(p.x()) + "," + std::to_string(p.y()); };
    EXPECT_EQ(handler.actions(),
              (Strings{"wheel 120 300,130", "wheel -120 " + at(centreOf(main, 1001)),
                       "wheel -240 " + at(qttest::inWindow(console->verticalScrollBar(), QPoint(5, 30))),
                       "wheel 120 " + at(centreOf(main, 1051)), "wheel -120 300,260"}));

    // The console itself scrolls when the program says so.
    main->child(1001)->scrollLines(1000000);
    EXPECT_EQ(console->verticalScrollBar()->value(), console->verticalScrollBar()->maximum());
    EXPECT_GT(console->verticalScrollBar()->maximum(), 150);
}

TEST_F(DialogWindowTest, PaintDrawsTheSkinAndInvalidateRepaints)
{
    handler.paint = [&](platform::Canvas& canvas) {
        canvas.drawBitmap("BITMAP_MAIN", {657, 457});
        canvas.selectBrush(0xC8C8C8);
        canvas.rectangle({14, 100, 643, 172});
    };
    QtDialogWindow* main = open("MAINCUTDIALOG");
    const QImage shot = main->widget()->grab().toImage();
    const QImage skin = resources::bitmap("BITMAP_MAIN").toImage();
    EXPECT_EQ(shot.pixel(650, 180), skin.pixel(650, 180));
    EXPECT_EQ(shot.pixel(5, 5), skin.pixel(5, 5));
    EXPECT_EQ(shot.pixel(300, 130), qRgb(0xC8, 0xC8, 0xC8));
    EXPECT_EQ(shot.pixel(14, 100), qRgb(0, 0, 0));

    handler.calls.clear();
    main->invalidateRect({14, 100, 643, 172}, true);
    QApplication::processEvents();
    EXPECT_FALSE(handler.calls.empty());
    EXPECT_TRUE(handler.actions().empty());
}

TEST_F(DialogWindowTest, CloseGoesToTheHandlerWhichEndsTheWindowWithDestroy)
{
    QtDialogWindow* main = open("MAINCUTDIALOG");
    QPointer<QWidget> dialog = main->widget();
    QPointer<QWidget> infoLine = widget(main, 1067);
    // The window system's close only asks.
    dialog->close();
    EXPECT_TRUE(dialog->isVisible());
    main->sendClose();
    EXPECT_EQ(handler.actions(), (Strings{"close", "close"}));

    handler.close = [&] { main->destroy(); };
    dialog->close();
    EXPECT_FALSE(dialog->isVisible());
    platform::qt::QtMessageQueue queue;
    queue.dispatchWaiting();
    EXPECT_TRUE(dialog.isNull());
    EXPECT_TRUE(infoLine.isNull());
    // What is left answers calls and reports nothing more.
    main->child(1067)->setText("after the end");
    main->child(1064)->setPosition(3);
    main->invalidateRect({0, 0, 10, 10}, true);
    main->sendClose();
    EXPECT_EQ(main->clientSize(), (platform::Size{0, 0}));
    EXPECT_EQ(handler.actions(), (Strings{"close", "close", "close"}));
}

// The drag rule: the window's corner goes to cursor - grab point - frame.
TEST_F(DialogWindowTest, MovingByHandKeepsTheGrabPointUnderTheCursor)
{
    QtDialogWindow* main = open("MAINCUTDIALOG");
    const platform::Point grab{200, 40};
    QCursor::setPos(500, 300);
    const platform::Point cursor = main->cursorScreenPosition();
    const platform::Size frame = main->dialogFrame();
    main->moveTo({cursor.x - grab.x - frame.width, cursor.y - grab.y - frame.height});
    EXPECT_EQ(main->cursorClientPosition(), grab);
    // Offscreen windows are placed by the program, not by the window system.
    EXPECT_FALSE(main->beginSystemMove());

    main->child(1055)->setToolTip("add selected source pva mpeg packets to the end of the new pva");
    EXPECT_EQ(widget(main, 1055)->toolTipDuration(), 6000);
}

} // namespace
