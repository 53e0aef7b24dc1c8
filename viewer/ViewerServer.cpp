#include "viewer/ViewerServer.h"

#include <QLocalSocket>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

namespace viewer {

using namespace platform;

InstanceLock::~InstanceLock()
{
    if (fd_ >= 0) ::close(fd_);
}

bool InstanceLock::acquire(const std::string& path, bool& busy, std::string& error)
{
    busy = false;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        busy = errno == EWOULDBLOCK;
        error = busy ? "another viewer is running" : "cannot lock " + path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

ViewerServer::ViewerServer(Handler handler) : handler_(std::move(handler))
{
    connect(&server_, &QLocalServer::newConnection, this, &ViewerServer::accept);
    connect(&watch_, &QTimer::timeout, this, &ViewerServer::keepListening);
    clock_.start();
}

ViewerServer::~ViewerServer()
{
    close();
    // The connections go with the server; they must not call back into what is gone.
    for (const auto& client : clients_) client.first->disconnect(this);
    clients_.clear();
}

bool ViewerServer::listen(const qt::ViewerEndpoint& endpoint, std::string& error)
{
    socketPath_ = endpoint.socketPath;
    if (!openSocket(error)) return false;
    closed_ = false;
    watch_.start(250);
    return true;
}

bool ViewerServer::openSocket(std::string& error)
{
    ::unlink(socketPath_.c_str());   // left by a viewer that did not end cleanly, or by a lost socket
    if (!server_.listen(QString::fromLocal8Bit(socketPath_.c_str()))) {
        error = "cannot listen at " + socketPath_ + ": " + server_.errorString().toStdString();
        return false;
    }
    return true;
}

void ViewerServer::keepListening()
{
    if (closed_ || server_.isListening()) return;
    std::string error;
    if (openSocket(error)) {
        std::fprintf(stderr, "%s: listening again at %s\n", viewerName, socketPath_.c_str());
        lost_ = false;
    } else if (!lost_) {
        std::fprintf(stderr, "%s: the channel was lost and %s; trying again\n", viewerName, error.c_str());
        lost_ = true;
    }
}

void ViewerServer::close()
{
    closed_ = true;
    watch_.stop();
    if (!server_.isListening()) return;
    server_.close();
    ::unlink(socketPath_.c_str());
}

void ViewerServer::drop(QLocalSocket* socket, const char* why)
{
    std::fprintf(stderr, "%s: dropped a connection: %s\n", viewerName, why);
    clients_.erase(socket);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void ViewerServer::accept()
{
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        // The directory already keeps other users out; the peer's credentials make sure.
        struct ucred peer {};
        socklen_t length = sizeof peer;
        if (::getsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0
            || peer.uid != ::getuid()) {
            std::fprintf(stderr, "%s: refused a connection from another user\n", viewerName);
            socket->abort();
            socket->deleteLater();
            continue;
        }
        if (clients_.size() >= static_cast<size_t>(maxConnections)) {
            auto oldest = clients_.begin();
            for (auto i = clients_.begin(); i != clients_.end(); ++i)
                if (i->second < oldest->second) oldest = i;
            drop(oldest->first, "too many connections, this one was heard from least recently");
        }
        clients_[socket] = clock_.elapsed();
        auto decoder = std::make_shared<ViewerFrameDecoder>();
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, decoder] { serve(socket, *decoder); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            clients_.erase(socket);
            socket->deleteLater();
        });
    }
    keepListening();   // a failed accept has closed the socket
}

void ViewerServer::serve(QLocalSocket* socket, ViewerFrameDecoder& decoder)
{
    clients_[socket] = clock_.elapsed();
    const QByteArray bytes = socket->readAll();
    decoder.feed(bytes.constData(), static_cast<size_t>(bytes.size()));
    std::string answers;
    for (;;) {
        ViewerFrame frame;
        std::string error;
        const auto result = decoder.next(frame, error);
        if (result == ViewerFrameDecoder::Result::needMore) break;
        bool taken = false;
        if (result == ViewerFrameDecoder::Result::malformed) {
            std::fprintf(stderr, "%s: malformed frame: %s\n", viewerName, error.c_str());
        } else if (frame.message.number == viewerMessageAcknowledge) {
            std::fprintf(stderr, "%s: unexpected acknowledgement dropped\n", viewerName);
        } else {
            taken = handler_(frame.message);
        }
        if (frame.acknowledge) {
            ViewerMessage ack;
            ack.number = viewerMessageAcknowledge;
            ack.wParam = taken ? 1 : 0;
            encodeViewerFrame(ack, frame.sequence, false, answers);
        }
    }
    if (!answers.empty()) {
        socket->write(answers.data(), static_cast<qint64>(answers.size()));
        socket->flush();
        if (socket->bytesToWrite() > maxUnread) drop(socket, "it does not read its answers");
    }
}

} // namespace viewer
