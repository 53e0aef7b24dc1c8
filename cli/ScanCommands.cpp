// orvane-cli scan and units.
#include "cli/Commands.h"

#include "platform/Operation.h"
#include "core/LogConsole.h"
#include "source/FileAccess.h"
#include "source/SourceAnalyser.h"

#include <cstdio>
#include <cstring>
#include <string>

int runScan(CliContext& ctx, int argc, char** argv)
{
    int withLog = 0;
    int first = 0;
    for (; first < argc; ++first) {
        const char* a = argv[first];
        if (!std::strcmp(a, "--log")) {
            withLog = 1;
            continue;
        }
        if (!std::strcmp(a, "--")) {
            ++first;
            break;
        }
        if (a[0] == '-' && a[1] == '-') return usageError("scan: unknown option %s", a);
        break;
    }
    if (first >= argc) return usageError("scan needs at least one FILE");

    int status = 0;
    for (int i = first; i < argc; ++i) {
        // The scan log would replace a recording that this command scans later.
        if (withLog) {
            const std::string logName = std::string(argv[i]) + ".txt";
            int named = first;
            while (named < argc && !sameFile(logName, argv[named])) ++named;
            if (named < argc) {
                ctx.log.writef("ERROR: can't write %s: it is the source PVA file %s\n", logName.c_str(), argv[named]);
                status = 1;
                continue;
            }
        }
        if (ctx.app.scanSource(argv[i], withLog, ctx.op) != 1) status = 1;
    }
    return status;
}

int runUnits(CliContext& ctx, int argc, char** argv)
{
    if (argc != 1) return usageError("units needs exactly one FILE");
    // Only the table goes to stdout.
    echoConsoleTo(ctx.log, true);
    if (ctx.app.scanSource(argv[0], 0, ctx.op) != 1) return 1;

    const SourceStream& s = ctx.app.sources[ctx.app.currentSource];
    std::fputs("unit\tfirst_packet\tend_packet\tfile_offset\tstart_frame\tvpts\tpic_type\tgop_timecode\n", stdout);
    for (int32_t u = 0; u < s.lastCutPoint; ++u) {
        int32_t firstPkt = s.cutPointPkt[u];
        std::printf("%d\t%d\t%d\t%llu\t%d\t%u\t%u\t0x%08X\n", u, firstPkt, s.cutPointPkt[u + 1],
                    static_cast<unsigned long long>(s.pktPos[firstPkt]),
                    s.cutPointFrame[u], s.vPts[firstPkt], static_cast<unsigned>(s.picType[firstPkt]),
                    s.gopTimeCode[firstPkt]);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
