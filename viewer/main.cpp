// DVD2AVI_PVAVIEW: the preview viewer that the cutter starts and drives.
#include "platform/qt/QtViewerChannel.h"
#include "viewer/PictureDecoder.h"
#include "viewer/PictureSize.h"
#include "viewer/PvaVideo.h"
#include "viewer/ViewerController.h"
#include "viewer/ViewerServer.h"
#include "viewer/ViewerWindow.h"

#include <QApplication>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace viewer;

namespace {

const char* const usage =
    "usage: DVD2AVI_PVAVIEW [--trace] [FILE [POSITION]]\n"
    "       DVD2AVI_PVAVIEW --render FILE POSITION OUT.png [--size A/B]\n"
    "\n"
    "Without --render: opens the viewer window and waits for the cutter's messages;\n"
    "FILE and POSITION show that picture at once (handed to the running viewer when\n"
    "there is one). --trace writes a line per message carried out and picture shown\n"
    "(or, when DVD2AVI_PVAVIEW_TRACE names a file, appends them to that file).\n"
    "--render writes the picture the window would show for POSITION as a PNG, at A/B\n"
    "of its display size (default 1/1; 4/1 fits a 1920 x 1080 screen).\n";

int usageError(const char* what)
{
    std::fprintf(stderr, "DVD2AVI_PVAVIEW: %s\n%s", what, usage);
    return 2;
}

bool parsePosition(const char* text, uint64_t& position)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (errno || end == text || *end || text[0] == '-') return false;
    position = v;
    return true;
}

bool parseSize(const char* text, int& a, int& b)
{
    return std::sscanf(text, "%d/%d", &a, &b) == 2 && validSize(a, b);
}

int render(int argc, char** argv)
{
    if (argc != 5 && argc != 7) return usageError("--render needs FILE POSITION OUT.png [--size A/B]");
    uint64_t position = 0;
    int a = 1, b = 1;
    if (!parsePosition(argv[3], position)) return usageError("POSITION must be a file offset in bytes");
    if (argc == 7 && (std::strcmp(argv[5], "--size") || !parseSize(argv[6], a, b)))
        return usageError("--size takes A/B with A and B from 1 to 16");

    PvaVideoFile file;
    PictureDecoder decoder;
    DecodePlan plan;
    QImage picture;
    std::string error;
    if (!file.open(argv[2], error) || !file.plan(position, plan, error) || !decoder.decode(plan, picture, error)) {
        std::fprintf(stderr, "DVD2AVI_PVAVIEW: %s\n", error.c_str());
        return 1;
    }
    const QImage shown = scaledPicture(picture, pictureSize(picture.size(), a, b, QSize(1920, 1080)));
    // Opened here, not by Qt: a name that is not valid in the locale's encoding
    // would not survive the way through QString.
    const int fd = ::open(argv[4], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    QFile out;
    if (fd < 0 || !out.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) || !shown.save(&out, "PNG")
        || !out.flush()) {
        std::fprintf(stderr, "DVD2AVI_PVAVIEW: cannot write %s\n", argv[4]);
        if (fd >= 0) {
            if (!out.isOpen()) ::close(fd);
            ::unlink(argv[4]);
        }
        return 1;
    }
    out.close();
    const AccessUnit& target = plan.units[plan.target];
    std::printf("%c %s %dx%d\n", target.type,
                target.hasPts ? formatTime(target.pts - file.startPts()).c_str() : "--:--:--.--", shown.width(),
                shown.height());
    return 0;
}

platform::ViewerMessage positionMessage(uint64_t position)
{
    return platform::viewerMessage(platform::viewerMessagePosition, 0, position);
}

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && !std::strcmp(argv[1], "--render")) return render(argc, argv);
    if (argc >= 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        std::fputs(usage, stdout);
        return 0;
    }
    int first = 1;
    bool trace = false;
    if (argc > first && !std::strcmp(argv[first], "--trace")) {
        trace = true;
        ++first;
    }
    const char* fileName = argc > first ? argv[first] : nullptr;
    uint64_t position = 0;
    if (argc > first + 2) return usageError("too many arguments");
    if (argc == first + 2 && !parsePosition(argv[first + 1], position))
        return usageError("POSITION must be a file offset in bytes");
    if (fileName && fileName[0] == '-') return usageError("unknown option");

    platform::qt::ViewerEndpoint endpoint;
    std::string error;
    if (!platform::qt::viewerEndpoint(endpoint, error)) {
        std::fprintf(stderr, "DVD2AVI_PVAVIEW: no safe place for the channel: %s\n", error.c_str());
        return 1;
    }
    InstanceLock lock;
    bool busy = false;
    if (!lock.acquire(endpoint.lockPath, busy, error)) {
        if (!busy) {
            std::fprintf(stderr, "DVD2AVI_PVAVIEW: %s\n", error.c_str());
            return 1;
        }
        if (!fileName) {
            std::fprintf(stderr, "DVD2AVI_PVAVIEW: a viewer is already running\n");
            return 0;
        }
        QCoreApplication app(argc, argv);
        // The running viewer has its own working directory. The name stays bytes: a
        // name that is not valid in the locale's encoding would not survive QString.
        std::string absolute = fileName;
        if (absolute.empty() || absolute.front() != '/') {
            char cwd[4096];
            if (!::getcwd(cwd, sizeof cwd)) {
                std::fprintf(stderr, "DVD2AVI_PVAVIEW: cannot tell the working directory: %s\n", std::strerror(errno));
                return 1;
            }
            absolute = std::string(cwd) + "/" + absolute;
        }
        platform::qt::QtViewerChannel channel;
        if (!channel.find() || !channel.send(platform::viewerFileMessage(absolute)) || !channel.send(positionMessage(position))) {
            std::fprintf(stderr, "DVD2AVI_PVAVIEW: a viewer is running but does not answer\n");
            return 1;
        }
        std::fprintf(stderr, "DVD2AVI_PVAVIEW: handed %s over to the running viewer\n", fileName);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(platform::viewerName));

    // SIGTERM, SIGINT and SIGHUP end the event loop, so that the socket file goes too.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        struct sigaction sa {};
        sa.sa_handler = onSignal;
        sa.sa_flags = SA_RESTART;
        for (int s : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(s, &sa, nullptr);
    }

    // A viewer that the cutter started has no terminal: DVD2AVI_PVAVIEW_TRACE names
    // a file its trace lines are appended to.
    std::FILE* traceTo = trace ? stdout : nullptr;
    if (const char* path = std::getenv("DVD2AVI_PVAVIEW_TRACE"); !traceTo && path && *path) {
        traceTo = std::fopen(path, "a");
        if (!traceTo) std::fprintf(stderr, "DVD2AVI_PVAVIEW: cannot write the trace to %s\n", path);
    }
    ViewerWindow window;
    ViewerController controller(window, traceTo);
    ViewerServer server([&controller](const platform::ViewerMessage& m) { return controller.handle(m); });
    window.show();
    if (!server.listen(endpoint, error)) {
        std::fprintf(stderr, "DVD2AVI_PVAVIEW: %s\n", error.c_str());
        return 1;
    }
    if (fileName) {
        controller.handle(platform::viewerFileMessage(fileName));
        controller.handle(positionMessage(position));
    }
    const int status = app.exec();
    server.close();
    // Told to go, the viewer goes within a second: a search or decode that does not
    // give up in time is not waited for (it only reads).
    if (!controller.finish(500)) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
