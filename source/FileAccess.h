#pragma once
#include <cstdint>

class LogConsole;

// The thin file layer: handles, counted bytes and unsigned 32-bit offsets.
// A failed open is a null handle.
struct FileObject;
using FileHandle = FileObject*;

// Mode letters: 'r' read (shared); 'a' write exclusively, create if missing,
// keep contents, write-through, positioned at the end; 'w' as 'a' but positioned
// at the start (no truncation). Anything else: null.
FileHandle openFile(const char* path, const char* mode);
// Returns the bytes read (size * count asked), 0 at end of file and on error.
uint32_t readFile(void* buffer, uint32_t size, uint32_t count, FileHandle h);
// Returns the bytes written, 0 on error.
uint32_t writeFile(const void* buffer, uint32_t size, uint32_t count, FileHandle h);
// origin 0 start, 1 current, 2 end; the offset is an unsigned distance (never backwards).
// Returns 0 on success, 1 on failure.
int seekFile(FileHandle h, uint32_t offset, int origin);
int closeFile(FileHandle h);
// Low 32 bits of the file size, or 0xFFFFFFFF with "Error: Can't open %s\n" or
// "Error: Can't get file size\n". When over4GiB is given it tells whether the
// real size is 4 GiB or more (the 32-bit result has then wrapped).
uint32_t fileSize(const char* path, LogConsole& log, bool* over4GiB = nullptr);
// Removes a file; true when it is gone afterwards (or was not there).
bool deleteFile(const char* path);

// Seam for tests: counts system calls and injects failures.
struct FileAccessProbe {
    uint64_t reads = 0;    // read system calls
    uint64_t writes = 0;   // write system calls
    uint64_t seeks = 0;    // seek system calls
    uint64_t opens = 0;
    // When >= 0, reads fail once this many more bytes have been read (a read that
    // would cross the mark delivers the bytes up to it, the next one fails).
    int64_t failReadAfterBytes = -1;
    // Same for writes: a write crossing the mark writes up to it and reports failure.
    int64_t failWriteAfterBytes = -1;
    void reset() { *this = FileAccessProbe{}; }
};
FileAccessProbe& fileAccessProbe();
