// The Qt host services: the event pump keeps a busy window alive at a bounded
// cost, the main loop's queue dispatches and blocks, message boxes and file
// dialogs ask the user what the program asks.
#include "QtTestSupport.h"

#include "platform/qt/QtFileDialog.h"
#include "platform/qt/QtHost.h"
#include "platform/qt/QtMessageQueue.h"
#include "platform/qt/QtWindowSystem.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using qttest::RecordingHandler;

struct CountingObject : QObject {
    int events = 0;
    bool event(QEvent* e) override
    {
        if (e->type() != QEvent::User) return QObject::event(e);
        ++events;
        return true;
    }
};

uint64_t fakeNowUs = 0;
uint64_t fakeClock() { return fakeNowUs; }

TEST(QtEventPump, EntersQtOnlyOnceAnIntervalHasPassed)
{
    using platform::qt::QtEventPump;
    CountingObject target;
    QtEventPump pump(fakeClock, 4000);
    // How many calls it takes until the event waiting is served.
    const auto callsToServe = [&] {
        const int before = target.events;
        for (int call = 1; call <= 3 * QtEventPump::clockStride; ++call) {
            pump.serve(8);
            if (target.events != before) return call;
        }
        return 0;
    };
    fakeNowUs = 1000000;
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    EXPECT_EQ(callsToServe(), 1);

    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    fakeNowUs += 3999;
    EXPECT_EQ(callsToServe(), 0);
    fakeNowUs += 1;
    const int calls = callsToServe();
    EXPECT_GE(calls, 1);
    EXPECT_LE(calls, QtEventPump::clockStride);
    EXPECT_EQ(pump.entries(), 2u);
    // Nothing is served when nothing may be.
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    fakeNowUs += 10000;
    for (int i = 0; i < QtEventPump::clockStride; ++i) EXPECT_EQ(pump.serve(0), 0);
    EXPECT_EQ(target.events, 2);
    QCoreApplication::sendPostedEvents();
}

// A cancel click waiting in the queue is served while a long operation keeps
// calling the pump, without the operation giving control back.
TEST(QtEventPump, ServesAQueuedClickDuringABusyLoop)
{
    platform::qt::QtWindowSystem system;
    RecordingHandler handler;
    platform::qt::QtDialogWindow* main = system.createDialog("MAINCUTDIALOG", handler);
    main->show(true);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main->widget()));
    QWidget* cancel = main->control(1057)->widget();
    bool cancelled = false;
    handler.command = [&](int id, int) { cancelled = cancelled || id == 1057; };

    platform::qt::QtEventPump pump;
    QTimer::singleShot(30, cancel, [&] { qttest::windowClick(main->widget(), qttest::inWindow(cancel, QPoint(5, 5))); });
    QElapsedTimer elapsed;
    elapsed.start();
    volatile uint64_t work = 0;
    uint64_t calls = 0;
    while (!cancelled && elapsed.elapsed() < 5000) {
        for (int i = 0; i < 200; ++i) work = work * 6364136223846793005ull + 1442695040888963407ull;
        pump.serve(8);
        ++calls;
    }
    EXPECT_TRUE(cancelled);
    // Qt was entered far less often than the pump was called.
    EXPECT_LT(pump.entries() * 20, calls);
}

TEST(QtMessageQueue, DispatchesWhatWaitsBlocksUntilSomethingArrivesAndQuits)
{
    platform::qt::QtMessageQueue queue;
    CountingObject target;
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    while (queue.dispatchWaiting()) {
    }
    EXPECT_FALSE(queue.dispatchWaiting());

    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    EXPECT_TRUE(queue.dispatchWaiting());
    EXPECT_EQ(target.events, 1);

    // The wait returns once an event has come and been dispatched.
    QTimer::singleShot(20, &target, [&] { QCoreApplication::postEvent(&target, new QEvent(QEvent::User)); });
    while (target.events < 2) queue.waitForMessage();
    EXPECT_EQ(target.events, 2);

    int code = -5;
    EXPECT_FALSE(queue.quitPosted(code));
    EXPECT_EQ(code, -5);
    queue.postQuit(0);
    EXPECT_TRUE(queue.quitPosted(code));
    EXPECT_EQ(code, 0);
    queue.waitForMessage();   // does not block once quit is posted
}

// Runs `answer` on the next modal dialog once it is up.
void whenModal(std::function<void(QWidget*)> answer)
{
    QTimer::singleShot(0, [answer] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        answer(modal);
    });
}

TEST(QtMessageBox, ShowsItsCaptionAndTextModally)
{
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    whenModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        box->accept();
    });
    platform::qt::QtMessageBox().show("ERROR", "Can't create dialog window");
    EXPECT_EQ(title, "ERROR");
    EXPECT_EQ(text, "Can't create dialog window");
    EXPECT_EQ(icon, QMessageBox::Critical);
}

// A path of exactly `length` bytes to an existing file under base.
QString pathOfLength(const QString& base, int length)
{
    QString dir = base;
    while (length - dir.size() > 1 + 200 + 1 + 1) {
        dir += "/" + QString(200, QLatin1Char('d'));
        QDir().mkpath(dir);
    }
    const QString file = dir + "/" + QString(length - dir.size() - 1, QLatin1Char('f'));
    QFile f(file);
    f.open(QIODevice::WriteOnly);
    return file;
}

TEST(QtFileDialog, OffersTheRequestsFiltersAndTitleAndReturnsPathsUpToTheLimit)
{
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const QString longest = pathOfLength(scratch.path(), 1023);
    const QString tooLong = pathOfLength(scratch.path(), 1024);
    ASSERT_EQ(QFile::encodeName(longest).size(), 1023);
    ASSERT_TRUE(QFile::exists(tooLong));

    platform::qt::QtFileDialog dialogs;
    const auto request = platform::FileDialog::pvaFileRequest();
    QString title;
    QStringList filters;
    QString selectedFilter;
    bool existingOnly = false;
    whenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        title = dialog->windowTitle();
        filters = dialog->nameFilters();
        selectedFilter = dialog->selectedNameFilter();
        existingOnly = dialog->fileMode() == QFileDialog::ExistingFile;
        dialog->selectFile(longest);
        static_cast<QDialog*>(dialog)->accept();
    });
    auto open = request;
    open.mustExist = true;
    std::string path = "unchanged";
    EXPECT_TRUE(dialogs.openFile(open, path));
    EXPECT_EQ(path, longest.toStdString());
    EXPECT_EQ(title, "set PVA file");
    // Shown by their text; "*.*" takes every file, also those without a dot.
    EXPECT_EQ(filters, (QStringList{"*.pva *.pav (*.pva *.pav)", "*.* (*)"}));
    EXPECT_EQ(selectedFilter, "*.pva *.pav");
    EXPECT_TRUE(existingOnly);

    // Longer than the request allows: refused, never cut.
    whenModal([&](QWidget* modal) {
        auto* dialog = static_cast<QFileDialog*>(modal);
        dialog->selectFile(tooLong);
        static_cast<QDialog*>(dialog)->accept();
    });
    path = "unchanged";
    EXPECT_FALSE(dialogs.openFile(open, path));
    EXPECT_EQ(path, "unchanged");

    // Cancel.
    whenModal([](QWidget* modal) { static_cast<QFileDialog*>(modal)->reject(); });
    EXPECT_FALSE(dialogs.saveFile(request, path));
    EXPECT_EQ(path, "unchanged");

    // Saving: a new name in an existing directory.
    bool saving = false, confirms = false;
    const QString newName = scratch.path() + "/new.pva";
    whenModal([&](QWidget* modal) {
        auto* dialog = static_cast<QFileDialog*>(modal);
        saving = dialog->acceptMode() == QFileDialog::AcceptSave;
        confirms = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
        dialog->selectFile(newName);
        static_cast<QDialog*>(dialog)->accept();
    });
    auto save = request;
    save.confirmOverwrite = true;
    EXPECT_TRUE(dialogs.saveFile(save, path));
    EXPECT_EQ(path, newName.toStdString());
    EXPECT_TRUE(saving);
    EXPECT_TRUE(confirms);
}

} // namespace

// The whole path of a file typed into the name field, in the folder the dialog
// shows or in another one, then Enter: that file is opened. Qt's own dialog clears
// the field on an absolute path into the folder it shows and opens nothing.
TEST(QtFileDialog, AnAbsolutePathTypedIntoTheNameFieldOpensThatFile)
{
    QTemporaryDir scratch, elsewhere;
    ASSERT_TRUE(scratch.isValid() && elsewhere.isValid());
    const QString here = scratch.path() + "/clip.pva";
    const QString there = elsewhere.path() + "/other.pva";
    for (const QString& f : {here, there}) {
        QFile file(f);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    auto open = platform::FileDialog::pvaFileRequest();
    open.mustExist = true;
    platform::qt::QtFileDialog dialogs;
    for (const QString& typed : {here, there}) {
        SCOPED_TRACE(typed.toStdString());
        bool stillOpen = false;
        whenModal([&](QWidget* modal) {
            auto* dialog = static_cast<QFileDialog*>(modal);
            dialog->setDirectory(scratch.path());
            auto* field = dialog->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(field, nullptr);
            QTest::keyClicks(field, typed);
            QTest::keyClick(field, Qt::Key_Return);
            // A dialog that did not take the name is closed so that the test goes on.
            QTimer::singleShot(200, [dialog = QPointer<QFileDialog>(dialog), &stillOpen] {
                if (dialog && dialog->isVisible()) {
                    stillOpen = true;
                    dialog->reject();
                }
            });
        });
        std::string path;
        EXPECT_TRUE(dialogs.openFile(open, path));
        EXPECT_FALSE(stillOpen);
        EXPECT_EQ(path, typed.toStdString());
    }
}
