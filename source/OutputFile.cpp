#include "source/OutputFile.h"

#include "source/FileObject.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int maxLinkHops = 40;
constexpr int temporaryNameAttempts = 16;
// Room in a file name (255 bytes) for the dots and the random part around the stem.
constexpr size_t maxStemInTemporaryName = 200;

std::string directoryOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string baseOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows a chain of symbolic links that ends at a name nobody has taken yet;
// that name is what the save creates. Empty when the chain does not end so.
std::string danglingTarget(const std::string& path)
{
    std::string at = path;
    for (int hop = 0; hop < maxLinkHops; ++hop) {
        struct stat st;
        if (::lstat(at.c_str(), &st) != 0) return errno == ENOENT ? at : std::string();
        if (!S_ISLNK(st.st_mode)) return std::string();
        char link[PATH_MAX];
        const ssize_t n = ::readlink(at.c_str(), link, sizeof link);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof link) return std::string();
        const std::string next(link, static_cast<size_t>(n));
        at = next[0] == '/' ? next : directoryOf(at) + "/" + next;
    }
    return std::string();
}

uint64_t randomBits()
{
    uint64_t r = 0;
    if (::getrandom(&r, sizeof r, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof r)) return r;
    // Without the system's random numbers the exclusive create still keeps the
    // name safe; only guessing it gets easier.
    struct timespec t;
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    static uint64_t counter = 0;
    return (static_cast<uint64_t>(t.tv_nsec) << 20) ^ static_cast<uint64_t>(t.tv_sec) ^
           (static_cast<uint64_t>(::getpid()) << 40) ^ ++counter * 0x9E3779B97F4A7C15ull;
}

// The rename is on the disk once the directory is.
void syncDirectory(const std::string& dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// The replacement keeps the replaced file's permission bits, and its owner where
// the user may give files away (otherwise the new file is the user's own). The
// owner goes first: changing it clears set-id bits that the mode then restores.
void keepAttributes(const struct stat& old, int fd)
{
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
        const int refused = ::fchown(fd, old.st_uid, old.st_gid);
        (void)refused;
    }
    const int failed = ::fchmod(fd, old.st_mode & 07777);
    (void)failed;
}

} // namespace

OutputFile::Opened OutputFile::open(const char* path)
{
    discard();
    stream_ = false;
    if (!path || !*path) return Opened::failed;
    target_ = path;
    struct stat st;
    if (::lstat(path, &st) != 0) return errno == ENOENT ? openTemporary() : Opened::failed;
    if (S_ISLNK(st.st_mode)) {
        if (::stat(path, &st) != 0) {
            if (errno != ENOENT) return Opened::failed;
            target_ = danglingTarget(path);
            return target_.empty() ? Opened::failed : openTemporary();
        }
        if (S_ISREG(st.st_mode)) {
            char* real = ::realpath(path, nullptr);
            if (!real) return Opened::failed;
            target_ = real;
            std::free(real);
            return openTemporary();
        }
    }
    if (S_ISDIR(st.st_mode)) return Opened::directory;
    if (S_ISREG(st.st_mode)) return openTemporary();
    return openStream(path);
}

OutputFile::Opened OutputFile::openTemporary()
{
    const std::string dir = directoryOf(target_);
    std::string stem = baseOf(target_);
    if (stem.empty() || stem == "." || stem == "..") return Opened::failed;
    if (stem.size() > maxStemInTemporaryName) stem.resize(maxStemInTemporaryName);
    for (int attempt = 0; attempt < temporaryNameAttempts; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(randomBits()));
        const std::string name = dir + "/." + stem + suffix;
        const int fd = fileio::sysOpen(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_DSYNC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return Opened::failed;
        }
        struct stat st;
        if (::fstat(fd, &st) != 0 || !fileio::lockExclusive(fd)) {
            ::unlink(name.c_str());
            ::close(fd);
            return Opened::failed;
        }
        handle_ = fileio::wrap(fd);
        if (!handle_) {
            ::unlink(name.c_str());
            return Opened::failed;
        }
        temporary_ = name;
        device_ = st.st_dev;
        inode_ = st.st_ino;
        stream_ = false;
        return Opened::ok;
    }
    return Opened::failed;
}

OutputFile::Opened OutputFile::openStream(const char* path)
{
    stream_ = true;
    // Without O_NONBLOCK, opening a pipe nobody reads would wait for a reader.
    const int fd = fileio::sysOpen(path, O_WRONLY | O_NONBLOCK | O_NOCTTY, 0);
    if (fd < 0) {
        struct stat st;
        const bool pipe = errno == ENXIO && ::stat(path, &st) == 0 && S_ISFIFO(st.st_mode);
        return pipe ? Opened::noReader : Opened::failed;
    }
    struct stat st;
    const int flags = ::fcntl(fd, F_GETFL);
    // Replaced by a file or a directory since it was looked at: not a stream to write into.
    if (::fstat(fd, &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return Opened::failed;
    }
    handle_ = fileio::wrap(fd);
    return handle_ ? Opened::ok : Opened::failed;
}

bool OutputFile::temporaryIsOurs() const
{
    struct stat st;
    return !temporary_.empty() && ::lstat(temporary_.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           st.st_dev == device_ && st.st_ino == inode_;
}

bool OutputFile::commit()
{
    if (!handle_) return false;
    if (stream_) {
        close();
        return true;
    }
    bool ok = temporaryIsOurs();
    if (ok) {
        struct stat old;
        if (::lstat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) keepAttributes(old, handle_->fd);
        ok = ::rename(temporary_.c_str(), target_.c_str()) == 0;
        if (ok)
            syncDirectory(directoryOf(target_));
        else
            ::unlink(temporary_.c_str());
    }
    close();
    return ok;
}

void OutputFile::discard()
{
    if (!handle_) return;
    // A temporary name taken over by someone else is no longer ours to remove.
    if (!stream_ && temporaryIsOurs()) ::unlink(temporary_.c_str());
    close();
}

void OutputFile::close()
{
    closeFile(handle_);
    handle_ = nullptr;
    temporary_.clear();
    stream_ = false;
}
