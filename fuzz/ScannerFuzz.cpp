// Fuzz target: arbitrary bytes as a source file, scanned with both readers and
// both cut rules. Besides memory errors (caught by the sanitizers) it checks that
// the index is consistent and that both readers build the same index.
#include "core/LogConsole.h"
#include "platform/Operation.h"
#include "source/FileAccess.h"
#include "source/SourceAnalyser.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

[[noreturn]] void broken(const char* what)
{
    std::fprintf(stderr, "scanner fuzz: %s\n", what);
    std::abort();
}

void check(bool ok, const char* what)
{
    if (!ok) broken(what);
}

SourceAnalyser& analyser()
{
    static SourceAnalyser* app = [] {
        LogConsole& log = logConsole();
        log.attachWindow(nullptr, 1001);   // window mode without a window: shows nothing
        return new SourceAnalyser(log);
    }();
    return *app;
}

const std::string& scratchFile()
{
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("orvane-scanner-fuzz-" + std::to_string(getpid()) + ".pva"))
            .string();
    return path;
}

void checkIndex(const SourceStream& s, size_t fileSize)
{
    check(s.pktCount >= 0 && static_cast<size_t>(s.pktCount) <= s.packetRoom(), "packet count out of range");
    check(s.lastCutPoint >= 0 && static_cast<size_t>(s.lastCutPoint) < s.cutPointRoom(), "cut point count out of range");
    for (int32_t k = 0; k < s.pktCount; ++k) {
        const PvaPacketHeader& h = s.pktHeader[k];
        check(h.sync1 == 0x41 && h.sync2 == 0x56, "indexed packet without AV");
        check(s.pktPos[k] + uint64_t{8} + h.length <= fileSize, "indexed packet runs past the end of the file");
        if (k + 1 < s.pktCount)
            check(s.pktPos[k] + 8 + h.length <= s.pktPos[k + 1], "packets overlap");
    }
    check(s.pktCount == 0 || s.scanEnd <= fileSize, "byte count beyond the end of the file");
    // With lastCutPoint 0 there is no unit, and the first entry may be one that a
    // repair took back: nothing to check.
    if (s.lastCutPoint == 0) return;
    for (int32_t i = 0; i <= s.lastCutPoint; ++i) {
        int32_t p = s.cutPointPkt[i];
        check(p >= 0 && p < s.pktCount, "cut point outside the index");
        check(s.pktHeader[p].streamId == 1 && (s.pktHeader[p].flags & 0x10), "cut point is not a video time stamp");
        if (i > 0) check(s.cutPointPkt[i - 1] < p, "cut points not ascending");
    }
}

void checkSame(const SourceStream& a, const SourceStream& b)
{
    check(a.pktCount == b.pktCount && a.lastCutPoint == b.lastCutPoint && a.vStartPts == b.vStartPts &&
              a.vEndPts == b.vEndPts && a.scanEnd == b.scanEnd,
          "readers disagree on the totals");
    for (int32_t k = 0; k < a.pktCount; ++k) {
        check(std::memcmp(&a.pktHeader[k], &b.pktHeader[k], sizeof(PvaPacketHeader)) == 0 &&
                  a.picType[k] == b.picType[k] && a.vPts[k] == b.vPts[k] && a.aPts[k] == b.aPts[k] &&
                  a.gopTimeCode[k] == b.gopTimeCode[k] && a.pktPos[k] == b.pktPos[k],
              "readers disagree on a packet");
    }
    for (int32_t i = 0; a.lastCutPoint > 0 && i <= a.lastCutPoint; ++i)
        check(a.cutPointPkt[i] == b.cutPointPkt[i] && a.cutPointFrame[i] == b.cutPointFrame[i],
              "readers disagree on a cut point");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SourceAnalyser& app = analyser();
    const std::string& path = scratchFile();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) broken("cannot write the scratch file");
    if (size && std::fwrite(data, 1, size, f) != size) broken("cannot write the scratch file");
    std::fclose(f);

    for (int cutAtIFrames = 0; cutAtIFrames <= 1; ++cutAtIFrames) {
        app.settings.cutAtIFrames = cutAtIFrames;
        app.sourceCount = 0;
        int results[2];
        for (int slot = 0; slot < 2; ++slot) {
            app.settings.fastBufferScan = slot == 0 ? 1 : 0;
            // Now and then with a scan log, which formats every packet.
            int withLog = (size % 4 == 0 && slot == 1 && cutAtIFrames == 0) ? 1 : 0;
            int before = app.sourceCount;
            results[slot] = app.scanSource(path.c_str(), withLog, platform::quietOperation(app.settings.cancelRequested));
            // A writer is refused while anyone still reads the file.
            FileHandle writer = openFile(path.c_str(), "ab");
            check(writer != nullptr, "scan left the file open");
            closeFile(writer);
            check(app.settings.cancelRequested == 0, "cancel flag left set");
            if (results[slot] == 1) {
                check(app.sourceCount == before + 1 && app.currentSource == slot, "slot not taken");
                checkIndex(app.sources[slot], size);
            } else {
                check(app.sourceCount == before && app.sources[slot].pktCount == 0, "failed scan kept its slot");
                app.sourceCount = slot + 1;   // compare the emptied slot too
            }
        }
        check(results[0] == results[1], "readers disagree on the result");
        checkSame(app.sources[0], app.sources[1]);
    }
    std::remove(path.c_str());
    std::remove((path + ".txt").c_str());
    return 0;
}
