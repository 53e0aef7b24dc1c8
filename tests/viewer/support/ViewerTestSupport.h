#pragma once
// Helpers of the viewer tests: a private endpoint, a real viewer process whose
// trace is read line by line, the cut points of a sample, and an independent
// decode with the ffmpeg program to compare pictures with.
#include "support/TestSupport.h"

#include <QImage>
#include <QProcess>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace viewertest {

// Points XDG_RUNTIME_DIR of this process (and of the viewers it starts) at a fresh
// directory of mode 0700, so that tests running side by side do not meet.
class PrivateEndpoint {
public:
    PrivateEndpoint();
    ~PrivateEndpoint();
    std::string socketPath() const { return dir_.file("DVD2AVI_PVAVIEW"); }
    const std::string& directory() const { return dir_.path(); }

private:
    testsupport::ScratchDir dir_{"vw"};
    std::string previous_;
    bool hadPrevious_ = false;
};

// DVD2AVI_PVAVIEW --trace, offscreen, with its trace lines collected.
class ViewerProcess {
public:
    explicit ViewerProcess(const QStringList& arguments = {});
    ~ViewerProcess();
    qint64 pid() const { return process_.processId(); }
    // Waits for a trace line for which `match` holds (looking also at lines read
    // before but not yet taken); returns it, or "" after timeoutMs.
    std::string waitForLine(const std::function<bool(const std::string&)>& match, int timeoutMs = 5000);
    std::string waitForPrefix(const std::string& prefix, int timeoutMs = 5000);
    // All lines read so far (taken or not), then those arriving within `quietMs`.
    std::vector<std::string> linesAfterQuiet(int quietMs);
    bool waitForExit(int timeoutMs, int* status = nullptr);
    std::string errorOutput();
    QProcess& process() { return process_; }

private:
    void readLines(int waitMs);
    QProcess process_;
    std::vector<std::string> lines_;
    size_t taken_ = 0;
    std::string partial_;
};

struct CutPoint {
    uint64_t offset;
    uint32_t vpts;   // relative to the recording's start
    char type;
};
// The cut points `orvane-cli units` lists, at I pictures or at every picture.
std::vector<CutPoint> cutPoints(const std::string& pva, bool everyPicture);

// One line of a sample's .packets file.
struct SamplePacket {
    uint64_t offset;
    int streamId;
    bool hasPts;
    uint32_t pts;
    std::string types;
};
std::vector<SamplePacket> samplePackets(const std::string& name);

// Planar 4:2:0 pictures in display order, as the ffmpeg program decodes a file.
struct YuvFrames {
    int width = 0, height = 0;
    std::vector<uint8_t> bytes;
    size_t count() const { return width ? bytes.size() / (width * height * 3 / 2) : 0; }
    const uint8_t* frame(size_t i) const { return bytes.data() + i * (width * height * 3 / 2); }
};
YuvFrames decodeWithFfmpeg(const std::string& path);
// PSNR in dB of `picture` against frame i converted to RGB here (BT.601, studio
// range, each chroma sample covering its 2 x 2 pixels); 99 when identical.
double psnr(const QImage& picture, const YuvFrames& frames, size_t i);

} // namespace viewertest
