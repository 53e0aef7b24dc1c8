#pragma once
#include "source/FileAccess.h"

#include <cstdint>

class LogConsole;

// The single 4 MiB read-ahead reader of the scanner. Only one file can be open
// through it at a time. The handle it returns is the plain file handle, which
// may also be used with readFile/seekFile; the reader notices and seeks before
// its next direct read.
inline constexpr uint32_t bufferedWindowSize = 4194304;

FileHandle openBuffered(const char* path, const char* mode, LogConsole& log);
// Bytes read, 0 at end of file, on error, or for a handle that is not the
// reader's. A read the system could not complete from the right place returns 0,
// never bytes from elsewhere in the file.
uint32_t readBuffered(void* buffer, uint32_t size, uint32_t count, FileHandle h);
// As readBuffered, but without the copy when the bytes lie in the window: returns
// a pointer into the window (valid until the next call on the reader), or reads
// into `fallback` (room for n bytes) and returns it. *got receives the byte count.
const uint8_t* viewBuffered(uint8_t* fallback, uint32_t n, FileHandle h, uint32_t* got);
// origin 0: the position moves (lazily) and 0 is returned; any other origin, or a
// handle that is not the reader's: 1.
int seekBuffered(FileHandle h, uint64_t offset, int origin);
// Closes the reader's file and frees the buffer; another handle is just closed.
int closeBuffered(FileHandle h);

// State of the reader, for tests.
struct BufferedReaderState {
    bool open;
    uint64_t position, windowStart, windowEnd, handlePosition, fileSize;
};
BufferedReaderState bufferedReaderState();
