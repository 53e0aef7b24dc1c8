#pragma once
// The cutter's end of the viewer link over a local socket, and the endpoint both
// programs agree on.
#include "platform/ViewerChannel.h"
#include "platform/ViewerProtocol.h"

#include <QLocalSocket>

#include <string>

namespace platform::qt {

// Where the viewer listens: a socket named after the viewer in a directory only this
// user can enter: $XDG_RUNTIME_DIR, or else orvane-<uid> in $TMPDIR (/tmp when unset),
// or else orvane in $XDG_CACHE_HOME (~/.cache), both created with mode 0700. The
// second place may be taken by another user; then the third is used.
struct ViewerEndpoint {
    std::string directory;
    std::string socketPath;
    std::string lockPath;   // held by the running viewer for its lifetime
};

// Finds (and creates when needed) the endpoint directory. False with a reason when
// no directory is safe to use: not owned by this user, open to others, a symbolic
// link, or a path too long for a socket.
bool viewerEndpoint(ViewerEndpoint& endpoint, std::string& error);

// The program start() runs: beside the running program first, then on the PATH.
// A name with a '/' is taken as it stands. Empty when not found.
std::string locateViewerProgram(const char* program);

// Blocks only in send (for the acknowledgement, bounded) and in find (connecting to a
// local socket); works with or without a running event loop, once a QCoreApplication exists.
class QtViewerChannel final : public ViewerChannel {
public:
    explicit QtViewerChannel(int sendTimeoutMs = 2000);

    bool find() override;
    bool start(const char* program) override;
    bool send(const ViewerMessage& message) override;
    bool post(const ViewerMessage& message) override;
    std::string unavailable() override;
    bool startedProgramEnded() override;

    bool connected() const { return socket_.state() == QLocalSocket::ConnectedState; }

private:
    bool write(const ViewerMessage& message, uint32_t sequence, bool acknowledge);
    void readAvailable();
    // Looks through what the viewer wrote for the acknowledgement of `sequence`:
    // 1 taken, 0 refused, -1 not there (yet).
    int takeAcknowledgement(uint32_t sequence);

    QLocalSocket socket_;
    ViewerFrameDecoder decoder_;
    int sendTimeoutMs_;
    uint32_t nextSequence_ = 0;
    // Set when a sent message went unanswered: later sends wait only briefly until
    // the viewer answers again, so that a hung viewer costs one timeout, not one per message.
    bool unresponsive_ = false;
    qint64 startedPid_ = 0;
};

} // namespace platform::qt
