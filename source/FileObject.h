#pragma once
// Inside of a file handle, shared by the plain file layer and the read-ahead
// reader. Nothing outside source/FileAccess.cpp and source/ReadAheadReader.cpp
// should need this.
#include "source/FileAccess.h"

#include <cstdint>

struct FileObject {
    int fd = -1;
    // Bumped by every readFile, writeFile and seekFile on this handle. The
    // read-ahead reader compares it with the value it last saw to know whether
    // someone else has moved the file pointer under it.
    uint32_t moves = 0;
};

namespace fileio {

// posix::systemCalls().open: flags of posix::flag.
int sysOpen(const char* path, unsigned flags, unsigned mode);
// A handle for an open descriptor; the descriptor is closed when no handle can be made.
FileHandle wrap(int fd);
// The advisory lock of a writer (see openFile); true also where locks are not supported.
bool lockExclusive(int fd);

// Opens an existing file for reading, shared, optionally with the sequential
// access hint. Null when refused.
FileHandle openForReading(const char* path, bool sequential);
// Reads up to n bytes, looping over short reads; stops early only at end of
// file or on an error (then the bytes delivered before it are returned).
// Does not count as a move of the handle.
uint32_t readAll(FileHandle h, void* buffer, uint32_t n);
// Absolute seek; true on success. Does not count as a move of the handle.
bool seekTo(FileHandle h, uint64_t offset);
// Real size of the open file; false when the system cannot give it.
bool sizeOf(FileHandle h, uint64_t* size);

} // namespace fileio
