// window_bench FILE [RUNS] [cold][,viewer]: the desktop program's scan against
// orvane-cli's, on the same recording in the page cache, in one run; with "cold" the
// page cache is dropped before every scan (as root), so both read the file from the
// disk; with "viewer" the window runs with the real viewer beside it (started as the
// program starts it) and a scan is timed from the click to its end.
//
// The window (offscreen, the real widgets, logic and event pump) scans FILE from
// its "Nouvelle Source PVA" button, RUNS times, alternating with `orvane-cli scan
// FILE`; the best times give the ratio. The viewer link's pauses are left out (a
// clock that does not sleep, a viewer that is always there and answers at once):
// the window's scan runs from the file dialog's answer to the first message to
// the viewer after it. A further scan runs with a 1 ms timer standing for waiting
// events: the longest gap between two of its timeouts is the longest time the
// window went unserved. Then the program rests 10 s in its main loop; its
// processor time over that span is printed as a share of one core.
#include "platform/qt/QtHost.h"
#include "shell/qt/DesktopProgram.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

double seconds(const QElapsedTimer& t) { return static_cast<double>(t.nsecsElapsed()) / 1e9; }

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The file dialog answers at once and starts the clock of the scan.
struct TimedFileDialog final : platform::FileDialog {
    std::string answer;
    QElapsedTimer* clock = nullptr;
    bool openFile(const Request&, std::string& path) override
    {
        path = answer;
        clock->start();
        return true;
    }
    bool saveFile(const Request&, std::string&) override { return false; }
};

// A viewer that is always there; the first message after a scan stops its clock.
struct TimedViewer final : platform::ViewerChannel {
    QElapsedTimer* clock = nullptr;
    double stoppedAt = -1;
    bool find() override { return true; }
    bool start(const char*) override { return true; }
    bool send(const platform::ViewerMessage&) override
    {
        if (stoppedAt < 0 && clock->isValid()) stoppedAt = seconds(*clock);
        return true;
    }
    bool post(const platform::ViewerMessage& m) override { return send(m); }
};

struct NoSleepClock final : platform::Clock {
    platform::qt::QtClock real;
    uint32_t nowMs() override { return real.nowMs(); }
    void sleepMs(uint32_t) override {}
};

// Empties the page cache, so that the next scan reads from the disk.
bool dropPageCache()
{
    sync();
    std::FILE* f = std::fopen("/proc/sys/vm/drop_caches", "w");
    if (!f) return false;
    const bool ok = std::fputs("3\n", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_bench FILE [RUNS]\n");
        return 2;
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::string file = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::string mode = argc > 3 ? argv[3] : "";
    const bool cold = mode.find("cold") != std::string::npos;
    const bool realViewer = mode.find("viewer") != std::string::npos;
    if (cold && !dropPageCache()) {
        std::fprintf(stderr, "window_bench: cannot drop the page cache (run as root)\n");
        return 2;
    }
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    const QString cli = QCoreApplication::applicationDirPath() + "/orvane-cli";

    QElapsedTimer scanClock;
    TimedFileDialog files;
    files.answer = file;
    files.clock = &scanClock;
    TimedViewer viewer;
    viewer.clock = &scanClock;
    NoSleepClock clock;
    DesktopProgram program(realViewer ? DesktopOverrides{&files} : DesktopOverrides{&files, &viewer, &clock});

    double bestWindow = 1e9, bestCli = 1e9, bestScanning = 1e9, longestGapMs = 0, restCpu = 0;
    bool failed = false;
    auto windowScan = [&] {
        viewer.stoppedAt = -1;
        scanClock.invalidate();
        const int before = program.app().sourceCount;
        QElapsedTimer click;
        // While the scan runs it serves events: a 1 ms timer sees when it begins and ends.
        double busyFrom = -1, busyTo = -1;
        QTimer watch;
        watch.setTimerType(Qt::PreciseTimer);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (program.app().busy == 0) return;
            busyTo = seconds(click);
            if (busyFrom < 0) busyFrom = busyTo;
        });
        if (realViewer) watch.start(1);
        click.start();
        static_cast<QAbstractButton*>(program.mainWindow()->control(1054)->widget())->click();
        if (realViewer) {
            viewer.stoppedAt = seconds(click);
            bestScanning = std::min(bestScanning, busyTo - busyFrom);
            std::printf("  window scan %.3f s: %.3f s before the scan, %.3f s scanning, %.3f s after it\n",
                        viewer.stoppedAt, busyFrom, busyTo - busyFrom, viewer.stoppedAt - busyTo);
        }
        if (program.app().sourceCount != before + 1 || viewer.stoppedAt < 0) {
            std::fprintf(stderr, "window_bench: the window's scan of %s failed\n", file.c_str());
            failed = true;
            return 0.0;
        }
        return viewer.stoppedAt;
    };
    auto cliScan = [&] {
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer t;
        t.start();
        p.start(cli, {"scan", QString::fromStdString(file)});
        p.waitForFinished(-1);
        const double s = seconds(t);
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            std::fprintf(stderr, "window_bench: orvane-cli scan failed\n");
            failed = true;
        }
        return s;
    };

    QTimer::singleShot(0, &application, [&] {
        for (int k = 0; k < runs && !failed; ++k) {
            if (cold) dropPageCache();
            bestCli = std::min(bestCli, cliScan());
            if (cold) dropPageCache();
            bestWindow = std::min(bestWindow, windowScan());
            // The window keeps at most 16 sources: drop them between runs.
            program.editor().resetEditor();
        }
        // Served events during a scan: a 1 ms timer's longest gap.
        QElapsedTimer gapClock;
        qint64 last = -1;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const qint64 now = gapClock.nsecsElapsed();
            if (last >= 0) longestGapMs = std::max(longestGapMs, static_cast<double>(now - last) / 1e6);
            last = now;
        });
        if (cold) dropPageCache();
        gapClock.start();
        probe.start(1);
        if (!failed) windowScan();
        probe.stop();

        // Rest: the main loop waits for events.
        QTimer::singleShot(100, &application, [&] {
            const double cpu0 = processCpuSeconds();
            QElapsedTimer rest;
            rest.start();
            QTimer::singleShot(10000, &application, [&, cpu0, rest] {
                restCpu = (processCpuSeconds() - cpu0) / seconds(rest);
                program.requestClose();
            });
        });
    });
    program.run("");

    if (failed) return 1;
    std::printf("file                      %s%s%s\n", file.c_str(), cold ? " (page cache dropped before each scan)" : "",
                realViewer ? " (the real viewer beside the window)" : "");
    std::printf("scan, orvane-cli          %.3f s (best of %d)\n", bestCli, runs);
    std::printf("scan, window              %.3f s (best of %d)\n", bestWindow, runs);
    std::printf("window / orvane-cli       %.3f   (goal: <= 1.1)\n", bestWindow / bestCli);
    if (realViewer)
        std::printf("scanning part / orvane-cli %.3f   (the rest is the pauses around telling the viewer)\n",
                    bestScanning / bestCli);
    std::printf("longest unserved gap      %.1f ms during a scan (goal: < 20 ms)\n", longestGapMs);
    std::printf("processor time at rest    %.3f %% of one core over 10 s (goal: < 1 %%)\n", restCpu * 100);
    return 0;
}
