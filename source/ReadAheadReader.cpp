#include "source/ReadAheadReader.h"

#include "core/LogConsole.h"
#include "platform/posix/SystemCalls.h"
#include "source/FileObject.h"

#include <cstring>

void ReadAheadReader::reset()
{
    handle_ = nullptr;
    buffer_ = nullptr;
    open_ = false;
    position_ = windowStart_ = windowEnd_ = handlePosition_ = fileSize_ = 0;
    handleKnown_ = false;
    seenMoves_ = 0;
}

void ReadAheadReader::setHandlePosition(uint64_t pos)
{
    handlePosition_ = pos;
    handleKnown_ = true;
    seenMoves_ = handle_->moves;
}

bool ReadAheadReader::handleIsAt(uint64_t pos) const
{
    return handleKnown_ && seenMoves_ == handle_->moves && handlePosition_ == pos;
}

uint32_t ReadAheadReader::directRead(uint8_t* out, uint32_t n)
{
    if (!handleIsAt(position_)) {
        if (!fileio::seekTo(handle_, position_)) {
            // Reading from wherever the pointer happens to be would return the
            // wrong bytes.
            forgetHandlePosition();
            return 0;
        }
        setHandlePosition(position_);
    }
    uint32_t got = fileio::readAll(handle_, out, n);
    if (got == 0) return 0;
    handlePosition_ += got;
    position_ += got;
    return got;
}

FileHandle ReadAheadReader::open(const char* path, const char* mode, LogConsole& log)
{
    if (open_) return nullptr;
    reset();
    if (!mode || mode[0] != 'r') return nullptr;

    FileHandle h = fileio::openForReading(path, true);
    if (!h) return nullptr;
    handle_ = h;
    setHandlePosition(0);

    buffer_ = static_cast<uint8_t*>(posix::systemCalls().allocateWindow(windowSize));
    if (!buffer_) {
        log.writef("ERROR: Can't malloc %u bytes\n", windowSize);
    } else {
        uint32_t got = fileio::readAll(h, buffer_, windowSize);
        setHandlePosition(got);
        if (got == windowSize) {
            windowStart_ = 0;
            windowEnd_ = windowSize;
        }
    }

    open_ = true;
    uint64_t size = 0;
    if (fileio::sizeOf(h, &size)) {
        fileSize_ = size;
    } else {
        log.write("Error: Can't get file size\n", 1);
        fileSize_ = fileSizeUnknown;
    }
    return h;
}

uint32_t ReadAheadReader::read(void* buffer, uint32_t size, uint32_t count)
{
    uint64_t total = static_cast<uint64_t>(size) * count;
    if (!open_ || !buffer || total == 0 || total > UINT32_MAX) return 0;
    uint32_t n = static_cast<uint32_t>(total);
    uint8_t* out = static_cast<uint8_t*>(buffer);
    const uint64_t pos = position_;

    if (windowStart_ <= pos && pos + n <= windowEnd_) {
        std::memcpy(out, buffer_ + (pos - windowStart_), n);
        position_ += n;
        return n;
    }

    windowStart_ = windowEnd_ = 0;
    if (buffer_ && n <= windowSize && pos + windowSize < fileSize_) {
        if (fileio::seekTo(handle_, pos)) {
            setHandlePosition(position_);
            uint32_t got = fileio::readAll(handle_, buffer_, windowSize);
            handlePosition_ += got;
            if (got == windowSize) {
                windowStart_ = position_;
                windowEnd_ = position_ + windowSize;
                std::memcpy(out, buffer_, n);
                position_ += n;
                return n;
            }
        } else {
            forgetHandlePosition();
        }
    }
    return directRead(out, n);
}

const uint8_t* ReadAheadReader::view(uint8_t* fallback, uint32_t n, uint32_t* got)
{
    const uint64_t pos = position_;
    if (open_ && n != 0 && windowStart_ <= pos && pos + n <= windowEnd_) {
        position_ += n;
        *got = n;
        return buffer_ + (pos - windowStart_);
    }
    *got = read(fallback, 1, n);
    return fallback;
}

int ReadAheadReader::seek(uint64_t offset, int origin)
{
    if (!open_ || origin != 0) return 1;
    position_ = offset;
    return 0;
}

void ReadAheadReader::close()
{
    if (!open_) return;
    closeFile(handle_);
    if (buffer_) posix::systemCalls().freeWindow(buffer_);
    reset();
}

ReadAheadReader::State ReadAheadReader::state() const
{
    return State{open_, position_, windowStart_, windowEnd_, handlePosition_, fileSize_};
}
