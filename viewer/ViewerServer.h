#pragma once
// The viewer's end of the channel: listens at the endpoint, takes frames from up to
// maxConnections connections of the same user, hands each message to the handler and
// acknowledges the sent ones at once. A client that leaves more than maxUnread bytes
// of answers unread is dropped; beyond maxConnections the least recently heard one
// is. Should the listening socket be lost (Qt closes it and removes its file when an
// accept fails, as when descriptors run out), it is opened again.
#include "platform/ViewerProtocol.h"
#include "platform/qt/QtViewerChannel.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <string>

namespace viewer {

// Held by the running viewer, so that a second copy knows it is not alone.
class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    // False with `busy` set when another viewer holds it; false with a reason in
    // `error` when it cannot be taken at all.
    bool acquire(const std::string& path, bool& busy, std::string& error);

private:
    int fd_ = -1;
};

class ViewerServer final : public QObject {
public:
    using Handler = std::function<bool(const platform::ViewerMessage&)>;
    explicit ViewerServer(Handler handler);
    ~ViewerServer() override;

    // Listens at the endpoint's socket, replacing a stale one (the caller holds the
    // instance lock, so no other viewer uses it).
    bool listen(const platform::qt::ViewerEndpoint& endpoint, std::string& error);
    // Stops listening and removes the socket file.
    void close();

    static constexpr int maxConnections = 32;
    static constexpr qint64 maxUnread = 64 << 10;

private:
    void accept();
    void serve(QLocalSocket* socket, platform::ViewerFrameDecoder& decoder);
    bool openSocket(std::string& error);
    void keepListening();
    void drop(QLocalSocket* socket, const char* why);

    Handler handler_;
    QLocalServer server_;
    QTimer watch_;
    QElapsedTimer clock_;
    std::string socketPath_;
    bool closed_ = true;
    bool lost_ = false;                          // the socket was lost and could not be opened again yet
    std::map<QLocalSocket*, qint64> clients_;    // with the time each was last heard from
};

} // namespace viewer
