#include "source/OutputFile.h"

#include "platform/posix/SystemCalls.h"
#include "source/FileObject.h"

#include <new>

OutputFile::Opened OutputFile::open(const char* path)
{
    discard();
    stream_ = false;
    switch (replacementTarget(path, target_)) {
    case ReplacementKind::file: return openTemporary();
    case ReplacementKind::directory: return Opened::directory;
    case ReplacementKind::stream: return openStream(path);
    case ReplacementKind::failed: break;
    }
    return Opened::failed;
}

OutputFile::Opened OutputFile::openTemporary()
{
    if (!file_.create(target_, true)) return Opened::failed;
    // The descriptor stays the temporary file's own: the handle only lends it.
    handle_ = new (std::nothrow) FileObject;
    if (!handle_) {
        file_.discard();
        return Opened::failed;
    }
    handle_->fd = file_.fd();
    stream_ = false;
    return Opened::ok;
}

OutputFile::Opened OutputFile::openStream(const char* path)
{
    stream_ = true;
    // Without nonBlocking, opening a pipe nobody reads would wait for a reader.
    const int fd = fileio::sysOpen(path, posix::flag::writeOnly | posix::flag::nonBlocking | posix::flag::noTerminal, 0);
    if (fd < 0) {
        posix::FileStatus st;
        const bool pipe = posix::lastFailure() == posix::Failure::noReader && posix::pathStatus(path, &st, false) &&
                          st.kind == posix::FileKind::fifo;
        return pipe ? Opened::noReader : Opened::failed;
    }
    posix::FileStatus st;
    // Replaced by a file or a directory since it was looked at: not a stream to write into.
    if (!posix::status(fd, &st) || st.kind == posix::FileKind::regular || st.kind == posix::FileKind::directory ||
        !posix::makeBlocking(fd)) {
        posix::close(fd);
        return Opened::failed;
    }
    handle_ = fileio::wrap(fd);
    return handle_ ? Opened::ok : Opened::failed;
}

bool OutputFile::commit()
{
    if (stream_) {
        const bool open = handle_ != nullptr;
        close();
        return open;
    }
    const bool ok = file_.commit();
    close();
    return ok;
}

void OutputFile::discard()
{
    if (!stream_) file_.discard();
    close();
}

void OutputFile::park()
{
    if (stream_ || !handle_) return;
    delete handle_;
    handle_ = nullptr;
    file_.park();
}

void OutputFile::close()
{
    if (stream_) {
        closeFile(handle_);
    } else {
        // The descriptor belongs to the temporary file, closed with it.
        delete handle_;
        file_.discard();
    }
    handle_ = nullptr;
    stream_ = false;
}
