#include "core/GrowingArray.h"

#include <sys/mman.h>
#include <unistd.h>

GrowingArrayProbe& growingArrayProbe()
{
    static GrowingArrayProbe probe;
    return probe;
}

namespace growing {

namespace {

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

} // namespace

void* resize(void* block, size_t oldBytes, size_t newBytes, size_t* bytes)
{
    const size_t page = pageSize();
    if (newBytes > SIZE_MAX - page) return nullptr;
    const size_t rounded = (newBytes + page - 1) / page * page;
    if (block && rounded <= oldBytes) {
        *bytes = oldBytes;
        return block;
    }
    if (!probeAllows(rounded - (block ? oldBytes : 0))) return nullptr;
    void* grown;
    if (!block) {
        // Untouched pages of an anonymous mapping are not resident.
        grown = ::mmap(nullptr, rounded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    } else {
        // The kernel moves the pages over if the block cannot grow where it is.
        grown = ::mremap(block, oldBytes, rounded, MREMAP_MAYMOVE);
    }
    if (grown == MAP_FAILED) return nullptr;
    *bytes = rounded;
    return grown;
}

void release(void* block, size_t bytes)
{
    if (block && bytes) ::munmap(block, bytes);
}

} // namespace growing
