#pragma once
// Walking the packets of a recording held in memory, as the scanner reads them:
// "AV" begins a packet, anything else is skipped up to the next "AV" with stream id
// 1 or 2 (the resync search the scanner's repair uses as well).
#include "source/PvaPacket.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The first offset at or after `from` where "AV" and stream id 1 or 2 begin in
// data[0 .. size-1], or `size` when there is none. Linear in what it passes over.
size_t findAvHeader(const uint8_t* data, size_t size, size_t from);

class PacketWalker {
public:
    // data[0 .. size-1] are the file's bytes from offset `start` on.
    PacketWalker(const uint8_t* data, size_t size, uint64_t start) : data_(data), size_(size), start_(start) {}

    uint64_t start() const { return start_; }
    uint64_t end() const { return start_ + size_; }
    const uint8_t* at(uint64_t offset) const { return data_ + (offset - start_); }

    // The first offset >= x where "AV" and stream id 1 or 2 begin, or end().
    uint64_t nextCandidate(uint64_t x) const
    {
        if (x >= end()) return end();
        return start_ + findAvHeader(data_, size_, static_cast<size_t>(x - start_));
    }

    // Calls visit(offset, header) for each packet met from `from` on that begins
    // before `until`, and returns where the walk stopped: at or after `until`, or
    // where the bytes ran out (a header would not fit).
    template <class Visit>
    uint64_t walk(uint64_t from, uint64_t until, Visit&& visit) const
    {
        uint64_t x = from;
        while (x < until) {
            if (x + pvaHeaderSize > end()) return x;
            const uint8_t* h = at(x);
            if (!hasAvSync(h)) {
                x = nextCandidate(x + 1);
                continue;
            }
            const PvaPacketHeader header = readPacketHeader(h);
            visit(x, header);
            x += pvaHeaderSize + header.length;
        }
        return x;
    }

    // The earliest packet from which the packets run on to `target`, or `target`
    // when none does. A candidate must be followed by another header (or by the
    // target itself), which rules out "AV" bytes that happen to lie inside a
    // payload. Linear in the bytes however many false candidates there are: what a
    // failed walk learnt about a position is kept for the walks after it.
    uint64_t chainStart(uint64_t target) const;

private:
    const uint8_t* data_;
    size_t size_;
    uint64_t start_;
};
