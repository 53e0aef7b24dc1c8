// The desktop program worked by keys alone, with its real widgets and its real
// file dialogs (paths typed into them), against orvane-cli's output for the
// same edits.
#include "DesktopTestSupport.h"
#include "cut/ProjectFile.h"
#include "shell/qt/DesktopProgram.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QToolTip>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

using namespace desktoptest;
using namespace testsupport;

namespace {

class DesktopKeys : public ::testing::Test {
protected:
    ScratchDir dir{"keys"};
    ScopedWorkingDir cwd{dir.path()};
    PrivateRuntimeDir runtime;
    StandInViewer viewer;
    std::unique_ptr<DesktopProgram> program = std::make_unique<DesktopProgram>();
    Script script;
    std::string source = dir.file("rec.pva");
    int dialogsTyped = 0;

    void SetUp() override { std::filesystem::copy_file(sample("rec60.pva"), source); }
    std::string shown()
    {
        return std::string(program->console().text(), static_cast<size_t>(program->console().length()));
    }
    QWidget* window() { return program->mainWindow()->widget(); }
    const CutList& list() { return program->editor().currentList(); }
    std::vector<int32_t> units()
    {
        std::vector<int32_t> u;
        for (int32_t k = 0; k < list().count; ++k) u.push_back(list().unit[k]);
        return u;
    }
    // A key to the window, or to the control that has the focus.
    void key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier, QWidget* to = nullptr)
    {
        QTest::keyClick(to ? to : window(), k, m);
    }
    void keys(std::initializer_list<Qt::Key> ks)
    {
        for (Qt::Key k : ks) key(k);
    }
    // The next file dialog gets `path` typed into its name field and Return; a
    // save dialog has it chosen (Return there goes to the field's completer).
    void typeIntoNextFileDialog(const std::string& path)
    {
        auto* poll = new QTimer(qApp);
        QObject::connect(poll, &QTimer::timeout, [this, poll, path] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            poll->deleteLater();
            poll->stop();
            ++dialogsTyped;
            if (dialog->acceptMode() == QFileDialog::AcceptSave) {
                const QFileInfo chosen(QString::fromStdString(path));
                dialog->setDirectory(chosen.absolutePath());
                dialog->selectFile(chosen.fileName());
                if (auto* field = dialog->findChild<QLineEdit*>("fileNameEdit")) field->setText(chosen.fileName());
                static_cast<QDialog*>(dialog)->accept();
                QTimer::singleShot(500, [dialog = QPointer<QFileDialog>(dialog)] {
                    if (dialog && dialog->isVisible()) dialog->reject();
                });
                return;
            }
            auto* field = dialog->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(field, nullptr);
            field->clear();
            QTest::keyClicks(field, QString::fromStdString(path));
            QTest::keyClick(field, Qt::Key_Return);
            QTimer::singleShot(500, [dialog = QPointer<QFileDialog>(dialog)] {
                if (dialog && dialog->isVisible()) dialog->reject();
            });
        });
        poll->start(20);
    }
    int run(const std::string& commandLine = "")
    {
        script.start([this] { program->requestClose(); },
                     [this] { return program->mainWindow() && program->shell().context().operationsRunning() == 0; });
        const int code = program->run(commandLine);
        EXPECT_TRUE(script.finished());
        return code;
    }
};

TEST_F(DesktopKeys, AWholeEditByKeysSavesWhatOrvaneCliSavesForTheSameEdits)
{
    script.then([&] {
        typeIntoNextFileDialog(source);
        key(Qt::Key_O, Qt::ControlModifier);
        ASSERT_EQ(program->app().sourceCount, 1);
        ASSERT_EQ(dialogsTyped, 1);
        const SourceStream& src = program->app().sources[0];
        // Units 2-4 appended, 6-7 inserted before entry 1, entry 3 deleted, undone, redone.
        keys({Qt::Key_Home, Qt::Key_Right, Qt::Key_Right, Qt::Key_BracketLeft, Qt::Key_Right, Qt::Key_Right,
              Qt::Key_BracketRight, Qt::Key_Return});
        EXPECT_EQ(units(), (std::vector<int32_t>{2, 3, 4}));
        keys({Qt::Key_Right, Qt::Key_Right, Qt::Key_I, Qt::Key_Right, Qt::Key_O});
        EXPECT_TRUE(src.selStart == 6 && src.selEnd == 7);
        keys({Qt::Key_Tab, Qt::Key_Home, Qt::Key_Right, Qt::Key_Tab, Qt::Key_Insert});
        EXPECT_EQ(units(), (std::vector<int32_t>{2, 6, 7, 3, 4}));
        // The keys work also while a button has the focus.
        QWidget* addButton = program->mainWindow()->control(1055)->widget();
        addButton->setFocus();
        key(Qt::Key_Tab, Qt::NoModifier, addButton);
        keys({Qt::Key_Home, Qt::Key_Right, Qt::Key_Right, Qt::Key_Right, Qt::Key_I, Qt::Key_O});
        key(Qt::Key_Delete, Qt::NoModifier, addButton);
        EXPECT_EQ(units(), (std::vector<int32_t>{2, 6, 7, 4}));
        key(Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(units(), (std::vector<int32_t>{2, 6, 7, 3, 4}));
        key(Qt::Key_Y, Qt::ControlModifier);
        EXPECT_EQ(units(), (std::vector<int32_t>{2, 6, 7, 4}));
        typeIntoNextFileDialog(dir.file("keys.pva"));
        key(Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(dialogsTyped, 2);
        typeIntoNextFileDialog(dir.file("keys.orvane"));
        key(Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(dialogsTyped, 3);
    });
    EXPECT_EQ(run(), 0);

    ASSERT_TRUE(fileExists(dir.file("keys.pva")));
    const RunResult cli = testsupport::run("'" + binary("orvane-cli") + "' cut -o '" + dir.file("cli.pva")
                                           + "' --add 0:2-4 --insert 0:6-7@1 --delete 3-3 --undo --redo '" + source + "'");
    ASSERT_EQ(cli.status, 0) << cli.err;
    const std::vector<uint8_t> saved = readBytes(dir.file("keys.pva"));
    EXPECT_GT(saved.size(), 100000u);
    EXPECT_TRUE(saved == readBytes(dir.file("cli.pva")));

    // The project the keys saved gives the same new PVA in orvane-cli.
    const RunResult fromProject = testsupport::run("'" + binary("orvane-cli") + "' cut -o '" + dir.file("project.pva")
                                                   + "' --project '" + dir.file("keys.orvane") + "'");
    ASSERT_EQ(fromProject.status, 0) << fromProject.err;
    EXPECT_TRUE(readBytes(dir.file("project.pva")) == saved);
}

TEST_F(DesktopKeys, TheCommandLineOpensAProjectAndItsSaveIsTheSameAsBeforeClosing)
{
    const RunResult cli = testsupport::run("'" + binary("orvane-cli") + "' cut -o '" + dir.file("before.pva")
                                           + "' --add 0:3-9 --add 0:1-1 --save-project '" + dir.file("p.orvane") + "' '"
                                           + source + "'");
    ASSERT_EQ(cli.status, 0) << cli.err;
    script.then([&] {
        EXPECT_EQ(units(), (std::vector<int32_t>{3, 4, 5, 6, 7, 8, 9, 1}));
        typeIntoNextFileDialog(dir.file("after.pva"));
        key(Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(dialogsTyped, 1);
        EXPECT_TRUE(fileExists(dir.file("after.pva"))) << shown();
    });
    EXPECT_EQ(run(dir.file("p.orvane")), 0);
    EXPECT_TRUE(readBytes(dir.file("after.pva")) == readBytes(dir.file("before.pva")))
        << readBytes(dir.file("after.pva")).size() << " " << readBytes(dir.file("before.pva")).size() << cli.out << cli.err;
}

// Dropping two recordings loads both; dropping a project opens it in their place.
TEST_F(DesktopKeys, DroppedRecordingsLoadAndADroppedProjectOpens)
{
    std::filesystem::copy_file(sample("clip.pva"), dir.file("clip.pva"));
    const RunResult cli = testsupport::run("'" + binary("orvane-cli") + "' cut -o '" + dir.file("p.pva")
                                           + "' --add 0:1-2 --save-project '" + dir.file("p.orvane") + "' '" + source + "'");
    ASSERT_EQ(cli.status, 0) << cli.err;
    auto drop = [&](const std::vector<std::string>& paths) {
        QMimeData data;
        QList<QUrl> urls;
        for (const std::string& p : paths) urls << QUrl::fromLocalFile(QString::fromStdString(p));
        data.setUrls(urls);
        const QPoint at(300, 380);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window(), &dropped);
        return dropped.isAccepted();
    };
    script.then([&] {
        EXPECT_TRUE(drop({source, dir.file("clip.pva")}));
        ASSERT_EQ(program->app().sourceCount, 2) << shown();
        EXPECT_EQ(program->app().sources[1].fileName, dir.file("clip.pva"));
        EXPECT_TRUE(drop({dir.file("p.orvane")}));
        EXPECT_EQ(program->app().sourceCount, 1);
        EXPECT_EQ(units(), (std::vector<int32_t>{1, 2}));
        EXPECT_NE(shown().find("project opened: " + dir.file("p.orvane")), std::string::npos) << shown();
    });
    EXPECT_EQ(run(), 0);
}

// The close question and a tip with its key, as a user sees them (with
// ORVANE_WINDOW_GRABS=DIR also saved as pictures).
TEST_F(DesktopKeys, ClosingWithAChangedListAsksAndTheTipsNameTheKeys)
{
    DesktopOverrides asking;
    asking.askQuestions = true;
    program = std::make_unique<DesktopProgram>(asking);
    const char* grabs = std::getenv("ORVANE_WINDOW_GRABS");
    auto grabScreen = [&](const char* name) {
        if (!grabs) return;
        QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromLocal8Bit(grabs) + "/" + name + ".png");
    };
    std::string question;
    QStringList answers;
    script.then([&] {
        typeIntoNextFileDialog(source);
        key(Qt::Key_O, Qt::ControlModifier);
        keys({Qt::Key_Right, Qt::Key_BracketLeft, Qt::Key_Right, Qt::Key_Right, Qt::Key_BracketRight, Qt::Key_Return});
        ASSERT_EQ(units(), (std::vector<int32_t>{1, 2, 3}));

        // The tip of "Add " as the mouse resting on it shows it.
        QWidget* add = program->mainWindow()->control(1055)->widget();
        const QPoint inside = add->rect().center();
        QHelpEvent help(QEvent::ToolTip, inside, add->mapToGlobal(inside));
        QApplication::sendEvent(add, &help);
        EXPECT_EQ(QToolTip::text().toStdString(), "add selected source pva mpeg packets to the end of the new pva\nkey: Enter");
        serveFor(300);
        grabScreen("tooltip-key");
        QToolTip::hideText();

        // The question as it shows, before anyone answers it; then "Cancel": the
        // window stays with its list.
        struct Watch : QObject {
            std::function<void(QMessageBox*)> shown;
            bool eventFilter(QObject* o, QEvent* e) override
            {
                if (e->type() == QEvent::Show)
                    if (auto* box = qobject_cast<QMessageBox*>(o)) shown(box);
                return false;
            }
        };
        auto watch = std::make_unique<Watch>();
        watch->shown = [&](QMessageBox* box) {
            question = box->text().toStdString();
            for (QAbstractButton* b : box->buttons()) answers << b->text();
            if (grabs) {
                box->adjustSize();
                box->grab().save(QString::fromLocal8Bit(grabs) + "/close-question.png");
                QPixmap both = window()->grab();
                QPainter painter(&both);
                const QPixmap boxPicture = box->grab();
                painter.drawPixmap((both.width() - boxPicture.width()) / 2, (both.height() - boxPicture.height()) / 2,
                                   boxPicture);
                painter.end();
                both.save(QString::fromLocal8Bit(grabs) + "/close-question-over-window.png");
            }
            QTimer::singleShot(0, box, [box] {
                for (QAbstractButton* b : box->buttons())
                    if (b->text() == QLatin1String("Cancel")) b->click();
            });
        };
        qApp->installEventFilter(watch.get());
        click(program->mainWindow()->control(1035)->widget());
        qApp->removeEventFilter(watch.get());
        EXPECT_NE(program->mainWindow(), nullptr);
        EXPECT_EQ(units(), (std::vector<int32_t>{1, 2, 3}));
    });
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(question, "The cut list has changed since it was last saved.\nSave it as a project first?");
    EXPECT_EQ(answers.join(",").toStdString(), "Save project,Close,Cancel");
}

} // namespace
