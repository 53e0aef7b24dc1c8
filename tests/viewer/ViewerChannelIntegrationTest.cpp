// A real DVD2AVI_PVAVIEW process driven over the channel as the cutter drives it,
// through the cutter's end of the channel.
#include "platform/ViewerProtocol.h"
#include "platform/qt/QtViewerChannel.h"
#include "support/ViewerTestSupport.h"

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace testsupport;
using namespace viewertest;
using namespace platform;
using platform::qt::QtViewerChannel;

namespace {

std::string pictureLine(uint64_t position) { return "picture " + std::to_string(position) + " "; }

// Whether the process holds `path` open, from its descriptors in /proc.
bool holdsOpen(qint64 pid, const std::string& path)
{
    const std::string target = std::filesystem::canonical(path).string();
    std::error_code ec;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        std::error_code e;
        if (std::filesystem::read_symlink(fd.path(), e).string() == target) return true;
    }
    return false;
}

// The process listening at the endpoint, from the credentials of a connection to it.
pid_t listenerPid(const std::string& socketPath)
{
    QLocalSocket s;
    s.connectToServer(QString::fromStdString(socketPath));
    if (!s.waitForConnected(1000)) return -1;
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(static_cast<int>(s.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) return -1;
    return peer.pid;
}

// Finds the viewer as the cutter does after starting it: every 50 ms, for up to 5 s.
bool findViewer(QtViewerChannel& channel)
{
    for (int i = 0; i < 100; ++i) {
        if (channel.find()) return true;
        QTest::qSleep(50);
    }
    return false;
}

class ViewerChannel : public ::testing::Test {
protected:
    PrivateEndpoint endpoint;
    QtViewerChannel channel;
    std::string clip = sample("clip.pva");
    std::vector<CutPoint> units = cutPoints(clip, false);
    std::vector<CutPoint> pictures = cutPoints(clip, true);
};

TEST_F(ViewerChannel, DrivenLikeTheCutter)
{
    EXPECT_FALSE(channel.find());
    EXPECT_FALSE(channel.send(viewerMessage(viewerMessagePosition)));
    ViewerProcess viewer;
    ASSERT_TRUE(findViewer(channel));
    EXPECT_TRUE(std::filesystem::exists(endpoint.socketPath()));

    ASSERT_TRUE(channel.send(viewerFileMessage(clip, 77)));
    EXPECT_EQ(viewer.waitForPrefix("picture "), "picture 0 I 00:00:00.00 720x576");
    EXPECT_TRUE(holdsOpen(viewer.pid(), clip));

    ASSERT_TRUE(channel.send(viewerMessage(viewerMessagePosition, 0, units[3].offset)));
    EXPECT_EQ(viewer.waitForPrefix("picture "), pictureLine(units[3].offset) + "I 00:00:01.44 720x576");
    // Cut at every picture: a P picture and the B pictures shown before it.
    for (size_t i = 13; i < 16; ++i) {
        ASSERT_TRUE(channel.post(viewerMessage(viewerMessagePosition, 0, pictures[i].offset)));
        const std::string line = viewer.waitForPrefix(pictureLine(pictures[i].offset));
        ASSERT_FALSE(line.empty()) << i;
        EXPECT_EQ(line[pictureLine(pictures[i].offset).size()], pictures[i].type) << line;
    }

    const std::pair<std::pair<int, int>, const char*> sizes[] = {
        {{1, 1}, "size 1/1 720x576"}, {{3, 4}, "size 3/4 540x432"}, {{1, 2}, "size 1/2 360x288"}, {{1, 4}, "size 1/4 180x144"}};
    for (auto [ab, line] : sizes) {
        ASSERT_TRUE(channel.post(viewerMessage(viewerMessageSize, ab.first, ab.second)));
        EXPECT_EQ(viewer.waitForPrefix("size "), line);
    }
    ASSERT_TRUE(channel.post(viewerMessage(viewerMessageSize, 4, 1)));
    EXPECT_EQ(viewer.waitForPrefix("size ").rfind("size 4/1 ", 0), 0u);
    ASSERT_TRUE(channel.post(viewerMessage(viewerMessageTopMost, 1, 4)));
    EXPECT_EQ(viewer.waitForPrefix("topmost "), "topmost 1");
    ASSERT_TRUE(channel.post(viewerMessage(viewerMessageTopMost, 0, 4)));
    EXPECT_EQ(viewer.waitForPrefix("topmost "), "topmost 0");
    // A size the viewer cannot show is refused, and the refusal is the answer.
    EXPECT_FALSE(channel.send(viewerMessage(viewerMessageSize, 0, 3)));

    // File change: once it is answered, the viewer no longer holds the file.
    ASSERT_TRUE(channel.send(viewerMessage(viewerMessageFileChange)));
    EXPECT_FALSE(holdsOpen(viewer.pid(), clip));
    EXPECT_EQ(viewer.waitForPrefix("closed"), "closed");

    // A file that cannot be opened: a message, and the viewer carries on.
    ASSERT_TRUE(channel.send(viewerFileMessage("/nonexistent/a.pva", 77)));
    EXPECT_EQ(viewer.waitForPrefix("error "), "error Cannot open /nonexistent/a.pva: No such file or directory");
    // Garbage before the first packet: the file opens on its first picture.
    const std::string garbage = sample("garbage_before.pva");
    ASSERT_TRUE(channel.send(viewerFileMessage(garbage, 77)));
    EXPECT_EQ(viewer.waitForPrefix("picture "), pictureLine(cutPoints(garbage, false)[0].offset) + "I 00:00:00.00 720x576");

    ASSERT_TRUE(channel.post(viewerMessage(viewerMessageClose)));
    int status = -1;
    ASSERT_TRUE(viewer.waitForExit(3000, &status));
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(std::filesystem::exists(endpoint.socketPath()));
    // Writing to the viewer that is gone fails quietly; then it is not found.
    channel.post(viewerMessage(viewerMessagePosition, 0, 0));
    EXPECT_FALSE(channel.send(viewerMessage(viewerMessagePosition, 0, 0)));
    EXPECT_FALSE(channel.find());
    EXPECT_FALSE(channel.post(viewerMessage(viewerMessagePosition, 0, 0)));
}

TEST_F(ViewerChannel, AFloodOfPositionsEndsOnTheLastAndSentMessagesAreAnsweredAtOnce)
{
    ViewerProcess viewer;
    ASSERT_TRUE(findViewer(channel));
    ASSERT_TRUE(channel.send(viewerFileMessage(clip, 77)));
    ASSERT_FALSE(viewer.waitForPrefix("picture ").empty());

    // 500 positions in a second, every picture in turn, as play stepping sends them.
    QElapsedTimer clock;
    clock.start();
    uint64_t last = 0;
    for (int i = 0; i < 500; ++i) {
        last = pictures[(i * 7) % pictures.size()].offset;
        ASSERT_TRUE(channel.post(viewerMessage(viewerMessagePosition, 0, last)));
        while (clock.elapsed() < 2 * (i + 1)) QTest::qSleep(1);
    }
    clock.restart();
    ASSERT_TRUE(channel.send(viewerMessage(viewerMessageSize, 1, 2)));
    EXPECT_LT(clock.elapsed(), 100);

    ASSERT_FALSE(viewer.waitForPrefix(pictureLine(last), 5000).empty());
    int shown = 0;
    std::string lastPicture;
    for (const std::string& line : viewer.linesAfterQuiet(300))
        if (line.rfind("picture ", 0) == 0) {
            ++shown;
            lastPicture = line;
        }
    EXPECT_EQ(lastPicture.rfind(pictureLine(last), 0), 0u) << lastPicture;
    // Positions overtaken while a picture was made were dropped, not queued.
    EXPECT_LT(shown, 500);
}

TEST_F(ViewerChannel, MalformedFramesAreDroppedAndLogged)
{
    ViewerProcess viewer;
    ASSERT_TRUE(findViewer(channel));
    QLocalSocket raw;
    raw.connectToServer(QString::fromStdString(endpoint.socketPath()));
    ASSERT_TRUE(raw.waitForConnected(1000));

    std::string bytes = "this is not a frame";
    std::string unknown;
    ASSERT_TRUE(encodeViewerFrame(viewerMessage(viewerMessagePosition), 11, true, unknown));
    unknown[16] = 5;   // message number 5
    std::string noNul;
    ASSERT_TRUE(encodeViewerFrame(viewerFileMessage(clip, 77), 12, true, noNul));
    noNul.back() = 'x';
    std::string badLength;
    ASSERT_TRUE(encodeViewerFrame(viewerFileMessage(clip, 77), 13, true, badLength));
    badLength[4] = 3;
    std::string good;
    ASSERT_TRUE(encodeViewerFrame(viewerMessage(viewerMessageSize, 1, 4), 14, true, good));
    bytes += unknown + noNul + badLength + good;
    raw.write(bytes.data(), static_cast<qint64>(bytes.size()));
    ASSERT_TRUE(raw.waitForBytesWritten(1000));

    // Refusals for the frames whose header could be read, then the good one taken.
    ViewerFrameDecoder answers;
    std::vector<ViewerFrame> acks;
    QElapsedTimer clock;
    clock.start();
    while (acks.size() < 3 && clock.elapsed() < 3000) {
        if (raw.waitForReadyRead(100)) {
            const QByteArray in = raw.readAll();
            answers.feed(in.constData(), static_cast<size_t>(in.size()));
        }
        ViewerFrame f;
        std::string error;
        while (answers.next(f, error) == ViewerFrameDecoder::Result::frame) acks.push_back(f);
    }
    ASSERT_EQ(acks.size(), 3u);
    EXPECT_EQ(std::tuple(acks[0].sequence, acks[0].message.wParam), std::tuple(11u, 0u));
    EXPECT_EQ(std::tuple(acks[1].sequence, acks[1].message.wParam), std::tuple(12u, 0u));
    EXPECT_EQ(std::tuple(acks[2].sequence, acks[2].message.wParam), std::tuple(14u, 1u));
    EXPECT_EQ(viewer.waitForPrefix("size "), "size 1/4 180x144");

    // The viewer and the cutter's own connection carry on.
    ASSERT_TRUE(channel.send(viewerFileMessage(clip, 77)));
    EXPECT_FALSE(viewer.waitForPrefix("picture ").empty());
    raw.abort();
    ASSERT_TRUE(channel.post(viewerMessage(viewerMessageClose)));
    ASSERT_TRUE(viewer.waitForExit(3000));
    const std::string log = viewer.errorOutput();
    for (const char* reason : {"bytes that do not start a frame", "unknown message number", "file name without its NUL",
                               "frame and data lengths disagree"})
        EXPECT_NE(log.find(reason), std::string::npos) << reason << "\n" << log;
}

TEST_F(ViewerChannel, OneViewerPerUserNoStaleSocketAndAHungViewerCostsOneTimeout)
{
    // A socket file left by a viewer that was killed: nobody listens on it.
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", endpoint.socketPath().c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    EXPECT_FALSE(channel.find());

    // The cutter starts the viewer from its own directory (the tests live beside it).
    EXPECT_FALSE(channel.start("no-such-viewer-program"));
    EXPECT_EQ(qt::locateViewerProgram("DVD2AVI_PVAVIEW.exe"), binary("DVD2AVI_PVAVIEW"));
    ASSERT_TRUE(channel.start("DVD2AVI_PVAVIEW"));
    ASSERT_TRUE(findViewer(channel));
    const pid_t pid = listenerPid(endpoint.socketPath());
    ASSERT_GT(pid, 0);
    struct Ender {
        pid_t pid;
        ~Ender() { ::kill(pid, SIGKILL); }
    } ender{pid};
    EXPECT_TRUE(channel.send(viewerFileMessage(clip, 77)));

    // A second copy leaves the endpoint to the first; given a file, it hands it over.
    ViewerProcess second;
    int status = -1;
    ASSERT_TRUE(second.waitForExit(5000, &status));
    EXPECT_EQ(status, 0);
    EXPECT_NE(second.errorOutput().find("already running"), std::string::npos);
    ViewerProcess handing({QString::fromStdString(clip), QString::number(units[2].offset)});
    ASSERT_TRUE(handing.waitForExit(5000, &status));
    EXPECT_EQ(status, 0);
    EXPECT_NE(handing.errorOutput().find("handed"), std::string::npos);
    EXPECT_EQ(listenerPid(endpoint.socketPath()), pid);

    // A viewer that hangs: the first send gives up after the timeout, the next ones
    // at once, and once it answers again all is as before.
    ASSERT_EQ(::kill(pid, SIGSTOP), 0);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(channel.send(viewerMessage(viewerMessagePosition, 0, 0)));
    EXPECT_GE(clock.elapsed(), 1900);
    EXPECT_LE(clock.elapsed(), 2600);
    clock.restart();
    EXPECT_FALSE(channel.send(viewerMessage(viewerMessagePosition, 0, 0)));
    EXPECT_LE(clock.elapsed(), 300);
    ASSERT_EQ(::kill(pid, SIGCONT), 0);
    EXPECT_TRUE(channel.send(viewerMessage(viewerMessagePosition, 0, 0)));
    EXPECT_TRUE(channel.send(viewerMessage(viewerMessageFileChange)));

    // Ended by a signal, the viewer still removes its socket.
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    for (int i = 0; i < 100 && ::kill(pid, 0) == 0; ++i) QTest::qSleep(30);
    EXPECT_FALSE(std::filesystem::exists(endpoint.socketPath()));
}

TEST_F(ViewerChannel, OnlyAPrivateDirectoryIsUsed)
{
    // Neither end uses a directory others can enter: then the one in /tmp is used.
    ::chmod(endpoint.directory().c_str(), 0755);
    qt::ViewerEndpoint e;
    std::string error;
    ASSERT_TRUE(qt::viewerEndpoint(e, error)) << error;
    EXPECT_NE(e.directory, endpoint.directory());
    struct stat st;
    ASSERT_EQ(::lstat(e.directory.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, ::getuid());
    EXPECT_EQ(st.st_mode & 077, 0u);

    ScratchDir open("vwopen");
    ::chmod(open.path().c_str(), 0777);
    const std::string fake = open.path() + "/runtime";
    ::symlink(endpoint.directory().c_str(), fake.c_str());
    ::setenv("XDG_RUNTIME_DIR", fake.c_str(), 1);   // a link is not taken either
    ASSERT_TRUE(qt::viewerEndpoint(e, error));
    EXPECT_NE(e.directory, fake);

    // The place in the temporary directory taken by another user: the cache is used;
    // with that taken as well, one line says why there is no viewer.
    ScratchDir tmp("vwtmp"), cache("vwcache");
    const std::string taken = tmp.path() + "/orvane-" + std::to_string(::getuid());
    ASSERT_EQ(::mkdir(taken.c_str(), 0700), 0);
    const char* oldTmp = std::getenv("TMPDIR");
    const char* oldCache = std::getenv("XDG_CACHE_HOME");
    const std::string keptTmp = oldTmp ? oldTmp : "", keptCache = oldCache ? oldCache : "";
    ::setenv("TMPDIR", tmp.path().c_str(), 1);
    ::setenv("XDG_CACHE_HOME", cache.path().c_str(), 1);
    if (::getuid() == 0) ASSERT_EQ(::chown(taken.c_str(), 65534, 65534), 0);
    else ::chmod(taken.c_str(), 0755);   // without the right to give it away: open to others
    ASSERT_TRUE(qt::viewerEndpoint(e, error)) << error;
    EXPECT_EQ(e.directory, cache.path() + "/orvane");
    EXPECT_EQ(QtViewerChannel().unavailable(), "");
    ::rmdir(e.directory.c_str());
    ASSERT_EQ(::mkdir(e.directory.c_str(), 0777), 0);
    ::chmod(e.directory.c_str(), 0777);
    const std::string why = QtViewerChannel().unavailable();
    EXPECT_NE(why.find(taken), std::string::npos) << why;
    EXPECT_NE(why.find(e.directory + " is open to other users"), std::string::npos) << why;
    EXPECT_EQ(why.find('\n'), std::string::npos);
    ::rmdir(e.directory.c_str());
    ::rmdir(taken.c_str());
    oldTmp ? ::setenv("TMPDIR", keptTmp.c_str(), 1) : ::unsetenv("TMPDIR");
    oldCache ? ::setenv("XDG_CACHE_HOME", keptCache.c_str(), 1) : ::unsetenv("XDG_CACHE_HOME");
}

} // namespace
