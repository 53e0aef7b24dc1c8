#include "source/FileAccess.h"

#include "core/LogConsole.h"
#include "source/FileObject.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

FileAccessProbe& fileAccessProbe()
{
    static FileAccessProbe probe;
    return probe;
}

namespace {

// Every system call of the file layer and of the read-ahead reader goes through
// these few wrappers, so the probe sees them all.

ssize_t sysRead(int fd, void* buffer, size_t n)
{
    FileAccessProbe& p = fileAccessProbe();
    ++p.reads;
    if (p.failReadAfterBytes >= 0) {
        if (p.failReadAfterBytes == 0) {
            errno = EIO;
            return -1;
        }
        if (static_cast<uint64_t>(p.failReadAfterBytes) < n) n = static_cast<size_t>(p.failReadAfterBytes);
    }
    ssize_t r = ::read(fd, buffer, n);
    if (r > 0 && p.failReadAfterBytes >= 0) p.failReadAfterBytes -= r;
    return r;
}

ssize_t sysWrite(int fd, const void* buffer, size_t n)
{
    FileAccessProbe& p = fileAccessProbe();
    ++p.writes;
    if (p.failWriteAfterBytes >= 0) {
        if (p.failWriteAfterBytes == 0) {
            errno = ENOSPC;
            return -1;
        }
        if (static_cast<uint64_t>(p.failWriteAfterBytes) < n) n = static_cast<size_t>(p.failWriteAfterBytes);
    }
    ssize_t w = ::write(fd, buffer, n);
    if (w > 0 && p.failWriteAfterBytes >= 0) p.failWriteAfterBytes -= w;
    if (p.afterWrite) {
        const int saved = errno;
        p.afterWrite();
        errno = saved;
    }
    return w;
}

bool sysSeek(int fd, uint64_t offset, int whence)
{
    ++fileAccessProbe().seeks;
    if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
    return ::lseek(fd, static_cast<off_t>(offset), whence) >= 0;
}

void sysClose(int fd)
{
    // Retrying close after EINTR could close a descriptor reused meanwhile.
    ::close(fd);
}

// Only regular files are read: a pipe or a device would block or never end, and
// a directory is no file at all.
bool isRegularFile(int fd)
{
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool isDirectory(int fd)
{
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
}

// O_NONBLOCK only kept the open from waiting (for the other end of a pipe);
// reads and writes wait as usual.
bool makeBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

// Advisory locks stand in for share modes: readers share, a writer is alone.
// A file system without flock support is not a reason to refuse the file.
bool takeLock(int fd, int kind)
{
    int r;
    do {
        r = ::flock(fd, kind | LOCK_NB);
    } while (r < 0 && errno == EINTR);
    if (r == 0) return true;
    return errno != EWOULDBLOCK;
}


// size * count as a byte count; false when it does not fit 32 bits.
bool byteCount(uint32_t size, uint32_t count, uint32_t* n)
{
    uint64_t total = static_cast<uint64_t>(size) * count;
    if (total > UINT32_MAX) return false;
    *n = static_cast<uint32_t>(total);
    return true;
}

} // namespace

namespace fileio {

int sysOpen(const char* path, int flags, unsigned mode)
{
    ++fileAccessProbe().opens;
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, static_cast<mode_t>(mode));
    } while (fd < 0 && errno == EINTR);
    return fd;
}

FileHandle wrap(int fd)
{
    FileObject* f = new (std::nothrow) FileObject;
    if (!f) {
        sysClose(fd);
        return nullptr;
    }
    f->fd = fd;
    return f;
}

bool lockExclusive(int fd) { return takeLock(fd, LOCK_EX); }

FileHandle openForReading(const char* path, bool sequential)
{
    if (!path) return nullptr;
    int fd = sysOpen(path, O_RDONLY | O_NONBLOCK, 0);
    if (fd < 0) return nullptr;
    if (!isRegularFile(fd) || !makeBlocking(fd) || !takeLock(fd, LOCK_SH)) {
        sysClose(fd);
        return nullptr;
    }
    if (sequential) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return wrap(fd);
}

uint32_t readAll(FileHandle h, void* buffer, uint32_t n)
{
    if (!h || !buffer) return 0;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < n) {
        ssize_t r = sysRead(h->fd, out + done, n - done);
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (r == 0) break;
        done += static_cast<uint32_t>(r);
    }
    return done;
}

bool seekTo(FileHandle h, uint64_t offset)
{
    return h && sysSeek(h->fd, offset, SEEK_SET);
}

bool sizeOf(FileHandle h, uint64_t* size)
{
    struct stat st;
    if (!h || ::fstat(h->fd, &st) != 0 || st.st_size < 0) return false;
    *size = static_cast<uint64_t>(st.st_size);
    return true;
}

} // namespace fileio

FileHandle openFile(const char* path, const char* mode)
{
    if (!path || !mode) return nullptr;
    char letter = mode[0];
    if (letter == 'r') return fileio::openForReading(path, false);
    if (letter != 'a' && letter != 'w') return nullptr;

    // Not O_APPEND: the file is positioned at its end once, and later seeks
    // are honoured like on any other handle.
    int fd = fileio::sysOpen(path, O_WRONLY | O_CREAT | O_DSYNC | O_NONBLOCK, 0666);
    if (fd < 0) return nullptr;
    if (isDirectory(fd) || !makeBlocking(fd) || !takeLock(fd, LOCK_EX)) {
        sysClose(fd);
        return nullptr;
    }
    if (letter == 'a' && !sysSeek(fd, 0, SEEK_END)) {
        sysClose(fd);
        return nullptr;
    }
    return fileio::wrap(fd);
}

uint32_t readFile(void* buffer, uint32_t size, uint32_t count, FileHandle h)
{
    uint32_t n;
    if (!h || !byteCount(size, count, &n)) return 0;
    ++h->moves;
    return fileio::readAll(h, buffer, n);
}

uint32_t writeFile(const void* buffer, uint32_t size, uint32_t count, FileHandle h)
{
    uint32_t n;
    if (!h || !buffer || !byteCount(size, count, &n)) return 0;
    ++h->moves;
    const uint8_t* in = static_cast<const uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < n) {
        ssize_t w = sysWrite(h->fd, in + done, n - done);
        if (w < 0 && errno == EINTR) continue;
        // A write that stops short (disk full) is a failed write, whatever
        // part of it reached the file.
        if (w <= 0) return 0;
        done += static_cast<uint32_t>(w);
    }
    return done;
}

int seekFile(FileHandle h, uint64_t offset, int origin)
{
    if (!h) return 1;
    int whence;
    switch (origin) {
    case 0: whence = SEEK_SET; break;
    case 1: whence = SEEK_CUR; break;
    case 2: whence = SEEK_END; break;
    default: return 1;
    }
    ++h->moves;
    return sysSeek(h->fd, offset, whence) ? 0 : 1;
}

int closeFile(FileHandle h)
{
    if (h) {
        sysClose(h->fd);
        delete h;
    }
    return 0;
}

bool openFileSize(FileHandle h, uint64_t* size) { return size && fileio::sizeOf(h, size); }

uint64_t fileSize(const char* path, LogConsole& log)
{
    int fd = path ? fileio::sysOpen(path, O_RDONLY | O_NONBLOCK, 0) : -1;
    if (fd >= 0 && isDirectory(fd)) {
        sysClose(fd);
        fd = -1;
    }
    if (fd < 0) {
        log.writef("Error: Can't open %s\n", path ? path : "");
        return fileSizeUnknown;
    }
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && st.st_size >= 0;
    sysClose(fd);
    if (!ok) {
        log.write("Error: Can't get file size\n", 1);
        return fileSizeUnknown;
    }
    return static_cast<uint64_t>(st.st_size);
}

bool deleteFile(const char* path)
{
    if (!path) return false;
    struct stat st;
    if (::lstat(path, &st) != 0) return errno == ENOENT;
    if (S_ISDIR(st.st_mode)) return false;
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return true;
    return ::unlink(path) == 0 || errno == ENOENT;
}
