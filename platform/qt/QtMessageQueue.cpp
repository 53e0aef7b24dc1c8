#include "platform/qt/QtMessageQueue.h"

#include "platform/qt/QtHost.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>

namespace platform::qt {
namespace {

// Outside QApplication::exec() Qt leaves objects deleted "later" from the top
// level alone; the main loop is the place where none of them is in use.
void deleteDestroyedWindows() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

} // namespace

bool QtMessageQueue::dispatchWaiting()
{
    const uint64_t before = deliveredEventCount();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    deleteDestroyedWindows();
    return deliveredEventCount() != before;
}

void QtMessageQueue::waitForMessage()
{
    if (quit_) return;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    deleteDestroyedWindows();
}

bool QtMessageQueue::quitPosted(int& exitCode)
{
    if (quit_) exitCode = exitCode_;
    return quit_;
}

void QtMessageQueue::postQuit(int exitCode)
{
    quit_ = true;
    exitCode_ = exitCode;
    if (auto* dispatcher = QAbstractEventDispatcher::instance()) dispatcher->wakeUp();
}

} // namespace platform::qt
