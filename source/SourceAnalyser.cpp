#include "source/SourceAnalyser.h"

#include "core/LogConsole.h"

#include <new>

SourceAnalyser::SourceAnalyser(LogConsole& logConsole) : log(logConsole) {}

namespace {

// Allocates without touching the memory: a slot costs only the pages it uses.
template <typename T>
bool allocArray(std::unique_ptr<T[]>& array, size_t n, LogConsole& log)
{
    if (array) return true;
    array.reset(new (std::nothrow) T[n]);
    if (!array) {
        log.write("ERROR: OUT OF MEMORY\n", 1);
        return false;
    }
    return true;
}

} // namespace

int SourceAnalyser::allocSourceArrays(int slot)
{
    SourceStream& s = sources[slot];
    bool ok = true;
    ok &= allocArray(s.pktHeader, packetCapacity, log);
    ok &= allocArray(s.picType, packetCapacity, log);
    ok &= allocArray(s.vPts, packetCapacity, log);
    ok &= allocArray(s.aPts, packetCapacity, log);
    ok &= allocArray(s.gopTimeCode, packetCapacity, log);
    ok &= allocArray(s.pktPos, packetCapacity, log);
    ok &= allocArray(s.cutPointPkt, cutPointCapacity, log);
    ok &= allocArray(s.cutPointFrame, cutPointCapacity, log);
    s.pktCount = 0;
    return ok ? 1 : -1;
}

const SourceStream* SourceAnalyser::usableSource(int32_t s) const
{
    if (s < 0 || s >= sourceCount || s >= maxSources) return nullptr;
    const SourceStream& src = sources[s];
    return src.allocated() && src.pktCount > 0 ? &src : nullptr;
}

SourceStream* SourceAnalyser::usableSource(int32_t s)
{
    return const_cast<SourceStream*>(static_cast<const SourceAnalyser*>(this)->usableSource(s));
}
