#include "source/SourceAnalyser.h"

#include "core/LogConsole.h"

#include <algorithm>

SourceAnalyser::SourceAnalyser(LogConsole& logConsole) : log(logConsole) {}

namespace {

// The first room of a slot: its pages cost nothing until a scan writes them.
constexpr size_t firstPacketRoom = 65536;
constexpr size_t firstCutPointRoom = 4096;

} // namespace

bool SourceStream::reservePackets(size_t n)
{
    // All or nothing would need a second copy of the index: a column that grew
    // stays grown, the room is the smallest column's.
    return pktHeader.reserve(n) && picType.reserve(n) && vPts.reserve(n) && aPts.reserve(n)
        && gopTimeCode.reserve(n) && pktPos.reserve(n);
}

bool SourceStream::preparePackets(size_t first, size_t n)
{
    if (!reservePackets(first + n)) return false;
    pktHeader.prefault(first, n);
    picType.prefault(first, n);
    vPts.prefault(first, n);
    aPts.prefault(first, n);
    gopTimeCode.prefault(first, n);
    pktPos.prefault(first, n);
    return true;
}

bool SourceStream::reserveCutPoints(size_t n) { return cutPointPkt.reserve(n) && cutPointFrame.reserve(n); }

size_t SourceStream::packetRoom() const
{
    return std::min({pktHeader.capacity(), picType.capacity(), vPts.capacity(), aPts.capacity(),
                     gopTimeCode.capacity(), pktPos.capacity()});
}

size_t SourceStream::cutPointRoom() const { return std::min(cutPointPkt.capacity(), cutPointFrame.capacity()); }

int SourceAnalyser::allocSourceArrays(int slot)
{
    SourceStream& s = sources[slot];
    const bool ok = s.reservePackets(firstPacketRoom) && s.reserveCutPoints(firstCutPointRoom);
    if (!ok) log.write("ERROR: OUT OF MEMORY\n", 1);
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
