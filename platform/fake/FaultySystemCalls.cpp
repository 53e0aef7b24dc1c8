#include "platform/fake/FaultySystemCalls.h"

namespace platform::fake {

int FaultySystemCalls::open(const char* path, unsigned flags, unsigned mode)
{
    ++probe_.opens;
    return SystemCalls::open(path, flags, mode);
}

int FaultySystemCalls::openAt(int directory, const char* name, unsigned flags, unsigned mode)
{
    ++probe_.opens;
    return SystemCalls::openAt(directory, name, flags, mode);
}

int64_t FaultySystemCalls::read(int fd, void* buffer, size_t n)
{
    ++probe_.reads;
    if (probe_.failReadAfterBytes >= 0) {
        if (probe_.failReadAfterBytes == 0) {
            posix::setFailure(posix::Failure::io);
            return -1;
        }
        if (static_cast<uint64_t>(probe_.failReadAfterBytes) < n) n = static_cast<size_t>(probe_.failReadAfterBytes);
    }
    const int64_t r = SystemCalls::read(fd, buffer, n);
    if (r > 0 && probe_.failReadAfterBytes >= 0) probe_.failReadAfterBytes -= r;
    return r;
}

int64_t FaultySystemCalls::write(int fd, const void* buffer, size_t n)
{
    ++probe_.writes;
    if (probe_.failWriteAfterBytes >= 0) {
        if (probe_.failWriteAfterBytes == 0) {
            posix::setFailure(posix::Failure::noSpace);
            return -1;
        }
        if (static_cast<uint64_t>(probe_.failWriteAfterBytes) < n) n = static_cast<size_t>(probe_.failWriteAfterBytes);
    }
    const int64_t w = SystemCalls::write(fd, buffer, n);
    if (w > 0 && probe_.failWriteAfterBytes >= 0) probe_.failWriteAfterBytes -= w;
    if (probe_.afterWrite) {
        const posix::Failure failure = posix::lastFailure();
        probe_.afterWrite();
        posix::setFailure(failure);
    }
    return w;
}

bool FaultySystemCalls::seek(int fd, uint64_t offset, posix::Origin origin)
{
    ++probe_.seeks;
    return SystemCalls::seek(fd, offset, origin);
}

void* FaultySystemCalls::allocateWindow(size_t bytes)
{
    return probe_.failReaderAllocation ? nullptr : SystemCalls::allocateWindow(bytes);
}

} // namespace platform::fake

namespace {

struct InstalledProbe {
    FileAccessProbe probe;
    platform::fake::FaultySystemCalls calls{probe};
    InstalledProbe() { posix::installSystemCalls(&calls); }
    ~InstalledProbe() { posix::installSystemCalls(nullptr); }
};

} // namespace

FileAccessProbe& fileAccessProbe()
{
    static InstalledProbe installed;
    return installed.probe;
}
