#pragma once
#include <cstdint>

struct SourceStream;

// Cut units first..last of one source, both included; first < 0: none.
struct UnitRange {
    int32_t first = -1;
    int32_t last = -1;
    bool empty() const { return first < 0; }
};

// The first run of consecutive units, from unit `fromUnit` on, whose cut points lie
// in [fromTicks, toTicks) of the source's own time line (90 kHz ticks since its first
// picture). Empty when no unit from there on starts in that span. Calling it again
// from the unit after the run's last finds the next run.
UnitRange nextUnitRunInTime(const SourceStream& src, int32_t fromUnit, uint64_t fromTicks, uint64_t toTicks);
