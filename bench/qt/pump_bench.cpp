// pump_bench [SECONDS] [WORK]: what the Qt event pump costs a long operation
// that calls it after every packet, and how well it keeps the window served.
//
// The same loop of WORK steps of arithmetic per "packet" (about the cost of
// scanning a small packet) runs with and without serve(8) after each packet,
// alternately, in one run, with the main window up offscreen. While pumped, a
// 1 ms timer stands for waiting events: the longest gap between two of its
// timeouts is the longest time the window went unserved. Clicks on the cancel
// button are posted at odd moments; their latency is how long a cancel takes.
#include "platform/Canvas.h"
#include "platform/qt/QtHost.h"
#include "platform/qt/QtWindowSystem.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

using namespace platform;

struct QuietHandler : DialogHandler {
    std::function<void(int)> command;
    void onInit(Window&) override {}
    void onCommand(int id, int) override
    {
        if (command) command(id);
    }
    void onHorizontalScroll(int, int) override {}
    void onLeftButtonDown(const MouseEvent&) override {}
    void onRightButtonDown(const MouseEvent&) override {}
    void onLeftButtonUp(const MouseEvent&) override {}
    void onMouseMove(const MouseEvent&) override {}
    void onWheel(int, const MouseEvent&) override {}
    void onPaint(Canvas& canvas) override { canvas.drawBitmap("BITMAP_MAIN", {657, 457}); }
    void onClose() override {}
};

volatile uint64_t sink;

inline void packet(uint64_t& state, int work)
{
    for (int i = 0; i < work; ++i) state = state * 6364136223846793005ull + 1442695040888963407ull;
}

struct Result {
    double seconds = 0;
    uint64_t packets = 0;
};

Result run(uint64_t packets, int work, EventPump* pump)
{
    QElapsedTimer timer;
    timer.start();
    uint64_t state = 1;
    for (uint64_t p = 0; p < packets; ++p) {
        packet(state, work);
        if (pump) pump->serve(8);
    }
    sink = state;
    return {timer.nsecsElapsed() / 1e9, packets};
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const int work = argc > 2 ? std::atoi(argv[2]) : 100;

    qt::QtWindowSystem system;
    QuietHandler handler;
    qt::QtDialogWindow* window = system.createDialog("MAINCUTDIALOG", handler);
    window->show(true);
    QWidget* cancel = window->control(1057)->widget();
    QApplication::processEvents();

    // Size the loop to the wanted duration.
    uint64_t packets = 1000000;
    const Result probe = run(packets, work, nullptr);
    packets = static_cast<uint64_t>(packets * seconds / std::max(probe.seconds, 1e-6));

    qt::QtEventPump pump;
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = -1, longestGap = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastTick >= 0) longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
    });

    qint64 clickPosted = 0, longestClick = 0;
    int clicks = 0;
    handler.command = [&](int id) {
        if (id != 1057 || clickPosted == 0) return;
        longestClick = std::max(longestClick, clock.nsecsElapsed() - clickPosted);
        clickPosted = 0;
        ++clicks;
    };
    QTimer clicker;
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        if (clickPosted != 0) return;
        clickPosted = clock.nsecsElapsed();
        const QPointF at(5, 5), global = cancel->mapToGlobal(at);
        QApplication::postEvent(cancel, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton,
                                                        Qt::LeftButton, Qt::NoModifier));
        QApplication::postEvent(cancel, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton,
                                                        Qt::NoButton, Qt::NoModifier));
    });

    double plain = 1e99, pumped = 1e99;
    uint64_t entries = 0;
    for (int round = 0; round < 3; ++round) {
        plain = std::min(plain, run(packets, work, nullptr).seconds);
        const uint64_t entriesBefore = pump.entries();
        lastTick = -1;
        ticker.start(1);
        clicker.start(37);
        pumped = std::min(pumped, run(packets, work, &pump).seconds);
        ticker.stop();
        clicker.stop();
        entries = pump.entries() - entriesBefore;
        QApplication::processEvents();
    }

    std::printf("pump_bench: %llu packets of %d arithmetic steps, best of 3 alternating runs\n",
                static_cast<unsigned long long>(packets), work);
    std::printf("  without serve():        %8.3f s  (%.1f ns a packet)\n", plain, plain * 1e9 / packets);
    std::printf("  with serve(8) a packet: %8.3f s  (%.1f ns a packet)\n", pumped, pumped * 1e9 / packets);
    std::printf("  ratio pumped/plain:     %8.4f  (%.1f ns a serve() call)\n", pumped / plain,
                (pumped - plain) * 1e9 / packets);
    std::printf("  Qt entered %llu times in the last pumped run, every %.2f ms on average\n",
                static_cast<unsigned long long>(entries), entries ? pumped * 1e3 / entries : 0.0);
    std::printf("  longest gap between served events (1 ms timer): %.2f ms\n", longestGap / 1e6);
    std::printf("  cancel clicks served: %d, longest from posting to the handler: %.2f ms\n", clicks, longestClick / 1e6);
    return 0;
}
