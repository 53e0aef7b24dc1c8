// Time from a position message to the picture shown, through the real viewer:
//   viewer_latency_bench FILE [COUNT]
// Starts DVD2AVI_PVAVIEW --trace (offscreen unless QT_QPA_PLATFORM says otherwise)
// on a private endpoint, opens FILE, then posts COUNT positions (default 300) in a
// shuffled order, each after the previous picture was shown, first among the cut
// points at I pictures, then among those at every picture. The picture counts as
// shown when the viewer reports it after painting it. Prints median and 95th
// percentile of each, and for reference the round trip of a sent message.
#include "platform/ViewerProtocol.h"
#include "platform/qt/QtViewerChannel.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using namespace platform;

namespace {

std::vector<uint64_t> cutPoints(const QString& bin, const char* file, bool everyPicture)
{
    QProcess cli;
    cli.start(bin + "/orvane-cli", {"--set", everyPicture ? "cutAtIFrames=0" : "cutAtIFrames=1", "units", file});
    cli.waitForFinished(600000);
    std::vector<uint64_t> offsets;
    const QList<QByteArray> lines = cli.readAllStandardOutput().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> f = lines[i].split('\t');
        if (f.size() > 3) offsets.push_back(f[3].toULongLong());
    }
    return offsets;
}

struct Stats {
    double median, p95, worst;
};

Stats stats(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    auto at = [&](double q) { return ms[std::min(ms.size() - 1, static_cast<size_t>(q * (ms.size() - 1) + 0.5))]; };
    return {at(0.5), at(0.95), ms.back()};
}

class Viewer {
public:
    explicit Viewer(const QString& program)
    {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(program, {"--trace"});
        process_.waitForStarted();
    }
    ~Viewer()
    {
        process_.terminate();
        if (!process_.waitForFinished(3000)) process_.kill();
    }
    // Waits for the trace line that begins with `prefix`; false after timeoutMs.
    bool waitFor(const QByteArray& prefix, int timeoutMs = 10000)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            while (process_.canReadLine()) {
                const QByteArray line = process_.readLine();
                if (line.startsWith(prefix)) return true;
            }
            const qint64 left = timeoutMs - clock.elapsed();
            if (left <= 0 || process_.state() != QProcess::Running) return false;
            process_.waitForReadyRead(static_cast<int>(left));
        }
    }

private:
    QProcess process_;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: viewer_latency_bench FILE [COUNT]\n");
        return 2;
    }
    const int count = argc == 3 ? std::atoi(argv[2]) : 300;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // A private endpoint, so that a viewer the user runs is left alone.
    char runtime[] = "/tmp/orvane-viewer-bench-XXXXXX";
    if (!::mkdtemp(runtime)) return 1;
    ::setenv("XDG_RUNTIME_DIR", runtime, 1);
    QCoreApplication app(argc, argv);
    const QString bin = QCoreApplication::applicationDirPath();

    int status = 0;
    {
        Viewer viewer(bin + "/DVD2AVI_PVAVIEW");
        qt::QtViewerChannel channel;
        for (int i = 0; i < 100 && !channel.find(); ++i) QThread::msleep(50);
        if (!channel.send(viewerFileMessage(argv[1])) || !viewer.waitFor("picture 0 ")) {
            std::fprintf(stderr, "the viewer did not show %s\n", argv[1]);
            status = 1;
        }
        std::mt19937 random(12345);
        for (bool everyPicture : {false, true}) {
            if (status) break;
            std::vector<uint64_t> points = cutPoints(bin, argv[1], everyPicture);
            if (points.size() < 2) {
                std::fprintf(stderr, "no cut points in %s\n", argv[1]);
                status = 1;
                break;
            }
            std::vector<double> ms;
            uint64_t previous = 0;
            while (static_cast<int>(ms.size()) < count) {
                const uint64_t position = points[random() % points.size()];
                if (position == previous) continue;   // the viewer would show it again, unchanged
                previous = position;
                QElapsedTimer clock;
                clock.start();
                channel.post(viewerMessage(viewerMessagePosition, 0, position));
                if (!viewer.waitFor("picture " + QByteArray::number(static_cast<qulonglong>(position)) + " ")) {
                    std::fprintf(stderr, "no picture for position %llu\n", static_cast<unsigned long long>(position));
                    status = 1;
                    break;
                }
                ms.push_back(clock.nsecsElapsed() / 1e6);
            }
            if (status) break;
            const Stats s = stats(ms);
            std::printf("%-36s median %6.1f ms   95th percentile %6.1f ms   worst %6.1f ms   (%zu positions of %zu)\n",
                        everyPicture ? "positions at every picture:" : "positions at I pictures:", s.median, s.p95,
                        s.worst, ms.size(), points.size());
        }
        if (!status) {
            std::vector<double> ms;
            for (int i = 0; i < 100; ++i) {
                QElapsedTimer clock;
                clock.start();
                channel.send(viewerMessage(viewerMessageSize, 1, 2));
                ms.push_back(clock.nsecsElapsed() / 1e6);
            }
            const Stats s = stats(ms);
            std::printf("%-36s median %6.2f ms   95th percentile %6.2f ms\n", "round trip of a sent message:", s.median,
                        s.p95);
            std::printf("goal for positions at I pictures: median < 40 ms, 95th percentile < 80 ms\n");
        }
        channel.post(viewerMessage(viewerMessageClose));
    }
    QDir(runtime).removeRecursively();
    return status;
}
