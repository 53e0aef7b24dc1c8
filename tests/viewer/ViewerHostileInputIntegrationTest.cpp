// A real DVD2AVI_PVAVIEW process against what a damaged recording or a careless or
// hostile local process gives it: a picture size no broadcast has, a long search
// for a start picture, clients that pile up or never read, a process out of file
// descriptors, and file names that are not valid UTF-8. Each is bounded by a
// timeout, so that a regression fails instead of hanging.
#include "platform/ViewerProtocol.h"
#include "platform/qt/QtViewerChannel.h"
#include "support/ViewerTestSupport.h"

#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace testsupport;
using namespace viewertest;
using namespace platform;
using platform::qt::QtViewerChannel;

namespace {

std::string q(const std::string& s) { return "'" + s + "'"; }
std::string pictureLine(uint64_t position) { return "picture " + std::to_string(position) + " "; }

bool findViewer(QtViewerChannel& channel)
{
    for (int i = 0; i < 100; ++i) {
        if (channel.find()) return true;
        QTest::qSleep(50);
    }
    return false;
}

// A plain connection to the viewer's socket, as any process of the user can open.
int connectRaw(const std::string& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
    if (fd >= 0) ::close(fd);
    return -1;
}

// Whether the viewer has closed its end: a read sees the end (or a reset) at once.
bool droppedByViewer(int fd, int waitMs)
{
    timeval tv{waitMs / 1000, (waitMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno == ECONNRESET)) return true;
        if (n < 0) return false;
    }
}

int openDescriptors(qint64 pid)
{
    int n = 0;
    std::error_code ec;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
        ++n;
    return n;
}

long residentKiB(qint64 pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        long value = 0;
        if (key == "VmRSS:" && status >> value) return value;
    }
    return -1;
}

class ViewerHostileInput : public ::testing::Test {
protected:
    PrivateEndpoint endpoint;
    QtViewerChannel channel;
    ScratchDir dir{"vwhostile"};
    std::string clip = sample("clip.pva");
    std::vector<CutPoint> units = cutPoints(clip, false);
};

// Every sequence header of the clip (and its extension) claims 16383 x 12287
// pixels; 32 MiB of chained false headers lie in front of a picture far from any
// sequence header.
TEST_F(ViewerHostileInput, AHugePictureIsRefusedAndALongSearchNeitherDelaysNewPositionsNorTheEnd)
{
    std::vector<uint8_t> huge = readBytes(clip);
    int headers = 0;
    for (size_t i = 0; i + 12 < huge.size(); ++i) {
        if (huge[i] || huge[i + 1] || huge[i + 2] != 1) continue;
        if (huge[i + 3] == 0xB3) {
            huge[i + 4] = huge[i + 5] = huge[i + 6] = 0xFF;
            ++headers;
        } else if (huge[i + 3] == 0xB5 && (huge[i + 4] >> 4) == 1) {
            huge[i + 5] |= 0x01;                          // horizontal size extension 3
            huge[i + 6] = (huge[i + 6] & 0x1F) | 0xC0;    // 3 and vertical 2
        }
    }
    ASSERT_GT(headers, 2);
    writeBytes(dir.file("huge.pva"), huge);
    const RunResult r = run("timeout 20 " + q(binary("DVD2AVI_PVAVIEW")) + " --render " + q(dir.file("huge.pva")) + " " +
                            std::to_string(units[1].offset) + " " + q(dir.file("huge.png")));
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("claims 16383 x 12287 pixels, more than a broadcast's 1920 x 1152"), std::string::npos) << r.err;
    EXPECT_FALSE(fileExists(dir.file("huge.png")));

    // The flood of the picture readers' test, four times as long.
    const std::vector<uint8_t> bytes = readBytes(clip);
    uint64_t from = 0, later = 0;
    for (const SamplePacket& p : samplePackets("clip.pva")) {
        if (p.streamId != 1 || p.types == "-") continue;
        if (!from && p.types[0] == 'P') from = p.offset;
        else if (from && !later && p.types.find('I') != std::string::npos) later = p.offset;
    }
    ASSERT_TRUE(from && later);
    std::vector<uint8_t> flood;
    for (int i = 0; i < (32 << 20) / 4; ++i) flood.insert(flood.end(), {'A', 'V', 0x01, 0x00});
    flood.insert(flood.end(), {'A', 'V'});
    const uint64_t at = flood.size();
    flood.insert(flood.end(), bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end());
    const uint64_t next = at + later - from;
    writeBytes(dir.file("flood.pva"), flood);

    auto viewer = std::make_unique<ViewerProcess>();
    ASSERT_TRUE(findViewer(channel));
    // The message takes the place of the picture, before any memory is spent on it.
    ASSERT_TRUE(channel.send(viewerFileMessage(dir.file("huge.pva"))));
    const std::string refused = viewer->waitForLine([](const std::string& l) { return l.rfind("failed ", 0) == 0; });
    EXPECT_NE(refused.find("claims 16383 x 12287 pixels"), std::string::npos) << refused;
    EXPECT_LT(residentKiB(viewer->pid()), 300 << 10);

    // A newer position overtakes the search: the next line is its picture, not the
    // end of the search.
    ASSERT_TRUE(channel.send(viewerFileMessage(dir.file("flood.pva"))));
    ASSERT_FALSE(viewer->waitForPrefix("failed ").empty());   // position 0 has no picture either
    ASSERT_TRUE(channel.post(viewerMessage(viewerMessagePosition, 0, at)));
    QTest::qSleep(20);
    ASSERT_TRUE(channel.post(viewerMessage(viewerMessagePosition, 0, next)));
    const auto pictureOrFailure = [](const std::string& l) { return l.rfind("picture ", 0) == 0 || l.rfind("failed ", 0) == 0; };
    std::string shown = viewer->waitForLine(pictureOrFailure, 10000);
    // On a fast disk the bounded search may end before it can be overtaken; its
    // failure then comes first, and the newer position's picture right after it.
    if (shown.rfind("failed " + std::to_string(at) + " ", 0) == 0) shown = viewer->waitForLine(pictureOrFailure, 10000);
    EXPECT_EQ(shown.rfind(pictureLine(next), 0), 0u) << shown;

    // Told to close, or sent SIGTERM, during a search: gone within a second, the socket too.
    for (const bool signal : {false, true}) {
        if (!viewer) {
            viewer = std::make_unique<ViewerProcess>(QStringList{QString::fromStdString(dir.file("flood.pva"))});
            ASSERT_TRUE(findViewer(channel));
        }
        ASSERT_TRUE(channel.send(viewerMessage(viewerMessageSize, 1, 2)));
        ASSERT_TRUE(channel.post(viewerMessage(viewerMessagePosition, 0, at)));
        QTest::qSleep(150);
        QElapsedTimer clock;
        clock.start();
        if (signal) ::kill(static_cast<pid_t>(viewer->pid()), SIGTERM);
        else ASSERT_TRUE(channel.post(viewerMessage(viewerMessageClose)));
        ASSERT_TRUE(viewer->waitForExit(10000)) << signal;
        EXPECT_LT(clock.elapsed(), 1000) << (signal ? "SIGTERM" : "close");
        EXPECT_FALSE(std::filesystem::exists(endpoint.socketPath()));
        viewer.reset();
    }
}

// Clients beyond the limit, one that never reads its answers, and a viewer run out
// of descriptors: the cutter's channel reaches the viewer again each time.
TEST_F(ViewerHostileInput, ConnectionsAndUnreadAnswersAreLimitedAndTheSocketIsKept)
{
    {
        ViewerProcess viewer;
        ASSERT_TRUE(findViewer(channel));
        const int base = openDescriptors(viewer.pid());
        std::vector<int> held;
        for (int i = 0; i < 100; ++i) {
            const int fd = connectRaw(endpoint.socketPath());
            ASSERT_GE(fd, 0) << i;
            held.push_back(fd);
        }
        ASSERT_TRUE(findViewer(channel));
        EXPECT_TRUE(channel.send(viewerMessage(viewerMessageSize, 1, 2)));
        // The first ones were dropped for the later ones; the viewer holds no more than its limit.
        EXPECT_TRUE(droppedByViewer(held.front(), 2000));
        EXPECT_LE(openDescriptors(viewer.pid()), base + 40);
        for (int fd : held) ::close(fd);

        // Sent messages whose answers are never read: the client is dropped, not buffered for.
        const int greedy = connectRaw(endpoint.socketPath());
        ASSERT_GE(greedy, 0);
        std::string frames;
        for (int i = 0; i < 20000; ++i)
            ASSERT_TRUE(encodeViewerFrame(viewerMessage(viewerMessagePosition, 0, 0), 1 + i, true, frames));
        const long before = residentKiB(viewer.pid());
        size_t sent = 0;
        bool failed = false;
        while (sent < (256u << 20) && !failed) {
            const ssize_t n = ::send(greedy, frames.data(), frames.size(), MSG_NOSIGNAL);
            if (n < 0) failed = true;
            else sent += static_cast<size_t>(n);
        }
        EXPECT_TRUE(failed) << sent << " bytes sent";
        EXPECT_LT(residentKiB(viewer.pid()) - before, 64 << 10) << sent;
        ::close(greedy);
        ASSERT_TRUE(findViewer(channel));
        EXPECT_TRUE(channel.send(viewerFileMessage(clip)));
        EXPECT_FALSE(viewer.waitForPrefix("picture 0 ").empty());
        ASSERT_TRUE(channel.post(viewerMessage(viewerMessageClose)));
        ASSERT_TRUE(viewer.waitForExit(3000));
        EXPECT_NE(viewer.errorOutput().find("it does not read its answers"), std::string::npos);
    }

    // Out of descriptors: with 14 to spare, accepting the 20 connections fails.
    auto viewer = std::make_unique<ViewerProcess>();
    const rlimit low{24, 24};
    ASSERT_EQ(::prlimit(static_cast<pid_t>(viewer->pid()), RLIMIT_NOFILE, &low, nullptr), 0);
    ASSERT_TRUE(findViewer(channel));
    std::vector<int> held;
    for (int i = 0; i < 20; ++i) {
        held.push_back(connectRaw(endpoint.socketPath()));
        QTest::qSleep(10);
    }
    QTest::qSleep(500);
    for (int fd : held)
        if (fd >= 0) ::close(fd);
    QElapsedTimer clock;
    clock.start();
    bool answered = false;
    while (!answered && clock.elapsed() < 5000) {
        answered = channel.find() && channel.send(viewerMessage(viewerMessageSize, 1, 4));
        if (!answered) QTest::qSleep(50);
    }
    EXPECT_TRUE(answered);
    ASSERT_TRUE(channel.post(viewerMessage(viewerMessageClose)));
    ASSERT_TRUE(viewer->waitForExit(3000));
    EXPECT_NE(viewer->errorOutput().find("listening again"), std::string::npos) << viewer->errorOutput();
}

// A name that is not valid UTF-8 reaches the running viewer as it is, and --render
// writes to the name it was given.
TEST_F(ViewerHostileInput, NamesThatAreNotUtf8PassAsBytes)
{
    const std::string name = "bad\xff\xfe" "clip.pva";
    std::filesystem::copy_file(clip, dir.file(name));
    ViewerProcess viewer;
    ASSERT_TRUE(findViewer(channel));
    const RunResult handing = run("cd " + q(dir.path()) + " && timeout 20 " + q(binary("DVD2AVI_PVAVIEW")) + " " + q(name) +
                                  " " + std::to_string(units[2].offset));
    EXPECT_EQ(handing.status, 0) << handing.err;
    const auto pictureOrError = [](const std::string& l) { return l.rfind("picture ", 0) == 0 || l.rfind("error ", 0) == 0; };
    std::string line = viewer.waitForLine(pictureOrError);
    // The file is opened at its start: that picture may be shown before the position arrives.
    if (line.rfind("picture 0 ", 0) == 0) line = viewer.waitForLine(pictureOrError);
    EXPECT_EQ(line.rfind(pictureLine(units[2].offset), 0), 0u) << line;

    const std::string png = dir.file("out\xff.png");
    const RunResult r = run("timeout 20 " + q(binary("DVD2AVI_PVAVIEW")) + " --render " + q(dir.file(name)) + " " +
                            std::to_string(units[1].offset) + " " + q(png));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> written = readBytes(png);
    ASSERT_GT(written.size(), 8u);
    EXPECT_EQ(std::string(written.begin() + 1, written.begin() + 4), "PNG");
}

} // namespace
