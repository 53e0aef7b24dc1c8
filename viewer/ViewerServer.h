#pragma once
// The viewer's end of the channel: listens at the endpoint, takes frames from any
// number of connections of the same user, hands each message to the handler and
// acknowledges the sent ones at once.
#include "platform/ViewerProtocol.h"
#include "platform/qt/QtViewerChannel.h"

#include <QLocalServer>
#include <QObject>

#include <functional>
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

private:
    void accept();
    void serve(QLocalSocket* socket, platform::ViewerFrameDecoder& decoder);

    Handler handler_;
    QLocalServer server_;
    std::string socketPath_;
};

} // namespace viewer
