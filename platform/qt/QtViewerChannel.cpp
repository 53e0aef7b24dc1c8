#include "platform/qt/QtViewerChannel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <sys/stat.h>
#include <vector>
#include <sys/un.h>
#include <unistd.h>

namespace platform::qt {
namespace {

// A directory is safe for the endpoint when it is a real directory (not a link),
// owned by this user and closed to everyone else.
bool safeDirectory(const std::string& dir, std::string& error)
{
    struct stat st;
    if (::lstat(dir.c_str(), &st) != 0) {
        error = dir + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) error = dir + " is not a directory";
    else if (st.st_uid != ::getuid()) error = dir + " belongs to another user";
    else if (st.st_mode & 077) error = dir + " is open to other users";
    else return true;
    return false;
}

// Bytes the viewer may leave unread before the link is given up as dead.
constexpr qint64 maxUnsentBytes = 1 << 20;
// How long a send waits while the viewer is known not to answer.
constexpr int unresponsiveWaitMs = 100;

} // namespace

bool viewerEndpoint(ViewerEndpoint& endpoint, std::string& error)
{
    std::string dir;
    std::string why;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime && safeDirectory(runtime, why)) {
        dir = runtime;
    } else {
        const char* tmp = std::getenv("TMPDIR");
        std::string cache;
        if (const char* c = std::getenv("XDG_CACHE_HOME"); c && *c == '/') cache = c;
        else if (const char* home = std::getenv("HOME"); home && *home == '/') cache = std::string(home) + "/.cache";
        std::vector<std::string> places{std::string(tmp && *tmp == '/' ? tmp : "/tmp") + "/orvane-" + std::to_string(::getuid())};
        if (!cache.empty()) places.push_back(cache + "/orvane");
        for (const std::string& place : places) {
            if (place == places.back() && !cache.empty()) ::mkdir(cache.c_str(), 0700);
            std::string reason;
            if (::mkdir(place.c_str(), 0700) != 0 && errno != EEXIST) reason = "cannot create " + place + ": " + std::strerror(errno);
            else if (safeDirectory(place, reason)) {
                dir = place;
                break;
            }
            error += (error.empty() ? "" : "; ") + reason;
        }
        if (dir.empty()) return false;
        error.clear();
    }
    endpoint.directory = dir;
    endpoint.socketPath = dir + "/" + viewerName;
    endpoint.lockPath = endpoint.socketPath + ".lock";
    if (endpoint.socketPath.size() >= sizeof(sockaddr_un{}.sun_path)) {
        error = "the socket path " + endpoint.socketPath + " is too long";
        return false;
    }
    return true;
}

std::string locateViewerProgram(const char* program)
{
    QString name = QString::fromLocal8Bit(program);
    if (name.contains('/')) {
        QFileInfo f(name);
        return f.isFile() && f.isExecutable() ? name.toLocal8Bit().toStdString() : std::string();
    }
    QStringList names{name};
    if (name.endsWith(".exe", Qt::CaseInsensitive)) names.prepend(name.chopped(4));

    QString ownDir;
    if (QCoreApplication::instance()) {
        ownDir = QCoreApplication::applicationDirPath();
    } else {
        ownDir = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absolutePath();
    }
    for (const QString& n : names) {
        QFileInfo f(ownDir + '/' + n);
        if (f.isFile() && f.isExecutable()) return f.absoluteFilePath().toLocal8Bit().toStdString();
    }
    for (const QString& n : names) {
        const QString found = QStandardPaths::findExecutable(n);
        if (!found.isEmpty()) return found.toLocal8Bit().toStdString();
    }
    return {};
}

QtViewerChannel::QtViewerChannel(int sendTimeoutMs) : sendTimeoutMs_(sendTimeoutMs) {}

bool QtViewerChannel::find()
{
    if (connected()) {
        // Notices a viewer that has gone away since the last message.
        socket_.waitForReadyRead(0);
        readAvailable();
        if (connected()) return true;
    }
    socket_.abort();
    decoder_ = ViewerFrameDecoder{};
    unresponsive_ = false;
    ViewerEndpoint endpoint;
    std::string error;
    if (!viewerEndpoint(endpoint, error)) return false;
    socket_.connectToServer(QString::fromLocal8Bit(endpoint.socketPath.c_str()));
    return socket_.waitForConnected(500);
}

bool QtViewerChannel::start(const char* program)
{
    const std::string path = locateViewerProgram(program);
    if (path.empty()) return false;
    QProcess process;
    process.setProgram(QString::fromLocal8Bit(path.c_str()));
    process.setStandardInputFile(QProcess::nullDevice());
    startedPid_ = 0;
    return process.startDetached(&startedPid_);
}

std::string QtViewerChannel::unavailable()
{
    ViewerEndpoint endpoint;
    std::string error;
    return viewerEndpoint(endpoint, error) ? std::string() : error;
}

bool QtViewerChannel::startedProgramEnded()
{
    if (startedPid_ <= 0) return false;
    if (::kill(static_cast<pid_t>(startedPid_), 0) != 0) return errno == ESRCH;
    // Ended but not reaped yet (where nobody reaps orphans, as in some containers).
    QFile stat(QStringLiteral("/proc/%1/stat").arg(startedPid_));
    if (!stat.open(QIODevice::ReadOnly)) return false;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close >= 0 && close + 2 < text.size() && text[close + 2] == 'Z';
}

bool QtViewerChannel::write(const ViewerMessage& message, uint32_t sequence, bool acknowledge)
{
    if (!connected()) return false;
    std::string bytes;
    if (!encodeViewerFrame(message, sequence, acknowledge, bytes)) return false;
    if (socket_.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())) {
        socket_.abort();
        return false;
    }
    socket_.flush();
    if (socket_.bytesToWrite() > maxUnsentBytes) {
        socket_.abort();
        return false;
    }
    return true;
}

void QtViewerChannel::readAvailable()
{
    const QByteArray bytes = socket_.readAll();
    if (!bytes.isEmpty()) decoder_.feed(bytes.constData(), static_cast<size_t>(bytes.size()));
}

int QtViewerChannel::takeAcknowledgement(uint32_t sequence)
{
    ViewerFrame frame;
    std::string error;
    for (;;) {
        const auto result = decoder_.next(frame, error);
        if (result == ViewerFrameDecoder::Result::needMore) return -1;
        if (result != ViewerFrameDecoder::Result::frame || frame.message.number != viewerMessageAcknowledge) continue;
        unresponsive_ = false;   // late answers to earlier sends show the viewer is back
        if (frame.sequence == sequence) return frame.message.wParam == 1 ? 1 : 0;
    }
}

bool QtViewerChannel::send(const ViewerMessage& message)
{
    const uint32_t sequence = ++nextSequence_;
    if (!write(message, sequence, true)) return false;
    QElapsedTimer clock;
    clock.start();
    const int limit = unresponsive_ ? unresponsiveWaitMs : sendTimeoutMs_;
    for (;;) {
        readAvailable();
        const int answer = takeAcknowledgement(sequence);
        if (answer >= 0) return answer == 1;
        const qint64 left = limit - clock.elapsed();
        if (left <= 0 || !connected()) break;
        if (socket_.bytesToWrite() > 0) socket_.waitForBytesWritten(static_cast<int>(left));
        else socket_.waitForReadyRead(static_cast<int>(left));
    }
    if (connected()) unresponsive_ = true;
    return false;
}

bool QtViewerChannel::post(const ViewerMessage& message)
{
    return write(message, ++nextSequence_, false);
}

} // namespace platform::qt
