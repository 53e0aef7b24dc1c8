#include "platform/qt/QtHost.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QPointer>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <climits>
#include <ctime>

namespace platform::qt {
namespace {

class EventCounter final : public QObject {
public:
    uint64_t count = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        const QEvent::Type t = e->type();
        if (t != QEvent::Timer && t != QEvent::ZeroTimerEvent) ++count;
        return false;
    }
};

} // namespace

uint64_t deliveredEventCount()
{
    static QPointer<EventCounter> counter;
    static uint64_t before = 0;   // counted by a counter of an earlier application object
    if (!counter) {
        if (!QCoreApplication::instance()) return before;
        counter = new EventCounter;
        counter->count = before;
        counter->setParent(QCoreApplication::instance());
        QCoreApplication::instance()->installEventFilter(counter);
    }
    before = counter->count;
    return counter->count;
}

uint64_t QtEventPump::coarseMicroseconds()
{
#ifdef CLOCK_MONOTONIC_COARSE
    // The coarse clock is read from memory without a system call, in a few nanoseconds.
    timespec ts;
    if (clock_gettime(CLOCK_MONOTONIC_COARSE, &ts) == 0)
        return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
#endif
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

QtEventPump::QtEventPump(MicrosecondClock clock, uint32_t intervalUs) : clock_(clock), intervalUs_(intervalUs) {}

int QtEventPump::serve(int maxEvents)
{
    if (maxEvents <= 0 || --callsToClock_ > 0) return 0;
    callsToClock_ = clockStride;
    const uint64_t now = clock_();
    if (entered_ && now - lastEntry_ < intervalUs_) return 0;
    entered_ = true;
    lastEntry_ = now;
    ++entries_;
    const uint64_t before = deliveredEventCount();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    const uint64_t served = deliveredEventCount() - before;
    return static_cast<int>(std::min<uint64_t>(served, static_cast<uint64_t>(maxEvents)));
}

uint32_t QtClock::nowMs()
{
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void QtClock::sleepMs(uint32_t ms) { QThread::msleep(ms); }

void QtMessageBox::show(const char* caption, const char* text)
{
    const QString title = QString::fromUtf8(caption ? caption : "");
    QMessageBox box(title == QLatin1String("ERROR") ? QMessageBox::Critical : QMessageBox::Information, title,
                    QString::fromUtf8(text ? text : ""), QMessageBox::Ok);
    box.exec();
}

int QtMessageBox::ask(const char* caption, const char* text, const std::vector<std::string>& answers)
{
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(caption ? caption : ""), QString::fromUtf8(text ? text : ""),
                    QMessageBox::NoButton);
    box.setObjectName(QStringLiteral("question"));
    std::vector<QAbstractButton*> buttons;
    for (const std::string& a : answers) {
        QPushButton* b = box.addButton(QString::fromStdString(a), QMessageBox::ActionRole);
        buttons.push_back(b);
    }
    if (!buttons.empty()) box.setDefaultButton(static_cast<QPushButton*>(buttons.front()));
    box.exec();
    for (size_t k = 0; k < buttons.size(); ++k)
        if (box.clickedButton() == buttons[k]) return static_cast<int>(k);
    return -1;
}

} // namespace platform::qt
