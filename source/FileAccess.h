#pragma once
#include <cstdint>
#include <functional>
#include <memory>

class LogConsole;

// The thin file layer: handles, counted bytes and unsigned 64-bit offsets.
// A failed open is a null handle.
struct FileObject;
using FileHandle = FileObject*;

// Mode letters (only the first counts): 'r' read an existing file, shared with
// other readers; 'a' write exclusively, create if missing, keep contents,
// write-through (each write is on the disk when it returns), positioned at the
// end; 'w' as 'a' but positioned at the start (no truncation). Anything else:
// null. Sharing uses advisory locks among the handles of this layer: a writer
// is refused while the file is open for reading or writing through it, and a
// reader while it is open for writing. Only regular files are opened for
// reading (a pipe or a device could block or never end); directories are
// refused in every mode. No open waits for the other end of a pipe.
FileHandle openFile(const char* path, const char* mode);
// Reads size * count bytes and returns the bytes read: fewer only at the end of
// the file or when an error stopped the read after some bytes; 0 at end of file
// and on error. A request above 4 GiB - 1 bytes reads nothing and returns 0.
uint32_t readFile(void* buffer, uint32_t size, uint32_t count, FileHandle h);
// Returns the bytes written (size * count), or 0 on error; a write that stops
// short (disk full) is an error, even though its first bytes are in the file.
uint32_t writeFile(const void* buffer, uint32_t size, uint32_t count, FileHandle h);
// origin 0 start, 1 current, 2 end; the offset is an unsigned distance (never backwards).
// Returns 0 on success, 1 on failure.
int seekFile(FileHandle h, uint64_t offset, int origin);
int closeFile(FileHandle h);
// The real size of an open file; false when the system cannot give it.
bool openFileSize(FileHandle h, uint64_t* size);

// An open file that closes itself when its owner lets it go.
struct FileCloser {
    void operator()(FileObject* h) const { closeFile(h); }
};
using OwnedFile = std::unique_ptr<FileObject, FileCloser>;

inline constexpr uint64_t fileSizeUnknown = UINT64_MAX;
// The size of the file, or fileSizeUnknown with "Error: Can't open %s\n" or
// "Error: Can't get file size\n".
uint64_t fileSize(const char* path, LogConsole& log);
// Removes a file before it is written anew; true when nothing of old contents
// stands in the way afterwards: the file is gone, was not there, or is a device or
// pipe (written as it is, never removed: a save to /dev/null must not take
// /dev/null away). A directory is not removed: false.
bool deleteFile(const char* path);

// Seam for tests: counts system calls and injects failures. It covers the plain
// file layer and the read-ahead reader alike (the reader's reads, seeks and
// opens are counted here too). fileSize's open is counted as an open.
struct FileAccessProbe {
    uint64_t reads = 0;    // read system calls
    uint64_t writes = 0;   // write system calls
    uint64_t seeks = 0;    // seek system calls
    uint64_t opens = 0;
    // When >= 0: the number of bytes that reads may still deliver; each read
    // system call is cut to it and it counts down by the bytes delivered. A
    // read system call made when it is 0 fails (EIO). So a readFile that would
    // cross the mark returns the bytes up to it, and every later read (readFile
    // or readBuffered) returns 0, until the field is set back to -1.
    int64_t failReadAfterBytes = -1;
    // The same for writes, as a full disk behaves: a write system call made at
    // 0 fails (ENOSPC). A writeFile that crosses the mark writes the bytes up to
    // it into the file and returns 0 (a short write is a failed write).
    int64_t failWriteAfterBytes = -1;
    // openBuffered behaves as if its 4 MiB buffer could not be allocated.
    bool failReaderAllocation = false;
    // Called after every write system call: lets a test change the files around
    // a save between its writes.
    std::function<void()> afterWrite;
    void reset() { *this = FileAccessProbe{}; }
};
FileAccessProbe& fileAccessProbe();
