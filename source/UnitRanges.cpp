#include "source/UnitRanges.h"

#include "source/SourceAnalyser.h"

UnitRange nextUnitRunInTime(const SourceStream& src, int32_t fromUnit, uint64_t fromTicks, uint64_t toTicks)
{
    UnitRange run;
    for (int32_t u = fromUnit < 0 ? 0 : fromUnit; u < src.lastCutPoint; ++u) {
        const uint32_t t = src.vPts[src.cutPointPkt[u]];
        const bool inside = t >= fromTicks && t < toTicks;
        if (inside && run.empty()) run.first = u;
        if (!inside && !run.empty()) break;
        if (inside) run.last = u;
    }
    return run;
}
