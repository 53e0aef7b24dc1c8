#pragma once
// System calls that count and fail on purpose, for tests: the file layer and the
// read-ahead reader make every open, read, write and seek through them once they
// are installed. fileAccessProbe() installs them for the rest of the program on
// its first use.
#include "platform/posix/SystemCalls.h"

#include <cstdint>
#include <functional>

struct FileAccessProbe {
    uint64_t reads = 0;    // read system calls
    uint64_t writes = 0;   // write system calls
    uint64_t seeks = 0;    // seek system calls
    uint64_t opens = 0;
    // When >= 0: the number of bytes that reads may still deliver; each read
    // system call is cut to it and it counts down by the bytes delivered. A
    // read system call made when it is 0 fails (EIO). So a readFile that would
    // cross the mark returns the bytes up to it, and every later read (readFile
    // or the read-ahead reader's) returns 0, until the field is set back to -1.
    int64_t failReadAfterBytes = -1;
    // The same for writes, as a full disk behaves: a write system call made at
    // 0 fails (ENOSPC). A writeFile that crosses the mark writes the bytes up to
    // it into the file and returns 0 (a short write is a failed write).
    int64_t failWriteAfterBytes = -1;
    // The read-ahead reader's window cannot be allocated.
    bool failReaderAllocation = false;
    // Called after every write system call: lets a test change the files around
    // a save between its writes.
    std::function<void()> afterWrite;
    void reset() { *this = FileAccessProbe{}; }
};
FileAccessProbe& fileAccessProbe();

namespace platform::fake {

// The real calls, counted and cut as `probe` says.
class FaultySystemCalls final : public posix::SystemCalls {
public:
    explicit FaultySystemCalls(FileAccessProbe& probe) : probe_(probe) {}
    int open(const char* path, unsigned flags, unsigned mode) override;
    int openAt(int directory, const char* name, unsigned flags, unsigned mode) override;
    int64_t read(int fd, void* buffer, size_t n) override;
    int64_t write(int fd, const void* buffer, size_t n) override;
    bool seek(int fd, uint64_t offset, posix::Origin origin) override;
    void* allocateWindow(size_t bytes) override;

private:
    FileAccessProbe& probe_;
};

} // namespace platform::fake
