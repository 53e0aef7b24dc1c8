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
}

ViewerServer::~ViewerServer() { close(); }

bool ViewerServer::listen(const qt::ViewerEndpoint& endpoint, std::string& error)
{
    const QString path = QString::fromLocal8Bit(endpoint.socketPath.c_str());
    ::unlink(endpoint.socketPath.c_str());   // left by a viewer that did not end cleanly
    if (!server_.listen(path)) {
        error = "cannot listen at " + endpoint.socketPath + ": " + server_.errorString().toStdString();
        return false;
    }
    socketPath_ = endpoint.socketPath;
    return true;
}

void ViewerServer::close()
{
    if (!server_.isListening()) return;
    server_.close();
    ::unlink(socketPath_.c_str());
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
        auto decoder = std::make_shared<ViewerFrameDecoder>();
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, decoder] { serve(socket, *decoder); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void ViewerServer::serve(QLocalSocket* socket, ViewerFrameDecoder& decoder)
{
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
    }
}

} // namespace viewer
