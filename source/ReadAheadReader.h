#pragma once
#include "source/FileAccess.h"

#include <cstdint>

class LogConsole;

// The scanner's 4 MiB read-ahead reader: one file at a time, owned by the scan
// that reads it. The handle it gives is the plain file handle, which may also be
// used with readFile/seekFile; the reader notices and seeks before its next
// direct read.
class ReadAheadReader {
public:
    static constexpr uint32_t windowSize = 4194304;

    ReadAheadReader() = default;
    ~ReadAheadReader() { close(); }
    ReadAheadReader(const ReadAheadReader&) = delete;
    ReadAheadReader& operator=(const ReadAheadReader&) = delete;

    // Null when refused, or while a file is open through this reader.
    FileHandle open(const char* path, const char* mode, LogConsole& log);
    // Bytes read, 0 at end of file, on error, or with no file open. A read the
    // system could not complete from the right place returns 0, never bytes from
    // elsewhere in the file.
    uint32_t read(void* buffer, uint32_t size, uint32_t count);
    // As read, but without the copy when the bytes lie in the window: returns a
    // pointer into the window (valid until the next call on the reader), or reads
    // into `fallback` (room for n bytes) and returns it. *got receives the byte count.
    const uint8_t* view(uint8_t* fallback, uint32_t n, uint32_t* got);
    // origin 0: the position moves (lazily) and 0 is returned; any other origin,
    // or no file open: 1.
    int seek(uint64_t offset, int origin);
    // Closes the file and frees the window.
    void close();

    struct State {
        bool open;
        uint64_t position, windowStart, windowEnd, handlePosition, fileSize;
    };
    State state() const;

private:
    void reset();
    void forgetHandlePosition() { handleKnown_ = false; }
    void setHandlePosition(uint64_t pos);
    bool handleIsAt(uint64_t pos) const;
    uint32_t directRead(uint8_t* out, uint32_t n);

    FileHandle handle_ = nullptr;
    uint8_t* buffer_ = nullptr;
    bool open_ = false;
    uint64_t position_ = 0;
    uint64_t windowStart_ = 0;
    uint64_t windowEnd_ = 0; // 0: no window
    uint64_t handlePosition_ = 0;
    // False when the system file pointer is not where handlePosition_ says: a
    // failed seek, or readFile/seekFile/writeFile used on the handle since the
    // reader last moved it (seenMoves_ no longer matches handle_->moves).
    bool handleKnown_ = false;
    uint32_t seenMoves_ = 0;
    uint64_t fileSize_ = 0;
};
