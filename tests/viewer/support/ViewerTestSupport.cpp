#include "ViewerTestSupport.h"

#include <QApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>

using namespace testsupport;

namespace viewertest {

PrivateEndpoint::PrivateEndpoint()
{
    ::chmod(dir_.path().c_str(), 0700);
    if (const char* p = std::getenv("XDG_RUNTIME_DIR")) {
        previous_ = p;
        hadPrevious_ = true;
    }
    ::setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
}

PrivateEndpoint::~PrivateEndpoint()
{
    if (hadPrevious_) ::setenv("XDG_RUNTIME_DIR", previous_.c_str(), 1);
    else ::unsetenv("XDG_RUNTIME_DIR");
}

ViewerProcess::ViewerProcess(const QStringList& arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process_.setProcessEnvironment(env);
    process_.start(QString::fromStdString(binary("DVD2AVI_PVAVIEW")), QStringList{"--trace"} + arguments);
    if (!process_.waitForStarted(5000)) ADD_FAILURE() << "the viewer did not start";
}

ViewerProcess::~ViewerProcess()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(3000)) process_.kill();
        process_.waitForFinished(1000);
    }
}

void ViewerProcess::readLines(int waitMs)
{
    if (process_.bytesAvailable() == 0 && process_.state() == QProcess::Running) process_.waitForReadyRead(waitMs);
    partial_ += process_.readAllStandardOutput().toStdString();
    size_t nl;
    while ((nl = partial_.find('\n')) != std::string::npos) {
        lines_.push_back(partial_.substr(0, nl));
        partial_.erase(0, nl + 1);
    }
}

std::string ViewerProcess::waitForLine(const std::function<bool(const std::string&)>& match, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        while (taken_ < lines_.size()) {
            const std::string& line = lines_[taken_++];
            if (match(line)) return line;
        }
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0) return {};
        if (process_.state() != QProcess::Running && process_.bytesAvailable() == 0) {
            readLines(0);
            if (taken_ == lines_.size()) return {};
            continue;
        }
        readLines(static_cast<int>(std::min<qint64>(left, 50)));
    }
}

std::string ViewerProcess::waitForPrefix(const std::string& prefix, int timeoutMs)
{
    return waitForLine([&](const std::string& l) { return l.rfind(prefix, 0) == 0; }, timeoutMs);
}

std::vector<std::string> ViewerProcess::linesAfterQuiet(int quietMs)
{
    for (;;) {
        const size_t before = lines_.size();
        readLines(quietMs);
        if (lines_.size() == before) return lines_;
    }
}

bool ViewerProcess::waitForExit(int timeoutMs, int* status)
{
    const bool done = process_.state() == QProcess::NotRunning || process_.waitForFinished(timeoutMs);
    if (done && status) *status = process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    return done;
}

std::string ViewerProcess::errorOutput() { return process_.readAllStandardError().toStdString(); }

std::vector<CutPoint> cutPoints(const std::string& pva, bool everyPicture)
{
    const RunResult r = run("'" + binary("orvane-cli") + "' --set cutAtIFrames=" + (everyPicture ? "0" : "1") +
                            " units '" + pva + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<CutPoint> points;
    std::istringstream in(r.out);
    std::string line;
    std::getline(in, line);   // column names
    while (std::getline(in, line)) {
        std::istringstream f(line);
        long long unit, first, end, offset, frame, vpts, type;
        if (f >> unit >> first >> end >> offset >> frame >> vpts >> type)
            points.push_back({static_cast<uint64_t>(offset), static_cast<uint32_t>(vpts), " IPB"[type & 3]});
    }
    return points;
}

std::vector<SamplePacket> samplePackets(const std::string& name)
{
    std::vector<SamplePacket> packets;
    std::istringstream in(readText(sample(name) + ".packets"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        SamplePacket p{};
        std::string flags, length, pts;
        f >> p.offset >> p.streamId >> flags >> length >> pts >> p.types;
        p.hasPts = pts != "-";
        p.pts = p.hasPts ? static_cast<uint32_t>(std::stoull(pts)) : 0;
        packets.push_back(p);
    }
    return packets;
}

YuvFrames decodeWithFfmpeg(const std::string& path)
{
    YuvFrames f;
    ScratchDir dir("ffdec");
    const RunResult probe = run("ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 '" +
                                path + "'");
    if (std::sscanf(probe.out.c_str(), "%d,%d", &f.width, &f.height) != 2) {
        ADD_FAILURE() << "ffprobe cannot read " << path << ": " << probe.err;
        return f;
    }
    const RunResult r = run("ffmpeg -nostdin -v error -i '" + path + "' -fps_mode passthrough -f rawvideo -pix_fmt yuv420p '" +
                            dir.file("frames.yuv") + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    f.bytes = readBytes(dir.file("frames.yuv"));
    return f;
}

double psnr(const QImage& image, const YuvFrames& frames, size_t i)
{
    const QImage picture = image.convertToFormat(QImage::Format_RGB32);
    const int w = frames.width, h = frames.height;
    if (picture.width() != w || picture.height() != h || i >= frames.count()) return 0;
    const uint8_t* y = frames.frame(i);
    const uint8_t* u = y + w * h;
    const uint8_t* v = u + w * h / 4;
    auto clip = [](double x) { return x < 0 ? 0.0 : x > 255 ? 255.0 : x; };
    double sum = 0;
    for (int r = 0; r < h; ++r) {
        const auto* line = reinterpret_cast<const QRgb*>(picture.constScanLine(r));
        for (int c = 0; c < w; ++c) {
            const double yy = 1.164383 * (y[r * w + c] - 16);
            const double cb = u[(r / 2) * (w / 2) + c / 2] - 128.0, cr = v[(r / 2) * (w / 2) + c / 2] - 128.0;
            const double R = clip(yy + 1.596027 * cr), G = clip(yy - 0.391762 * cb - 0.812968 * cr),
                         B = clip(yy + 2.017232 * cb);
            sum += std::pow(qRed(line[c]) - R, 2) + std::pow(qGreen(line[c]) - G, 2) + std::pow(qBlue(line[c]) - B, 2);
        }
    }
    const double mse = sum / (3.0 * w * h);
    return mse < 1e-10 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

} // namespace viewertest

// Viewer tests need a Qt application; on a machine without a display it is offscreen.
int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
