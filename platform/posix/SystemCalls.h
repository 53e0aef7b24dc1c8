#pragma once
// The program's system calls, in one place and in the program's own types, so
// that no system header reaches the engine. The calls a test may want to fail or
// count (opens, reads, writes, seeks, the read-ahead window's memory) go through
// an installable SystemCalls object; the rest are plain functions.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace posix {

// Why the last call of this thread failed, as far as callers tell the cases apart.
enum class Failure { none, interrupted, missing, exists, wouldBlock, noReader, noSpace, io, other };
Failure lastFailure();
// For implementations that fail on purpose: what lastFailure() then says.
void setFailure(Failure failure);

// Open flags; every descriptor is opened close-on-exec.
namespace flag {
inline constexpr unsigned readOnly = 0x1;
inline constexpr unsigned writeOnly = 0x2;
inline constexpr unsigned create = 0x4;
inline constexpr unsigned exclusive = 0x8;
inline constexpr unsigned noFollow = 0x10;
inline constexpr unsigned writeThrough = 0x20; // each write is on the disk when it returns
inline constexpr unsigned nonBlocking = 0x40;
inline constexpr unsigned noTerminal = 0x80;
inline constexpr unsigned directory = 0x100;
} // namespace flag

enum class Origin { start, current, end };

// The real calls; a faulty or counting implementation derives and calls these.
class SystemCalls {
public:
    virtual ~SystemCalls() = default;
    // -1 on failure; retried after an interruption.
    virtual int open(const char* path, unsigned flags, unsigned mode);
    virtual int openAt(int directory, const char* name, unsigned flags, unsigned mode);
    // Bytes moved, or -1 (lastFailure() says why).
    virtual int64_t read(int fd, void* buffer, size_t n);
    virtual int64_t write(int fd, const void* buffer, size_t n);
    virtual bool seek(int fd, uint64_t offset, Origin origin);
    // Memory for a read-ahead window, at a huge-page boundary and on huge pages
    // where the kernel has them; null when refused.
    virtual void* allocateWindow(size_t bytes);
    virtual void freeWindow(void* window);
};

// The calls in use: the real ones unless a test installed others.
SystemCalls& systemCalls();
// Null puts the real calls back. The object must outlive its use.
void installSystemCalls(SystemCalls* calls);

// Descriptors. Close is never retried: after an interruption the descriptor may
// already be reused.
void close(int fd);
// Clears the non-blocking flag that only kept an open from waiting.
bool makeBlocking(int fd);
// Advisory locks, never waiting; true also where the file system has none.
enum class Lock { shared, exclusive };
bool lock(int fd, Lock kind);
// An exclusive lock taken for real, never waiting: false while another holds a
// lock on the file, and where the file system has no locks.
bool lockTaken(int fd);
void adviseSequential(int fd);

enum class FileKind { regular, directory, link, fifo, other };
struct FileStatus {
    FileKind kind = FileKind::other;
    uint64_t size = 0;
    uint64_t device = 0;
    uint64_t inode = 0;
    uint32_t mode = 0; // permission bits, with set-id and sticky bits
    uint32_t user = 0;
    uint32_t group = 0;
};
bool status(int fd, FileStatus* st);
// Of the name itself when the name is a symbolic link (lstat), else of what it names.
bool pathStatus(const char* path, FileStatus* st, bool ofLinkItself);

// Names.
bool removeName(const char* path);
bool renameFile(const char* from, const char* to);
bool readLink(const char* path, std::string* target);
bool realPath(const char* path, std::string* resolved);
// Puts a directory's entries on the disk (after a rename in it).
void syncDirectory(const char* path);

// Names relative to an open directory, so that work in a directory stays there
// when the directory is moved meanwhile.
int openDirectory(const char* path);
// Through systemCalls(), like open(); `name` has no directory part.
int openAt(int directory, const char* name, unsigned flags, unsigned mode);
bool statusAt(int directory, const char* name, FileStatus* st);
bool removeAt(int directory, const char* name);
bool renameAt(int directory, const char* from, const char* to);
void syncDirectoryFd(int directory);
// The names in an open directory, "." and ".." left out.
bool listDirectory(int directory, std::vector<std::string>* names);

// Owners and permissions.
uint32_t effectiveUser();
uint32_t effectiveGroup();
bool changeOwner(int fd, uint32_t user, uint32_t group);
bool changeMode(int fd, uint32_t mode);

// 64 bits from the system's random numbers, or, without them, bits from the clock
// and the process that still differ from call to call.
uint64_t randomBits();

// Anonymous memory: untouched pages are not resident.
size_t pageSize();
void* mapPages(size_t bytes);
void unmapPages(void* block, size_t bytes);
// Grows a mapping where it lies; false when the room after it is taken.
bool growPagesInPlace(void* block, size_t oldBytes, size_t newBytes);
// Grows a mapping, moving its pages (never copying them) where needed; null when refused.
void* movePages(void* block, size_t oldBytes, size_t newBytes);
// Moves the pages of a mapping over the start of the mapping at `to`.
bool movePagesTo(void* block, size_t bytes, void* to);
void adviseHugePages(void* block, size_t bytes);
// Makes the pages resident at once; a kernel without it leaves them to be touched.
void populatePages(void* block, size_t bytes);

} // namespace posix
