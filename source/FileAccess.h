#pragma once
#include <cstdint>
#include <memory>
#include <string>

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
// Which file an open handle reads: device and inode number, and its size now.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
};
bool openFileIdentity(FileHandle h, FileIdentity* identity);

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
// True when `output` names the same file as `source`: the same file system object
// when both exist, otherwise the same path.
bool sameFile(const std::string& output, const std::string& source);
// Tests count and fail the system calls under this layer through
// platform/fake/FaultySystemCalls.h.
