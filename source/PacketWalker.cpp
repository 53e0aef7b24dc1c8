#include "source/PacketWalker.h"

#include <cstring>

size_t findAvHeader(const uint8_t* data, size_t size, size_t from)
{
    size_t x = from;
    while (size >= 3 && x + 3 <= size) {
        const auto* hit = static_cast<const uint8_t*>(std::memchr(data + x, 'A', size - x - 2));
        if (!hit) break;
        x = static_cast<size_t>(hit - data);
        if (hit[1] == 'V' && (hit[2] == pvaStreamVideo || hit[2] == pvaStreamAudio)) return x;
        ++x;
    }
    return size;
}

uint64_t PacketWalker::chainStart(uint64_t target) const
{
    if (target < start_ || target > end()) return target;
    auto isCandidate = [&](uint64_t z) {
        const uint8_t* p = at(z);
        return z + 3 <= end() && p[0] == 'A' && p[1] == 'V' && (p[2] == pvaStreamVideo || p[2] == pvaStreamAudio);
    };
    // The positions from which a walk is known not to reach the target: each is
    // walked through once, so false candidates cost no more than the bytes.
    std::vector<uint64_t> fails;
    auto failed = [&](uint64_t x) {
        const size_t i = static_cast<size_t>(x - start_);
        return !fails.empty() && ((fails[i / 64] >> (i % 64)) & 1);
    };
    std::vector<uint64_t> path;
    for (uint64_t c = nextCandidate(start_); c < target; c = nextCandidate(c + 1)) {
        if (c + pvaHeaderSize > end()) break;
        const uint64_t next = c + pvaHeaderSize + readPacketHeader(at(c)).length;
        if (next > target) continue;
        if (next < target && !hasAvSync(at(next))) continue;
        // Walk on from c as walk() does, noting every position passed through.
        path.clear();
        uint64_t x = c;
        while (x < target && x + pvaHeaderSize <= end() && !failed(x)) {
            path.push_back(x);
            if (hasAvSync(at(x))) {
                x += pvaHeaderSize + readPacketHeader(at(x)).length;
                continue;
            }
            // Every position on the way to the next candidate resyncs there too.
            // ("AV" with another stream id is passed over, as the search does.)
            for (++x; x < target && x + pvaHeaderSize <= end() && !isCandidate(x); ++x) {
                if (hasAvSync(at(x))) continue;
                if (failed(x)) break;
                path.push_back(x);
            }
        }
        if (x == target) return c;
        if (fails.empty()) fails.assign((size_ + 63) / 64, 0);
        for (uint64_t p : path) {
            const size_t i = static_cast<size_t>(p - start_);
            fails[i / 64] |= uint64_t{1} << (i % 64);
        }
    }
    return target;
}
