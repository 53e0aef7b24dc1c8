#include "platform/posix/SystemCalls.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace posix {

namespace {

SystemCalls realCalls;
SystemCalls* installed = &realCalls;

constexpr size_t hugePageSize = 2097152;

int openFlags(unsigned f)
{
    int flags = O_CLOEXEC;
    if ((f & flag::readOnly) && (f & flag::writeOnly))
        flags |= O_RDWR;
    else if (f & flag::writeOnly)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    if (f & flag::create) flags |= O_CREAT;
    if (f & flag::exclusive) flags |= O_EXCL;
    if (f & flag::noFollow) flags |= O_NOFOLLOW;
    if (f & flag::writeThrough) flags |= O_DSYNC;
    if (f & flag::nonBlocking) flags |= O_NONBLOCK;
    if (f & flag::noTerminal) flags |= O_NOCTTY;
    if (f & flag::directory) flags |= O_DIRECTORY;
    return flags;
}

FileStatus statusFrom(const struct stat& st)
{
    FileStatus s;
    if (S_ISREG(st.st_mode))
        s.kind = FileKind::regular;
    else if (S_ISDIR(st.st_mode))
        s.kind = FileKind::directory;
    else if (S_ISLNK(st.st_mode))
        s.kind = FileKind::link;
    else if (S_ISFIFO(st.st_mode))
        s.kind = FileKind::fifo;
    s.size = st.st_size < 0 ? 0 : static_cast<uint64_t>(st.st_size);
    s.device = static_cast<uint64_t>(st.st_dev);
    s.inode = static_cast<uint64_t>(st.st_ino);
    s.mode = static_cast<uint32_t>(st.st_mode & 07777);
    s.user = st.st_uid;
    s.group = st.st_gid;
    return s;
}

} // namespace

Failure lastFailure()
{
    switch (errno) {
    case 0: return Failure::none;
    case EINTR: return Failure::interrupted;
    case ENOENT: return Failure::missing;
    case EEXIST: return Failure::exists;
    case EWOULDBLOCK: return Failure::wouldBlock;
    case ENXIO: return Failure::noReader;
    case ENOSPC: return Failure::noSpace;
    case EIO: return Failure::io;
    default: return Failure::other;
    }
}

void setFailure(Failure failure)
{
    switch (failure) {
    case Failure::none: errno = 0; break;
    case Failure::interrupted: errno = EINTR; break;
    case Failure::missing: errno = ENOENT; break;
    case Failure::exists: errno = EEXIST; break;
    case Failure::wouldBlock: errno = EWOULDBLOCK; break;
    case Failure::noReader: errno = ENXIO; break;
    case Failure::noSpace: errno = ENOSPC; break;
    case Failure::io: errno = EIO; break;
    case Failure::other: errno = EINVAL; break;
    }
}

int SystemCalls::open(const char* path, unsigned flags, unsigned mode)
{
    int fd;
    do {
        fd = ::open(path, openFlags(flags), static_cast<mode_t>(mode));
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int SystemCalls::openAt(int directory, const char* name, unsigned flags, unsigned mode)
{
    int fd;
    do {
        fd = ::openat(directory, name, openFlags(flags), static_cast<mode_t>(mode));
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int64_t SystemCalls::read(int fd, void* buffer, size_t n) { return ::read(fd, buffer, n); }

int64_t SystemCalls::write(int fd, const void* buffer, size_t n) { return ::write(fd, buffer, n); }

bool SystemCalls::seek(int fd, uint64_t offset, Origin origin)
{
    if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
    const int whence = origin == Origin::start ? SEEK_SET : origin == Origin::current ? SEEK_CUR : SEEK_END;
    return ::lseek(fd, static_cast<off_t>(offset), whence) >= 0;
}

void* SystemCalls::allocateWindow(size_t bytes)
{
    // On huge pages the kernel's copy into the window costs a good part less.
    const size_t rounded = (bytes + hugePageSize - 1) / hugePageSize * hugePageSize;
    void* window = std::aligned_alloc(hugePageSize, rounded);
    if (window) ::madvise(window, rounded, MADV_HUGEPAGE);
    return window;
}

void SystemCalls::freeWindow(void* window) { std::free(window); }

SystemCalls& systemCalls() { return *installed; }

void installSystemCalls(SystemCalls* calls) { installed = calls ? calls : &realCalls; }

void close(int fd) { ::close(fd); }

bool makeBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

bool lock(int fd, Lock kind)
{
    int r;
    do {
        r = ::flock(fd, (kind == Lock::shared ? LOCK_SH : LOCK_EX) | LOCK_NB);
    } while (r < 0 && errno == EINTR);
    if (r == 0) return true;
    return errno != EWOULDBLOCK;
}

bool lockTaken(int fd)
{
    int r;
    do {
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (r < 0 && errno == EINTR);
    return r == 0;
}

void adviseSequential(int fd) { ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL); }

bool status(int fd, FileStatus* st)
{
    struct stat s;
    if (::fstat(fd, &s) != 0 || s.st_size < 0) return false;
    *st = statusFrom(s);
    return true;
}

bool pathStatus(const char* path, FileStatus* st, bool ofLinkItself)
{
    struct stat s;
    if ((ofLinkItself ? ::lstat(path, &s) : ::stat(path, &s)) != 0) return false;
    *st = statusFrom(s);
    return true;
}

bool removeName(const char* path) { return ::unlink(path) == 0; }

bool renameFile(const char* from, const char* to) { return ::rename(from, to) == 0; }

bool readLink(const char* path, std::string* target)
{
    char link[PATH_MAX];
    const ssize_t n = ::readlink(path, link, sizeof link);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof link) return false;
    target->assign(link, static_cast<size_t>(n));
    return true;
}

bool realPath(const char* path, std::string* resolved)
{
    char* real = ::realpath(path, nullptr);
    if (!real) return false;
    *resolved = real;
    std::free(real);
    return true;
}

void syncDirectory(const char* path)
{
    const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

int openDirectory(const char* path) { return ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

int openAt(int directory, const char* name, unsigned flags, unsigned mode)
{
    return installed->openAt(directory, name, flags, mode);
}

bool statusAt(int directory, const char* name, FileStatus* st)
{
    struct stat s;
    if (::fstatat(directory, name, &s, AT_SYMLINK_NOFOLLOW) != 0) return false;
    *st = statusFrom(s);
    return true;
}

bool removeAt(int directory, const char* name) { return ::unlinkat(directory, name, 0) == 0; }

bool renameAt(int directory, const char* from, const char* to)
{
    return ::renameat(directory, from, directory, to) == 0;
}

void syncDirectoryFd(int directory) { ::fsync(directory); }

bool listDirectory(int directory, std::vector<std::string>* names)
{
    const int fd = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    DIR* d = ::fdopendir(fd);
    if (!d) {
        ::close(fd);
        return false;
    }
    names->clear();
    while (const struct dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names->push_back(name);
    }
    ::closedir(d);
    return true;
}

uint32_t effectiveUser() { return ::geteuid(); }

uint32_t effectiveGroup() { return ::getegid(); }

bool changeOwner(int fd, uint32_t user, uint32_t group) { return ::fchown(fd, user, group) == 0; }

bool changeMode(int fd, uint32_t mode) { return ::fchmod(fd, static_cast<mode_t>(mode & 07777)) == 0; }

uint64_t randomBits()
{
    uint64_t r = 0;
    if (::getrandom(&r, sizeof r, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof r)) return r;
    struct timespec t;
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    static uint64_t counter = 0;
    return (static_cast<uint64_t>(t.tv_nsec) << 20) ^ static_cast<uint64_t>(t.tv_sec) ^
           (static_cast<uint64_t>(::getpid()) << 40) ^ ++counter * 0x9E3779B97F4A7C15ull;
}

size_t pageSize()
{
    static const size_t size = [] {
        const long s = ::sysconf(_SC_PAGESIZE);
        return s > 0 ? static_cast<size_t>(s) : size_t{4096};
    }();
    return size;
}

void* mapPages(size_t bytes)
{
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void unmapPages(void* block, size_t bytes) { ::munmap(block, bytes); }

bool growPagesInPlace(void* block, size_t oldBytes, size_t newBytes)
{
    return ::mremap(block, oldBytes, newBytes, 0) != MAP_FAILED;
}

void* movePages(void* block, size_t oldBytes, size_t newBytes)
{
    void* moved = ::mremap(block, oldBytes, newBytes, MREMAP_MAYMOVE);
    return moved == MAP_FAILED ? nullptr : moved;
}

bool movePagesTo(void* block, size_t bytes, void* to)
{
    return ::mremap(block, bytes, bytes, MREMAP_MAYMOVE | MREMAP_FIXED, to) != MAP_FAILED;
}

void adviseHugePages(void* block, size_t bytes) { ::madvise(block, bytes, MADV_HUGEPAGE); }

void populatePages(void* block, size_t bytes) { ::madvise(block, bytes, MADV_POPULATE_WRITE); }

} // namespace posix
