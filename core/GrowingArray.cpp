#include "core/GrowingArray.h"

#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

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

size_t pageSize()
{
    static const size_t size = [] {
        const long s = ::sysconf(_SC_PAGESIZE);
        return s > 0 ? static_cast<size_t>(s) : size_t{4096};
    }();
    return size;
}

// The probe's budget: true when `more` bytes may still be taken.
bool probeAllows(size_t more)
{
    GrowingArrayProbe& p = growingArrayProbe();
    if (p.failAfterBytes < 0) return true;
    if (static_cast<uint64_t>(p.failAfterBytes) < more) return false;
    p.failAfterBytes -= static_cast<int64_t>(more);
    return true;
}

void* mapFresh(size_t bytes)
{
    // Untouched pages of an anonymous mapping are not resident.
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

// A fresh mapping for huge pages, at a huge-page boundary.
void* mapAligned(size_t bytes)
{
    if (bytes > SIZE_MAX - hugePage) return nullptr;
    void* p = mapFresh(bytes + hugePage);
    if (!p) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t aligned = (start + hugePage - 1) & ~(hugePage - 1);
    const uintptr_t end = start + bytes + hugePage;
    if (aligned > start) ::munmap(p, aligned - start);
    if (end > aligned + bytes) ::munmap(reinterpret_cast<void*>(aligned + bytes), end - (aligned + bytes));
    ::madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

} // namespace

void* resize(void* block, size_t oldBytes, size_t newBytes, size_t* bytes)
{
    const bool large = newBytes >= hugePageColumn;
    const size_t unit = large ? hugePage : pageSize();
    if (newBytes > SIZE_MAX - unit) return nullptr;
    const size_t rounded = (newBytes + unit - 1) / unit * unit;
    if (block && rounded <= oldBytes) {
        *bytes = oldBytes;
        return block;
    }
    if (!probeAllows(rounded - (block ? oldBytes : 0))) return nullptr;
    void* grown = nullptr;
    if (!block) {
        grown = large ? mapAligned(rounded) : mapFresh(rounded);
    } else if (void* inPlace = ::mremap(block, oldBytes, rounded, 0); inPlace != MAP_FAILED) {
        grown = inPlace;
        if (large) ::madvise(grown, rounded, MADV_HUGEPAGE);
    } else if (!large) {
        // The kernel moves the pages over; nothing is copied.
        void* moved = ::mremap(block, oldBytes, rounded, MREMAP_MAYMOVE);
        grown = moved == MAP_FAILED ? nullptr : moved;
    } else {
        // The same, to the start of a fresh block at a huge-page boundary.
        grown = mapAligned(rounded);
        if (grown && ::mremap(block, oldBytes, oldBytes, MREMAP_MAYMOVE | MREMAP_FIXED, grown) == MAP_FAILED) {
            ::munmap(grown, rounded);
            grown = nullptr;
        }
        if (grown) ::madvise(grown, rounded, MADV_HUGEPAGE);
    }
    if (!grown) return nullptr;
    *bytes = rounded;
    return grown;
}

void release(void* block, size_t bytes)
{
    if (block && bytes) ::munmap(block, bytes);
}

void prefault(void* from, size_t bytes)
{
    const uintptr_t page = pageSize();
    const uintptr_t start = reinterpret_cast<uintptr_t>(from) & ~(page - 1);
    const uintptr_t end = reinterpret_cast<uintptr_t>(from) + bytes;
    // A kernel without it leaves the pages to be touched as they are written.
    if (bytes > 0) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
}

} // namespace growing
