#include "source/OutputFile.h"

#include "platform/posix/SystemCalls.h"
#include "source/FileObject.h"

#include <cstdio>

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
        posix::FileStatus st;
        if (!posix::pathStatus(at.c_str(), &st, true))
            return posix::lastFailure() == posix::Failure::missing ? at : std::string();
        if (st.kind != posix::FileKind::link) return std::string();
        std::string next;
        if (!posix::readLink(at.c_str(), &next)) return std::string();
        at = next[0] == '/' ? next : directoryOf(at) + "/" + next;
    }
    return std::string();
}

// The replacement keeps the replaced file's permission bits, and its owner where
// the user may give files away (otherwise the new file is the user's own). The
// owner goes first: changing it clears set-id bits that the mode then restores.
void keepAttributes(const posix::FileStatus& old, int fd)
{
    if (old.user != posix::effectiveUser() || old.group != posix::effectiveGroup()) posix::changeOwner(fd, old.user, old.group);
    posix::changeMode(fd, old.mode);
}

} // namespace

OutputFile::Opened OutputFile::open(const char* path)
{
    discard();
    stream_ = false;
    if (!path || !*path) return Opened::failed;
    target_ = path;
    posix::FileStatus st;
    if (!posix::pathStatus(path, &st, true))
        return posix::lastFailure() == posix::Failure::missing ? openTemporary() : Opened::failed;
    if (st.kind == posix::FileKind::link) {
        if (!posix::pathStatus(path, &st, false)) {
            if (posix::lastFailure() != posix::Failure::missing) return Opened::failed;
            target_ = danglingTarget(path);
            return target_.empty() ? Opened::failed : openTemporary();
        }
        if (st.kind == posix::FileKind::regular) return posix::realPath(path, &target_) ? openTemporary() : Opened::failed;
    }
    if (st.kind == posix::FileKind::directory) return Opened::directory;
    if (st.kind == posix::FileKind::regular) return openTemporary();
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
        std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(posix::randomBits()));
        const std::string name = dir + "/." + stem + suffix;
        const int fd = fileio::sysOpen(name.c_str(),
                                       posix::flag::writeOnly | posix::flag::create | posix::flag::exclusive |
                                           posix::flag::noFollow | posix::flag::writeThrough,
                                       0666);
        if (fd < 0) {
            if (posix::lastFailure() == posix::Failure::exists) continue;
            return Opened::failed;
        }
        posix::FileStatus st;
        if (!posix::status(fd, &st) || !fileio::lockExclusive(fd)) {
            posix::removeName(name.c_str());
            posix::close(fd);
            return Opened::failed;
        }
        handle_ = fileio::wrap(fd);
        if (!handle_) {
            posix::removeName(name.c_str());
            return Opened::failed;
        }
        temporary_ = name;
        device_ = st.device;
        inode_ = st.inode;
        stream_ = false;
        return Opened::ok;
    }
    return Opened::failed;
}

OutputFile::Opened OutputFile::openStream(const char* path)
{
    stream_ = true;
    // Without nonBlocking, opening a pipe nobody reads would wait for a reader.
    const int fd = fileio::sysOpen(path, posix::flag::writeOnly | posix::flag::nonBlocking | posix::flag::noTerminal, 0);
    if (fd < 0) {
        posix::FileStatus st;
        const bool pipe = posix::lastFailure() == posix::Failure::noReader && posix::pathStatus(path, &st, false) &&
                          st.kind == posix::FileKind::fifo;
        return pipe ? Opened::noReader : Opened::failed;
    }
    posix::FileStatus st;
    // Replaced by a file or a directory since it was looked at: not a stream to write into.
    if (!posix::status(fd, &st) || st.kind == posix::FileKind::regular || st.kind == posix::FileKind::directory ||
        !posix::makeBlocking(fd)) {
        posix::close(fd);
        return Opened::failed;
    }
    handle_ = fileio::wrap(fd);
    return handle_ ? Opened::ok : Opened::failed;
}

bool OutputFile::temporaryIsOurs() const
{
    posix::FileStatus st;
    return !temporary_.empty() && posix::pathStatus(temporary_.c_str(), &st, true) &&
           st.kind == posix::FileKind::regular && st.device == device_ && st.inode == inode_;
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
        posix::FileStatus old;
        if (posix::pathStatus(target_.c_str(), &old, true) && old.kind == posix::FileKind::regular)
            keepAttributes(old, handle_->fd);
        ok = posix::renameFile(temporary_.c_str(), target_.c_str());
        // The rename is on the disk once the directory is.
        if (ok)
            posix::syncDirectory(directoryOf(target_).c_str());
        else
            posix::removeName(temporary_.c_str());
    }
    close();
    return ok;
}

void OutputFile::discard()
{
    if (!handle_) return;
    // A temporary name taken over by someone else is no longer ours to remove.
    if (!stream_ && temporaryIsOurs()) posix::removeName(temporary_.c_str());
    close();
}

void OutputFile::close()
{
    closeFile(handle_);
    handle_ = nullptr;
    temporary_.clear();
    stream_ = false;
}
