#include "DesktopTestSupport.h"

#include "platform/ViewerProtocol.h"
#include "platform/qt/QtViewerChannel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace desktoptest {

PrivateRuntimeDir::PrivateRuntimeDir()
{
    if (const char* p = std::getenv("XDG_RUNTIME_DIR")) {
        previous_ = p;
        hadPrevious_ = true;
    }
    ::chmod(dir_.path().c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
}

PrivateRuntimeDir::~PrivateRuntimeDir()
{
    if (hadPrevious_) ::setenv("XDG_RUNTIME_DIR", previous_.c_str(), 1);
    else ::unsetenv("XDG_RUNTIME_DIR");
}

StandInViewer::StandInViewer()
{
    platform::qt::ViewerEndpoint endpoint;
    std::string error;
    if (!platform::qt::viewerEndpoint(endpoint, error)) {
        ADD_FAILURE() << error;
        return;
    }
    path_ = endpoint.socketPath;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
    ::unlink(path_.c_str());
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0) {
        ADD_FAILURE() << "stand-in viewer cannot listen on " << path_ << ": " << std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return;
    }
    listenFd_ = fd;
    thread_ = std::thread([this] { serve(); });
}

StandInViewer::~StandInViewer()
{
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        ::unlink(path_.c_str());
    }
}

void StandInViewer::serve()
{
    std::vector<int> clients;
    std::vector<platform::ViewerFrameDecoder> decoders;
    while (!stop_) {
        std::vector<pollfd> fds{{listenFd_, POLLIN, 0}};
        for (int c : clients) fds.push_back({c, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 20) <= 0) continue;
        if (fds[0].revents & POLLIN) {
            const int c = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0) {
                clients.push_back(c);
                decoders.emplace_back();
            }
        }
        for (size_t k = 1; k < fds.size(); ++k) {
            if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const size_t index = k - 1;
            char bytes[8192];
            const ssize_t n = ::read(clients[index], bytes, sizeof bytes);
            if (n <= 0) {
                ::close(clients[index]);
                clients[index] = -1;
                continue;
            }
            decoders[index].feed(bytes, static_cast<size_t>(n));
            platform::ViewerFrame frame;
            std::string error;
            for (;;) {
                const auto result = decoders[index].next(frame, error);
                if (result == platform::ViewerFrameDecoder::Result::needMore) break;
                if (result == platform::ViewerFrameDecoder::Result::malformed) {
                    ADD_FAILURE() << "malformed frame: " << error;
                    continue;
                }
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    const double at =
                        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
                    frames_.push_back({frame.acknowledge, frame.message, at});
                }
                if (frame.acknowledge) {
                    platform::ViewerMessage ack;
                    ack.number = platform::viewerMessageAcknowledge;
                    ack.wParam = 1;
                    std::string out;
                    platform::encodeViewerFrame(ack, frame.sequence, false, out);
                    [[maybe_unused]] ssize_t w = ::write(clients[index], out.data(), out.size());
                }
            }
        }
        // Forget the connections that ended (keeping decoders aligned).
        for (size_t k = clients.size(); k-- > 0;) {
            if (clients[k] >= 0) continue;
            clients.erase(clients.begin() + static_cast<long>(k));
            decoders.erase(decoders.begin() + static_cast<long>(k));
        }
    }
    for (int c : clients) ::close(c);
}

std::vector<StandInViewer::Frame> StandInViewer::frames() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
}

size_t StandInViewer::count() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_.size();
}

std::string StandInViewer::describe(const Frame& f)
{
    std::string s = std::string(f.sent ? "send " : "post ") + std::to_string(f.message.number) + " " +
        std::to_string(f.message.wParam) + " " + std::to_string(f.message.lParam);
    if (f.message.dataId || !f.message.data.empty())
        s += " [" + std::to_string(f.message.dataId) + ":" + f.message.data + "]";
    return s;
}

std::vector<std::string> StandInViewer::describe(size_t from) const
{
    std::vector<std::string> out;
    const std::vector<Frame> all = frames();
    for (size_t k = from; k < all.size(); ++k) out.push_back(describe(all[k]));
    return out;
}

Script& Script::then(std::function<void()> step, int afterMs)
{
    steps_.push_back({std::move(step), afterMs});
    return *this;
}

void Script::start(std::function<void()> end, std::function<bool()> ready, int timeoutMs)
{
    end_ = std::move(end);
    ready_ = std::move(ready);
    QTimer::singleShot(timeoutMs, qApp, [this] {
        if (finished()) return;
        ADD_FAILURE() << "the script did not finish; stopped before step " << next_;
        next_ = steps_.size();
        end_();
    });
    auto* answer = new QTimer(qApp);
    QObject::connect(answer, &QTimer::timeout, [this] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            messageBoxes_.push_back(box->text().toStdString());
            box->accept();
        }
    });
    answer->start(20);
    schedule();
}

void Script::schedule()
{
    if (finished()) {
        end_();
        return;
    }
    QTimer::singleShot(steps_[next_].afterMs, qApp, [this] {
        if (finished()) return;
        if (!ready_()) {
            steps_[next_].afterMs = 10;
            schedule();
            return;
        }
        Step& step = steps_[next_++];
        step.run();
        schedule();
    });
}

void serveFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

bool serveUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QTest::qSleep(1);
    }
    return true;
}

void click(QWidget* widget, Qt::MouseButton button, QPoint at, Qt::KeyboardModifiers modifiers)
{
    if (!widget) {
        ADD_FAILURE() << "no widget to click";
        return;
    }
    QTest::mouseClick(widget, button, modifiers, at.x() < 0 ? widget->rect().center() : at);
}

void wheel(QWidget* window, QPoint at, int delta)
{
    QWidget* target = window->childAt(at);
    if (!target) target = window;
    const QPointF local = target->mapFrom(window, QPointF(at));
    QWheelEvent event(local, window->mapToGlobal(QPointF(at)), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

} // namespace desktoptest
