#include "source/FileAccess.h"

#include "core/LogConsole.h"
#include "source/FileObject.h"

#include "platform/posix/SystemCalls.h"

#include <filesystem>
#include <new>

namespace {

// Every open, read, write and seek of the file layer and of the read-ahead reader
// goes through posix::systemCalls(), so that tests can count and fail them.

int64_t sysRead(int fd, void* buffer, size_t n) { return posix::systemCalls().read(fd, buffer, n); }

int64_t sysWrite(int fd, const void* buffer, size_t n) { return posix::systemCalls().write(fd, buffer, n); }

bool sysSeek(int fd, uint64_t offset, posix::Origin origin) { return posix::systemCalls().seek(fd, offset, origin); }

// Only regular files are read: a pipe or a device would block or never end, and
// a directory is no file at all.
bool isRegularFile(int fd)
{
    posix::FileStatus st;
    return posix::status(fd, &st) && st.kind == posix::FileKind::regular;
}

bool isDirectory(int fd)
{
    posix::FileStatus st;
    return posix::status(fd, &st) && st.kind == posix::FileKind::directory;
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

int sysOpen(const char* path, unsigned flags, unsigned mode) { return posix::systemCalls().open(path, flags, mode); }

FileHandle wrap(int fd)
{
    FileObject* f = new (std::nothrow) FileObject;
    if (!f) {
        posix::close(fd);
        return nullptr;
    }
    f->fd = fd;
    return f;
}

bool lockExclusive(int fd) { return posix::lock(fd, posix::Lock::exclusive); }

FileHandle openForReading(const char* path, bool sequential)
{
    if (!path) return nullptr;
    int fd = sysOpen(path, posix::flag::readOnly | posix::flag::nonBlocking, 0);
    if (fd < 0) return nullptr;
    // The non-blocking open only kept it from waiting for the other end of a pipe.
    if (!isRegularFile(fd) || !posix::makeBlocking(fd) || !posix::lock(fd, posix::Lock::shared)) {
        posix::close(fd);
        return nullptr;
    }
    if (sequential) posix::adviseSequential(fd);
    return wrap(fd);
}

uint32_t readAll(FileHandle h, void* buffer, uint32_t n)
{
    if (!h || !buffer) return 0;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < n) {
        int64_t r = sysRead(h->fd, out + done, n - done);
        if (r < 0) {
            if (posix::lastFailure() == posix::Failure::interrupted) continue;
            break;
        }
        if (r == 0) break;
        done += static_cast<uint32_t>(r);
    }
    return done;
}

bool seekTo(FileHandle h, uint64_t offset)
{
    return h && sysSeek(h->fd, offset, posix::Origin::start);
}

bool sizeOf(FileHandle h, uint64_t* size)
{
    posix::FileStatus st;
    if (!h || !posix::status(h->fd, &st)) return false;
    *size = st.size;
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
    int fd = fileio::sysOpen(path, posix::flag::writeOnly | posix::flag::create | posix::flag::writeThrough | posix::flag::nonBlocking,
                             0666);
    if (fd < 0) return nullptr;
    if (isDirectory(fd) || !posix::makeBlocking(fd) || !posix::lock(fd, posix::Lock::exclusive)) {
        posix::close(fd);
        return nullptr;
    }
    if (letter == 'a' && !sysSeek(fd, 0, posix::Origin::end)) {
        posix::close(fd);
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
        int64_t w = sysWrite(h->fd, in + done, n - done);
        if (w < 0 && posix::lastFailure() == posix::Failure::interrupted) continue;
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
    posix::Origin whence;
    switch (origin) {
    case 0: whence = posix::Origin::start; break;
    case 1: whence = posix::Origin::current; break;
    case 2: whence = posix::Origin::end; break;
    default: return 1;
    }
    ++h->moves;
    return sysSeek(h->fd, offset, whence) ? 0 : 1;
}

int closeFile(FileHandle h)
{
    if (h) {
        posix::close(h->fd);
        delete h;
    }
    return 0;
}

bool openFileSize(FileHandle h, uint64_t* size) { return size && fileio::sizeOf(h, size); }

bool openFileIdentity(FileHandle h, FileIdentity* identity)
{
    posix::FileStatus st;
    if (!identity || !h || !posix::status(h->fd, &st)) return false;
    identity->device = st.device;
    identity->inode = st.inode;
    identity->size = st.size;
    return true;
}

uint64_t fileSize(const char* path, LogConsole& log)
{
    int fd = path ? fileio::sysOpen(path, posix::flag::readOnly | posix::flag::nonBlocking, 0) : -1;
    if (fd >= 0 && isDirectory(fd)) {
        posix::close(fd);
        fd = -1;
    }
    if (fd < 0) {
        log.writef("Error: Can't open %s\n", path ? path : "");
        return fileSizeUnknown;
    }
    posix::FileStatus st;
    bool ok = posix::status(fd, &st);
    posix::close(fd);
    if (!ok) {
        log.write("Error: Can't get file size\n", 1);
        return fileSizeUnknown;
    }
    return st.size;
}

bool deleteFile(const char* path)
{
    if (!path) return false;
    posix::FileStatus st;
    if (!posix::pathStatus(path, &st, true)) return posix::lastFailure() == posix::Failure::missing;
    if (st.kind == posix::FileKind::directory) return false;
    if (st.kind != posix::FileKind::regular && st.kind != posix::FileKind::link) return true;
    return posix::removeName(path) || posix::lastFailure() == posix::Failure::missing;
}

bool sameFile(const std::string& output, const std::string& source)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const bool same = fs::equivalent(output, source, ec);
    if (!ec) return same;
    // One of them does not exist (yet): compare where the two paths lead.
    auto normal = [](const std::string& p) {
        std::error_code e;
        fs::path a = fs::absolute(p, e);
        return (e ? fs::path(p) : a).lexically_normal();
    };
    return normal(output) == normal(source);
}
