// orvane-screenshot OUTDIR RECORDING: runs the desktop program offscreen on a
// recording and saves the window as a user sees it in each state: idle, scanning,
// scanned with a selection and a list, saving, and the setup dialog. The file
// dialogs are answered by the tool; the viewer is left out (a stand-in that is
// always there), and so are the viewer link's pauses.
#include "platform/qt/QtHost.h"
#include "shell/qt/DesktopProgram.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTimer>

#include <cstdio>
#include <string>

namespace {

struct AnsweringFileDialog final : platform::FileDialog {
    std::string answer;
    bool openFile(const Request&, std::string& path) override { return reply(path); }
    bool saveFile(const Request&, std::string& path) override { return reply(path); }
    bool reply(std::string& path)
    {
        path = answer;
        return true;
    }
};

struct PresentViewer final : platform::ViewerChannel {
    bool find() override { return true; }
    bool start(const char*) override { return true; }
    bool send(const platform::ViewerMessage&) override { return true; }
    bool post(const platform::ViewerMessage&) override { return true; }
};

struct NoSleepClock final : platform::Clock {
    platform::qt::QtClock real;
    uint32_t nowMs() override { return real.nowMs(); }
    void sleepMs(uint32_t) override {}
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: orvane-screenshot OUTDIR RECORDING\n");
        return 2;
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);
    const std::string recording = argv[2];
    QDir().mkpath(out);

    AnsweringFileDialog files;
    PresentViewer viewer;
    NoSleepClock clock;
    DesktopProgram program(DesktopOverrides{&files, &viewer, &clock});
    int failures = 0;
    auto save = [&](QWidget* w, const char* name) {
        const QString path = out + "/" + name + ".png";
        // 256 colours hold the skin and the grey cells and keep the pictures small.
        const QImage image = w->grab().toImage().convertToFormat(QImage::Format_Indexed8, Qt::AvoidDither);
        if (!image.save(path, "PNG", 0)) {
            std::fprintf(stderr, "orvane-screenshot: cannot write %s\n", path.toLocal8Bit().constData());
            ++failures;
        } else {
            std::printf("%s\n", path.toLocal8Bit().constData());
        }
    };
    auto widget = [&](int id) { return program.mainWindow()->control(id)->widget(); };
    auto press = [&](int id) { static_cast<QAbstractButton*>(widget(id))->click(); };
    // Saves the window once while the cancel button `cancel` shows.
    auto grabWhileBusy = [&](int cancel, const char* name) {
        auto* timer = new QTimer(&application);
        QObject::connect(timer, &QTimer::timeout, [&, timer, cancel, name] {
            if (!widget(cancel)->isVisible()) return;
            timer->stop();
            save(program.mainWindow()->widget(), name);
            timer->deleteLater();
        });
        timer->start(1);
    };

    QTimer::singleShot(0, &application, [&] {
        QWidget* window = program.mainWindow()->widget();
        save(window, "idle");
        files.answer = recording;
        grabWhileBusy(1057, "scanning");
        press(1054);
        if (program.app().sourceCount != 1) {
            std::fprintf(stderr, "orvane-screenshot: %s could not be scanned\n", recording.c_str());
            ++failures;
            program.requestClose();
            return;
        }
        CutEditor& editor = program.editor();
        const int32_t units = program.app().sources[0].lastCutPoint;
        // A list of three pieces, a selection in the source and the list cursor in the middle.
        for (int32_t start : {units / 6, units / 2, units / 3}) {
            editor.selectUnit(Pane::source, start, SelectEnd::start);
            editor.selectUnit(Pane::source, start + 2, SelectEnd::end);
            press(1055);
        }
        program.shell().context().views.stepCursor(Pane::source, units / 3 + 1);
        program.shell().context().views.stepCursor(Pane::list, 2);
        editor.selectUnit(Pane::list, 3, SelectEnd::start);
        editor.selectUnit(Pane::list, 4, SelectEnd::end);
        window->update();
        save(window, "orvane");
        // A long list, so that the save lasts long enough to be seen.
        editor.selectUnit(Pane::source, 0, SelectEnd::start);
        editor.selectUnit(Pane::source, units - 1, SelectEnd::end);
        press(1055);
        files.answer = (out + "/orvane-screenshot-save.pva").toLocal8Bit().toStdString();
        grabWhileBusy(1058, "saving");
        // The check that follows the save, on the same progress bar, and its message box.
        bool checkGrabbed = false;
        auto* checking = new QTimer(&application);
        QObject::connect(checking, &QTimer::timeout, [&, checking] {
            if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                save(program.mainWindow()->widget(), "checked");
                save(box, "check-message");
                box->accept();
                checking->stop();
                checking->deleteLater();
                return;
            }
            const std::string console(program.console().text(), static_cast<size_t>(program.console().length()));
            if (!checkGrabbed && widget(1058)->isVisible() && console.find("Check: ") != std::string::npos) {
                save(program.mainWindow()->widget(), "checking");
                checkGrabbed = true;
            }
        });
        checking->start(5);
        press(1070);
        QFile::remove(QString::fromStdString(files.answer));
        press(1027);
        if (QWidget* setup = program.setupWindow() ? program.setupWindow()->widget() : nullptr) save(setup, "setup");
        else ++failures;
        program.requestClose();
    });
    const int code = program.run("");
    return failures ? 1 : code;
}
