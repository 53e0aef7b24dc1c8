#include "core/ReplacedFile.h"

#include "core/FileNames.h"
#include "platform/posix/SystemCalls.h"

#include <cstdio>
#include <vector>

namespace {

constexpr int maxLinkHops = 40;
constexpr int temporaryNameAttempts = 16;
// Room in a file name (255 bytes) for the dots and the random part around the stem.
constexpr size_t maxStemInTemporaryName = 200;
constexpr size_t randomDigits = 16;
constexpr const char* temporaryEnding = ".tmp";

// The part of the temporary names of `base` that comes before the random digits.
std::string temporaryPrefix(const std::string& base)
{
    std::string stem = base.substr(0, maxStemInTemporaryName);
    return "." + stem + ".";
}

bool isTemporaryOf(const std::string& name, const std::string& prefix)
{
    const std::string ending = temporaryEnding;
    if (name.size() != prefix.size() + randomDigits + ending.size()) return false;
    if (name.compare(0, prefix.size(), prefix) != 0) return false;
    if (name.compare(name.size() - ending.size(), ending.size(), ending) != 0) return false;
    for (size_t k = prefix.size(); k < prefix.size() + randomDigits; ++k) {
        const char c = name[k];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

// Follows a chain of symbolic links that ends at a name nobody has taken yet;
// that name is what the new file takes. Empty when the chain does not end so.
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

// The temporary files of `base` in the open directory that nobody holds locked:
// what a save killed in the middle left. Only our own files are touched.
int removeStaleIn(int directory, const std::string& base)
{
    std::vector<std::string> names;
    if (!posix::listDirectory(directory, &names)) return 0;
    const std::string prefix = temporaryPrefix(base);
    int removed = 0;
    for (const std::string& name : names) {
        if (!isTemporaryOf(name, prefix)) continue;
        const int fd = posix::openAt(directory, name.c_str(),
                                     posix::flag::readOnly | posix::flag::noFollow | posix::flag::nonBlocking, 0);
        if (fd < 0) continue;
        posix::FileStatus st, named;
        // A save that still writes it holds its lock.
        if (posix::status(fd, &st) && st.kind == posix::FileKind::regular && st.user == posix::effectiveUser() &&
            posix::lockTaken(fd) && posix::statusAt(directory, name.c_str(), &named) && named.device == st.device &&
            named.inode == st.inode && posix::removeAt(directory, name.c_str()))
            ++removed;
        posix::close(fd);
    }
    return removed;
}

} // namespace

ReplacementKind replacementTarget(const char* path, std::string& target)
{
    if (!path || !*path) return ReplacementKind::failed;
    target = path;
    posix::FileStatus st;
    if (!posix::pathStatus(path, &st, true))
        return posix::lastFailure() == posix::Failure::missing ? ReplacementKind::file : ReplacementKind::failed;
    if (st.kind == posix::FileKind::link) {
        if (!posix::pathStatus(path, &st, false)) {
            if (posix::lastFailure() != posix::Failure::missing) return ReplacementKind::failed;
            target = danglingTarget(path);
            return target.empty() ? ReplacementKind::failed : ReplacementKind::file;
        }
        if (st.kind == posix::FileKind::regular)
            return posix::realPath(path, &target) ? ReplacementKind::file : ReplacementKind::failed;
    }
    if (st.kind == posix::FileKind::directory) return ReplacementKind::directory;
    if (st.kind == posix::FileKind::regular) return ReplacementKind::file;
    return ReplacementKind::stream;
}

bool ReplacedFile::create(const std::string& target, bool writeThrough)
{
    discard();
    const std::string base = baseNameOf(target);
    if (base.empty() || base == "." || base == "..") return false;
    directoryPath_ = directoryOf(target);
    directory_ = posix::openDirectory(directoryPath_.c_str());
    if (directory_ < 0) return false;
    target_ = target;
    removeStaleIn(directory_, base);

    const std::string prefix = temporaryPrefix(base);
    unsigned flags = posix::flag::writeOnly | posix::flag::create | posix::flag::exclusive | posix::flag::noFollow;
    if (writeThrough) flags |= posix::flag::writeThrough;
    for (int attempt = 0; attempt < temporaryNameAttempts; ++attempt) {
        char digits[32];
        std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(posix::randomBits()));
        const std::string name = prefix + digits + temporaryEnding;
        const int fd = posix::openAt(directory_, name.c_str(), flags, 0666);
        if (fd < 0) {
            if (posix::lastFailure() == posix::Failure::exists) continue;
            break;
        }
        posix::FileStatus st;
        // Locked for as long as it is written: a later save must not take it for a stale one.
        if (!posix::status(fd, &st) || !posix::lock(fd, posix::Lock::exclusive)) {
            posix::removeAt(directory_, name.c_str());
            posix::close(fd);
            break;
        }
        posix::FileStatus dir;
        if (posix::status(directory_, &dir)) {
            directoryDevice_ = dir.device;
            directoryInode_ = dir.inode;
        }
        fd_ = fd;
        temporaryBase_ = name;
        temporaryPath_ = directoryPath_ + "/" + name;
        device_ = st.device;
        inode_ = st.inode;
        return true;
    }
    close();
    return false;
}

bool ReplacedFile::intact() const
{
    const bool reopened = directory_ < 0;
    if (!reopenDirectory()) return false;
    posix::FileStatus st, here, named;
    // The directory moved away meanwhile: the file would not land where it was asked for.
    const bool ok = posix::statusAt(directory_, temporaryBase_.c_str(), &st) && st.kind == posix::FileKind::regular &&
                    st.device == device_ && st.inode == inode_ && posix::status(directory_, &here) &&
                    posix::pathStatus(directoryPath_.c_str(), &named, false) && here.device == named.device &&
                    here.inode == named.inode;
    // A parked file keeps no descriptor while it waits.
    if (reopened) {
        posix::close(directory_);
        directory_ = -1;
    }
    return ok;
}

bool ReplacedFile::commit()
{
    if (!reopenDirectory()) {
        close();
        return false;
    }
    bool ok = intact();
    if (ok) {
        const std::string base = baseNameOf(target_);
        posix::FileStatus old;
        if (posix::statusAt(directory_, base.c_str(), &old) && old.kind == posix::FileKind::regular) {
            // A parked file is opened again for its attributes, without following a link.
            int fd = fd_;
            if (fd < 0)
                fd = posix::openAt(directory_, temporaryBase_.c_str(), posix::flag::readOnly | posix::flag::noFollow, 0);
            posix::FileStatus st;
            if (fd >= 0 && posix::status(fd, &st) && st.device == device_ && st.inode == inode_) keepAttributes(old, fd);
            if (fd >= 0 && fd != fd_) posix::close(fd);
        }
        ok = posix::renameAt(directory_, temporaryBase_.c_str(), base.c_str());
        // The rename is on the disk once the directory is.
        if (ok) posix::syncDirectoryFd(directory_);
    }
    if (!ok) discard();
    close();
    return ok;
}

void ReplacedFile::discard()
{
    if (reopenDirectory()) {
        // A temporary name taken over by someone else is no longer ours to remove.
        posix::FileStatus st;
        if (posix::statusAt(directory_, temporaryBase_.c_str(), &st) && st.device == device_ && st.inode == inode_)
            posix::removeAt(directory_, temporaryBase_.c_str());
    }
    close();
}

void ReplacedFile::close()
{
    if (fd_ >= 0) posix::close(fd_);
    if (directory_ >= 0) posix::close(directory_);
    fd_ = -1;
    directory_ = -1;
    parked_ = false;
    temporaryBase_.clear();
    temporaryPath_.clear();
}

void ReplacedFile::park()
{
    if (fd_ < 0) return;
    posix::close(fd_);
    posix::close(directory_);
    fd_ = -1;
    directory_ = -1;
    parked_ = true;
}

// A parked file finds its directory again by name; only the very directory it
// was made in will do.
bool ReplacedFile::reopenDirectory() const
{
    if (directory_ >= 0) return true;
    if (!parked_) return false;
    const int directory = posix::openDirectory(directoryPath_.c_str());
    posix::FileStatus st;
    if (directory < 0) return false;
    if (!posix::status(directory, &st) || st.device != directoryDevice_ || st.inode != directoryInode_) {
        posix::close(directory);
        return false;
    }
    directory_ = directory;
    return true;
}

int removeStaleTemporaries(const std::string& target)
{
    const int directory = posix::openDirectory(directoryOf(target).c_str());
    if (directory < 0) return 0;
    const int removed = removeStaleIn(directory, baseNameOf(target));
    posix::close(directory);
    return removed;
}

bool replaceFileContents(const char* path, const std::string& text)
{
    std::string target;
    ReplacedFile file;
    bool ok = replacementTarget(path ? path : "", target) == ReplacementKind::file && file.create(target, true);
    for (size_t done = 0; ok && done < text.size();) {
        const int64_t w = posix::systemCalls().write(file.fd(), text.data() + done, text.size() - done);
        if (w < 0 && posix::lastFailure() == posix::Failure::interrupted) continue;
        if (w <= 0) ok = false;
        else done += static_cast<size_t>(w);
    }
    if (ok) ok = file.commit();
    if (!ok) file.discard();
    return ok;
}

int readRegularFile(const char* path, uint64_t limit, std::string& text, std::string& why)
{
    const int fd = posix::systemCalls().open(path, posix::flag::readOnly | posix::flag::nonBlocking, 0);
    if (fd < 0) return 0;
    posix::FileStatus st;
    why.clear();
    if (!posix::status(fd, &st)) {
        why = "it can't be read";
    } else if (st.kind == posix::FileKind::directory) {
        why = "it is a directory";
    } else if (st.kind != posix::FileKind::regular) {
        why = "it is not a regular file";
    } else if (st.size > limit) {
        why = "it is larger than " + std::to_string(limit) + " bytes";
    } else {
        text.resize(static_cast<size_t>(st.size));
        size_t done = 0;
        while (done < text.size()) {
            const int64_t r = posix::systemCalls().read(fd, text.data() + done, text.size() - done);
            if (r < 0 && posix::lastFailure() == posix::Failure::interrupted) continue;
            if (r < 0) why = "it can't be read";
            if (r <= 0) break;
            done += static_cast<size_t>(r);
        }
        text.resize(done);
    }
    posix::close(fd);
    return why.empty() ? 1 : -1;
}
