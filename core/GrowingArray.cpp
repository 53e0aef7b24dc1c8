#include "core/GrowingArray.h"

#include "platform/posix/SystemCalls.h"

#include <cstdint>

GrowingArrayProbe& growingArrayProbe()
{
    static GrowingArrayProbe probe;
    return probe;
}

namespace growing {

namespace {

// First touches of fresh pages take a good part of a scan's time and of a long
// edit's; huge pages take them 512 at a time. Only large columns get them, so that
// a column holds at most one huge page (2 MiB) beyond what it has filled. Such a
// column starts at a huge-page boundary, grows by whole huge pages and keeps to the
// boundaries when it moves, so that the kernel can go on using them.
constexpr size_t hugePage = size_t{2} << 20;
constexpr size_t hugePageColumn = size_t{4} << 20;

// The probe's budget: true when `more` bytes may still be taken.
bool probeAllows(size_t more)
{
    GrowingArrayProbe& p = growingArrayProbe();
    if (p.failAfterBytes < 0) return true;
    if (static_cast<uint64_t>(p.failAfterBytes) < more) return false;
    p.failAfterBytes -= static_cast<int64_t>(more);
    return true;
}

// A fresh mapping for huge pages, at a huge-page boundary.
void* mapAligned(size_t bytes)
{
    if (bytes > SIZE_MAX - hugePage) return nullptr;
    void* p = posix::mapPages(bytes + hugePage);
    if (!p) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t aligned = (start + hugePage - 1) & ~(hugePage - 1);
    const uintptr_t end = start + bytes + hugePage;
    if (aligned > start) posix::unmapPages(p, aligned - start);
    if (end > aligned + bytes) posix::unmapPages(reinterpret_cast<void*>(aligned + bytes), end - (aligned + bytes));
    posix::adviseHugePages(reinterpret_cast<void*>(aligned), bytes);
    return reinterpret_cast<void*>(aligned);
}

} // namespace

void* resize(void* block, size_t oldBytes, size_t newBytes, size_t* bytes)
{
    const bool large = newBytes >= hugePageColumn;
    const size_t unit = large ? hugePage : posix::pageSize();
    if (newBytes > SIZE_MAX - unit) return nullptr;
    const size_t rounded = (newBytes + unit - 1) / unit * unit;
    if (block && rounded <= oldBytes) {
        *bytes = oldBytes;
        return block;
    }
    if (!probeAllows(rounded - (block ? oldBytes : 0))) return nullptr;
    void* grown = nullptr;
    if (!block) {
        grown = large ? mapAligned(rounded) : posix::mapPages(rounded);
    } else if (posix::growPagesInPlace(block, oldBytes, rounded)) {
        grown = block;
        if (large) posix::adviseHugePages(grown, rounded);
    } else if (!large) {
        // The kernel moves the pages over; nothing is copied.
        grown = posix::movePages(block, oldBytes, rounded);
    } else {
        // The same, to the start of a fresh block at a huge-page boundary.
        grown = mapAligned(rounded);
        if (grown && !posix::movePagesTo(block, oldBytes, grown)) {
            posix::unmapPages(grown, rounded);
            grown = nullptr;
        }
        if (grown) posix::adviseHugePages(grown, rounded);
    }
    if (!grown) return nullptr;
    *bytes = rounded;
    return grown;
}

void release(void* block, size_t bytes)
{
    if (block && bytes) posix::unmapPages(block, bytes);
}

void prefault(void* from, size_t bytes)
{
    const uintptr_t page = posix::pageSize();
    const uintptr_t start = reinterpret_cast<uintptr_t>(from) & ~(page - 1);
    const uintptr_t end = reinterpret_cast<uintptr_t>(from) + bytes;
    if (bytes > 0) posix::populatePages(reinterpret_cast<void*>(start), end - start);
}

} // namespace growing
