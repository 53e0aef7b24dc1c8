#include "source/BufferedReader.h"

#include "core/LogConsole.h"
#include "source/FileObject.h"

#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

namespace {

constexpr size_t hugePageSize = 2097152;

struct Reader {
    FileHandle handle = nullptr;
    uint8_t* buffer = nullptr;
    bool open = false;
    uint64_t position = 0;
    uint64_t windowStart = 0;
    uint64_t windowEnd = 0; // 0: no window
    uint64_t handlePosition = 0;
    // False when the system file pointer is not where handlePosition says: a
    // failed seek, or readFile/seekFile/writeFile used on the handle since the
    // reader last moved it (seenMoves no longer matches handle->moves).
    bool handleKnown = false;
    uint32_t seenMoves = 0;
    uint64_t fileSize = 0;
};

Reader reader;

void forgetHandlePosition()
{
    reader.handleKnown = false;
}

void setHandlePosition(uint64_t pos)
{
    reader.handlePosition = pos;
    reader.handleKnown = true;
    reader.seenMoves = reader.handle->moves;
}

bool handleIsAt(uint64_t pos)
{
    return reader.handleKnown && reader.seenMoves == reader.handle->moves && reader.handlePosition == pos;
}

uint32_t directRead(uint8_t* out, uint32_t n)
{
    if (!handleIsAt(reader.position)) {
        if (!fileio::seekTo(reader.handle, reader.position)) {
            // Reading from wherever the pointer happens to be would return the
            // wrong bytes.
            forgetHandlePosition();
            return 0;
        }
        setHandlePosition(reader.position);
    }
    uint32_t got = fileio::readAll(reader.handle, out, n);
    if (got == 0) return 0;
    reader.handlePosition += got;
    reader.position += got;
    return got;
}

} // namespace

FileHandle openBuffered(const char* path, const char* mode, LogConsole& log)
{
    if (reader.open) return nullptr;
    reader = Reader{};
    if (!mode || mode[0] != 'r') return nullptr;

    FileHandle h = fileio::openForReading(path, true);
    if (!h) return nullptr;
    reader.handle = h;
    setHandlePosition(0);

    if (fileAccessProbe().failReaderAllocation) {
        reader.buffer = nullptr;
    } else {
        // On huge pages the kernel's copy into the window costs a good part less.
        reader.buffer = static_cast<uint8_t*>(std::aligned_alloc(hugePageSize, bufferedWindowSize));
        if (reader.buffer) ::madvise(reader.buffer, bufferedWindowSize, MADV_HUGEPAGE);
    }
    if (!reader.buffer) {
        log.writef("ERROR: Can't malloc %u bytes\n", bufferedWindowSize);
    } else {
        uint32_t got = fileio::readAll(h, reader.buffer, bufferedWindowSize);
        setHandlePosition(got);
        if (got == bufferedWindowSize) {
            reader.windowStart = 0;
            reader.windowEnd = bufferedWindowSize;
        }
    }

    reader.open = true;
    uint64_t size = 0;
    if (fileio::sizeOf(h, &size)) {
        reader.fileSize = size;
    } else {
        log.write("Error: Can't get file size\n", 1);
        reader.fileSize = fileSizeUnknown;
    }
    return h;
}

uint32_t readBuffered(void* buffer, uint32_t size, uint32_t count, FileHandle h)
{
    uint64_t total = static_cast<uint64_t>(size) * count;
    if (!reader.open || h != reader.handle || !buffer || total == 0 || total > UINT32_MAX) return 0;
    uint32_t n = static_cast<uint32_t>(total);
    uint8_t* out = static_cast<uint8_t*>(buffer);
    const uint64_t pos = reader.position;

    if (reader.windowStart <= pos && pos + n <= reader.windowEnd) {
        std::memcpy(out, reader.buffer + (pos - reader.windowStart), n);
        reader.position += n;
        return n;
    }

    reader.windowStart = reader.windowEnd = 0;
    if (reader.buffer && n <= bufferedWindowSize && pos + bufferedWindowSize < reader.fileSize) {
        if (fileio::seekTo(h, pos)) {
            setHandlePosition(reader.position);
            uint32_t got = fileio::readAll(h, reader.buffer, bufferedWindowSize);
            reader.handlePosition += got;
            if (got == bufferedWindowSize) {
                reader.windowStart = reader.position;
                reader.windowEnd = reader.position + bufferedWindowSize;
                std::memcpy(out, reader.buffer, n);
                reader.position += n;
                return n;
            }
        } else {
            forgetHandlePosition();
        }
    }
    return directRead(out, n);
}

const uint8_t* viewBuffered(uint8_t* fallback, uint32_t n, FileHandle h, uint32_t* got)
{
    const uint64_t pos = reader.position;
    if (reader.open && h == reader.handle && n != 0 && reader.windowStart <= pos && pos + n <= reader.windowEnd) {
        reader.position += n;
        *got = n;
        return reader.buffer + (pos - reader.windowStart);
    }
    *got = readBuffered(fallback, 1, n, h);
    return fallback;
}

int seekBuffered(FileHandle h, uint64_t offset, int origin)
{
    if (!reader.open || h != reader.handle || origin != 0) return 1;
    reader.position = offset;
    return 0;
}

int closeBuffered(FileHandle h)
{
    if (!reader.open || h != reader.handle) {
        // Not the reader's file: close it, leave the reader alone.
        return closeFile(h);
    }
    closeFile(reader.handle);
    std::free(reader.buffer);
    reader = Reader{};
    return 0;
}

BufferedReaderState bufferedReaderState()
{
    return BufferedReaderState{reader.open, reader.position, reader.windowStart,
                               reader.windowEnd, reader.handlePosition, reader.fileSize};
}
